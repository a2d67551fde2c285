// Splitting paths into their directory and file-name parts with this platform's separator.
#pragma once

#include <QString>

namespace lw {

// Everything after the last "/" (the whole text when it holds none).
QString fileNamePart(const QString& path);

// Everything up to and including the last "/" (empty when the text holds none).
QString directoryPart(const QString& path);

// The current directory as the platform gives it: no trailing "/" except for "/" itself.
QString currentDirectory();

} // namespace lw
