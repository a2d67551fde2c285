// Table files: the errors of table data, the checked input of a table file and the choice of
// reader by the file's name.
#include "data/tablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lw::data {

DataError::DataError(Kind kind, const QString& text) : std::runtime_error(text.toStdString()), m_kind(kind) {}

void failTable(const QString& path, const QString& reason) {
    throw DataError(DataError::Kind::Table,
                    QStringLiteral("The table file \"%1\" cannot be read: %2").arg(path, reason));
}

// ---- input files

InputFile::InputFile(const QString& path) : m_path(path) {
    const QByteArray name = QFile::encodeName(path);
    // Opening a named pipe would wait for a writer: only plain files are opened, without blocking.
    m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        failTable(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        failTable(path, QStringLiteral("it is not a plain file"));
    }
    m_size = st.st_size;
}

InputFile::~InputFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool InputFile::readAt(qint64 offset, void* buffer, qint64 length) const {
    if (offset < 0 || length < 0 || offset > m_size || length > m_size - offset) {
        return false;
    }
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(m_fd, out, std::size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

// ---- watching a table while it is read

struct TableFileWatch::Watched {
    QString path;
    int fd = -1;
    struct stat at {};
};

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The memo files that belong to a table: the same name with .dbt, .fpt or .mb, in any case.
QStringList memoFiles(const QString& tablePath) {
    const QFileInfo table(tablePath);
    const QString base = table.completeBaseName();
    QStringList found;
    for (const QString& name : table.dir().entryList(QDir::Files | QDir::Hidden)) {
        const QFileInfo f(name);
        const QString ext = f.suffix().toLower();
        if (f.completeBaseName() == base && (ext == QLatin1String("dbt") || ext == QLatin1String("fpt") ||
                                             ext == QLatin1String("mb"))) {
            found << table.dir().filePath(name);
        }
    }
    return found;
}

} // namespace

TableFileWatch::TableFileWatch(const QString& tablePath) {
    for (const QString& path : QStringList{tablePath} + memoFiles(tablePath)) {
        Watched w;
        w.path = path;
        w.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (w.fd < 0 && path != tablePath) {
            continue; // a memo file the reader cannot open either: it says so itself
        }
        if (w.fd < 0) {
            failTable(path, QString::fromLocal8Bit(std::strerror(errno)));
        }
        m_files.push_back(w);
        // A program that locks the file to write it holds an exclusive lock: its work is not
        // waited for (it may take long), the user is told to try again.
        if (::flock(w.fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            failTable(path, QStringLiteral("another program holds it locked while it changes it; "
                                           "run the report again when that program is done"));
        }
        if (::fstat(w.fd, &m_files.back().at) != 0) {
            failTable(path, QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
}

TableFileWatch::~TableFileWatch() {
    for (const Watched& w : m_files) {
        if (w.fd >= 0) {
            ::close(w.fd); // and the lock with it
        }
    }
}

void TableFileWatch::check() const {
    for (const Watched& w : m_files) {
        struct stat now {};
        struct stat named {};
        const bool same = ::fstat(w.fd, &now) == 0 && now.st_size == w.at.st_size &&
                          sameTime(now.st_mtim, w.at.st_mtim) && sameTime(now.st_ctim, w.at.st_ctim) &&
                          ::stat(QFile::encodeName(w.path).constData(), &named) == 0 &&
                          named.st_dev == w.at.st_dev && named.st_ino == w.at.st_ino;
        if (!same) {
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The table file \"%1\" changed while it was read: run the report again")
                                .arg(w.path));
        }
    }
}

// ---- table files

std::unique_ptr<TableReader> openTableFile(const QString& path) {
    // Paradox tables are told by their name: a .db file; anything else is taken for dBASE.
    if (path.endsWith(QLatin1String(".db"), Qt::CaseInsensitive)) {
        return openParadox(path);
    }
    return openDbf(path);
}

void readRecord(TableReader& reader, Record& record) {
    const std::size_t n = reader.fields().size();
    record.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        reader.value(int(i), record[i]);
    }
}

} // namespace lw::data
