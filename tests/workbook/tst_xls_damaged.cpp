// Bad input for the workbook reader: other formats under an .xls name, encrypted and older
// workbooks, hostile records, and a corpus of real workbooks truncated and with bytes flipped.
// Every one gives a clear Error or a workbook, never a crash, a hang or unbounded memory.
// libgsf first: glib names a struct member "signals", which Qt's keywords would rewrite.
#include <gsf/gsf.h>

#include "workbook/xls.h"
#include "xlstest.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace lw::xls;
using namespace lw::xlstest;

namespace {

const QByteArray eof = rec(0x000A, {});

// Globals, one sheet "S" right after them, then the sheet's records.
QByteArray stream(const QByteArray& globals, const QByteArray& sheet, bool sheetEof = true) {
    QByteArray head = bof(0x0005) + globals;
    const int patch = int(head.size()) + 4;
    head += rec(0x0085, le32(0) + char(0) + char(0) + char(1) + char(0) + "S") + eof;
    head.replace(patch, 4, le32(quint32(head.size())));
    return head + bof(0x0010) + sheet + (sheetEof ? eof : QByteArray());
}

// A compound file holding one stream of the given name.
bool compoundFile(const QString& path, const char* streamName, const QByteArray& data) {
    gsf_init();
    GsfOutput* sink = gsf_output_stdio_new(QFile::encodeName(path).constData(), nullptr);
    if (!sink)
        return false;
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    GsfOutput* child = gsf_outfile_new_child(ole, streamName, FALSE);
    gsf_output_write(child, size_t(data.size()), reinterpret_cast<const guint8*>(data.constData()));
    gsf_output_close(child);
    g_object_unref(child);
    const bool ok = gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    return ok;
}

QString readError(const std::function<void()>& read) {
    try {
        read();
    } catch (const Error& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace

class TestXlsDamaged : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_corpus; // real workbooks: ours and LibreOffice's

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString ours = m_dir.filePath(QStringLiteral("ours.xls"));
        WorkbookWriter w(ours);
        CellFormat bold;
        bold.font.bold = true;
        const quint16 xf = w.addFormat(bold);
        w.beginSheet(QStringLiteral("One"));
        for (int r = 0; r < 300; ++r) {
            w.writeText(r, 0, xf, QStringLiteral("text %1 Ж").arg(r % 40));
            w.writeNumber(r, 1, 15, r * 0.5);
            w.writeFormula(r, 2, 15,
                           Formula(QByteArray::fromHex("440000") + QByteArray::fromHex("01c01e020005")),
                           Value{ValueType::Number, 0, {}});
        }
        w.addMerged({0, 1, 0, 1});
        w.setPrintTitleRows(0, 0);
        w.beginSheet(QStringLiteral("Two"));
        w.writeText(0, 0, 15, QString(9000, u'y'));
        w.finish();
        m_corpus << ours;
        // LibreOffice's own: the template as Excel 97-2003 and as .xlsx.
        QString error;
        const QString fods = sourceDir() + QStringLiteral("/tests/workbook/template.fods");
        QVERIFY2(soffice(QStringLiteral("xls"), {fods}, m_dir.path(), &error), qPrintable(error));
        QVERIFY2(soffice(QStringLiteral("xlsx"), {fods}, m_dir.path(), &error), qPrintable(error));
        m_corpus << m_dir.filePath(QStringLiteral("template.xls"));
        QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("template.xlsx")),
                            m_dir.filePath(QStringLiteral("xlsx.xls"))));
        // LibreOffice no longer saves Excel 95: its "Book" stream is made here, as is a compound
        // file of another program.
        const QByteArray biff5 = rec(0x0809, le16(0x0500) + le16(0x0005) + le16(0) + le16(0)) + eof;
        QVERIFY(compoundFile(m_dir.filePath(QStringLiteral("excel95.xls")), "Book", biff5));
        QVERIFY(
            compoundFile(m_dir.filePath(QStringLiteral("word.xls")), "WordDocument", QByteArray(600, 'w')));
    }

    void otherFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents"); // empty: made in initTestCase
        QTest::addColumn<QString>("message");
        QTest::newRow("xlsx under an .xls name") << "xlsx.xls" << QByteArray() << ".xlsx workbook";
        QTest::newRow("Excel 95") << "excel95.xls" << QByteArray() << "Excel 5.0/95";
        QTest::newRow("another program's compound file")
            << "word.xls" << QByteArray() << "no \"Workbook\" stream";
        QTest::newRow("web page") << "page.xls"
                                  << QByteArray("  <html><body><table><tr><td>1</td></tr></table>")
                                  << "web page";
        QTest::newRow("empty file") << "empty.xls" << QByteArray("") << "not an Excel workbook";
        QTest::newRow("text") << "text.xls" << QByteArray("name;amount\nx;1\n") << "not an Excel workbook";
        QTest::newRow("compound file header only")
            << "header.xls" << QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(504, '\0')
            << "damaged compound";
        QTest::newRow("missing file") << "missing.xls" << QByteArray() << "no such file";
    }

    void otherFiles() {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(name);
        if (!contents.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        const QString error = readError([&] { readWorkbook(path); });
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.contains(name), qPrintable(error));
    }

    void hostileRecords_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("encrypted") << stream(rec(0x002F, le16(1) + QByteArray(52, 'k')), {}) << "encrypted";
        QTest::newRow("Excel 95 records") << bof(0x0005, 0x0500) + eof << "Excel 5.0/95";
        QTest::newRow("empty stream") << QByteArray() << "empty";
        QTest::newRow("record past the end") << bof(0x0005) + le16(0x0031) + le16(1000) + "short"
                                             << "past the end";
        QTest::newRow("string table declares more strings")
            << stream(rec(0x00FC, le32(1000) + le32(1000) + le16(1) + char(0) + "a"), {}) << "declares 1000";
        QTest::newRow("string table declares four billion strings")
            << stream(rec(0x00FC, le32(0xFFFFFFFF) + le32(0xFFFFFFFF)), {}) << "declares";
        QTest::newRow("string longer than its records")
            << stream(rec(0x00FC, le32(1) + le32(1) + le16(65535) + char(1) + "ab"), {}) << "ends before";
        QByteArray chain = rec(0x00FC, le32(1) + le32(1) + le16(60000) + char(0) + "a");
        for (int i = 0; i < 40000; ++i)
            chain += rec(0x003C, QByteArray(1, 0));
        QTest::newRow("CONTINUE chain that never ends") << bof(0x0005) + chain << "ends before";
        QTest::newRow("string index past the table")
            << stream({}, rec(0x00FD, le16(0) + le16(0) + le16(15) + le32(7))) << "string 7";
        QTest::newRow("cell past column 256")
            << stream({}, rec(0x0203, le16(0) + le16(300) + le16(15) + QByteArray(8, 0))) << "column 256";
        QTest::newRow("sheet without its end")
            << stream({}, rec(0x0203, QByteArray(14, 0)), false) << "truncated";
        QTest::newRow("sheet starting past the end")
            << bof(0x0005) + rec(0x0085, le32(0x7FFFFFFF) + char(0) + char(0) + char(1) + char(0) + "S") + eof
            << "past the end";
        QTest::newRow("merged cells count larger than the record")
            << stream({}, rec(0x00E5, le16(65535) + QByteArray(8, 0))) << "ends before";
        QTest::newRow("formula tokens past the record")
            << stream({}, rec(0x0006, QByteArray(20, 0) + le16(500) + "ab")) << "past the end of its record";
        QTest::newRow("globals without their end") << bof(0x0005) + rec(0x0042, le16(1200)) << "truncated";
    }

    void hostileRecords() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString error = readError([&] { readWorkbookStream(bytes); });
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    // Thousands of record types nobody knows: read, and named in a short list.
    void unknownRecords() {
        QByteArray sheet;
        for (int id = 0x3000; id < 0x5000; ++id)
            sheet += rec(quint16(id), QByteArray(2, 'u'));
        const Workbook b = readWorkbookStream(stream({}, sheet));
        QCOMPARE(b.sheets.at(0).dropped.size(), 17);
        QVERIFY(b.sheets.at(0).dropped.contains(QStringLiteral("other records (type 0x3000)")));
    }

    // Every real workbook of the corpus cut short at many places and with bytes flipped at
    // random (a fixed seed): each read ends in an Error or a workbook.
    void damagedCorpus() {
        QRandomGenerator random(17);
        int errors = 0, read = 0;
        for (const QString& original : m_corpus) {
            QFile f(original);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            QList<QByteArray> variants;
            for (int i = 1; i <= 24; ++i)
                variants << bytes.left(bytes.size() * i / 25);
            for (int i = 0; i < 60; ++i) {
                QByteArray v = bytes;
                const int flips = 1 + int(random.bounded(8));
                for (int k = 0; k < flips; ++k)
                    v[int(random.bounded(quint32(v.size())))] = char(random.bounded(256));
                variants << v;
            }
            const QString path = m_dir.filePath(QStringLiteral("damaged.xls"));
            for (const QByteArray& v : variants) {
                QFile out(path);
                QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                out.write(v);
                out.close();
                readError([&] { readWorkbook(path); }).isEmpty() ? ++read : ++errors;
            }
        }
        QVERIFY(errors > 0);
        qInfo("damaged files: %d read, %d refused", read, errors);
    }

    // The same at the level of the workbook stream, where the records themselves get damaged.
    void damagedStreams() {
        QRandomGenerator random(29);
        QList<QByteArray> seeds;
        QByteArray globals = rec(0x00FC, le32(3) + le32(3) + le16(3) + char(0) + "abc" + le16(2) + char(1) +
                                             "\x16\x04\x16\x04" + le16(4) + char(0x0C) + le16(1) + le32(4) +
                                             "wxyz" + le32(0) + "ph  ");
        globals += rec(0x01AE, le16(1) + le16(0x0401)) + rec(0x0017, le16(1) + le16(0) + le16(0) + le16(0));
        QByteArray sheet =
            rec(0x00FD, le16(0) + le16(0) + le16(15) + le32(2)) +
            rec(0x00BD, le16(1) + le16(0) + le16(15) + le32(6) + le16(15) + le32(10) + le16(1)) +
            rec(0x0006, le16(2) + le16(0) + le16(15) + QByteArray(8, 0) + le16(0) + le32(0) + le16(13) +
                            QByteArray::fromHex("3a00000100000019100000") + QByteArray::fromHex("1602")) +
            rec(0x00E5, le16(1) + le16(0) + le16(1) + le16(0) + le16(1)) +
            rec(0x001B, le16(1) + le16(5) + le16(0) + le16(255));
        seeds << stream(globals, sheet);
        int refused = 0;
        for (const QByteArray& seed : seeds) {
            for (int i = 0; i < 4000; ++i) {
                QByteArray v = seed;
                const int flips = 1 + int(random.bounded(4));
                for (int k = 0; k < flips; ++k)
                    v[int(random.bounded(quint32(v.size())))] = char(random.bounded(256));
                if (random.bounded(4) == 0)
                    v.truncate(int(random.bounded(quint32(v.size()))));
                try {
                    const Workbook b = readWorkbookStream(v);
                    for (const Sheet& s : b.sheets) {
                        for (const Cell& c : s.cells) {
                            if (!c.formula)
                                continue;
                            Formula f = *c.formula;
                            f.moveRows(3);
                            f.hasAreaOverRows(0, 0);
                            f.spreadArea(0, 0, {{0, 1, 2}, {-1, 3, 4}});
                        }
                    }
                } catch (const Error&) {
                    ++refused;
                }
            }
        }
        QVERIFY(refused > 0);
    }
};

QTEST_GUILESS_MAIN(TestXlsDamaged)
#include "tst_xls_damaged.moc"
