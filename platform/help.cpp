// Context help: the application's help file and opening it at a topic.
#include "platform/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace lw {

namespace {
QString& helpStorage() {
    static QString file;
    return file;
}
} // namespace

QString helpFile() {
    return helpStorage();
}

void setHelpFile(const QString& fileName) {
    helpStorage() = fileName;
}

bool showHelpContext(int context) {
    if (context == 0 || helpFile().isEmpty())
        return false;
    const QStringList places{QCoreApplication::applicationDirPath(), QDir::currentPath()};
    for (const QString& dir : places) {
        const QFileInfo info(QDir(dir), helpFile());
        if (info.isFile())
            return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    }
    return false;
}

} // namespace lw
