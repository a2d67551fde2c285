#include <QtTest>
class TestXlsxPackage : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestXlsxPackage)
#include "tst_xlsx_package.moc"
