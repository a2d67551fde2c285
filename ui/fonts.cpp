// The program's designed fonts and the installed family each is shown in.
#include "ui/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>

namespace lw {

namespace {

QFont sizedFont(const QString& family, int pixelSize) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

QFont designedFont(const QString& family, int pixelSize, QFont::StyleHint hint) {
    // Whether each designed family is installed, and the stand-in for those that are not: the
    // family Qt's own matching settles on for the first missing one. The designed families are
    // all sans-serif interface faces, which the font configuration replaces alike by its
    // sans-serif family. The probe is the requested font itself, so the face it loads is used.
    static QHash<QString, bool> installed;
    static QString standIn;
    auto isInstalled = [](const QString& name) {
        auto it = installed.constFind(name);
        if (it == installed.cend())
            it = installed.insert(name, QFontDatabase::families().contains(name, Qt::CaseInsensitive));
        return *it;
    };
    QFont font;
    if (isInstalled(family)) {
        font = sizedFont(family, pixelSize);
    } else {
        if (standIn.isEmpty()) {
            QFont probe = sizedFont(family, pixelSize);
            if (hint != QFont::AnyStyle)
                probe.setStyleHint(hint);
            standIn = QFontInfo(probe).family();
        }
        font = sizedFont(standIn, pixelSize);
    }
    if (hint != QFont::AnyStyle && !isInstalled(font.family()))
        font.setStyleHint(hint);
    return font;
}

} // namespace lw
