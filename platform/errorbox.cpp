// The standard error box and the guard that every event handler runs its body through.
#include "platform/errorbox.h"

#include <QApplication>
#include <QMessageBox>

namespace lw {

namespace {
QString& titleStorage() {
    static QString title = QStringLiteral("Ledgerwick");
    return title;
}
} // namespace

QString applicationTitle() {
    return titleStorage();
}

void setApplicationTitle(const QString& title) {
    titleStorage() = title;
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void showErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorBoxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

} // namespace lw
