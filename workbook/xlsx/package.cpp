// The zip layer of .xlsx packages: reading every part with the limits that stop zip bombs, writing
// the report's package, and telling what a file's first bytes say it is.
#include "workbook/xlsx/package.h"

#include "workbook/xlsx/xlsx.h"

#include <QFile>

#include <zip.h>

#include <mutex>

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

void ZipOut::addFile(const QString& name, const QString& file) {
    zip_source_t* s = zip_source_file(m_zip, QFile::encodeName(file).constData(), 0, -1);
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
