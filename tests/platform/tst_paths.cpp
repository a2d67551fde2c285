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
        auto row = [](const char* path, const char* dir, const char* name) {
            QTest::newRow(path) << QString(path) << QString(dir) << QString(name);
        };
        row("/home/a/SALES.pr", "/home/a/", "SALES.pr");
        row("No Name 1", "", "No Name 1");
        row("/data/", "/data/", "");
    }
    void split() {
        QFETCH(QString, path);
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QCOMPARE(directoryPart(path), dir);
        QCOMPARE(fileNamePart(path), name);
    }

    // A full stop is added when the last character's code is above that of ".".
    void errorText() {
        QCOMPARE(errorBoxText("Unable to write to x.ini"), QStringLiteral("Unable to write to x.ini."));
        QCOMPARE(errorBoxText("Done."), QStringLiteral("Done."));
        QCOMPARE(errorBoxText("/tmp/"), QStringLiteral("/tmp/."));
        QCOMPARE(errorBoxText(""), QString());
    }
};

QTEST_MAIN(TstPaths)
#include "tst_paths.moc"
