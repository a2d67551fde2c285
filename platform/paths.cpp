// Splitting paths into their directory and file-name parts with this platform's separator.
#include "platform/paths.h"

#include <QDir>

namespace lw {

QString fileNamePart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString directoryPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString currentDirectory() {
    return QDir::currentPath();
}

} // namespace lw
