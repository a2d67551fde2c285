// The launcher: program-file resolution, failed launches, the argument arriving whole, process watching.
#include "platform/launcher.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace lw;
using lw::test::waitFor;

namespace {

QString standinScript() {
    return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + QStringLiteral("/tests/tools/standin-tool.sh");
}

// Installs the stand-in tool under the given name; returns its path.
QString installStandin(const QString& dir, const QString& name) {
    const QString path = dir + QLatin1Char('/') + name;
    QFile::remove(path);
    if (!QFile::copy(standinScript(), path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : -1;
}

} // namespace

class TstLauncher : public QObject {
    Q_OBJECT

private slots:
    void programFiles() {
        QCOMPARE(blankBuilderProgram(QStringLiteral("/opt/rep")), QStringLiteral("/opt/rep/zarmek.exe"));
        QCOMPARE(reportGeneratorProgram(QStringLiteral("/opt/rep")), QStringLiteral("/opt/rep/VORTAL1"));
    }

    void resolve_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files"); // a trailing "/" makes a directory
        QTest::addColumn<QString>("expected");  // empty: none
        QTest::newRow("as given") << "VORTAL1" << QStringList{"VORTAL1", "VORTAL1.exe"} << "VORTAL1";
        QTest::newRow(".exe") << "VORTAL1" << QStringList{"VORTAL1.exe", "VORTAL1.EXE"} << "VORTAL1.exe";
        QTest::newRow(".EXE") << "VORTAL1" << QStringList{"VORTAL1.EXE"} << "VORTAL1.EXE";
        QTest::newRow("directory skipped") << "VORTAL1" << QStringList{"VORTAL1/", "VORTAL1.EXE"} << "VORTAL1.EXE";
        QTest::newRow("case differs") << "VORTAL1" << QStringList{"vortal1.exe", "Vortal1"} << "";
        QTest::newRow("nothing") << "VORTAL1" << QStringList{} << "";
        QTest::newRow("extension given") << "zarmek.exe" << QStringList{"zarmek.exe"} << "zarmek.exe";
        QTest::newRow("extension given, none added") << "zarmek.exe" << QStringList{"zarmek.exe.exe"} << "";
    }
    void resolve() {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        for (const QString& f : files) {
            if (f.endsWith(QLatin1Char('/')))
                QVERIFY(QDir(tmp.path()).mkdir(f.chopped(1)));
            else
                QVERIFY(test::writeFile(tmp.filePath(f), "#!/bin/sh\n"));
        }
        const QString got = resolveProgramFile(tmp.filePath(name));
        QCOMPARE(got, expected.isEmpty() ? QString() : tmp.filePath(expected));
    }

    void failedLaunch_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("errorHas");
        QTest::newRow("missing") << "missing" << "does not exist";
        QTest::newRow("not executable") << "plain" << "cannot be executed";
        QTest::newRow("a directory") << "dir" << "does not exist";
        QTest::newRow("bad interpreter") << "badinterp" << "could not be started";
    }
    void failedLaunch() {
        QFETCH(QString, setup);
        QFETCH(QString, errorHas);
        QTemporaryDir tmp;
        const QString program = blankBuilderProgram(tmp.path());
        if (setup == QLatin1String("plain"))
            QVERIFY(test::writeFile(program, "#!/bin/sh\nexit 0\n"));
        if (setup == QLatin1String("dir"))
            QVERIFY(QDir().mkpath(program));
        if (setup == QLatin1String("badinterp")) {
            QVERIFY(test::writeFile(program, "#!/nonexistent/interpreter\n"));
            QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
        }
        const LaunchResult r = launchProgram(program, QStringLiteral("/x.pr"));
        QVERIFY(!r.started);
        QVERIFY2(r.error.contains(errorHas), qPrintable(r.error));
    }

    // The definition path is one argv element, whatever it holds; no shell ever sees it.
    void argumentArrivesWhole_data() {
        QTest::addColumn<QString>("argument");
        QTest::newRow("blanks") << "/tmp/my reports/Sales  2024 .pr";
        QTest::newRow("double quotes") << "/tmp/a \"quoted\" name\".pr";
        QTest::newRow("single quote") << "/tmp/it's.pr";
        QTest::newRow("non-ASCII") << QString::fromUtf8("/tmp/Отчёт für Müller 日本.pr");
        QTest::newRow("shell syntax") << "/tmp/$(touch CANARY); `touch CANARY` & | > *.pr";
        QTest::newRow("leading dash") << "-rf";
        QTest::newRow("empty") << "";
    }
    void argumentArrivesWhole() {
        QFETCH(QString, argument);
        QTemporaryDir tmp;
        const QString program = installStandin(tmp.path(), QStringLiteral("zarmek.exe"));
        QVERIFY(!program.isEmpty());
        const QString out = tmp.filePath(QStringLiteral("out"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LW_STANDIN_OUT"), out);
        env.insert(QStringLiteral("LEDGERWICK_WINDOW"), QStringLiteral("/run/x/TMainForm-1"));

        const QString cwd = QDir::currentPath();
        QDir::setCurrent(tmp.path()); // where a shell would have run "touch CANARY"
        const LaunchResult r = launchProgram(program, argument, env);
        QVERIFY2(r.started, qPrintable(r.error));
        QVERIFY(waitFor([&]() { return QFileInfo::exists(out); }, 10000));
        QDir::setCurrent(cwd);

        const QByteArray got = test::readFile(out);
        QCOMPARE(got, QByteArray("1\n") + argument.toUtf8());
        QCOMPARE(test::readFile(out + QStringLiteral(".window")), QByteArray("/run/x/TMainForm-1"));
        QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("CANARY"))));
    }

    // The generator name resolves to VORTAL1.EXE and the program runs detached from us.
    void detachedAndWatched() {
        QTemporaryDir tmp;
        QVERIFY(!installStandin(tmp.path(), QStringLiteral("VORTAL1.EXE")).isEmpty());
        const QString out = tmp.filePath(QStringLiteral("out"));
        const QString go = tmp.filePath(QStringLiteral("go"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LW_STANDIN_OUT"), out);
        env.insert(QStringLiteral("LW_STANDIN_GO"), go);

        const LaunchResult r = launchProgram(reportGeneratorProgram(tmp.path()), QStringLiteral("/a.pr"), env);
        QVERIFY2(r.started, qPrintable(r.error));
        QCOMPARE(r.programFile, tmp.filePath(QStringLiteral("VORTAL1.EXE")));
        QVERIFY(waitFor([&]() { return QFileInfo::exists(out); }, 10000));
        QVERIFY(ProcessWatch::isRunning(r.pid));
        QVERIFY(parentOf(r.pid) != QCoreApplication::applicationPid()); // not our child

        ProcessWatch watch(r.pid);
        QSignalSpy ended(&watch, &ProcessWatch::ended);
        QTest::qWait(100);
        QCOMPARE(ended.size(), 0);
        QVERIFY(test::writeFile(go, ""));
        QVERIFY(waitFor([&]() { return ended.size() == 1; }, 10000));
        QVERIFY(watch.hasEnded());
        QTest::qWait(50);
        QCOMPARE(ended.size(), 1); // once only
    }

    void watchOfEndedProcess() {
        QProcess p;
        p.start(QStringLiteral("/bin/true"), {});
        QVERIFY(p.waitForStarted());
        const qint64 pid = p.processId();
        QVERIFY(p.waitForFinished());
        QVERIFY(!ProcessWatch::isRunning(pid));
        ProcessWatch watch(pid);
        QSignalSpy ended(&watch, &ProcessWatch::ended);
        QVERIFY(waitFor([&]() { return ended.size() == 1; }, 2000));
    }
};

QTEST_GUILESS_MAIN(TstLauncher)
#include "tst_launcher.moc"
