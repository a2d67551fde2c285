// The glyphs of the program's two flat buttons, kept as pixel maps: one letter per pixel, each
// letter one entry of the standard 16-colour table.
#include "ui/flatbtn_glyphs.h"

#include <QList>

#include <array>

namespace lw {

namespace {

// The 16-colour table and the letter that names each entry. Teal (".") is the transparent
// background: it is the top-left pixel of both glyphs and appears nowhere else.
struct PaletteEntry {
    char letter;
    QRgb colour;
};
// clang-format off
constexpr std::array<PaletteEntry, 16> palette{{
    {'k', 0x000000}, {'m', 0x800000}, {'g', 0x008000}, {'o', 0x808000},
    {'n', 0x000080}, {'p', 0x800080}, {'.', 0x008080}, {'d', 0x808080},
    {'s', 0xC0C0C0}, {'r', 0xFF0000}, {'l', 0x00FF00}, {'Y', 0xFFFF00},
    {'b', 0x0000FF}, {'f', 0xFF00FF}, {'a', 0x00FFFF}, {'w', 0xFFFFFF},
}};

// A door frame with its leaf swung open and a red arrow leaving through it, over a grey floor.
constexpr std::array<const char*, 25> doorMap{{
    "....................",
    "....................",
    ".........kkkkkkkkkk.",
    ".........knnnnnkkkk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".....r...knnnnkmmmk.",
    "....rr...knnnnkmmmk.",
    "...rrr...knnnnkmmmk.",
    "..rrrrrrrrrrrnkmmmk.",
    ".rrrrrrrrrrrrnkYmmk.",
    "..rrrrrrrrrrrnkmmmk.",
    "...rrr...knnnnkmmmk.",
    "....rr...knnnnkmmmk.",
    ".....r...knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........knnnnkmmmk.",
    ".........kkkkkkkkkk.",
    "......dddddddddddddd",
    "....................",
    "....................",
}};
// clang-format on

// The same picture at rest: the arrow black, doorway and leaf in greys; one row shorter.
char restingLetter(char letter) {
    switch (letter) {
    case 'r':
        return 'k';
    case 'n':
        return 'd';
    case 'm':
        return 's';
    case 'Y':
        return 'w';
    case 'd':
        return 's';
    default:
        return letter;
    }
}

QImage imageFromMap(int height, char (*recolour)(char)) {
    const int width = 20;
    // Each letter's palette entry, looked up once per letter rather than once per pixel; a letter
    // the palette does not name is background.
    std::array<uchar, 128> indexOf;
    indexOf.fill(6);
    QList<QRgb> table;
    for (int i = 0; i < int(palette.size()); ++i) {
        indexOf[std::size_t(uchar(palette[std::size_t(i)].letter))] = uchar(i);
        table.append(0xFF000000u | palette[std::size_t(i)].colour);
    }
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        const char* row = doorMap[std::size_t(y)];
        for (int x = 0; x < width; ++x)
            line[x] = indexOf[uchar(recolour(row[x])) & 0x7F];
    }
    return image;
}

char sameLetter(char letter) {
    return letter;
}

} // namespace

QImage programButtonGlyph() {
    return imageFromMap(25, sameLetter);
}

QImage programButtonNoFocusGlyph() {
    return imageFromMap(24, restingLetter);
}

} // namespace lw
