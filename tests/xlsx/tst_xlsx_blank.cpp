// The blank builder and .xlsx: which format a new blank gets ("EXCEL" "Format", a definition's own
// ".xlsx" path, a user's .xls kept), the blank as openpyxl reads it, LibreOffice's save of it
// scanned again, and blanks as other producers write them (prefixes, Excel's cell forms) read.
#include "report/definition.h"
#include "support/testsupport.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;

class TstXlsxBlank : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    static QString binaryDir() { return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR"); }
    static QString sourceDir() { return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR"); }

    int runBlank(const QString& def) {
        QProcess p;
        p.start(binaryDir() + "/ledgerwick-blank", {"--no-edit", def});
        if (!p.waitForFinished(120000))
            return -1;
        return p.exitCode();
    }

    // The cells of a workbook's first sheet: "A1|t|text", "A2|n|2.5", "C2|e|7" (error code),
    // "B2|f|A2*2" (a formula), empty cells left out.
    static QStringList cellsOf(const xlsx::Package& p) {
        QStringList out;
        for (const xls::Cell& c : p.book.sheets.at(0).cells) {
            const QString name = xlsx::cellName(c.row, c.column) + u'|';
            const QString formula = p.formulaAt(0, c.row, c.column);
            if (!formula.isEmpty())
                out << name + "f|" + formula;
            else if (c.value.type == xls::ValueType::Text)
                out << name + "t|" + c.value.text;
            else if (c.value.type == xls::ValueType::Number)
                out << name + "n|" + QString::number(c.value.number, 'g', 15);
            else if (c.value.type == xls::ValueType::Error)
                out << name + "e|" + QString::number(c.value.number);
            else if (c.value.type == xls::ValueType::Boolean)
                out << name + "b|" + QString::number(c.value.number);
        }
        return out;
    }

    // A report of the blank's first sheet, its cells copied as they are.
    static void copyReport(const xlsx::Package& blank, const QString& out) {
        xlsx::ReportWriter w(out, blank);
        w.beginSheet(blank.book.sheets[0].name, 0, true);
        for (const xls::Cell& c : blank.book.sheets[0].cells) {
            const QString formula = blank.formulaAt(0, c.row, c.column);
            if (formula.isEmpty())
                w.writeValue(c.row, c.column, c.xf, c.value);
            else
                w.writeFormula(c.row, c.column, c.xf, formula, c.value);
        }
        w.endSheet(blank.sheets[0].tail);
        w.finish();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QVERIFY(test::writeFile(path("aliases.ini"),
                                "[DEMO]\nTYPE=STANDARD\nPATH=" + (binaryDir() + "/demo/tables").toUtf8() + "\n"));
        qputenv("LEDGERWICK_ALIASES", path("aliases.ini").toUtf8());
    }

    void format_data() {
        QTest::addColumn<QString>("setting");  // "EXCEL" "Format"; empty: no key
        QTest::addColumn<QString>("excel");    // the definition's "Excel" key, relative to the folder
        QTest::addColumn<bool>("userXls");     // a user's .xls blank is already there
        QTest::addColumn<int>("view");
        QTest::addColumn<QString>("workbook"); // the blank written or kept, and stored
        QTest::newRow("no setting") << "" << "" << false << 1 << "def.xls";
        QTest::newRow("xls") << "xls" << "" << false << 1 << "def.xls";
        QTest::newRow("xlsx, columnar") << "xlsx" << "" << false << 1 << "def.xlsx";
        QTest::newRow("xlsx, form") << "xlsx" << "" << false << 0 << "def.xlsx";
        QTest::newRow("XLSX in capitals") << "XLSX" << "" << false << 1 << "def.xlsx";
        QTest::newRow("xlsx, the user's .xls kept") << "xlsx" << "" << true << 1 << "def.xls";
        QTest::newRow("own .xlsx path whatever the setting") << "xls" << "mine.xlsx" << false << 1 << "mine.xlsx";
    }

    void format() {
        QFETCH(QString, setting);
        QFETCH(QString, excel);
        QFETCH(bool, userXls);
        QFETCH(int, view);
        QFETCH(QString, workbook);
        const QString dir = path(QString::fromUtf8(QTest::currentDataTag()).replace(QRegularExpression("[^A-Za-z0-9]+"), "_"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(test::writeFile(test::settingsFilePath(),
                                setting.isEmpty() ? QByteArray("[EXCEL]\n") : "[EXCEL]\nFormat=" + setting.toUtf8() + "\n"));
        ReportDefinition d;
        d.name = "Orders";
        d.path = "DEMO";
        d.db = "ORDERS.DBF";
        d.view = view;
        d.excel = excel.isEmpty() ? QString() : dir + "/" + excel;
        writeDefinition(dir + "/def.pr", d);
        if (userXls) {
            xls::WorkbookWriter w(dir + "/def.xls");
            w.beginSheet("Mine");
            w.writeText(0, 0, 15, "${ORDERNO}");
            w.endSheet();
            w.finish();
        }
        QCOMPARE(runBlank(dir + "/def.pr"), 0);
        const QString expected = dir + "/" + workbook;
        QCOMPARE(readDefinition(dir + "/def.pr").excel, expected);
        const bool isXlsx = workbook.endsWith(".xlsx");
        QCOMPARE(xlsx::sniffContent(expected), isXlsx ? QString("xlsx") : QString("ole2"));
        if (isXlsx)
            QVERIFY(!QFileInfo::exists(dir + "/def.xls"));
        if (!isXlsx)
            return;
        // What openpyxl reads: the layout of the .xls blanks.
        QProcess p;
        p.start("/usr/bin/python3", {sourceDir() + "/tests/xlsx/xlsx_books.py", "dump", expected});
        p.waitForFinished(60000);
        if (p.exitCode() != 0)
            QSKIP("python3-openpyxl is not installed");
        const QJsonObject s = QJsonDocument::fromJson(p.readAllStandardOutput()).object()["sheets"].toArray()[0].toObject();
        const QJsonObject cells = s["cells"].toObject();
        QCOMPARE(s["title"].toString(), "Orders");
        QVERIFY(cells["A1"].toArray()[3].toBool()); // the bold title
        if (view == 1) {
            QCOMPARE(cells["A3"].toArray()[1].toString(), "ORDERNO");
            QCOMPARE(cells["A4"].toArray()[1].toString(), "${ORDERNO}");
            QCOMPARE(cells["C4"].toArray()[2].toString(), "yyyy-mm-dd");
            QCOMPARE(s["print_titles"].toString().remove('$'), "3:3");
        } else {
            QCOMPARE(cells["A3"].toArray()[1].toString(), "ORDERNO");
            QCOMPARE(cells["B3"].toArray()[1].toString(), "${ORDERNO}");
        }
        // Saved again by LibreOffice, as a user's would be: scanned again without a complaint.
        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        QProcess lo;
        lo.start(soffice, {"-env:UserInstallation=file://" + dir + "/profile", "--headless", "--norestore",
                           "--convert-to", "xlsx", "--outdir", dir + "/lo", expected});
        lo.waitForFinished(180000);
        QFile::remove(expected);
        QVERIFY(QFile::copy(dir + "/lo/" + workbook, expected));
        QCOMPARE(runBlank(dir + "/def.pr"), 0);
    }

    // Blanks as other producers write them, made by rewriting an openpyxl blank's parts: elements
    // with a prefix of their namespace (package parts too), rows and cells without "r", rich text
    // and phonetic runs, formula strings, errors, ISO dates. Read alike; a report made from a
    // prefixed blank is read back by us and by openpyxl. Strict Open XML is refused with a reason.
    void otherProducers_data() {
        QTest::addColumn<QString>("forms"); // xlsx_books.py producer's rewrites
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("error"); // part of the reader's message; empty: read
        const QStringList openpyxl{"A1|t|${NAME}", "B1|t|plain", "A2|n|2.5", "B2|f|A2*2"};
        const QStringList excel{"A1|t|${NAME}", "B1|t|plain", "A2|n|2.5", "B2|f|A2&\"x\"",
                                "C2|e|7", "E2|n|45352.5", "B3|t|${AMOUNT}"};
        QTest::newRow("as openpyxl writes it") << "" << openpyxl << "";
        QTest::newRow("prefixed") << "prefixed" << openpyxl << "";
        QTest::newRow("no r attributes") << "norefs" << openpyxl << "";
        QTest::newRow("prefixed, no r attributes") << "norefs,prefixed" << openpyxl << "";
        QTest::newRow("Excel's cell forms") << "excel" << excel << "";
        QTest::newRow("Excel's cell forms, prefixed") << "excel,prefixed" << excel << "";
        QTest::newRow("Strict Open XML") << "strict" << QStringList() << "Strict Open XML";
        QTest::newRow("Strict Open XML, prefixed") << "strict,prefixed" << QStringList() << "Strict Open XML";
    }

    void otherProducers() {
        QFETCH(QString, forms);
        QFETCH(QStringList, cells);
        QFETCH(QString, error);
        const QString name = QString::fromUtf8(QTest::currentDataTag()).replace(QRegularExpression("[^A-Za-z0-9]+"), "_");
        const QString blank = path(name + ".xlsx");
        QProcess p;
        p.start("/usr/bin/python3", {sourceDir() + "/tests/xlsx/xlsx_books.py", "producer", blank, forms});
        p.waitForFinished(60000);
        if (p.exitCode() != 0)
            QSKIP("python3-openpyxl is not installed");
        if (!error.isEmpty()) {
            QString message;
            try {
                xlsx::readPackage(blank);
            } catch (const xlsx::Error& e) {
                message = QString::fromUtf8(e.what());
            }
            QVERIFY2(message.contains(error), qPrintable(message));
            return;
        }
        const QString report = path(name + "_report.xlsx");
        try {
            const xlsx::Package package = xlsx::readPackage(blank);
            QCOMPARE(package.book.sheets[0].name, "Sales");
            QCOMPARE(cellsOf(package), cells);
            if (!forms.contains("prefixed"))
                return;
            copyReport(package, report);
            QCOMPARE(cellsOf(xlsx::readPackage(report)), cells);
        } catch (const xlsx::Error& e) {
            QFAIL(e.what());
        }
        QProcess dump;
        dump.start("/usr/bin/python3", {sourceDir() + "/tests/xlsx/xlsx_books.py", "dump", report});
        QVERIFY(dump.waitForFinished(60000));
        QVERIFY2(dump.exitCode() == 0, dump.readAllStandardError().constData());
        const QJsonObject got = QJsonDocument::fromJson(dump.readAllStandardOutput())
                                    .object()["sheets"].toArray()[0].toObject()["cells"].toObject();
        QCOMPARE(got["A1"].toArray()[1].toString(), "${NAME}");
        QCOMPARE(got["A2"].toArray()[1].toDouble(), 2.5);
    }
};

QTEST_GUILESS_MAIN(TstXlsxBlank)
#include "tst_xlsx_blank.moc"
