// Tests of the report definition as data: the written file and the path rules.
#include "report/definition.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

class TestDefinition : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Existing keys are replaced in place, new ones follow in the file's order, others stay.
    void writesKeysInOrderAndKeepsOthers() {
        const QString path = m_dir.filePath("order.pr");
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
        QCOMPARE(readFile(path), QByteArray("; by hand\n[REPORT]\nName=Sales\nSheet=3\nExcel=/r/order.xls\n"
                                            "Alias=1\nPath=DEMO\nDB=ORDERS.DB\nView=1\nList=0\nEXCEL FORM=1\n"
                                            "From=0\nTo=9999\n[ZARMEK]\nTForm=TMainForm\n[SQL]\nOnOff=1\n"
                                            "SQL=where A > 1\nSelect=Select * from ORDERS.DB\n"));
        QCOMPARE(readDefinition(path), d);
    }

    void workbookPath() {
        QCOMPARE(workbookPathFor("/rep/SALES.pr"), QStringLiteral("/rep/SALES.xls"));
        QCOMPARE(workbookPathFor("report.prt"), QStringLiteral("report..xls"));
    }

    // ".pr" is appended unless the file-name part already holds ".PR", whatever the directory is called.
    void savedName() {
        QCOMPARE(definitionFileName("/r/sales"), QStringLiteral("/r/sales.pr"));
        QCOMPARE(definitionFileName("/r/SALES.PR"), QStringLiteral("/r/SALES.PR"));
        QCOMPARE(definitionFileName("/u/my.projects/sales"), QStringLiteral("/u/my.projects/sales.pr"));
    }
};

QTEST_GUILESS_MAIN(TestDefinition)
#include "tst_definition.moc"
