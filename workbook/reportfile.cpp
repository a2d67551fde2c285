// The file a report is written into before it is put in place: see reportfile.h.
#include "workbook/reportfile.h"

#include "workbook/xls.h"

#include <QFile>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lw::xls::reportfile {

namespace {

// Our temporary names beside a file: ".<name>.<process id>.tmp", or ".<name>.<process id>.<n>.tmp".
QByteArray temporaryName(const QByteArray& folder, const QByteArray& name, int n) {
    QByteArray t = folder + "/." + name + '.' + QByteArray::number(qint64(::getpid()));
    if (n > 0)
        t += '.' + QByteArray::number(n, 16);
    return t + ".tmp";
}

// The process that made a temporary file of ours for name, or 0 when entry is no such file.
pid_t temporaryOwner(const char* entry, const QByteArray& name) {
    const QByteArray e(entry);
    const QByteArray prefix = '.' + name + '.';
    if (!e.startsWith(prefix) || !e.endsWith(".tmp"))
        return 0;
    const QList<QByteArray> parts = e.mid(prefix.size(), e.size() - prefix.size() - 4).split('.');
    if (parts.isEmpty() || parts.size() > 2)
        return 0;
    bool ok = false;
    const qint64 pid = parts[0].toLongLong(&ok);
    if (!ok || pid <= 0 || pid > INT_MAX || (parts.size() == 2 && (parts[1].toULongLong(&ok, 16), !ok)))
        return 0;
    return pid_t(pid);
}

// Earlier versions left ".<name>.XXXXXX" (six letters or digits) and libgsf's ".gsf-save-XXXXXX"
// when they were killed while writing; neither names its writer, so only old ones are taken.
bool oldLeftover(const char* entry, const QByteArray& name, int folder) {
    const QByteArray e(entry);
    const QByteArray ours = '.' + name + '.';
    const bool looksOurs = (e.startsWith(ours) && e.size() == ours.size() + 6) ||
                           (e.startsWith(".gsf-save-") && e.size() == 16);
    if (!looksOurs)
        return false;
    for (qsizetype i = e.size() - 6; i < e.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(e[i])))
            return false;
    struct stat st;
    return ::fstatat(folder, entry, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == ::geteuid() && st.st_mtime < ::time(nullptr) - 24 * 3600;
}

} // namespace

void removeStaleTemporaries(const QString& folder, const QString& fileName) {
    const QByteArray dir = QFile::encodeName(folder);
    const QByteArray name = QFile::encodeName(fileName);
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return;
    const pid_t self = ::getpid();
    while (const dirent* e = ::readdir(d)) {
        const pid_t pid = temporaryOwner(e->d_name, name);
        const bool dead = pid > 0 && pid != self && ::kill(pid, 0) != 0 && errno == ESRCH;
        if (dead || oldLeftover(e->d_name, name, ::dirfd(d)))
            (void)::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

NewFile::NewFile(const QString& folderPath, const QString& fileName)
    : folder(QFile::encodeName(folderPath)), name(QFile::encodeName(fileName)) {
#ifdef O_TMPFILE
    fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return;
#endif
    for (int n = 0; n < 100 && fd < 0; ++n) {
        named = temporaryName(folder, name, n);
        fd = ::open(named.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = errno;
        named.clear();
    }
}

NewFile::~NewFile() {
    if (!named.isEmpty())
        (void)::unlink(named.constData());
    if (fd >= 0)
        ::close(fd);
}

// Gives the complete file the name target, replacing what had it (atomically).
void NewFile::putInPlace(const QByteArray& target) {
    if (named.isEmpty()) {
        // A file without a name gets one through /proc (a link by its descriptor needs privileges).
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int n = 0; n < 100 && named.isEmpty(); ++n) {
            const QByteArray t = temporaryName(folder, name, n);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, t.constData(), AT_SYMLINK_FOLLOW) == 0)
                named = t;
            else if (errno != EEXIST)
                break;
        }
        if (named.isEmpty())
            fail(target);
    }
    if (::rename(named.constData(), target.constData()) != 0)
        fail(target);
    named.clear();
}

void NewFile::fail(const QByteArray& target) const {
    throw Error((QFile::decodeName(target) + QStringLiteral(": cannot be replaced: ") +
                 QString::fromLocal8Bit(strerror(errno)))
                    .toStdString());
}

mode_t modeFor(const QString& path, const QString& templatePath) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    if (!templatePath.isEmpty()) {
        if (::stat(QFile::encodeName(templatePath).constData(), &st) != 0)
            throw Error((templatePath + QStringLiteral(": cannot be read: ") + QString::fromLocal8Bit(strerror(errno)))
                            .toStdString());
        mode &= st.st_mode & 0666;
    }
    return mode;
}

} // namespace lw::xls::reportfile
