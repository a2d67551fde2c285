// Starting the blank builder and the report generator, and their completion messages.
#include "tools/sibling.h"

#include "platform/errorbox.h"
#include "platform/launcher.h"
#include "platform/messageport.h"
#include "platform/profile.h"
#include "data/catalogue.h"
#include "report/frame.h"
#include "report/mdi1.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QPointer>
#include <QProcessEnvironment>
#include <QRect>
#include <QWidget>
#include <QtDebug>

namespace lw {

namespace {

// Message catalogue entries the two commands show.
constexpr int MsgSaveTheReport = 3;
constexpr int MsgAttention = 5;
constexpr int MsgError = 6;
constexpr int MsgEnterDatabasePath = 7;
constexpr int MsgDatabaseNotDefined = 8;

const QString WindowVariable = QStringLiteral("LEDGERWICK_WINDOW");

// Every notice of the two commands: one button (OK), no help.
void notice(const QString& caption, const QString& text) {
    MyFormDialog(caption, text, 1, 0);
}

// Starts a tool found in the start directory or else among the installed tools. A launch that
// fails has its reason in error, naming the files tried, for the caller to show.
LaunchResult launchTool(const QString& programFile, const QString& definitionPath,
                        const QProcessEnvironment& environment) {
    QStringList tried;
    const QString program = toolProgram(programFile, &tried);
    LaunchResult launch = launchProgram(program, definitionPath, environment);
    if (!launch.started) {
        qWarning("Ledgerwick: %s", qPrintable(launch.error));
        if (resolveProgramFile(program).isEmpty() && tried.size() > 1)
            launch.error = QStringLiteral("%1 does not exist, nor %2").arg(tried.at(0), tried.at(1));
    }
    return launch;
}

} // namespace

struct SiblingTools::Private {
    explicit Private(ReportFrame& f) : frame(f) {}

    ReportFrame& frame;
    MessagePort port;
    // The blank builder the main window waits for, while it waits; null otherwise.
    QPointer<ProcessWatch> builder;
    // How the main window stood before it was minimised for the blank builder: given back after.
    bool wasMaximized = false;
    QRect normalGeometry;
};

SiblingTools::SiblingTools(ReportFrame& frame, QObject* parent) : QObject(parent), d(new Private(frame)) {
    connect(&d->port, &MessagePort::messageReceived, this, &SiblingTools::handleMessage);
    // Without a port the tools cannot report back; the blank builder's end still restores the window.
    if (!d->port.listen())
        qWarning("Ledgerwick: %s", qPrintable(d->port.errorString()));
}

SiblingTools::~SiblingTools() {
    delete d;
}

QString SiblingTools::portAddress() const {
    return d->port.address();
}

QProcessEnvironment SiblingTools::toolEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A window address inherited from whoever started us is not ours: never pass it on.
    const QString address = portAddress();
    if (address.isEmpty())
        env.remove(WindowVariable);
    else
        env.insert(WindowVariable, address);
    return env;
}

bool SiblingTools::isWaitingForBlankBuilder() const {
    return !d->builder.isNull();
}

void SiblingTools::blankBuilder() {
    guarded([&] {
        TForm1* window = d->frame.activeEditorWindow();
        if (!window)
            return;
        if (window->definitionPath().contains(QStringLiteral("No Name "))) {
            notice(messageText(MsgAttention), messageText(MsgSaveTheReport));
            return;
        }
        const QString source =
            window->aliasMode() ? window->ComboBox1->currentText() : window->Label2->text();
        if (source.isEmpty() || source.contains(QStringLiteral("FALSE"))) {
            notice(messageText(MsgError), messageText(MsgEnterDatabasePath));
            return;
        }
        const QString table =
            window->aliasMode() ? window->ComboBox2->currentText() : trimBlanks(window->Edit2->text());
        if (table.isEmpty()) {
            notice(messageText(MsgError), messageText(MsgDatabaseNotDefined));
            return;
        }
        if (window->workbookPath().isEmpty()) {
            notice(messageText(MsgError), QString());
            return;
        }

        // The blank builder finds the main window by the class name stored here.
        Profile(window->definitionPath())
            .writeString(QStringLiteral("ZARMEK"), QStringLiteral("TForm"), QStringLiteral("TMainForm"));

        QWidget* main = d->frame.frameWidget();
        d->wasMaximized = main->isMaximized();
        d->normalGeometry = main->isMaximized() ? main->normalGeometry() : main->geometry();
        main->showMinimized();
        const LaunchResult launch = launchTool(blankBuilderProgram(d->frame.startDirectory()),
                                               window->definitionPath(), toolEnvironment());
        if (!launch.started) {
            // Said, not only logged: a command that silently does nothing leaves the user guessing.
            restoreFrame();
            notice(messageText(MsgError), launch.error);
            return;
        }
        main->setEnabled(false);
        stopWaiting();
        d->builder = new ProcessWatch(launch.pid, this);
        ProcessWatch* watch = d->builder;
        connect(watch, &ProcessWatch::ended, this, [this, watch]() { blankBuilderEnded(watch); });
    });
}

void SiblingTools::generateReport() {
    guarded([&] {
        TForm1* window = d->frame.activeEditorWindow();
        if (!window)
            return;
        if (window->modificationState() != TForm1::StateSaved) {
            notice(messageText(MsgSaveTheReport), window->Edit1->text());
            return;
        }
        // The generator runs on its own; the main window does not wait for it.
        const LaunchResult launch = launchTool(reportGeneratorProgram(d->frame.startDirectory()),
                                               window->definitionPath(), toolEnvironment());
        if (!launch.started)
            notice(messageText(MsgError), launch.error);
    });
}

void SiblingTools::handleMessage(int number) {
    if (number != WmUserRestore && number != WmUserDone)
        return;
    guarded([&] {
        stopWaiting();
        if (number == WmUserDone) {
            // Re-read the workbook path the blank builder wrote; a failure here must not keep
            // the main window disabled, so it is shown and the window restored all the same.
            guarded([&] {
                if (TForm1* window = d->frame.activeEditorWindow()) {
                    const QString workbook =
                        Profile(window->definitionPath())
                            .readString(QStringLiteral("REPORT"), QStringLiteral("Excel"), QString());
                    window->setWorkbookPath(workbook);
                    window->setWorkbookLabel(workbook);
                }
            });
        }
        restoreFrame();
    });
}

void SiblingTools::blankBuilderEnded(ProcessWatch* watch) {
    guarded([&] {
        // Only the blank builder still waited for counts; a completion message already ended the wait.
        if (watch == nullptr || watch != d->builder)
            return;
        stopWaiting();
        // The blank builder has gone without a word: give the user the main window back.
        restoreFrame();
    });
}

void SiblingTools::stopWaiting() {
    if (d->builder) {
        d->builder->disconnect(this);
        d->builder->deleteLater();
        d->builder = nullptr;
    }
}

void SiblingTools::restoreFrame() {
    QWidget* main = d->frame.frameWidget();
    main->setEnabled(true);
    // Back as it was: maximised, or normal at its own place and size.
    if (d->wasMaximized) {
        main->showMaximized();
        return;
    }
    main->showNormal();
    if (d->normalGeometry.isValid() && main->geometry() != d->normalGeometry)
        main->setGeometry(d->normalGeometry);
}

} // namespace lw
