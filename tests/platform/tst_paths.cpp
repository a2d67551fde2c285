// Path splitting and the text of the standard error box.
#include "platform/errorbox.h"
#include "platform/paths.h"

#include <QtTest>

using namespace lw;

class TstPaths : public QObject {
    Q_OBJECT
private slots:
    void split_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::newRow("full") << "/home/a/SALES.pr" << "/home/a/" << "SALES.pr";
        QTest::newRow("root") << "/x.pr" << "/" << "x.pr";
        QTest::newRow("bare") << "No Name 1" << "" << "No Name 1";
        QTest::newRow("trailing") << "/data/" << "/data/" << "";
    }
    void split() {
        QFETCH(QString, path);
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QCOMPARE(directoryPart(path), dir);
        QCOMPARE(fileNamePart(path), name);
    }
    void errorText_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("letter") << "Unable to write to x.ini" << "Unable to write to x.ini.";
        QTest::newRow("dot") << "Done." << "Done.";
        QTest::newRow("bang") << "Oops!" << "Oops!";      // '!' is below '.'
        QTest::newRow("slash") << "/tmp/" << "/tmp/.";   // '/' is above '.'
        QTest::newRow("empty") << "" << "";
    }
    void errorText() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(errorBoxText(in), out);
    }
};

QTEST_MAIN(TstPaths)
#include "tst_paths.moc"
