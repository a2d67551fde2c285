// Test helpers for the workbook library: running the programs we did not write (python3-xlrd,
// LibreOffice headless, our small libfreexl reader) on workbooks and collecting what they read.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

namespace lw::xlstest {

inline QString sourceDir() {
    return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR");
}
inline QString binaryDir() {
    return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR");
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline Run run(const QString& program, const QStringList& args, int timeoutMs = 120000) {
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForStarted(10000)) {
        r.err = "cannot start " + program.toUtf8();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out: " + program.toUtf8();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// What python3-xlrd (Debian's, with formatting_info) reads: see xlrd_dump.py. Debian's own
// interpreter, which has the package, not whatever python3 comes first on the path.
inline QJsonObject xlrd(const QString& path, QString* error = nullptr) {
    const Run r = run(QStringLiteral("/usr/bin/python3"),
                      {sourceDir() + QStringLiteral("/tests/workbook/xlrd_dump.py"), path});
    if (r.exitCode != 0) {
        if (error)
            *error = QString::fromUtf8(r.err);
        return {};
    }
    return QJsonDocument::fromJson(r.out).object();
}

inline QJsonObject xlrdSheet(const QJsonObject& book, int index) {
    return book[QStringLiteral("sheets")].toArray().at(index).toObject();
}

inline QJsonObject xlrdCell(const QJsonObject& sheet, int row, int col) {
    for (const QJsonValue& v : sheet[QStringLiteral("cells")].toArray()) {
        const QJsonObject c = v.toObject();
        if (c[QStringLiteral("row")].toInt() == row && c[QStringLiteral("col")].toInt() == col)
            return c;
    }
    return {};
}

// What libfreexl reads: lines "sheet<TAB>name" and "row<TAB>col<TAB>type<TAB>value".
inline QStringList freexl(const QString& path, QString* error = nullptr) {
    const Run r = run(binaryDir() + QStringLiteral("/lw_freexl_dump"), {path});
    if (r.exitCode != 0) {
        if (error)
            *error = QString::fromUtf8(r.out + r.err);
        return {};
    }
    return QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
}

// LibreOffice headless converting files into outDir, with a throwaway profile of its own.
// `filter` is what follows --convert-to ("csv", "xls", "pdf", or with filter options).
inline bool soffice(const QString& filter, const QStringList& files, const QString& outDir,
                    QString* error = nullptr) {
    QTemporaryDir profile;
    QStringList args{QStringLiteral("-env:UserInstallation=") +
                         QUrl::fromLocalFile(profile.path()).toString(),
                     QStringLiteral("--headless"),
                     QStringLiteral("--norestore"),
                     QStringLiteral("--convert-to"),
                     filter,
                     QStringLiteral("--outdir"),
                     outDir};
    args += files;
    const Run r = run(QStringLiteral("soffice"), args, 180000);
    if (r.exitCode != 0) {
        if (error)
            *error = QString::fromUtf8(r.out + r.err);
        return false;
    }
    return true;
}

// Every sheet to CSV as UTF-8, one file "<base>-<sheet>.csv" per sheet.
inline QString csvAllSheets() {
    return QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1");
}
// One sheet (the first) to CSV as UTF-8, "<base>.csv".
inline QString csvFirstSheet() {
    return QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false");
}

inline QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The cell of a CSV line (no quoted commas in what the tests write).
inline QString csvCell(const QStringList& lines, int row, int col) {
    if (row >= lines.size())
        return {};
    QStringList cells = lines[row].split(u',');
    if (col >= cells.size())
        return {};
    QString c = cells[col];
    if (c.size() >= 2 && c.startsWith(u'"') && c.endsWith(u'"'))
        c = c.mid(1, c.size() - 2);
    return c;
}

// Bytes of BIFF8 records written by hand: little-endian numbers, UTF-16 text, a record, a BOF.
inline QByteArray le16(int v) {
    QByteArray b;
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    return b;
}
inline QByteArray le32(quint32 v) {
    return le16(int(v & 0xFFFF)) + le16(int(v >> 16));
}
inline QByteArray utf16(const QString& s) {
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}
inline QByteArray rec(quint16 id, const QByteArray& d) {
    return le16(id) + le16(int(d.size())) + d;
}
inline QByteArray bof(int type, int version = 0x0600) {
    return rec(0x0809, le16(version) + le16(type) + le16(0) + le16(0) + le32(0) + le32(0));
}

} // namespace lw::xlstest
