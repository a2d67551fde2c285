// The installed program: "cmake --install" into a throwaway prefix, then the installed ledgerwick started
// from there, watched as it reads its alias configuration, and reached through the installed ledgerwick-post.
#include "e2e/e2esupport.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

using lw::test::waitFor;

namespace {

// Notices every opening of one file by any process, from the watch's start on.
class OpenWatch {
public:
    explicit OpenWatch(const QString& file)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_watch(m_fd < 0 ? -1 : inotify_add_watch(m_fd, QFile::encodeName(file).constData(), IN_OPEN)) {}
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch&) = delete;
    bool valid() const { return m_watch >= 0; }

    // The watch asks for openings only, so any event read is one.
    bool opened() {
        alignas(inotify_event) char buffer[4096];
        while (::read(m_fd, buffer, sizeof buffer) > 0)
            m_opened = true;
        return m_opened;
    }

private:
    int m_fd;
    int m_watch;
    bool m_opened = false;
};

} // namespace

class TstInstall : public QObject {
    Q_OBJECT

    QTemporaryDir m_prefix;
    QTemporaryDir m_work;

    QString bin(const QString& name) const { return m_prefix.filePath(LW_E2E_BINDIR "/" + name); }
    QString data(const QString& relative) const { return m_prefix.filePath(LW_E2E_DATADIR "/" + relative); }

private slots:
    void initTestCase() {
        QVERIFY(m_prefix.isValid() && m_work.isValid());
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(LW_CMAKE_COMMAND, {"--install", LW_BUILD_DIR, "--prefix", m_prefix.path()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
                 install.readAll().constData());
    }

    // The demo data, and a desktop entry whose program and icons are installed.
    void installedFiles() {
        for (const QString& file : QStringList{"demo.sqlite", "tables/ORDERS.DBF"})
            QVERIFY2(QFileInfo(data("ledgerwick/demo/" + file)).size() > 0, qPrintable(file));
        QSettings entry(data("applications/ledgerwick.desktop"), QSettings::IniFormat);
        entry.beginGroup("Desktop Entry");
        const QString exec = entry.value("Exec").toString();
        QVERIFY2(QFileInfo(bin(exec)).isExecutable(), qPrintable(exec));
        const QString icon = entry.value("Icon").toString();
        for (int size : {48, 128}) // each size drawn at that size
            QCOMPARE(QImage(data(QString("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon))).size(),
                     QSize(size, size));
    }

    // Started from its prefix with no configuration of the user's, the program reads the installed demo
    // aliases; the user's own configuration is read instead when there is one.
    void installedProgramFindsItsAliases_data() {
        QTest::addColumn<bool>("own");
        QTest::newRow("no configuration of the user's") << false;
        QTest::newRow("the user's own aliases.ini") << true;
    }

    void installedProgramFindsItsAliases() {
        QFETCH(bool, own);
        const QString home = m_work.filePath(QTest::currentDataTag());
        const QString userAliases = home + "/config/Ledgerwick/aliases.ini";
        QVERIFY(lw::test::writeFile(userAliases, "[MINE]\nTYPE=STANDARD\nPATH=.\n") &&
                QDir().mkpath(home + "/start"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/config");
        env.remove("LEDGERWICK_ALIASES");
        env.remove("LEDGERWICK_WINDOW");
        if (!own)
            QVERIFY(QFile::remove(userAliases));
        OpenWatch demo(data("ledgerwick/demo/aliases.ini"));
        OpenWatch user(own ? userAliases : data("ledgerwick/demo/aliases.ini"));
        OpenWatch& watched = own ? user : demo;
        QVERIFY(demo.valid() && user.valid());

        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(home + "/start");
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(bin("ledgerwick"), {});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        QVERIFY2(waitFor([&] { return watched.opened(); }, 20000), program.readAll().constData());
        QTest::qWait(500); // time enough to read a second configuration, were it going to
        QCOMPARE(demo.opened(), !own);
        QCOMPARE(program.state(), QProcess::Running); // waiting at its about box

        // The installed message sender reaches the installed program's own port (0 is no command).
        const QString port = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/ledgerwick/TMainForm-" +
                             QString::number(program.processId());
        QVERIFY(waitFor([&] { return QFileInfo::exists(port); }, 10000));
        QProcess post;
        post.setProcessEnvironment(env);
        post.start(bin("ledgerwick-post"), {"--window", port, "0"});
        QVERIFY(post.waitForFinished(15000));
        QCOMPARE(post.exitCode(), 0);
        QCOMPARE(program.state(), QProcess::Running);

        program.terminate();
        if (!program.waitForFinished(10000))
            program.kill(); // and its destructor waits for it
    }

    // The installed tools, under the names the program starts them by, make a new blank from an
    // installed demo definition and generate reports from it and from a shipped, prepared blank,
    // with nothing but the prefix's own demo aliases to go by.
    void installedToolsMakeReports() {
        const QString tools = m_prefix.filePath(LW_E2E_LIBEXECDIR "/ledgerwick/");
        const QString dir = m_work.filePath("reports");
        QVERIFY(QDir().mkpath(dir) && QDir().mkpath(m_work.filePath("tools-home/config")));
        for (const QString& file : {"sales.pr", "orders.pr", "orders.xls"})
            QVERIFY2(QFile::copy(data("ledgerwick/demo/reports/" + file), dir + "/" + file), qPrintable(file));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", m_work.filePath("tools-home"));
        env.insert("XDG_CONFIG_HOME", m_work.filePath("tools-home/config"));
        env.remove("LEDGERWICK_ALIASES");
        env.remove("LEDGERWICK_WINDOW");
        const auto run = [&](const QString& tool, const QStringList& args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(tools + tool, args);
            const bool done = p.waitForFinished(120000);
            return QString("%1 %2").arg(done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1)
                .arg(QString::fromLocal8Bit(p.readAll()));
        };
        QVERIFY(QFileInfo(tools + "ledgerwick-blank").isExecutable() &&
                QFileInfo(tools + "ledgerwick-report").isExecutable());

        const QString made = run("zarmek.exe", {"--no-edit", dir + "/sales.pr"});
        QVERIFY2(made.startsWith("0 "), qPrintable(made));
        QCOMPARE(lw::e2e::iniKeys(dir + "/sales.pr").value("REPORT").value("Excel"), dir + "/sales.xls");
        for (const QString& name : {"sales", "orders"}) {
            const QString generated = run("VORTAL1", {"--batch", dir + "/" + name + ".pr"});
            QVERIFY2(generated.startsWith("0 "), qPrintable(name + ": " + generated));
            QFile report(dir + "/" + name + "_report.xls");
            QVERIFY(report.open(QIODevice::ReadOnly));
            QCOMPARE(report.read(8), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)); // a compound file
        }
    }
};

QTEST_MAIN(TstInstall)
#include "tst_install.moc"
