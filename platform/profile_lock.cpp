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

// Takes the exclusive lock of fd, trying again after short pauses for at most timeoutMs. The clock
// is read only once there is something to wait for.
bool waitForLock(int fd, int timeoutMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    QElapsedTimer timer;
    timer.start();
    int pauseMs = 1;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, timeoutMs - timer.elapsed())));
        pauseMs = qMin(pauseMs * 2, 50);
    }
    return true;
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
        // Made empty and locked like any other file (an empty file reads as no file).
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0)
            return errno == EEXIST ? Result::Changed : Result::Failed;
        created = true;
    }
    // A file made here and not locked stays: someone else holds it and may be replacing it, and
    // an empty file reads as no file.
    if (!waitForLock(fd, timeoutMs)) {
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
