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
    if (m_fd < 0)
        return;
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

ProfileLock::Result ProfileLock::acquire(const QByteArray& path, int timeoutMs) {
    release();
    bool created = false;
    int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP)
            return Result::Link;
        if (errno != ENOENT)
            return Result::Failed;
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0)
            return errno == EEXIST ? Result::Changed : Result::Failed;
        created = true;
    }
    // A file made here and not locked stays: someone else holds it and may be replacing it, and
    // an empty file reads as no file.
    auto fail = [&](Result r) {
        ::close(fd);
        return r;
    };

    QElapsedTimer timer;
    timer.start();
    int pauseMs = 1;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || timer.elapsed() >= timeoutMs)
            return fail(Result::Failed);
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, timeoutMs - timer.elapsed())));
        pauseMs = qMin(pauseMs * 2, 50);
    }
    struct stat held {};
    if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode))
        return fail(Result::Failed);
    if (held.st_nlink == 0) {
        // Replaced (or removed) by the holder before us: the file at the path is another one now.
        ::close(fd);
        return Result::Changed;
    }
    if (held.st_nlink > 1) {
        // A file with more names may still have this inode under another one after it was
        // replaced: ask the path itself.
        struct stat now {};
        if (::lstat(path.constData(), &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev) {
            ::close(fd);
            return Result::Changed;
        }
    }
    m_fd = fd;
    m_created = created;
    m_status = held;
    m_path = path;
    return Result::Locked;
}

} // namespace lw
