// What the blank builder and the report generator share: notices, the one completion message, the
// spreadsheet program, and ending on a signal with the completion message still sent.
#include "tools/common/toolkit.h"

#include "platform/launcher.h"
#include "platform/messageport.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "report/definition.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lw {

namespace {

bool g_batch = false;
// Claimed by the first completion message, whoever sends it (normal code or a fatal-signal handler).
std::atomic<bool> g_posted{false};
volatile std::sig_atomic_t g_termination = 0;
int g_pipe[2] = {-1, -1};
// The main window's port, prepared beforehand for the fatal-signal handler (no allocation there).
sockaddr_un g_crashAddress{};
bool g_crashAddressSet = false;

const QString WindowVariable = QStringLiteral("LEDGERWICK_WINDOW");

void say(const QString& line) {
    QTextStream err(stderr);
    err << line << Qt::endl;
}

// Sends "1025" to the prepared port with async-signal-safe calls only.
void crashPost() {
    bool expected = false;
    if (!g_crashAddressSet || !g_posted.compare_exchange_strong(expected, true))
        return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&g_crashAddress), sizeof g_crashAddress) == 0) {
        const char line[] = "1025\n";
        [[maybe_unused]] ssize_t n = ::write(fd, line, sizeof line - 1);
        char reply[4];
        [[maybe_unused]] ssize_t r = ::read(fd, reply, sizeof reply); // the port's acknowledgement
    }
    ::close(fd);
}

void onFatalSignal(int signalNumber) {
    crashPost();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void onTerminationSignal(int signalNumber) {
    g_termination = 1;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_pipe[1] >= 0)
        [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void setBatchMode(bool batch) {
    g_batch = batch;
}

bool batchMode() {
    return g_batch;
}

void testLog(const QString& title, const QString& text) {
    const QString log = qEnvironmentVariable("LEDGERWICK_TEST_LOG");
    if (log.isEmpty())
        return;
    QFile file(log);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((title + QLatin1Char('|') + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                    QLatin1Char('\n'))
                       .toUtf8());
}

int notice(int captionNumber, const QString& text, int buttons) {
    const QString caption = messageText(captionNumber);
    testLog(caption, text);
    if (g_batch || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        say(caption.trimmed() + QStringLiteral(": ") + text);
        return buttons >= 2 ? 2 : 1;
    }
    return MyFormDialog(caption, text, buttons, 0);
}

bool postCompletion(int message) {
    bool expected = false;
    if (!g_posted.compare_exchange_strong(expected, true))
        return false;
    const QString address = qEnvironmentVariable(WindowVariable.toUtf8().constData());
    if (address.isEmpty()) {
        say(QStringLiteral("No main window to tell (%1 is not set): message %2 not sent")
                .arg(WindowVariable)
                .arg(message));
        return false;
    }
    QString error;
    if (!MessagePort::post(address, message, &error)) {
        say(QStringLiteral("Message %1 could not be sent to the main window: %2").arg(message).arg(error));
        return false;
    }
    return true;
}

bool completionPosted() {
    return g_posted.load();
}

QString definitionArgument(QString argument) {
    if (argument.size() >= 2 && argument.startsWith(u'"') && argument.endsWith(u'"'))
        argument = argument.mid(1, argument.size() - 2);
    return argument.isEmpty() ? argument : QFileInfo(argument).absoluteFilePath();
}

QString spreadsheetProgram() {
    return Profile(settingsFileName()).readString(QStringLiteral("EXCEL"), QStringLiteral("Program"), QString()).trimmed();
}

bool showPreparedReport() {
    return Profile(settingsFileName()).readInteger(QStringLiteral("EXCEL"), QStringLiteral("Show"), 0) == 1;
}

bool newBlanksAsXlsx() {
    return Profile(settingsFileName())
               .readString(QStringLiteral("EXCEL"), QStringLiteral("Format"), QStringLiteral("xls"))
               .trimmed()
               .compare(QStringLiteral("xlsx"), Qt::CaseInsensitive) == 0;
}

int queryTimeoutSeconds() {
    constexpr int standard = 600;
    const int seconds =
        Profile(settingsFileName()).readInteger(QStringLiteral("EXCEL"), QStringLiteral("QueryTimeout"), standard);
    return seconds < 0 ? standard : seconds;
}

bool workbookIsOpen(const QString& workbookPath) {
    const QString prefix = directoryPart(workbookPath); // with its "/"
    const QString name = fileNamePart(workbookPath);
    return QFileInfo::exists(prefix + QStringLiteral(".~lock.") + name + QLatin1Char('#')) ||
           QFileInfo::exists(prefix + QStringLiteral("~$") + name);
}

qint64 openInSpreadsheet(const QString& workbookPath) {
    const QString setting = spreadsheetProgram();
    QString program;
    QStringList arguments;
    if (setting.isEmpty()) {
        program = QStringLiteral("xdg-open");
    } else if (QFileInfo(setting).isFile()) {
        program = setting; // a path with blanks in it stays whole
    } else {
        // A command with its own options ("libreoffice --calc"); quotes group as in a shell.
        arguments = QProcess::splitCommand(setting);
        if (arguments.isEmpty())
            return 0;
        program = arguments.takeFirst();
    }
    // The workbook is one argument, never through a shell, and absolute: a name that starts with
    // "-" must not reach the program as an option.
    arguments.append(QFileInfo(workbookPath).absoluteFilePath());
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return 0;
    return pid;
}

QString workbookPathOf(const QString& definitionPath, const ReportDefinition& definition) {
    const QString folder = QFileInfo(definitionPath).absolutePath();
    if (definition.excel.isEmpty())
        return workbookPathFor(QFileInfo(definitionPath).absoluteFilePath());
    // A relative path belongs to the definition, wherever the tool was started from.
    return QDir::cleanPath(QDir(folder).absoluteFilePath(definition.excel));
}

int sourceCaption(bool alias) {
    return alias ? 22 : 21;
}

void startTestAnswers(std::function<bool()> ready) {
    QStringList answers = qEnvironmentVariable("LEDGERWICK_TEST_ANSWERS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (answers.isEmpty() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* timer = new QTimer(QCoreApplication::instance());
    struct State {
        QStringList answers;
        QPointer<QWidget> answered; // the window the current answer is meant for
        QString current;
    };
    auto state = std::make_shared<State>();
    state->answers = answers;
    QObject::connect(timer, &QTimer::timeout, [state, ready, timer]() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        if (state->answered != w) {
            if (state->answers.isEmpty()) {
                timer->stop();
                return;
            }
            state->answered = w;
            state->current = state->answers.takeFirst().trimmed();
        }
        if (state->current == QLatin1String("stay") || (state->current == QLatin1String("done") && ready && !ready()))
            return;
        const char* name = state->current == QLatin1String("no") ? "CancelBtn" : "OKBtn";
        // Queued: a button may open a window of its own, which this timer must be free to answer
        // (a timer does not fire again while its own handler runs).
        state->current = QStringLiteral("stay");
        if (auto* button = w->findChild<QAbstractButton*>(QLatin1String(name)))
            QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(w, &QWidget::close, Qt::QueuedConnection);
    });
    timer->start(50);
}

void armCompletionOnCrash() {
    const QByteArray address = qgetenv("LEDGERWICK_WINDOW");
    if (!address.isEmpty() && std::size_t(address.size()) < sizeof g_crashAddress.sun_path) {
        g_crashAddress.sun_family = AF_UNIX;
        std::memcpy(g_crashAddress.sun_path, address.constData(), std::size_t(address.size()));
        g_crashAddressSet = true;
    }
    struct sigaction fatal {};
    fatal.sa_handler = onFatalSignal;
    sigemptyset(&fatal.sa_mask);
    fatal.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        ::sigaction(s, &fatal, nullptr);
}

TerminationWatch::TerminationWatch(QObject* parent) : QObject(parent) {
    armCompletionOnCrash();
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    if (g_pipe[0] >= 0) {
        auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &TerminationWatch::readPipe);
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
}

TerminationWatch::~TerminationWatch() {
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        std::signal(s, SIG_DFL);
}

bool TerminationWatch::requested() {
    return g_termination != 0;
}

void TerminationWatch::readPipe() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit terminationRequested(last);
}

} // namespace lw
