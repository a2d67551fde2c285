// Tests of the report definition as data: defaults, the written file, and the path rules.
#include "report/definition.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

class TestDefinition : public QObject {
    Q_OBJECT

private slots:
    void missingKeysGiveDefaults();
    void writesKeysInOrderAndKeepsOthers();
    void workbookPath_data();
    void workbookPath();
    void savedName_data();
    void savedName();

private:
    QTemporaryDir m_dir;
};

void TestDefinition::missingKeysGiveDefaults() {
    const QString path = m_dir.filePath(QStringLiteral("bare.pr"));
    QVERIFY(writeFile(path, "[ZARMEK]\nTForm=TMainForm\n[REPORT]\n"));
    const ReportDefinition d = readDefinition(path);
    QCOMPARE(d, ReportDefinition());
    QCOMPARE(d.from, 1);
    QCOMPARE(d.to, 1);
    QCOMPARE(readDefinition(m_dir.filePath(QStringLiteral("missing.pr"))), ReportDefinition());
}

void TestDefinition::writesKeysInOrderAndKeepsOthers() {
    const QString path = m_dir.filePath(QStringLiteral("order.pr"));
    QVERIFY(writeFile(path, "; by hand\n[REPORT]\nName=Old\nSheet=3\n[ZARMEK]\nTForm=TMainForm\n"));
    ReportDefinition d;
    d.excel = QStringLiteral("/r/order.xls");
    d.name = QStringLiteral("Sales");
    d.alias = true;
    d.path = QStringLiteral("DEMO");
    d.db = QStringLiteral("ORDERS.DB");
    d.view = 1;
    d.excelForm = true;
    d.from = 0;
    d.to = 9999;
    d.sqlOnOff = true;
    d.sql = QStringLiteral("where A > 1");
    d.select = QStringLiteral("Select * from ORDERS.DB");
    writeDefinition(path, d);
    // Existing keys are replaced in place, new ones follow in the file's order, others stay.
    QCOMPARE(readFile(path), QByteArray("; by hand\n"
                                        "[REPORT]\n"
                                        "Name=Sales\n"
                                        "Sheet=3\n"
                                        "Excel=/r/order.xls\n"
                                        "Alias=1\n"
                                        "Path=DEMO\n"
                                        "DB=ORDERS.DB\n"
                                        "View=1\n"
                                        "List=0\n"
                                        "EXCEL FORM=1\n"
                                        "From=0\n"
                                        "To=9999\n"
                                        "[ZARMEK]\n"
                                        "TForm=TMainForm\n"
                                        "[SQL]\n"
                                        "OnOff=1\n"
                                        "SQL=where A > 1\n"
                                        "Select=Select * from ORDERS.DB\n"));
    QCOMPARE(readDefinition(path), d);
}

void TestDefinition::workbookPath_data() {
    QTest::addColumn<QString>("definition");
    QTest::addColumn<QString>("workbook");
    QTest::newRow("plain") << "/rep/SALES.pr"
                           << "/rep/SALES.xls";
    QTest::newRow("longer extension") << "report.prt"
                                      << "report..xls";
    QTest::newRow("shorter than three") << "ab"
                                        << ".xls";
}

void TestDefinition::workbookPath() {
    QFETCH(QString, definition);
    QFETCH(QString, workbook);
    QCOMPARE(workbookPathFor(definition), workbook);
}

void TestDefinition::savedName_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::newRow("no extension") << "/r/sales"
                                  << "/r/sales.pr";
    QTest::newRow("has .PR") << "/r/SALES.PR"
                             << "/r/SALES.PR";
    QTest::newRow(".pr inside the name") << "/r/report.prt"
                                         << "/r/report.prt";
    QTest::newRow(".pr in a directory only") << "/u/my.projects/sales"
                                             << "/u/my.projects/sales.pr";
}

void TestDefinition::savedName() {
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    QCOMPARE(definitionFileName(chosen), stored);
}

QTEST_GUILESS_MAIN(TestDefinition)
#include "tst_definition.moc"
