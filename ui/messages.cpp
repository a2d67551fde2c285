// The message catalogue: the program's 25 fixed message texts, picked by number.
#include "ui/messages.h"

#include <array>
#include <string_view>

namespace lw {

namespace {

// Each text fits a slot of at most 50 single-byte characters; leading and trailing
// blanks are part of the texts and are shown as they stand.
constexpr std::size_t slotSize = 50;

constexpr std::array<std::string_view, 25> catalogue{
    " File was not found ",                      // 1
    " File already open ",                       // 2
    " Save the report ",                         // 3
    " Do you want to save the report? ",         // 4
    " ATTENTION  ",                              // 5
    " ERROR ",                                   // 6
    " Enter the database path ",                 // 7
    " Database does not defined",                // 8
    " File should be created ",                  // 9
    " Report error",                             // 10
    " A Critical error of call (001) ",          // 11
    " MS Excel File was not found",              // 12
    " No OLE - connection to a MS Excel Sheet ", // 13
    " A Critical error (002) ",                  // 14
    " Reading cells",                            // 15
    " No entries in the file ",                  // 16
    " No data ",                                 // 17
    " EXCEL does not answer ",                   // 18
    " Continue expectation? ",                   // 19
    " VORTAL1.EXE is already started ",          // 20
    " DataBase path ",                           // 21
    " Alias",                                    // 22
    " Excel cannot be lunched",                  // 23
    " Scan form again!",                         // 24
    " Close MS Excel",                           // 25
};

constexpr bool fitsSlots() {
    for (std::string_view text : catalogue) {
        if (text.size() > slotSize)
            return false;
        for (char c : text)
            if (static_cast<unsigned char>(c) > 0x7f)
                return false;
    }
    return true;
}
static_assert(fitsSlots(), "every message text is at most 50 single-byte characters");

} // namespace

QString messageText(int number) {
    if (number < 1 || number > static_cast<int>(catalogue.size()))
        return {};
    const std::string_view text = catalogue[static_cast<std::size_t>(number - 1)];
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace lw
