// Shared helpers for the tests: throwaway directories and answering modal dialogs.
#include "support/testsupport.h"

#include "app/mainform.h"
#include "app/settings.h"
#include "platform/help.h"
#include "platform/profile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <memory>

namespace lw::test {

namespace {

void record(QWidget* w, DialogRecord* rec) {
    if (!rec)
        return;
    rec->seen = true;
    rec->className = QString::fromLatin1(w->metaObject()->className());
    rec->objectName = w->objectName();
    rec->title = w->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(w))
        rec->text = box->text();
    else if (auto* label = w->findChild<QLabel*>(QStringLiteral("Label1")))
        rec->text = label->text();
}

} // namespace

void answerNextModal(std::function<void(QWidget*)> action, DialogRecord* rec, int timeoutMs) {
    auto timer = std::make_shared<QTimer>();
    auto deadline = QDeadlineTimer(timeoutMs);
    auto done = std::make_shared<bool>(false);
    timer->setInterval(10);
    QObject::connect(timer.get(), &QTimer::timeout, [timer, deadline, done, action, rec]() {
        if (*done)
            return;
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            *done = true;
            timer->stop();
            record(w, rec);
            action(w);
            return;
        }
        if (deadline.hasExpired()) {
            *done = true;
            timer->stop();
        }
    });
    timer->start();
}

void answerNextMessageDialog(Answer answer, DialogRecord* rec, int timeoutMs) {
    answerNextModal(
        [answer](QWidget* w) {
            const QString name = answer == Answer::Ok ? QStringLiteral("OKBtn") : QStringLiteral("CancelBtn");
            if (answer != Answer::Close) {
                if (auto* b = w->findChild<QAbstractButton*>(name)) {
                    b->click();
                    return;
                }
            }
            w->close();
        },
        rec, timeoutMs);
}

void answerNextErrorBox(DialogRecord* rec, int timeoutMs) {
    answerNextModal(
        [](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->accept();
            else
                w->close();
        },
        rec, timeoutMs);
}

void answerNextFileDialog(const QString& fileName, DialogRecord* rec, int timeoutMs) {
    answerNextModal(
        [fileName](QWidget* w) {
            auto* dlg = qobject_cast<QFileDialog*>(w);
            if (!dlg) {
                w->close();
                return;
            }
            if (fileName.isEmpty()) {
                dlg->reject();
                return;
            }
            // Type the name as a user would: selectFile alone does not reach the name edit
            // of the widget dialog before accept() reads it.
            if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(fileName);
            else
                dlg->selectFile(fileName);
            static_cast<QDialog*>(dlg)->accept(); // QFileDialog::accept, with its checks
        },
        rec, timeoutMs);
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QStringList leftovers(const QString& dir, const QStringList& expected) {
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : expected)
        names.removeAll(e);
    return names;
}

QString settingsFilePath() {
    return Profile(settingsFileName()).filePath();
}

std::unique_ptr<TMainForm> makeMainForm(bool show) {
    auto form = std::make_unique<TMainForm>();
    if (show) {
        form->show();
        QApplication::setActiveWindow(form.get());
        (void)QTest::qWaitForWindowExposed(form.get()); // offscreen windows are exposed at once
    }
    return form;
}

HelpCatcher::HelpCatcher() : m_oldDir(QDir::currentPath()) {
    QDir::setCurrent(m_dir.path());
    writeFile(helpPath(), "help");
    setHelpFile(QStringLiteral("Ledgwk.hlp"));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
}

HelpCatcher::~HelpCatcher() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(m_oldDir);
}

QString HelpCatcher::helpPath() const {
    return QDir(m_dir.path()).absoluteFilePath(QStringLiteral("Ledgwk.hlp"));
}

} // namespace lw::test
