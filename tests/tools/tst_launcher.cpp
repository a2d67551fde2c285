// The launcher: how a program file is found, what counts as a failed launch, and detached running.
#include "platform/launcher.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace lw;

class TstLauncher : public QObject {
    Q_OBJECT

private slots:
    // One file in a directory that also holds a subdirectory "VORTAL1"; script empty: not executable.
    void resolveAndLaunch_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("resolved"); // empty: not found
        QTest::addColumn<bool>("started");
        const QByteArray sh = "#!/bin/sh\n";
        QTest::newRow(".EXE past a directory") << "VORTAL1"
                                               << "VORTAL1.EXE" << sh << "VORTAL1.EXE" << true;
        QTest::newRow("case differs") << "VORTAL1"
                                      << "vortal1.exe" << sh << "" << false;
        QTest::newRow("not executable") << "zarmek.exe"
                                        << "zarmek.exe" << QByteArray() << "zarmek.exe" << false;
        QTest::newRow("bad interpreter")
            << "zarmek.exe"
            << "zarmek.exe" << QByteArray("#!/no/such/shell\n") << "zarmek.exe" << false;
    }
    void resolveAndLaunch() {
        QFETCH(QString, program);
        QFETCH(QString, file);
        QFETCH(QByteArray, script);
        QFETCH(QString, resolved);
        QFETCH(bool, started);
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("VORTAL1")));
        QVERIFY(test::writeFile(tmp.filePath(file), script.isEmpty() ? QByteArray("#!/bin/sh\n") : script));
        if (!script.isEmpty())
            QVERIFY(QFile::setPermissions(tmp.filePath(file), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(resolveProgramFile(tmp.filePath(program)),
                 resolved.isEmpty() ? QString() : tmp.filePath(resolved));
        const LaunchResult r = launchProgram(tmp.filePath(program), QStringLiteral("/x.pr"));
        QCOMPARE(r.started, started);
        QCOMPARE(r.error.isEmpty(), started);
    }

    // A tool is taken from the start directory when it is there, else from the installed tools
    // directory; found in neither, the start directory's file is the one tried, and both are named.
    void toolLookup_data() {
        QTest::addColumn<bool>("inStart");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("expected"); // "start", "tools"
        QTest::newRow("both: the start directory wins") << true << true << "start";
        QTest::newRow("installed only") << false << true << "tools";
        QTest::newRow("nowhere") << false << false << "start";
    }
    void toolLookup() {
        QFETCH(bool, inStart);
        QFETCH(bool, installed);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        const QString start = tmp.filePath("start"), tools = tmp.filePath("libexec/ledgerwick");
        QVERIFY(QDir().mkpath(start) && QDir().mkpath(tools));
        // The generator is named without its extension; the installed file carries ".EXE".
        if (inStart)
            QVERIFY(test::writeFile(start + "/VORTAL1", "#!/bin/sh\n"));
        if (installed)
            QVERIFY(test::writeFile(tools + "/VORTAL1.EXE", "#!/bin/sh\n"));
        QStringList tried;
        const QString program = toolProgram(reportGeneratorProgram(start), &tried, tools);
        QCOMPARE(program, (expected == "start" ? start : tools) + "/VORTAL1");
        QCOMPARE(tried, QStringList({start + "/VORTAL1", tools + "/VORTAL1"}));
    }

    // The generator outlives us: it is not our child. Its end is noticed all the same.
    void detachedAndWatched() {
        QTemporaryDir tmp;
        const QString go = tmp.filePath("go");
        const QString program = reportGeneratorProgram(tmp.path()) + QStringLiteral(".EXE");
        QVERIFY(test::writeFile(program, "#!/bin/sh\nwhile [ ! -e \"$1\" ]; do sleep 0.05; done\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

        const LaunchResult r = launchProgram(reportGeneratorProgram(tmp.path()), go);
        QVERIFY2(r.started, qPrintable(r.error));
        const QByteArray stat = test::readFile(QStringLiteral("/proc/%1/stat").arg(r.pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        QVERIFY(fields.size() > 1 && fields.at(1).toLongLong() != QCoreApplication::applicationPid());

        ProcessWatch watch(r.pid);
        QSignalSpy ended(&watch, &ProcessWatch::ended);
        QTest::qWait(100);
        QCOMPARE(ended.size(), 0);
        QVERIFY(test::writeFile(go, ""));
        QVERIFY(test::waitFor([&]() { return ended.size() == 1; }, 10000));
        QVERIFY(!ProcessWatch::isRunning(r.pid));
    }
};

QTEST_GUILESS_MAIN(TstLauncher)
#include "tst_launcher.moc"
