// The standard error box and the guard that every event handler runs its body through.
#pragma once

#include <QString>

#include <exception>
#include <utility>

namespace lw {

// The application title that captions the error box ("Ledgerwick").
QString applicationTitle();
void setApplicationTitle(const QString& title);

// The text as the error box shows it: a full stop is added when the code of the
// last character is greater than that of ".".
QString errorBoxText(const QString& message);

// Shows the text in a critical message box captioned with the application title,
// with a stop icon and an OK button, and returns when the user has closed it.
void showErrorBox(const QString& message);

// Runs a handler body; an exception that escapes it ends the event in progress
// and is shown in the standard error box, and the program goes on.
// Returns false when the body failed.
template <typename F> bool guarded(F&& body) {
    try {
        std::forward<F>(body)();
        return true;
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("Unknown failure"));
    }
    return false;
}

} // namespace lw
