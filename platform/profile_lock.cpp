// The profile files' lock: flock on "<file>.lock", checked against the path after it is taken so a
// lock file removed by the previous holder is never trusted, and removed again before release.
#include "platform/profile_lock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lw {

ProfileLock::~ProfileLock() {
    release();
}

void ProfileLock::release() {
    if (m_fd < 0)
        return;
    // Removed while still held, so whoever opened this file meanwhile sees it gone and starts over.
    ::unlink(m_path.constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

QString ProfileLock::lockFilePath() const {
    return QFile::decodeName(m_path);
}

ProfileLock::Result ProfileLock::tryAt(const QByteArray& lockPath, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    int pauseMs = 1;
    for (;;) {
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            return Result::CannotCreate;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat held {};
            struct stat named {};
            if (::fstat(fd, &held) == 0 && ::stat(lockPath.constData(), &named) == 0 &&
                held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                m_fd = fd;
                m_path = lockPath;
                return Result::Taken;
            }
            // The previous holder removed this file as it finished: take the new one.
            ::close(fd);
            continue;
        }
        const int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK && err != EINTR)
            return Result::CannotCreate;
        if (timer.elapsed() >= timeoutMs)
            return Result::Busy;
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, timeoutMs - timer.elapsed())));
        pauseMs = qMin(pauseMs * 2, 50);
    }
}

bool ProfileLock::acquire(const QString& path, int timeoutMs) {
    release();
    const Result beside = tryAt(QFile::encodeName(path + QStringLiteral(".lock")), timeoutMs);
    if (beside != Result::CannotCreate)
        return beside == Result::Taken;

    // The file's directory takes no new files: every process of this user meets in the runtime
    // directory instead, at a name made from the file's full path.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    const QFileInfo fi(path);
    QString folder = QFileInfo(fi.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = fi.absolutePath();
    const QByteArray id = (folder + QLatin1Char('/') + fi.fileName()).toUtf8();
    const QString name = QStringLiteral("ledgerwick-profile-") +
                         QString::fromLatin1(QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex()) +
                         QStringLiteral(".lock");
    return tryAt(QFile::encodeName(dir + QLatin1Char('/') + name), timeoutMs) == Result::Taken;
}

} // namespace lw
