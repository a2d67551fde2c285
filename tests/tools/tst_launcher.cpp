// The launcher: how a program file is found, what counts as a failed launch, and detached running.
#include "platform/launcher.h"
#include "support/testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

using namespace lw;

class TstLauncher : public QObject {
    Q_OBJECT

private slots:
    // Files: a trailing "/" makes a directory, "*" an executable script, "!" an executable whose
    // interpreter does not exist; anything else is a plain file.
    void resolveAndLaunch_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("resolved");
        QTest::addColumn<bool>("started");
        auto row = [](const char* name, const char* program, const QStringList& files, const char* resolved,
                      bool started) {
            QTest::newRow(name) << QString(program) << files << QString(resolved) << started;
        };
        row("as given", "VORTAL1", {"VORTAL1*", "VORTAL1.exe*"}, "VORTAL1", true);
        row(".exe first", "VORTAL1", {"VORTAL1.exe*", "VORTAL1.EXE*"}, "VORTAL1.exe", true);
        row(".EXE past a directory", "VORTAL1", {"VORTAL1/", "VORTAL1.EXE*"}, "VORTAL1.EXE", true);
        row("case differs", "VORTAL1", {"vortal1.exe*"}, "", false);
        row("no extension added", "zarmek.exe", {"zarmek.exe.exe*"}, "", false);
        row("not executable", "zarmek.exe", {"zarmek.exe"}, "zarmek.exe", false);
        row("bad interpreter", "zarmek.exe", {"zarmek.exe!"}, "zarmek.exe", false);
    }
    void resolveAndLaunch() {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        QFETCH(QString, resolved);
        QFETCH(bool, started);
        QTemporaryDir tmp;
        for (QString f : files) {
            const QChar mark = f.back();
            if (mark == QLatin1Char('/')) {
                QVERIFY(QDir(tmp.path()).mkdir(f.chopped(1)));
                continue;
            }
            if (mark == QLatin1Char('*') || mark == QLatin1Char('!'))
                f.chop(1);
            QVERIFY(test::writeFile(tmp.filePath(f),
                                    mark == QLatin1Char('!') ? "#!/no/such/shell\n" : "#!/bin/sh\n"));
            if (mark == QLatin1Char('*') || mark == QLatin1Char('!'))
                QVERIFY(QFile::setPermissions(tmp.filePath(f), QFile::ReadOwner | QFile::ExeOwner));
        }
        const QString program = tmp.filePath(name);
        QCOMPARE(resolveProgramFile(program), resolved.isEmpty() ? QString() : tmp.filePath(resolved));
        const LaunchResult r = launchProgram(program, QStringLiteral("/x.pr"));
        QCOMPARE(r.started, started);
        QCOMPARE(r.error.isEmpty(), started);
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
        QVERIFY(ProcessWatch::isRunning(r.pid));
        const QByteArray stat = test::readFile(QStringLiteral("/proc/%1/stat").arg(r.pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        QVERIFY(fields.size() > 1);
        QVERIFY(fields.at(1).toLongLong() != QCoreApplication::applicationPid());

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
