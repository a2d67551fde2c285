// FakeFrame: a stand-in for the main window in tests, hosting editor windows in a QMdiArea
// and recording what the windows and document commands asked of the frame.
#pragma once

#include "data/catalogue.h"
#include "report/frame.h"
#include "report/mdi1.h"
#include "support/testsupport.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <utility>

namespace lw::test {

class FakeFrame : public ReportFrame {
public:
    // The frame window is shown at once so that sub-windows can be activated.
    explicit FakeFrame(bool show = true) : m_window(std::make_unique<QMainWindow>()) {
        m_window->setObjectName(QStringLiteral("MainForm"));
        m_window->resize(640, 480);
        m_area = new QMdiArea(m_window.get());
        m_area->setObjectName(QStringLiteral("ClientArea"));
        m_window->setCentralWidget(m_area);
        if (show)
            m_window->show();
    }

    // The windows go first, while this object is still a complete ReportFrame.
    ~FakeFrame() override {
        m_openDialog = nullptr;
        m_saveDialog = nullptr;
        m_window.reset();
    }

    FakeFrame(const FakeFrame&) = delete;
    FakeFrame& operator=(const FakeFrame&) = delete;

    // What the tests look at and set up.
    bool reportCommandsEnabled = false;
    int reportCommandsChanges = 0; // how often setReportCommandsEnabled was called
    QStringList aliases;
    QString lastDirectory;
    QStringList recentFiles; // every path given to addToRecentFiles, in call order
    QString startDir;

    QMainWindow* window() const { return m_window.get(); }
    QMdiArea* mdiArea() const { return m_area; }

    // The sub-window that hosts an editor window, or nullptr.
    static QMdiSubWindow* subWindowOf(TForm1* form) {
        return form ? qobject_cast<QMdiSubWindow*>(form->parentWidget()) : nullptr;
    }

    // ReportFrame
    QWidget* frameWidget() override { return m_window.get(); }

    void setReportCommandsEnabled(bool enabled) override {
        reportCommandsEnabled = enabled;
        ++reportCommandsChanges;
    }

    TForm1* createEditorWindow() override {
        auto* form = new TForm1(*this);
        QMdiSubWindow* sub = m_area->addSubWindow(form);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->showMaximized();
        return form;
    }

    QList<TForm1*> editorWindows() const override {
        QList<TForm1*> result;
        const QList<QMdiSubWindow*> subs = m_area->subWindowList(QMdiArea::ActivationHistoryOrder);
        for (auto it = subs.crbegin(); it != subs.crend(); ++it) {
            if (auto* form = qobject_cast<TForm1*>((*it)->widget()))
                result.append(form);
        }
        return result;
    }

    TForm1* activeEditorWindow() const override {
        if (QMdiSubWindow* sub = m_area->activeSubWindow())
            return qobject_cast<TForm1*>(sub->widget());
        return nullptr;
    }

    QStringList aliasList() const override { return aliases; }

    QFileDialog* openDialog() override {
        if (!m_openDialog) {
            m_openDialog = new QFileDialog(m_window.get());
            m_openDialog->setObjectName(QStringLiteral("OpenDialog1"));
            m_openDialog->setOption(QFileDialog::DontUseNativeDialog);
            m_openDialog->setAcceptMode(QFileDialog::AcceptOpen);
            m_openDialog->setFileMode(QFileDialog::ExistingFile);
        }
        return m_openDialog;
    }

    QFileDialog* saveDialog() override {
        if (!m_saveDialog) {
            m_saveDialog = new QFileDialog(m_window.get());
            m_saveDialog->setObjectName(QStringLiteral("SaveDialog1"));
            m_saveDialog->setOption(QFileDialog::DontUseNativeDialog);
            m_saveDialog->setOption(QFileDialog::DontConfirmOverwrite);
            m_saveDialog->setAcceptMode(QFileDialog::AcceptSave);
            m_saveDialog->setFileMode(QFileDialog::AnyFile);
            m_saveDialog->setWindowTitle(QStringLiteral("Save Report"));
        }
        return m_saveDialog;
    }

    QString lastDialogDirectory() const override { return lastDirectory; }
    void setLastDialogDirectory(const QString& directory) override { lastDirectory = directory; }

    void addToRecentFiles(const QString& path) override { recentFiles.append(path); }

    QString startDirectory() const override { return startDir; }

private:
    std::unique_ptr<QMainWindow> m_window;
    QMdiArea* m_area = nullptr;
    QPointer<QFileDialog> m_openDialog;
    QPointer<QFileDialog> m_saveDialog;
};

// A database engine stand-in: the given aliases and no tables, or, given a failure text, an
// EngineError with that text from every call (a start without a working engine).
class StubEngine : public DataEngine {
public:
    explicit StubEngine(QStringList aliases, QString failure = {})
        : m_aliases(std::move(aliases)), m_failure(std::move(failure)) {}
    QStringList aliasNames() override { return check(m_aliases); }
    QStringList tableNames(const QString&) override { return check({}); }
    QStringList aliasParameters(const QString&) override { return check({}); }

private:
    QStringList check(const QStringList& result) const {
        if (!m_failure.isEmpty())
            throw EngineError(m_failure.toStdString());
        return result;
    }
    QStringList m_aliases;
    QString m_failure;
};

} // namespace lw::test
