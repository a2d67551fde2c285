// The zip layer of .xlsx packages: reading every part with the limits that stop zip bombs, writing
// the report's package, and telling what a file's first bytes say it is.
#include "workbook/xlsx/package.h"

#include "workbook/xlsx/xlsx.h"

#include <QFile>

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace lw::xlsx {

namespace {

std::mutex g_limitsMutex;
ReadLimits g_limits;

} // namespace

ReadLimits readLimits() {
    std::lock_guard lock(g_limitsMutex);
    return g_limits;
}

void setReadLimits(const ReadLimits& limits) {
    std::lock_guard lock(g_limitsMutex);
    g_limits = limits;
}

QString sniffContent(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = f.read(100);
    if (head.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)))
        return QStringLiteral("ole2");
    if (head.startsWith("PK\x03\x04")) {
        // OpenDocument keeps its media type uncompressed as the first entry, "mimetype".
        if (head.mid(30, 8) == "mimetype" && head.mid(38).startsWith("application/vnd.oasis.opendocument"))
            return QStringLiteral("ods");
        return QStringLiteral("xlsx");
    }
    return {};
}

namespace zipio {

std::map<QString, QByteArray> unzipAll(const QByteArray& data) {
    const ReadLimits limits = readLimits();
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data.constData(), zip_uint64_t(data.size()), 0, &error);
    if (!source) {
        zip_error_fini(&error);
        throw Error("out of memory reading the package");
    }
    zip_t* za = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!za) {
        zip_source_free(source);
        const QString why = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        throw Error(QStringLiteral("the zip package is damaged (%1)").arg(why).toStdString());
    }
    zip_error_fini(&error);
    struct Closer {
        zip_t* za;
        ~Closer() { zip_discard(za); }
    } closer{za};

    const zip_int64_t count = zip_get_num_entries(za, 0);
    if (count < 0 || count > limits.parts)
        throw Error(QStringLiteral("the package holds %1 parts, more than a workbook can").arg(count).toStdString());
    std::map<QString, QByteArray> parts;
    qint64 total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0 || !st.name)
            throw Error("the zip package is damaged (an entry cannot be read)");
        const QString name = QString::fromUtf8(st.name);
        if (name.endsWith(u'/'))
            continue; // a folder
        if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE))
            throw Error(QStringLiteral("the zip entry %1 has no size").arg(name).toStdString());
        const qint64 declared = qint64(st.size);
        if (declared > limits.partBytes || total + declared > limits.totalBytes)
            throw Error(QStringLiteral("the part %1 unpacks to more than a workbook can hold (%2 bytes)")
                            .arg(name)
                            .arg(declared)
                            .toStdString());
        if (declared > (1 << 20) && declared / std::max<qint64>(1, qint64(st.comp_size)) > limits.ratio)
            throw Error(QStringLiteral("the part %1 unpacks %2 times its packed size: refused as a zip bomb")
                            .arg(name)
                            .arg(declared / std::max<qint64>(1, qint64(st.comp_size)))
                            .toStdString());
        zip_file_t* zf = zip_fopen_index(za, zip_uint64_t(i), 0);
        if (!zf)
            throw Error(QStringLiteral("the zip entry %1 cannot be opened (%2)")
                            .arg(name, QString::fromUtf8(zip_strerror(za)))
                            .toStdString());
        QByteArray bytes;
        bytes.resize(qsizetype(declared));
        // Never trust the declared size alone: read at most that much, and one byte more to see a lie.
        qint64 got = 0;
        bool failed = false;
        while (got < declared) {
            const zip_int64_t n = zip_fread(zf, bytes.data() + got, zip_uint64_t(declared - got));
            if (n < 0) {
                failed = true;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        char extra;
        const bool longer = !failed && zip_fread(zf, &extra, 1) > 0;
        zip_fclose(zf);
        if (failed || got != declared || longer)
            throw Error(QStringLiteral("the zip entry %1 is damaged").arg(name).toStdString());
        total += declared;
        parts[name] = std::move(bytes);
    }
    return parts;
}

ZipOut::ZipOut(const QString& path) : m_path(path) {
    int code = 0;
    m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!m_zip) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        const QString why = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        throw Error(QStringLiteral("%1 cannot be written: %2").arg(path, why).toStdString());
    }
}

namespace {

// A zip source over a file descriptor: the archive libzip writes (it starts empty, a new archive,
// and a write truncates the file and writes from its start), or an entry's data read from it.
// The descriptor stays its owner's.
struct FdSink {
    int fd;
    zip_uint64_t offset = 0; // where reads and writes are
    zip_uint64_t size = 0;
    zip_error_t error;
    // An entry read from a stretch of the file: its start; reads stop at its size.
    zip_uint64_t base = 0;
    bool slice = false;
};

zip_int64_t fdSink(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* s = static_cast<FdSink*>(state);
    const auto failed = [s](int zipError) {
        zip_error_set(&s->error, zipError, errno);
        return zip_int64_t(-1);
    };
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = s->size;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(*st);
    }
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_BEGIN_WRITE:
        s->offset = 0;
        if (cmd == ZIP_SOURCE_BEGIN_WRITE) {
            if (::ftruncate(s->fd, 0) != 0)
                return failed(ZIP_ER_WRITE);
            s->size = 0;
        }
        return 0;
    case ZIP_SOURCE_READ: {
        if (s->slice)
            len = s->offset >= s->size ? 0 : std::min(len, s->size - s->offset);
        const ssize_t n = len == 0 ? 0 : ::pread(s->fd, data, len, off_t(s->base + s->offset));
        if (n < 0)
            return failed(ZIP_ER_READ);
        s->offset += zip_uint64_t(n);
        return n;
    }
    case ZIP_SOURCE_WRITE: {
        zip_uint64_t done = 0;
        while (done < len) {
            const ssize_t n = ::pwrite(s->fd, static_cast<const char*>(data) + done, len - done, off_t(s->offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return failed(ZIP_ER_WRITE);
            done += zip_uint64_t(n);
            s->offset += zip_uint64_t(n);
        }
        s->size = std::max(s->size, s->offset);
        return zip_int64_t(len);
    }
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t to = zip_source_seek_compute_offset(s->offset, s->size, data, len, &s->error);
        if (to < 0)
            return -1;
        s->offset = zip_uint64_t(to);
        return 0;
    }
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_TELL_WRITE:
        return zip_int64_t(s->offset);
    case ZIP_SOURCE_COMMIT_WRITE:
        return ::fsync(s->fd) == 0 ? 0 : failed(ZIP_ER_WRITE);
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
        (void)::ftruncate(s->fd, 0);
        s->size = 0;
        return 0;
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_FREE:
        zip_error_fini(&s->error);
        delete s;
        return 0;
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

ZipOut::ZipOut(const QString& path, int fd) : m_path(path) {
    zip_error_t error;
    zip_error_init(&error);
    auto* state = new FdSink{fd, 0, 0, {}};
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function_create(fdSink, state, &error);
    if (!source) {
        zip_error_fini(&state->error);
        delete state;
    }
    m_zip = source ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!m_zip) {
        if (source)
            zip_source_free(source);
        const QString why = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        throw Error(QStringLiteral("%1 cannot be written: %2").arg(path, why).toStdString());
    }
    zip_error_fini(&error);
}

ZipOut::~ZipOut() {
    if (m_zip)
        zip_discard(m_zip);
}

void ZipOut::addData(const QString& name, QByteArray data) {
    m_keep.push_back(std::move(data));
    const QByteArray& kept = m_keep.back();
    zip_source_t* s = zip_source_buffer(m_zip, kept.constData(), zip_uint64_t(kept.size()), 0);
    if (!s || zip_file_add(m_zip, name.toUtf8().constData(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        if (s)
            zip_source_free(s);
        throw Error(QStringLiteral("%1: the part %2 cannot be added (%3)")
                        .arg(m_path, name, QString::fromUtf8(zip_strerror(m_zip)))
                        .toStdString());
    }
}

void ZipOut::addFile(const QString& name, int fd) {
    struct stat st;
    addFile(name, fd, 0, ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1);
}

void ZipOut::addFile(const QString& name, int fd, qint64 offset, qint64 length) {
    zip_source_t* s = nullptr;
    if (offset >= 0 && length >= 0) {
        auto* state = new FdSink{fd, 0, zip_uint64_t(length), {}, zip_uint64_t(offset), true};
        zip_error_init(&state->error);
        s = zip_source_function(m_zip, fdSink, state);
        if (!s) {
            zip_error_fini(&state->error);
            delete state;
        }
    }
    add(name, s);
}

void ZipOut::addFile(const QString& name, const QString& file) {
    add(name, zip_source_file(m_zip, QFile::encodeName(file).constData(), 0, -1));
}

void ZipOut::add(const QString& name, zip_source_t* s) {
    const zip_int64_t index =
        s ? zip_file_add(m_zip, name.toUtf8().constData(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) : -1;
    if (index < 0) {
        if (s)
            zip_source_free(s);
        throw Error(QStringLiteral("%1: the part %2 cannot be added (%3)")
                        .arg(m_path, name, QString::fromUtf8(zip_strerror(m_zip)))
                        .toStdString());
    }
    // The large parts (sheets' rows) are deflated at the fastest level: most of the time of writing a
    // big report went into deflate at the default level, for files a fifth smaller.
    zip_set_file_compression(m_zip, zip_uint64_t(index), ZIP_CM_DEFLATE, 1);
}

void ZipOut::close() {
    if (zip_close(m_zip) != 0) {
        const QString why = QString::fromUtf8(zip_strerror(m_zip));
        throw Error(QStringLiteral("%1 cannot be written: %2").arg(m_path, why).toStdString());
    }
    m_zip = nullptr;
    m_keep.clear();
}

} // namespace zipio

} // namespace lw::xlsx
