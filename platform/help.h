// Context help: the application's help file and opening it at a topic.
#pragma once

#include <QString>

namespace lw {

// The help file in force, a bare file name ("ledgwick.hlp" at start, "Ledgwk.hlp" later).
QString helpFile();
void setHelpFile(const QString& fileName);

// Opens the help file with the desktop's handler when such a file exists beside the
// program or in the current directory; does nothing otherwise. Returns whether it opened.
bool showHelpContext(int context);

} // namespace lw
