// Starting a sibling program with one argument, never through a shell, and noticing when it ends.
#include "platform/launcher.h"

#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lw {

namespace {

// How often a process is looked at when the kernel cannot tell us about its end.
constexpr int PollIntervalMs = 200;

// Whether others than this user and root may change what a path names: its owner, and for a
// folder who may write it.
bool foreignOwner(const struct stat& st) {
    return st.st_uid != 0 && st.st_uid != ::geteuid();
}

// The reason a folder is unsafe to start programs from, or empty.
QString unsafeFolderReason(const QString& file, const QString& folder) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QStringLiteral("%1 is not started: its folder %2 cannot be examined").arg(file, folder);
    if (foreignOwner(st))
        return QStringLiteral("%1 is not started: its folder %2 belongs to another user").arg(file, folder);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
        return QStringLiteral("%1 is not started: others can change its folder %2").arg(file, folder);
    return {};
}

} // namespace

QString unsafeProgramReason(const QString& programFile) {
    const QFileInfo named(programFile);
    QString reason = unsafeFolderReason(programFile, named.absolutePath());
    if (!reason.isEmpty())
        return reason;
    const QString real = named.canonicalFilePath();
    struct stat st {};
    if (real.isEmpty() || ::stat(QFile::encodeName(real).constData(), &st) != 0)
        return QStringLiteral("%1 is not started: it cannot be examined").arg(programFile);
    if (foreignOwner(st))
        return QStringLiteral("%1 is not started: it belongs to another user").arg(programFile);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("%1 is not started: others than its owner and root can change it")
            .arg(programFile);
    if (real != named.absoluteFilePath())
        reason = unsafeFolderReason(programFile, QFileInfo(real).absolutePath());
    return reason;
}

QString blankBuilderProgram(const QString& startDirectory) {
    return startDirectory + QStringLiteral("/zarmek.exe");
}

QString reportGeneratorProgram(const QString& startDirectory) {
    return startDirectory + QStringLiteral("/VORTAL1");
}

QString installedToolsDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../libexec/ledgerwick"));
}

QString toolProgram(const QString& programFile, QStringList* tried, const QString& toolsDirectory) {
    const QString installed = toolsDirectory + QLatin1Char('/') + fileNamePart(programFile);
    if (tried)
        *tried = QStringList{programFile, installed};
    if (!resolveProgramFile(programFile).isEmpty())
        return programFile;
    if (!resolveProgramFile(installed).isEmpty())
        return installed;
    return programFile;
}

QString resolveProgramFile(const QString& programFile) {
    if (programFile.isEmpty())
        return {};
    QStringList candidates{programFile};
    if (!fileNamePart(programFile).contains(QLatin1Char('.'))) {
        candidates.append(programFile + QStringLiteral(".exe"));
        candidates.append(programFile + QStringLiteral(".EXE"));
    }
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.exists() && !info.isDir())
            return candidate;
    }
    return {};
}

LaunchResult launchProgram(const QString& programFile, const QString& argument,
                           const QProcessEnvironment& environment) {
    LaunchResult result;
    result.programFile = resolveProgramFile(programFile);
    if (result.programFile.isEmpty()) {
        result.programFile = programFile;
        result.error = QStringLiteral("%1 does not exist").arg(programFile);
        return result;
    }
    const QFileInfo info(result.programFile);
    if (!info.isFile() || !info.isExecutable()) {
        result.error = QStringLiteral("%1 cannot be executed").arg(result.programFile);
        return result;
    }
    // A tool that others could have replaced or changed is never run.
    result.error = unsafeProgramReason(result.programFile);
    if (!result.error.isEmpty())
        return result;

    QProcess process;
    // A name without a directory would be looked up in PATH; ours always means this very file.
    QString program = result.programFile;
    if (!program.contains(QLatin1Char('/')))
        program.prepend(QStringLiteral("./"));
    process.setProgram(program);
    process.setArguments({argument}); // one argv element: blanks, quotes and all arrive whole
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        result.error =
            QStringLiteral("%1 could not be started: %2").arg(result.programFile, process.errorString());
        return result;
    }
    result.started = true;
    result.pid = pid;
    return result;
}

ProcessWatch::ProcessWatch(qint64 pid, QObject* parent) : QObject(parent), m_pid(pid) {
    if (pid <= 0 || pid > INT_MAX) {
        QTimer::singleShot(0, this, &ProcessWatch::finish);
        return;
    }
#ifdef SYS_pidfd_open
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (m_pidfd >= 0) {
        // The descriptor becomes readable when the process has terminated.
        m_notifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ProcessWatch::finish);
        return;
    }
    if (errno == ESRCH) {
        QTimer::singleShot(0, this, &ProcessWatch::finish);
        return;
    }
#endif
    // No process descriptors on this kernel: look now and then.
    m_timer = new QTimer(this);
    m_timer->setInterval(PollIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &ProcessWatch::poll);
    m_timer->start();
}

ProcessWatch::~ProcessWatch() {
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

bool ProcessWatch::isRunning(qint64 pid) {
    if (pid <= 0 || pid > INT_MAX)
        return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    // A process that has exited but not yet been reaped still answers kill(); its state says "Z".
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close >= 0 && close + 2 < line.size()) {
            const char state = line[close + 2];
            if (state == 'Z' || state == 'X')
                return false;
        }
    }
    return true;
}

void ProcessWatch::poll() {
    if (!isRunning(m_pid))
        finish();
}

void ProcessWatch::finish() {
    if (m_ended)
        return;
    m_ended = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_timer)
        m_timer->stop();
    emit ended();
}

} // namespace lw
