// TMenuItem: a menu item with a Tag and a GroupIndex.
#include "app/menuitem.h"

namespace lw {

TMenuItem::TMenuItem(const QString& name, const QString& caption, QObject* parent) : QAction(parent) {
    setObjectName(name);
    setCaption(caption);
}

QString TMenuItem::caption() const {
    QString shown = text();
    return shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void TMenuItem::setCaption(const QString& caption) {
    QString escaped = caption;
    setText(escaped.replace(QLatin1Char('&'), QStringLiteral("&&")));
}

} // namespace lw
