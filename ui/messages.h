// The message catalogue: the program's 25 fixed message texts, picked by number.
#pragma once

#include <QString>

namespace lw {

// Text number 1 to 25, blanks included; an empty text for any other number.
QString messageText(int number);

} // namespace lw
