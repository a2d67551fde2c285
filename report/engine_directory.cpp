// Table files of a directory, read with readdir: the entry type comes with the name, so only
// table names whose type the file system does not report (links, some network file systems)
// cost a stat call.
#include "report/engine_directory.h"

#include "report/catalogue.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace lw {

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The same test as isTableFileName on the raw bytes of a name, before it is decoded.
bool isTableFileBytes(const char* name) {
    const std::size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr || dot == name) {
        return false;
    }
    const std::size_t extLength = length - std::size_t(dot + 1 - name);
    if (extLength != 2 && extLength != 3) {
        return false;
    }
    if (lowerAscii(dot[1]) != 'd' || lowerAscii(dot[2]) != 'b') {
        return false;
    }
    return extLength == 2 || lowerAscii(dot[3]) == 'f';
}

// Closes the directory stream however the listing ends.
struct DirCloser {
    DIR* dir;
    ~DirCloser() {
        if (dir != nullptr) {
            closedir(dir);
        }
    }
};

QString reasonText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool isTableFileName(const QString& fileName) {
    return isTableFileBytes(QFile::encodeName(fileName).constData());
}

QStringList listTableFiles(const QString& directory, const QString& alias) {
    const QString which = alias.isEmpty()
                              ? QStringLiteral("The directory \"%1\"").arg(directory)
                              : QStringLiteral("The directory \"%1\" of alias \"%2\"").arg(directory, alias);
    const QByteArray path = QFile::encodeName(directory);
    DirCloser stream{opendir(path.constData())};
    if (stream.dir == nullptr) {
        const int error = errno;
        if (error == ENOENT) {
            throw EngineError((which + QStringLiteral(" does not exist")).toStdString());
        }
        if (error == ENOTDIR) {
            throw EngineError((which + QStringLiteral(" is not a directory")).toStdString());
        }
        throw EngineError((which + QStringLiteral(" cannot be read: ") + reasonText(error)).toStdString());
    }
    const int dirFd = dirfd(stream.dir);

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(stream.dir);
        if (entry == nullptr) {
            const int error = errno;
            if (error != 0) {
                throw EngineError(
                    (which + QStringLiteral(" cannot be read: ") + reasonText(error)).toStdString());
            }
            break;
        }
        if (!isTableFileBytes(entry->d_name)) {
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link counts as the file it points to.
            struct stat info;
            regular = fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular) {
            names.append(QFile::decodeName(entry->d_name));
        }
    }

    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

} // namespace lw
