// scripts/deps on machines of different kinds, told apart by a stand-in dpkg-query: it keeps any
// LibreOffice Calc it finds and always brings xdg-utils; apt-get -s shows that it removes nothing.
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString sourceDir() {
    return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR");
}

// Runs the script in its dry run with PATH = bin only; its standard output and error, and its status.
struct Run {
    int exit = -1;
    QString out;
};
Run runDeps(const QString& bin, const QString& missing) {
    QProcess p;
    QProcessEnvironment env;
    env.insert("PATH", bin);
    env.insert("LEDGERWICK_DEPS_DRY_RUN", "1");
    env.insert("LW_FAKE_MISSING", missing);
    env.insert("LANG", "C");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("/bin/bash", {sourceDir() + "/scripts/deps"});
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

} // namespace

class TstDeps : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

    QString bin(bool soffice) const { return m_tmp.filePath(soffice ? "bin-soffice" : "bin"); }

private slots:
    void initTestCase() {
        const QString aptGet = QStandardPaths::findExecutable("apt-get");
        if (aptGet.isEmpty() || !QFileInfo::exists("/var/lib/dpkg/status"))
            QSKIP("apt-get is not usable here");
        QProcess policy;
        policy.start("apt-cache", {"policy", "xdg-utils"});
        if (!policy.waitForFinished(60000) || !policy.readAll().contains("Candidate: "))
            QSKIP("apt has no package lists here (apt-get update has not run)");
        QVERIFY(m_tmp.isValid());
        // Only the programs the script needs, so that a soffice of this machine is not seen; a
        // dpkg-query that says every package is installed but those in LW_FAKE_MISSING.
        for (bool soffice : {false, true}) {
            QVERIFY(QDir().mkpath(bin(soffice)));
            for (const char* tool : {"bash", "grep", "id", "apt-get", "dpkg", "env"}) {
                const QString real = QStandardPaths::findExecutable(tool);
                QVERIFY2(!real.isEmpty(), tool);
                QVERIFY(QFile::link(real, bin(soffice) + "/" + tool));
            }
            QVERIFY(lw::test::writeFile(bin(soffice) + "/dpkg-query",
                                    "#!/bin/sh\nfor p in $LW_FAKE_MISSING; do [ \"$p\" = \"$3\" ] && exit 1; done\n"
                                    "printf 'install ok installed'\n"));
            QVERIFY(QFile::setPermissions(bin(soffice) + "/dpkg-query", QFile::ReadOwner | QFile::ExeOwner));
        }
        QVERIFY(lw::test::writeFile(bin(true) + "/soffice", "#!/bin/sh\nexit 0\n"));
        QVERIFY(QFile::setPermissions(bin(true) + "/soffice", QFile::ReadOwner | QFile::ExeOwner));
    }

    void planned_data() {
        QTest::addColumn<QString>("missing"); // packages the machine lacks
        QTest::addColumn<bool>("soffice");    // a soffice of some other install on the path
        QTest::addColumn<QString>("planned");
        QTest::newRow("desktop Calc") << "libreoffice-calc-nogui xdg-utils" << false << "xdg-utils";
        QTest::newRow("headless Calc") << "libreoffice-calc xdg-utils" << false << "xdg-utils";
        QTest::newRow("no Calc package, soffice on the path")
            << "libreoffice-calc libreoffice-calc-nogui xdg-utils" << true << "xdg-utils";
        QTest::newRow("no Calc at all")
            << "libreoffice-calc libreoffice-calc-nogui xdg-utils" << false << "xdg-utils libreoffice-calc-nogui";
        QTest::newRow("everything there") << "libreoffice-calc" << false << "";
    }
    // What the script would install, and that apt-get -s ran on it.
    void planned() {
        QFETCH(QString, missing);
        QFETCH(bool, soffice);
        QFETCH(QString, planned);
        const Run r = runDeps(bin(soffice), missing);
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.out.startsWith("Would install: " + planned + "\n"), qPrintable(r.out));
        if (!planned.isEmpty())
            QVERIFY2(r.out.contains("Reading package lists"), qPrintable(r.out));
    }

    // On this machine as it is (whichever Calc it has): what the script would do removes nothing.
    void thisMachine() {
        const Run r = runDeps(qEnvironmentVariable("PATH"), QString());
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.out.startsWith("Would install: "), qPrintable(r.out));
        QVERIFY2(!r.out.contains("\nRemv "), qPrintable(r.out));
    }
};

QTEST_MAIN(TstDeps)
#include "tst_deps.moc"
