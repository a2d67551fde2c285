// Shared helpers for the tests: throwaway directories and answering modal dialogs.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

namespace lw {
class TMainForm;
}

namespace lw::test {

// What a modal dialog showed before it was answered.
struct DialogRecord {
    bool seen = false;
    QString className;  // the dialog's class name, e.g. "lw::TFormDlg"
    QString objectName; // e.g. "FormDlg"
    QString title;      // the window title (caption text)
    QString text;       // the text of its child label "Label1", or of a QMessageBox
};

// Waits (polling the event loop) for the next modal widget, records it and calls action on it.
// The action must not assert: record and check afterwards. Gives up after timeoutMs.
void answerNextModal(std::function<void(QWidget*)> action, DialogRecord* record = nullptr,
                     int timeoutMs = 10000);

// Answers the next message dialog (TFormDlg) by clicking its "OKBtn" or "CancelBtn",
// or by closing it (Close), and records what it showed.
enum class Answer { Ok, No, Close };
void answerNextMessageDialog(Answer answer, DialogRecord* record = nullptr, int timeoutMs = 10000);

// Answers the next standard error box (a QMessageBox) with OK and records its text.
void answerNextErrorBox(DialogRecord* record = nullptr, int timeoutMs = 10000);

// Answers the next QFileDialog by setting the file name and accepting; an empty
// fileName rejects (cancels) it.
void answerNextFileDialog(const QString& fileName, DialogRecord* record = nullptr, int timeoutMs = 10000);

// Processes events until cond() holds or timeoutMs passes; returns cond().
bool waitFor(const std::function<bool()>& cond, int timeoutMs = 5000);

// Writes bytes to a file, creating directories; returns success.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// What a directory holds besides the given names (hidden files included): files left behind.
QStringList leftovers(const QString& dir, const QStringList& expected);

// The program's settings file "l_wick.ini" where the profile store keeps it.
QString settingsFilePath();

// A new main window, shown and made the active window unless show is false.
std::unique_ptr<TMainForm> makeMainForm(bool show = true);

// While it lives: a throwaway current directory holding the help file "Ledgwk.hlp", which is the
// help file in use, and the desktop's opening of file URLs recorded in urls instead of done.
class HelpCatcher : public QObject {
    Q_OBJECT
public:
    HelpCatcher();
    ~HelpCatcher() override;
    QString helpPath() const;
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl& url) { urls << url; }

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

} // namespace lw::test
