// scripts/deps on machines of different kinds, told apart by a stand-in dpkg-query: it keeps any
// LibreOffice Calc it finds and always brings xdg-utils; apt-get -s shows that it removes nothing.
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TstDeps : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

    // The script's dry run with the given PATH; what it printed (apt-get -s included).
    QString dryRun(const QString& path, const QString& missing) {
        QProcess p;
        QProcessEnvironment env;
        env.insert("PATH", path);
        env.insert("LEDGERWICK_DEPS_DRY_RUN", "1");
        env.insert("LW_FAKE_MISSING", missing);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("/bin/bash", {qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + "/scripts/deps"});
        return p.waitForFinished(120000) && p.exitCode() == 0 ? QString::fromUtf8(p.readAll()) : "failed";
    }

private slots:
    void initTestCase() {
        QProcess policy;
        policy.start("apt-cache", {"policy", "xdg-utils"});
        if (!policy.waitForFinished(60000) || !policy.readAll().contains("Candidate: ") ||
            !QFileInfo::exists("/var/lib/dpkg/status"))
            QSKIP("apt is not usable here (no apt, or no package lists)");
        // Only the programs the script needs, so that this machine's soffice is not seen, and a
        // dpkg-query that says every package is installed but those in LW_FAKE_MISSING.
        for (const char* tool : {"bash", "grep", "id", "apt-get", "dpkg", "env"})
            QVERIFY(QFile::link(QStandardPaths::findExecutable(tool), m_tmp.filePath(tool)));
        QVERIFY(lw::test::writeFile(m_tmp.filePath("dpkg-query"),
                                    "#!/bin/sh\nfor p in $LW_FAKE_MISSING; do [ \"$p\" = \"$3\" ] && exit 1; done\n"
                                    "printf 'install ok installed'\n"));
        QVERIFY(QFile::setPermissions(m_tmp.filePath("dpkg-query"), QFile::ReadOwner | QFile::ExeOwner));
    }

    void planned_data() {
        QTest::addColumn<QString>("missing"); // packages the machine lacks
        QTest::addColumn<bool>("soffice");    // a soffice of some other install on the path
        QTest::addColumn<QString>("planned");
        const QString noCalc = "libreoffice-calc libreoffice-calc-nogui xdg-utils";
        QTest::newRow("desktop Calc") << "libreoffice-calc-nogui xdg-utils" << false << "xdg-utils";
        QTest::newRow("no Calc package, soffice on the path") << noCalc << true << "xdg-utils";
        QTest::newRow("no Calc at all") << noCalc << false << "xdg-utils libreoffice-calc-nogui";
        QTest::newRow("everything there") << "libreoffice-calc" << false << "";
    }
    // What the script would install.
    void planned() {
        QFETCH(QString, missing);
        QFETCH(bool, soffice);
        QFETCH(QString, planned);
        const QString fake = m_tmp.filePath("soffice");
        QFile::remove(fake);
        QVERIFY(!soffice || (lw::test::writeFile(fake, "#!/bin/sh\n") &&
                             QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner)));
        const QString out = dryRun(m_tmp.path(), missing);
        QVERIFY2(out.startsWith("Would install: " + planned + "\n"), qPrintable(out));
        QVERIFY2(planned.isEmpty() || out.contains("Reading package lists"), qPrintable(out)); // apt-get -s ran
    }

    // On this machine as it is (whichever Calc it has): what the script would do removes nothing.
    void thisMachine() {
        const QString out = dryRun(qEnvironmentVariable("PATH"), QString());
        QVERIFY2(out.startsWith("Would install: ") && !out.contains("\nRemv "), qPrintable(out));
    }
};

QTEST_MAIN(TstDeps)
#include "tst_deps.moc"
