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

QFont designedFont(const QString& family, int pixelSize) {
    // Whether each designed family is installed, and the stand-in for those that are not: the
    // family Qt's own matching settles on for the first missing one. The designed families are
    // all sans-serif interface faces, which the font configuration replaces alike by its
    // sans-serif family. The probe is the requested font itself, so the face it loads is used.
    static QHash<QString, bool> installed;
    static QString standIn;
    auto it = installed.constFind(family);
    if (it == installed.cend())
        it = installed.insert(family, QFontDatabase::families().contains(family, Qt::CaseInsensitive));
    if (*it)
        return sizedFont(family, pixelSize);
    if (standIn.isEmpty())
        standIn = QFontInfo(sizedFont(family, pixelSize)).family();
    return sizedFont(standIn, pixelSize);
}

} // namespace lw
