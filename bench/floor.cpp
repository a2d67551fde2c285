// The floors the store and the Save command are measured against: the least a program must do to
// read a whole file, or to replace one atomically, written straight on the system calls.
#include "floor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lwbench {

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

QByteArray floorReadWholeFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return {};
    }
    // One byte more than the size, so that a short read tells the end without another call.
    QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
        if (got < data.size())
            break;
        data.resize(data.size() * 2);
    }
    ::close(fd);
    data.truncate(got);
    return data;
}

qsizetype floorReadAndSearch(const QByteArray& path) {
    const QByteArray bytes = floorReadWholeFile(path);
    const void* hit = std::memchr(bytes.constData(), 0, std::size_t(bytes.size()));
    return hit ? static_cast<const char*>(hit) - bytes.constData() : bytes.size();
}

bool floorAtomicWrite(const QByteArray& path, const QByteArray& bytes) {
    const QByteArray tmp = path + ".floor.tmp";
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmp.constData(), path.constData()) == 0;
    if (!ok)
        ::unlink(tmp.constData());
    return ok;
}

void resetFile(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (writeAll(fd, bytes))
        ::fdatasync(fd);
    ::close(fd);
}

} // namespace lwbench
