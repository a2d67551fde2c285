// The profile files' lock: flock on "<file>.lock", made with the data file's permissions so that
// every user who may write the file can take it; a lock file removed by its last holder is never
// trusted, and it is removed again before release.
#include "platform/profile_lock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lw {

ProfileLock::~ProfileLock() {
    release();
}

void ProfileLock::release() {
    if (m_fd < 0)
        return;
    // Removed while still held, so whoever opened this file meanwhile sees it gone and starts over.
    // In a sticky folder another user's lock file cannot be removed: it stays, and is used again.
    ::unlink(m_path.constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

QString ProfileLock::lockFilePath() const {
    return QFile::decodeName(m_path);
}

bool ProfileLock::acquire(const QString& path, const struct stat* data, int timeoutMs) {
    release();
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    // Owner read and write, and the file's own bits for group and others.
    const mode_t wanted = data ? (S_IRUSR | S_IWUSR | (data->st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)))
                               : 0666;
    QElapsedTimer timer;
    timer.start();
    int pauseMs = 1;
    auto pause = [&]() {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, timeoutMs - timer.elapsed())));
        pauseMs = qMin(pauseMs * 2, 50);
        return true;
    };
    for (;;) {
        // O_NOFOLLOW: a link planted under the lock file's name is never opened.
        int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, wanted);
        const bool created = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            if (fd < 0 && errno == ENOENT)
                continue; // removed by its holder in between
            if (fd < 0 && errno == EACCES) {
                // Made by another user a moment ago and not yet given its permissions, or a lock
                // file this user may not open: wait as for a holder.
                if (!pause())
                    return false;
                continue;
            }
        }
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if ((err != EWOULDBLOCK && err != EINTR) || !pause())
                return false;
            continue;
        }
        struct stat held {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            return false;
        }
        if (held.st_nlink == 0) {
            // The previous holder removed this file as it finished: take the new one.
            ::close(fd);
            continue;
        }
        if (created && data) {
            // The group first: changing it may clear permission bits.
            if (held.st_gid != data->st_gid)
                (void)!::fchown(fd, uid_t(-1), data->st_gid);
            if ((held.st_mode & 07777) != wanted || held.st_gid != data->st_gid)
                (void)!::fchmod(fd, wanted);
        }
        m_fd = fd;
        m_path = lockPath;
        m_foundExisting = !created;
        return true;
    }
}

} // namespace lw
