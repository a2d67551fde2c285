// TMenuItem: a menu item with a Tag and a GroupIndex.
#include "app/menuitem.h"

namespace lw {

TMenuItem::TMenuItem(const QString& name, const QString& caption, QObject* parent) : QAction(parent) {
    setObjectName(name);
    // The designed caption "-" makes the item a separator, which shows its line and no text: a
    // separator that kept a text would have it drawn beside the line by styles that label their
    // separators. Only the design does this; a file named "-" in a list item stays a caption.
    if (caption == QLatin1String("-"))
        setSeparator(true);
    else
        setCaption(caption);
}

QString TMenuItem::caption() const {
    if (isSeparator())
        return QStringLiteral("-");
    QString shown = text();
    return shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void TMenuItem::setCaption(const QString& caption) {
    QString escaped = caption;
    setText(escaped.replace(QLatin1Char('&'), QStringLiteral("&&")));
}

} // namespace lw
