// Table files: the errors of table data, the checked input of a table file and the choice of
// reader by the file's name.
#include "data/tablefile.h"

#include <QFile>

#include <fcntl.h>
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
