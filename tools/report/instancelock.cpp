// One report generator at a time per user: flock on a file in the runtime directory.
#include "tools/report/instancelock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lw::report {

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QString InstanceLock::lockFilePath() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath() + QStringLiteral("/ledgerwick-%1").arg(::getuid());
    QDir().mkpath(dir);
    return dir + QStringLiteral("/ledgerwick-report.lock");
}

bool InstanceLock::acquire() {
    if (m_fd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(lockFilePath());
    // Close-on-exec: a spreadsheet program started from here must not hold our lock after we end.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("%1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e != EWOULDBLOCK)
            m_error = QStringLiteral("%1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(e)));
        return false;
    }
    m_fd = fd;
    return true;
}

} // namespace lw::report
