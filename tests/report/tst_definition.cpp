// Tests of the report definition as data: defaults, the written file, and the path and number rules.
#include "platform/profile.h"
#include "report/definition.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

class TestDefinition : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void defaults_data();
    void defaults();
    void writesKeysInOrder();
    void roundTrip();
    void foreignKeysSurvive();
    void refusedWriteChangesNothing();
    void workbookPath_data();
    void workbookPath();
    void definitionFileName_data();
    void definitionFileName();
    void recordNumber_data();
    void recordNumber();

private:
    QTemporaryDir m_dir;
};

void TestDefinition::defaults_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("other sections only") << QByteArray("[ZARMEK]\nTForm=TMainForm\n[X]\nName=other\n");
    QTest::newRow("empty REPORT section") << QByteArray("[REPORT]\n");
}

void TestDefinition::defaults() {
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath(QStringLiteral("%1.pr").arg(QTest::currentDataTag()));
    if (!content.isNull())
        QVERIFY(writeFile(path, content));
    const ReportDefinition d = readDefinition(path);
    QCOMPARE(d, ReportDefinition());
    QCOMPARE(d.from, 1);
    QCOMPARE(d.to, 1);
    QVERIFY(!d.alias && !d.sqlOnOff && !d.excelForm);
    QCOMPARE(d.view, 0);
    QCOMPARE(d.list, 0);
}

void TestDefinition::writesKeysInOrder() {
    const QString path = m_dir.filePath(QStringLiteral("order.pr"));
    ReportDefinition d;
    d.excel = QStringLiteral("/r/order.xls");
    d.name = QStringLiteral("Sales");
    d.alias = true;
    d.path = QStringLiteral("DEMO");
    d.db = QStringLiteral("ORDERS.DB");
    d.view = 1;
    d.list = 0;
    d.excelForm = true;
    d.from = 0;
    d.to = 9999;
    d.sqlOnOff = true;
    d.sql = QStringLiteral("where A > 1");
    d.select = QStringLiteral("Select * from ORDERS.DB");
    writeDefinition(path, d);
    const QByteArray expected = "[REPORT]\n"
                                "Excel=/r/order.xls\n"
                                "Name=Sales\n"
                                "Alias=1\n"
                                "Path=DEMO\n"
                                "DB=ORDERS.DB\n"
                                "View=1\n"
                                "List=0\n"
                                "EXCEL FORM=1\n"
                                "From=0\n"
                                "To=9999\n"
                                "[SQL]\n"
                                "OnOff=1\n"
                                "SQL=where A > 1\n"
                                "Select=Select * from ORDERS.DB\n";
    QCOMPARE(readFile(path), expected);
}

void TestDefinition::roundTrip() {
    const QString path = m_dir.filePath(QStringLiteral("round.pr"));
    ReportDefinition d;
    d.excel = QStringLiteral("/a b/round.xls");
    d.name = QStringLiteral("  Leading and trailing  ");
    d.path = QStringLiteral("/data/dir/");
    d.db = QStringLiteral("CLIENTS.DBF");
    d.list = 1;
    d.from = 12;
    d.to = 0;
    d.sql = QStringLiteral("where NAME = \"x\"");
    d.select = QStringLiteral("Select * from CLIENTS.DBF");
    writeDefinition(path, d);
    QCOMPARE(readDefinition(path), d);
    // A second save of changed values replaces them in place.
    d.name = QStringLiteral("Second");
    d.alias = true;
    writeDefinition(path, d);
    QCOMPARE(readDefinition(path), d);
    QCOMPARE(Profile(path).keys(QStringLiteral("REPORT")).size(), 10);
}

void TestDefinition::foreignKeysSurvive() {
    const QString path = m_dir.filePath(QStringLiteral("foreign.pr"));
    QVERIFY(writeFile(path, "; made by hand\n"
                            "[REPORT]\n"
                            "Name=Old\n"
                            "Sheet=3\n"
                            "[ZARMEK]\n"
                            "TForm=TMainForm\n"
                            "[CELLS]\n"
                            "A1=Total\n"));
    ReportDefinition d;
    d.name = QStringLiteral("New");
    writeDefinition(path, d);
    const QByteArray bytes = readFile(path);
    QVERIFY(bytes.startsWith("; made by hand\n[REPORT]\n"));
    QVERIFY(bytes.contains("Name=New\n"));
    QVERIFY(!bytes.contains("Name=Old"));
    QVERIFY(bytes.contains("Sheet=3\n"));
    QVERIFY(bytes.contains("[ZARMEK]\nTForm=TMainForm\n"));
    QVERIFY(bytes.contains("[CELLS]\nA1=Total\n"));
    QCOMPARE(Profile(path).readString(QStringLiteral("ZARMEK"), QStringLiteral("TForm"), QString()),
             QStringLiteral("TMainForm"));
}

void TestDefinition::refusedWriteChangesNothing() {
    // A directory that has become a plain file: no write can succeed there, whoever runs the test.
    const QString blocker = m_dir.filePath(QStringLiteral("blocked"));
    QVERIFY(writeFile(blocker, "not a directory"));
    ReportDefinition d;
    d.name = QStringLiteral("X");
    QVERIFY_THROWS_EXCEPTION(ProfileWriteError, writeDefinition(blocker + QStringLiteral("/x.pr"), d));
    QCOMPARE(readFile(blocker), QByteArray("not a directory"));
}

void TestDefinition::workbookPath_data() {
    QTest::addColumn<QString>("definition");
    QTest::addColumn<QString>("workbook");
    QTest::newRow("plain") << "/rep/SALES.pr"
                           << "/rep/SALES.xls";
    QTest::newRow("longer extension") << "report.prt"
                                      << "report..xls";
    QTest::newRow("upper case") << "/a/X.PR"
                                << "/a/X.xls";
    QTest::newRow("short") << "ab"
                           << ".xls";
    QTest::newRow("empty") << ""
                           << ".xls";
}

void TestDefinition::workbookPath() {
    QFETCH(QString, definition);
    QFETCH(QString, workbook);
    QCOMPARE(workbookPathFor(definition), workbook);
}

void TestDefinition::definitionFileName_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::newRow("no extension") << "/r/sales"
                                  << "/r/sales.pr";
    QTest::newRow("has .pr") << "/r/sales.pr"
                             << "/r/sales.pr";
    QTest::newRow("has .PR") << "/r/SALES.PR"
                             << "/r/SALES.PR";
    QTest::newRow(".pr inside the name") << "/r/report.prt"
                                         << "/r/report.prt";
    QTest::newRow(".pr in a directory only") << "/home/u/my.projects/sales"
                                             << "/home/u/my.projects/sales.pr";
    QTest::newRow("other extension") << "/r/sales.txt"
                                     << "/r/sales.txt.pr";
}

void TestDefinition::definitionFileName() {
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    QCOMPARE(lw::definitionFileName(chosen), stored);
}

void TestDefinition::recordNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("digits") << "124" << 124;
    QTest::newRow("leading zeros") << "0007" << 7;
    QTest::newRow("not a number") << "1a" << 0;
}

void TestDefinition::recordNumber() {
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(lw::recordNumber(text), number);
}

QTEST_GUILESS_MAIN(TestDefinition)
#include "tst_definition.moc"
