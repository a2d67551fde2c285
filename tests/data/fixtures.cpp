// Test fixtures of the table data tests: dBASE tables and memo files, records as text.
#include "fixtures.h"

#include <QFile>

namespace lwtest {

QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

QByteArray le64(quint64 v) {
    return le32(quint32(v)) + le32(quint32(v >> 32));
}

static QByteArray le16(int v) {
    QByteArray b(2, '\0');
    b[0] = char(v & 0xFF);
    b[1] = char((v >> 8) & 0xFF);
    return b;
}

static QByteArray be32(quint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * (3 - i))) & 0xFF);
    return b;
}

QByteArray dbfTable(quint8 version, quint8 languageDriver, const QList<DbfField>& fields,
                    const QList<QByteArray>& records, qint64 count) {
    const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
    int recordLength = 1;
    for (const DbfField& f : fields)
        recordLength += f.length;
    const int headerLength = 32 + 32 * int(fields.size()) + 1 + (vfp ? 263 : 0);
    QByteArray out(32, '\0');
    out[0] = char(version);
    out[1] = char(124);
    out[2] = char(1);
    out[3] = char(15);
    out.replace(4, 4, le32(quint32(count < 0 ? records.size() : count)));
    out.replace(8, 2, le16(headerLength));
    out.replace(10, 2, le16(recordLength));
    out[29] = char(languageDriver);
    int offset = 1;
    for (const DbfField& f : fields) {
        QByteArray d(32, '\0');
        d.replace(0, f.name.size(), f.name);
        d[11] = f.type;
        d.replace(12, 4, le32(quint32(offset)));
        d[16] = char(f.length & 0xFF);
        d[17] = char(f.decimals);
        d[18] = char(f.flags);
        out += d;
        offset += f.length;
    }
    out += char(0x0D);
    if (vfp)
        out += QByteArray(263, '\0');
    for (const QByteArray& r : records)
        out += r;
    out += char(0x1A);
    return out;
}

QByteArray dbfRecord(const QList<DbfField>& fields, const QList<QByteArray>& cells, char flag) {
    QByteArray r(1, flag);
    for (int i = 0; i < fields.size(); ++i) {
        const DbfField& f = fields[i];
        QByteArray c = cells.value(i);
        if (c.size() > f.length)
            c.truncate(f.length);
        if (c.size() < f.length) {
            const QByteArray pad(f.length - c.size(), ' ');
            c = (f.type == 'N' || f.type == 'F') ? pad + c : c + pad;
        }
        r += c;
    }
    return r;
}

QByteArray dbt3Memo(const QList<QByteArray>& memos, QList<int>& blocks) {
    QByteArray out(512, '\0');
    for (const QByteArray& m : memos) {
        blocks << int(out.size() / 512);
        QByteArray body = m + "\x1A\x1A";
        body += QByteArray((512 - body.size() % 512) % 512, '\0');
        out += body;
    }
    out.replace(0, 4, le32(quint32(out.size() / 512)));
    out[16] = 0x03;
    return out;
}

QByteArray dbt4Memo(const QList<QByteArray>& memos, QList<int>& blocks, int blockSize) {
    QByteArray out(blockSize, '\0');
    out.replace(20, 2, le16(blockSize));
    for (const QByteArray& m : memos) {
        blocks << int(out.size() / blockSize);
        // The block header counts itself in the memo's length; the text ends with 0x1F as
        // dBASE IV writes it.
        QByteArray body = QByteArray("\xFF\xFF\x08\x00", 4) + le32(quint32(m.size() + 8)) + m + "\x1F\x1F";
        body += QByteArray((blockSize - body.size() % blockSize) % blockSize, '\0');
        out += body;
    }
    out.replace(0, 4, le32(quint32(out.size() / blockSize)));
    return out;
}

QByteArray fptMemo(const QList<QByteArray>& memos, QList<int>& blocks, int blockSize) {
    QByteArray out(512, '\0');
    out[6] = char((blockSize >> 8) & 0xFF);
    out[7] = char(blockSize & 0xFF);
    for (const QByteArray& m : memos) {
        blocks << int(out.size() / blockSize);
        QByteArray body = be32(1) + be32(quint32(m.size())) + m;
        body += QByteArray((blockSize - body.size() % blockSize) % blockSize, '\0');
        out += body;
    }
    out.replace(0, 4, be32(quint32(out.size() / blockSize)));
    return out;
}

QString show(const lw::data::Value& v) {
    using K = lw::data::Value::Kind;
    switch (v.kind) {
    case K::Null:
        return QStringLiteral("null");
    case K::Integer:
        return QString::number(v.integer);
    case K::Double:
        return QString::number(v.number, 'g', 17);
    case K::Decimal:
        return QStringLiteral("d:") + v.text;
    case K::Text:
        return v.text;
    case K::Date:
        return v.date.toString(Qt::ISODate);
    case K::Time:
        return v.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    case K::Timestamp:
        return v.date.toString(Qt::ISODate) + QLatin1Char('T') +
               v.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    case K::Logical:
        return v.logical ? QStringLiteral("true") : QStringLiteral("false");
    }
    return QString();
}

QStringList rows(lw::data::RecordStream& stream, bool withNames) {
    QStringList out;
    if (withNames) {
        QStringList names;
        for (const lw::data::Field& f : stream.fields())
            names << f.name;
        out << names.join(QLatin1Char('|'));
    }
    lw::data::Record r;
    while (stream.next(r)) {
        QStringList cells;
        for (const lw::data::Value& v : r)
            cells << show(v);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

} // namespace lwtest

#include <iconv.h>

namespace lwtest {

QByteArray encode(const QString& text, const char* codePage) {
    const QByteArray utf8 = text.toUtf8();
    iconv_t cd = iconv_open(codePage, "UTF-8");
    if (cd == (iconv_t)-1)
        return QByteArray();
    QByteArray out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    char* o = out.data();
    size_t outLeft = size_t(out.size());
    const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == size_t(-1))
        return QByteArray();
    out.resize(out.size() - qsizetype(outLeft));
    return out;
}

} // namespace lwtest
