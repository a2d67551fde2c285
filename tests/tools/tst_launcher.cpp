// The launcher: how a program file is found, what counts as a failed launch, and detached running.
#include "platform/launcher.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

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

    // A tool that others could have planted or changed is refused with the reason, and never runs.
    void unsafeToolsRefused_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("foreignFolder"); // the folder belongs to another user
        QTest::addColumn<bool>("foreignFile");   // the tool file belongs to another user
        QTest::addColumn<bool>("viaLink");       // started through a link in a safe folder
        QTest::addColumn<QString>("reason");     // empty: started
        QTest::newRow("own file, own folder") << 0755 << 0755 << false << false << false << QString();
        QTest::newRow("sticky world-writable folder") << 01777 << 0755 << false << false << false << QString();
        QTest::newRow("file others may write")
            << 0755 << 0757 << false << false << false << "others than its owner and root can change it";
        QTest::newRow("file its group may write")
            << 0755 << 0775 << false << false << false << "others than its owner and root can change it";
        QTest::newRow("world-writable folder without sticky bit")
            << 0777 << 0755 << false << false << false << "others can change its folder";
        QTest::newRow("link to a tool in such a folder")
            << 0777 << 0755 << false << false << true << "others can change its folder";
        QTest::newRow("file of another user in a sticky folder")
            << 01777 << 0755 << false << true << false << "it belongs to another user";
        QTest::newRow("folder of another user") << 0755 << 0755 << true << false << false << "belongs to another user";
    }
    void unsafeToolsRefused() {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(bool, foreignFolder);
        QFETCH(bool, foreignFile);
        QFETCH(bool, viaLink);
        QFETCH(QString, reason);
        const uid_t nobody = 65534; // any user but us and root
        if ((foreignFolder || foreignFile) && ::geteuid() != 0)
            QSKIP("giving files to another user needs root");
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("tools"), marker = tmp.filePath("ran");
        const QString tool = folder + "/zarmek.exe";
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(test::writeFile(tool, "#!/bin/sh\ntouch \"$1\"\n"));
        QVERIFY(::chmod(QFile::encodeName(tool).constData(), mode_t(fileMode)) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)) == 0);
        if (foreignFile)
            QVERIFY(::chown(QFile::encodeName(tool).constData(), nobody, gid_t(-1)) == 0);
        if (foreignFolder)
            QVERIFY(::chown(QFile::encodeName(folder).constData(), nobody, gid_t(-1)) == 0);
        QString started = tool;
        if (viaLink) {
            started = tmp.filePath("zarmek.exe");
            QVERIFY(QFile::link(tool, started));
        }

        QCOMPARE(unsafeProgramReason(started).isEmpty(), reason.isEmpty());
        const LaunchResult r = launchProgram(started, marker);
        QCOMPARE(r.started, reason.isEmpty());
        if (reason.isEmpty()) {
            QVERIFY(test::waitFor([&] { return QFileInfo::exists(marker); }, 10000));
        } else {
            QVERIFY2(r.error.startsWith(started + " is not started: ") && r.error.contains(reason),
                     qPrintable(r.error));
            QTest::qWait(100);
            QVERIFY(!QFileInfo::exists(marker));
        }
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
