// The profile files' lock: flock on the data file, opened for writing (which a lock over a network
// file system needs), with the check that the locked file is still the one at the path.
#include "platform/profile_lock.h"

#include <QElapsedTimer>
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
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = -1;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_created = false;
    m_path.clear();
}

void ProfileLock::discardCreated() {
    // Removed while still held, so a writer waiting for it sees it gone and looks again.
    if (m_fd >= 0 && m_created)
        ::unlink(m_path.constData());
    release();
}

namespace {

enum class Wait { Held, TimedOut, Unsupported };

// Takes the exclusive lock of fd, trying again after short pauses for at most *timeoutMs, which is
// lessened by the time spent waiting. The clock is read only once there is something to wait for.
Wait waitForLock(int fd, int* timeoutMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Wait::Held;
    QElapsedTimer timer;
    timer.start();
    int pauseMs = 1;
    Wait result = Wait::Held;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            result = Wait::Unsupported;
            break;
        }
        if (timer.elapsed() >= *timeoutMs) {
            result = Wait::TimedOut;
            break;
        }
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, *timeoutMs - timer.elapsed())));
        pauseMs = qMin(pauseMs * 2, 50);
    }
    *timeoutMs = int(qMax<qint64>(0, *timeoutMs - timer.elapsed()));
    return result;
}

} // namespace

ProfileLock::Result ProfileLock::acquire(const QByteArray& path, int timeoutMs, bool missing) {
    release();
    bool created = false;
    int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP)
            return Result::Link;
        if (errno != ENOENT)
            return Result::Failed;
        if (missing)
            return Result::Missing;
        // No file yet: its folder's lock keeps two writers from making it at once.
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray folder = slash < 0    ? QByteArrayLiteral(".")
                                  : slash == 0 ? QByteArrayLiteral("/")
                                               : path.left(slash);
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const Wait wait = dir >= 0 ? waitForLock(dir, &timeoutMs) : Wait::Unsupported;
        if (wait == Wait::Held) {
            struct stat st {};
            if (::lstat(path.constData(), &st) == 0 || errno != ENOENT) {
                const bool there = errno != ENOENT;
                ::close(dir);
                return there ? Result::Changed : Result::Failed;
            }
            m_folderFd = dir;
            m_path = path;
            return Result::Locked;
        }
        if (dir >= 0)
            ::close(dir);
        if (wait == Wait::TimedOut)
            return Result::Failed;
        // A folder that cannot be read or locked (some network file systems lock only files
        // open for writing): the file is made empty and locked like any other.
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0)
            return errno == EEXIST ? Result::Changed : Result::Failed;
        created = true;
    }
    // A file made here and not locked stays: someone else holds it and may be replacing it, and
    // an empty file reads as no file.
    if (waitForLock(fd, &timeoutMs) != Wait::Held) {
        ::close(fd);
        return Result::Failed;
    }
    struct stat held {};
    bool current = ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode);
    if (!current) {
        ::close(fd);
        return Result::Failed;
    }
    // Replaced (or removed) by the holder before us, the file has no name left; a file with more
    // names may still have one after it was replaced, so then the path itself is asked.
    if (held.st_nlink > 1) {
        struct stat now {};
        current =
            ::lstat(path.constData(), &now) == 0 && now.st_ino == held.st_ino && now.st_dev == held.st_dev;
    } else {
        current = held.st_nlink == 1;
    }
    if (!current) {
        ::close(fd);
        return Result::Changed;
    }
    m_fd = fd;
    m_created = created;
    m_status = held;
    m_path = path;
    return Result::Locked;
}

} // namespace lw
