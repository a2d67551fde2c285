// The report generator on .xlsx blanks made by openpyxl and re-saved by LibreOffice, as a user's
// would be: every layout, read back by openpyxl and xlsx2csv and computed by LibreOffice; content
// that does not match the extension refused.
#include "report/definition.h"
#include "support/testsupport.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;

namespace {

constexpr int Records = 70000; // more than an .xls sheet holds

QString sourceDir() { return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR"); }
QString binaryDir() { return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR"); }

QByteArray books(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{sourceDir() + "/tests/xlsx/xlsx_books.py"} + args);
    if (!p.waitForFinished(300000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return {};
    }
    return p.readAllStandardOutput() + ' ';
}

QString soffice(const QString& file, const QString& format, const QString& outDir) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (program.isEmpty())
        return {};
    QProcess p;
    p.start(program, {"-env:UserInstallation=file://" + outDir + "/profile", "--headless", "--norestore",
                      "--convert-to", format, "--outdir", outDir, file});
    p.waitForFinished(300000);
    const QString out = outDir + u'/' + QFileInfo(file).completeBaseName() + u'.' + format;
    return QFileInfo::exists(out) ? out : QString();
}

double amountOf(int i) { return i * 10.25; }

} // namespace

class TstXlsxGenerator : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    bool m_openpyxl = false;
    bool m_soffice = false;
    QJsonObject m_salesCells;         // the columnar report's first sheet as openpyxl reads it
    QList<QStringList> m_salesCsv;    // and as xlsx2csv does

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    // A blank made by openpyxl and, when LibreOffice is there, saved again by it.
    QString blank(const QString& name, bool form) {
        const QString made = path("made/" + name + ".xlsx");
        QDir().mkpath(path("made"));
        if (books({"salesblank", made, form ? "form" : "columnar"}).isEmpty())
            return {};
        if (!m_soffice) {
            QFile::copy(made, path(name + ".xlsx"));
        } else {
            const QString saved = soffice(made, "xlsx", m_tmp.path());
            if (saved.isEmpty())
                return {};
        }
        return path(name + ".xlsx");
    }

    QString definition(const QString& name, const QString& workbook, int view, int list, int to = 0) {
        ReportDefinition d;
        d.name = name;
        d.view = view;
        d.list = list;
        d.alias = true;
        d.path = "SHOP";
        d.db = "SALES";
        d.from = 1;
        d.to = to;
        d.excel = workbook;
        writeDefinition(path(name + ".pr"), d);
        return path(name + ".pr");
    }

    int run(const QString& def, QString* err = nullptr) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        p.setProcessEnvironment(e);
        p.start(binaryDir() + "/VORTAL1", {"--batch", def});
        if (!p.waitForFinished(300000))
            return -1;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    }

    QJsonArray sheetsOf(const QString& book) {
        return QJsonDocument::fromJson(books({"dump", book})).object()["sheets"].toArray();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QProcess p;
        p.start("/usr/bin/python3", {"-c", "import openpyxl"});
        m_openpyxl = p.waitForFinished(30000) && p.exitCode() == 0;
        m_soffice = !QStandardPaths::findExecutable("soffice").isEmpty();
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName(path("shop.sqlite"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE SALES (ID INTEGER, NAME TEXT, DAY DATE, AMOUNT REAL, PAID BOOLEAN, BIG INTEGER)"));
        QVERIFY(db.transaction());
        QVERIFY(q.prepare("INSERT INTO SALES VALUES (?, ?, ?, ?, ?, ?)"));
        for (int i = 1; i <= Records; ++i) {
            q.addBindValue(i);
            q.addBindValue(QStringLiteral("Client %1").arg(i));
            q.addBindValue(QDate(1999, 1, 1).addDays(i % 1000).toString(Qt::ISODate));
            q.addBindValue(amountOf(i));
            q.addBindValue(i % 2);
            q.addBindValue(i == 3 ? (qint64(1) << 53) + 3 : qint64(i));
            QVERIFY(q.exec());
        }
        QVERIFY(db.commit());
        db.close();
        QVERIFY(test::writeFile(path("aliases.ini"), "[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n"));
    }

    // Columnar: 70,000 records on one sheet, typed cells, the total widened, the names, the print
    // area, the validation and the other sheet's reference following the footer.
    void columnar() {
        if (!m_openpyxl)
            QSKIP("python3-openpyxl is not installed");
        const QString b = blank("sales", false);
        QVERIFY(!b.isEmpty());
        QCOMPARE(run(definition("sales", b, 1, 0)), 0);
        const QString report = path("sales_report.xlsx");
        const QJsonArray sheets = sheetsOf(report);
        QCOMPARE(sheets.size(), 2);
        const QJsonObject s = sheets[0].toObject();
        QCOMPARE(s["title"].toString(), "Sales");
        const int last = 3 + Records; // 1-based row of the last copy
        QCOMPARE(s["max_row"].toInt(), last + 2);
        const QJsonObject cells = s["cells"].toObject();
        m_salesCells = cells;
        const auto c = [&](const QString& name) { return cells[name].toArray(); };
        QCOMPARE(c("A1")[1].toString(), "Sales of sales");
        QCOMPARE(c("A4")[1].toInt(), 1);
        QCOMPARE(c("D5")[1].toDouble(), amountOf(2));
        QCOMPARE(c("D5")[2].toString(), "0.00");
        QCOMPARE(c("C4")[0].toString(), "datetime");
        QCOMPARE(c("C4")[2].toString(), "yyyy-mm-dd");
        QCOMPARE(c("E4")[0].toString(), "bool");
        QCOMPARE(c("G6")[1].toString(), "9007199254740995"); // beyond 2^53: text, never rounded
        QCOMPARE(c(QStringLiteral("F%1").arg(last))[1].toString(), QStringLiteral("=D%1*2").arg(last));
        QCOMPARE(c(QStringLiteral("D%1").arg(last + 2))[1].toString(), QStringLiteral("=SUM(D4:D%1)").arg(last));
        QCOMPARE(c(QStringLiteral("E%1").arg(last + 2))[1].toString(), QStringLiteral("=\"D4\"&COUNT(D4:D%1)").arg(last));
        QCOMPARE(c("H1")[1].toString(), QStringLiteral("=D%1").arg(last + 2));
        QVERIFY(c("A1")[3].toBool());
        QCOMPARE(s["merged"].toArray(), QJsonArray{"A1:C1"});
        QCOMPARE(s["validation"].toArray(), QJsonArray{QStringLiteral("D4:D%1").arg(last)});
        QCOMPARE(s["print_area"].toArray().first().toString(), QStringLiteral("$A$1:$G$%1").arg(last + 2));
        QCOMPARE(s["print_titles"].toString().remove('$'), "3:3");
        // The table widened over the copies, the note on the total and the chart below the band
        // moved with the footer, the chart's series over every copy.
        QCOMPARE(s["tables"].toObject()["SalesTable"].toString(), QStringLiteral("A3:G%1").arg(last));
        QCOMPARE(s["comments"].toObject()[QStringLiteral("D%1").arg(last + 2)].toString(), "the total");
        const QJsonObject chart = s["charts"].toArray().first().toObject();
        QCOMPARE(chart["row"].toInt(), 7 + Records - 1);
        QCOMPARE(chart["refs"].toArray().first().toString().remove('\''), QStringLiteral("Sales!$D$4:$D$%1").arg(last));
        const QJsonObject notes = sheets[1].toObject()["cells"].toObject();
        QCOMPARE(notes["B1"].toArray()[1].toString().remove('\''), QStringLiteral("=Sales!D%1").arg(last + 2));

        if (!m_soffice)
            QSKIP("LibreOffice (soffice) is not installed");
        const QString csv = soffice(report, "csv", path("csv"));
        QVERIFY(!csv.isEmpty());
        const QList<QByteArray> lines = test::readFile(csv).split('\n');
        double sum = 0;
        for (int i = 1; i <= Records; ++i)
            sum += amountOf(i);
        QCOMPARE(lines.value(last + 1).split(',').value(3).toDouble(), sum);
        QCOMPARE(lines.value(3).split(',').value(5).toDouble(), 2 * amountOf(1));
    }

    // A third reader: what xlsx2csv (Debian's) reads from the columnar report's cells is what
    // openpyxl reads, value for value.
    void thirdReader_data() {
        QTest::addColumn<QString>("cell");
        QTest::newRow("title text") << "A1";
        QTest::newRow("record number") << "A4";
        QTest::newRow("text field") << "B5";
        QTest::newRow("date") << "C4";
        QTest::newRow("decimal") << "D5";
        QTest::newRow("boolean") << "E5";
        QTest::newRow("integer past 2^53, as text") << "G6";
        QTest::newRow("last record's amount") << QStringLiteral("D%1").arg(3 + Records);
    }

    void thirdReader() {
        QFETCH(QString, cell);
        const QString program = QStandardPaths::findExecutable("xlsx2csv");
        if (program.isEmpty())
            QSKIP("xlsx2csv is not installed");
        if (m_salesCells.isEmpty())
            QSKIP("the columnar report was not made (python3-openpyxl is not installed)");
        if (m_salesCsv.isEmpty()) {
            QProcess p;
            p.start(program, {path("sales_report.xlsx")});
            QVERIFY(p.waitForFinished(300000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
                m_salesCsv << QString::fromUtf8(line).split(u',');
        }
        int row = 0, column = 0;
        QVERIFY(xlsx::parseCellName(cell, row, column));
        QString got = m_salesCsv.value(row).value(column);
        if (got.size() >= 2 && got.startsWith(u'"') && got.endsWith(u'"'))
            got = got.mid(1, got.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        const QJsonArray want = m_salesCells[cell].toArray();
        const QString type = want[0].toString();
        if (type == "datetime")
            QCOMPARE(got, want[1].toString().left(10)); // the date format yyyy-mm-dd
        else if (type == "bool")
            QCOMPARE(got.toLower(), want[1].toBool() ? "true" : "false");
        else if (type == "int" || type == "float")
            QCOMPARE(got.toDouble(), want[1].toDouble());
        else
            QCOMPARE(got, want[1].toString());
    }

    void forms_data() {
        QTest::addColumn<int>("list");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("merged");  // on the first report sheet
        QTest::addColumn<QString>("printArea");   // of the first report sheet
        QTest::addColumn<QString>("lastAmount");  // cell of the third record's amount
        QTest::newRow("one sheet") << 0 << QStringList{"Sales", "Notes"} << QStringList{"A15:B15", "A1:B1", "A8:B8"}
                                   << "$A$1:$C$18" << "Sales!B18";
        QTest::newRow("sheet per record") << 1 << QStringList{"1", "2", "3", "Notes"} << QStringList{"A1:B1"}
                                          << "$A$1:$C$4" << "3!B4";
    }

    void forms() {
        QFETCH(int, list);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, merged);
        QFETCH(QString, printArea);
        QFETCH(QString, lastAmount);
        if (!m_openpyxl)
            QSKIP("python3-openpyxl is not installed");
        const QString name = QStringLiteral("cards%1").arg(list);
        const QString b = blank(name, true);
        QVERIFY(!b.isEmpty());
        QCOMPARE(run(definition(name, b, 0, list, 3)), 0);
        const QJsonArray sheets = sheetsOf(path(name + "_report.xlsx"));
        QStringList got;
        for (const QJsonValue& s : sheets)
            got << s["title"].toString();
        QCOMPARE(got, titles);
        const QJsonObject first = sheets[0].toObject();
        QStringList m;
        for (const QJsonValue& v : first["merged"].toArray())
            m << v.toString();
        QCOMPARE(m, merged);
        QCOMPARE(first["print_area"].toArray().first().toString(), printArea);
        // The table: on a sheet per record each sheet has its own, under a name of its own.
        QStringList tables;
        for (const QJsonValue& sh : sheets)
            for (const QString& t : sh["tables"].toObject().keys())
                tables << t;
        QCOMPARE(tables.size(), list == 1 ? 3 : 1);
        QCOMPARE(QSet<QString>(tables.begin(), tables.end()).size(), tables.size());
        QCOMPARE(first["tables"].toObject()["CardTable"].toString(), "A6:B7");
        const QString sheet = lastAmount.section('!', 0, 0), cell = lastAmount.section('!', 1);
        for (const QJsonValue& s : sheets)
            if (s["title"].toString() == sheet)
                QCOMPARE(s["cells"].toObject()[cell].toArray()[1].toDouble(), amountOf(3));
        QCOMPARE(first["cells"].toObject()["A1"].toArray()[1].toString(), "Card 1");
        QCOMPARE(first["cells"].toObject()["C4"].toArray()[1].toString(), "=B4*2");
    }

    // Content that is not what the extension says: a clear " Report error", no report.
    void mismatched_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("Excel 97-2003 named .xlsx") << "xls" << "OLE2";
        QTest::newRow("OpenDocument named .xlsx") << "ods" << "OpenDocument";
        QTest::newRow("text named .xlsx") << "text" << "no zip package";
    }

    void mismatched() {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        const QString file = path("wrong_" + kind + ".xlsx");
        if (kind == "xls") {
            xls::WorkbookWriter w(file);
            w.beginSheet("S");
            w.writeText(0, 0, 15, "${NAME}");
            w.endSheet();
            w.finish();
        } else if (kind == "ods") {
            if (!m_openpyxl || !m_soffice)
                QSKIP("python3-openpyxl or LibreOffice is not installed");
            books({"salesblank", path("odsmade.xlsx"), "columnar"});
            const QString ods = soffice(path("odsmade.xlsx"), "ods", path("ods"));
            QVERIFY(QFile::copy(ods, file));
        } else {
            QVERIFY(test::writeFile(file, "NAME\n${NAME}\n"));
        }
        QString err;
        QCOMPARE(run(definition("wrong_" + kind, file, 1, 0), &err), 1);
        QVERIFY2(err.contains("Report error") && err.contains(says), qPrintable(err));
        QVERIFY(!QFileInfo::exists(path("wrong_" + kind + "_report.xlsx")));
    }
};

QTEST_MAIN(TstXlsxGenerator)
#include "tst_xlsx_generator.moc"
