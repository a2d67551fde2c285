// The message dialog and the operation that every question and notice goes through.
#pragma once

#include <QString>

namespace lw {

// Shows the message dialog with the caption text in its title bar and the message text in its
// body, with the given button count and help context (0: no HELP button).
// Returns 1 for OK (or Enter) and 2 for every other way of closing.
int MyFormDialog(const QString& caption, const QString& message, int buttons, int helpContext);

} // namespace lw
