// The installed program: "cmake --install" into a throwaway prefix, then the installed ledgerwick started
// from there, watched as it reads its alias configuration, and reached through the installed ledgerwick-post.
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

#include <memory>

using lw::test::waitFor;

namespace {

// Notices every opening of one file by any process, from its creation on.
class OpenWatch {
public:
    explicit OpenWatch(const QString& file) {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0)
            m_watch = inotify_add_watch(m_fd, QFile::encodeName(file).constData(), IN_OPEN);
    }
    ~OpenWatch() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    bool valid() const { return m_fd >= 0 && m_watch >= 0; }

    // Whether the file has been opened since the watch began.
    bool opened() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->wd == m_watch && (event->mask & IN_OPEN))
                    m_opened = true;
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        return m_opened;
    }

private:
    int m_fd = -1;
    int m_watch = -1;
    bool m_opened = false;
};

} // namespace

class TstInstall : public QObject {
    Q_OBJECT

    QTemporaryDir m_prefix;
    QTemporaryDir m_work;

    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }
    QString bin(const QString& name) const { return installed(QStringLiteral(LW_E2E_BINDIR "/") + name); }
    QString data(const QString& relative) const {
        return installed(QStringLiteral(LW_E2E_DATADIR "/") + relative);
    }
    QString demoAliases() const { return data(QStringLiteral("ledgerwick/demo/aliases.ini")); }

private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void desktopEntry();
    void icons_data();
    void icons();
    void installedProgramFindsItsAliases_data();
    void installedProgramFindsItsAliases();
};

void TstInstall::initTestCase() {
    QVERIFY(m_prefix.isValid());
    QVERIFY(m_work.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(LW_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(LW_BUILD_DIR), QStringLiteral("--prefix"),
                   m_prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TstInstall::installedFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");
    QTest::newRow("program") << QStringLiteral(LW_E2E_BINDIR "/ledgerwick") << true;
    QTest::newRow("message sender") << QStringLiteral(LW_E2E_BINDIR "/ledgerwick-post") << true;
    QTest::newRow("demo aliases") << QStringLiteral(LW_E2E_DATADIR "/ledgerwick/demo/aliases.ini") << false;
    QTest::newRow("demo SQLite database")
        << QStringLiteral(LW_E2E_DATADIR "/ledgerwick/demo/demo.sqlite") << false;
    QTest::newRow("demo tables") << QStringLiteral(LW_E2E_DATADIR "/ledgerwick/demo/tables/ORDERS.DBF")
                                 << false;
    QTest::newRow("desktop entry") << QStringLiteral(LW_E2E_DATADIR "/applications/ledgerwick.desktop")
                                   << false;
}

void TstInstall::installedFiles() {
    QFETCH(QString, file);
    QFETCH(bool, executable);
    const QFileInfo info(installed(file));
    QVERIFY2(info.isFile(), qPrintable(info.filePath()));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
}

void TstInstall::desktopEntry() {
    // Read as the desktop reads it: a key file with one group.
    QSettings entry(data(QStringLiteral("applications/ledgerwick.desktop")), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")).toString(), QStringLiteral("Ledgerwick Builder"));
    const QString exec = entry.value(QStringLiteral("Exec")).toString();
    QVERIFY2(QFileInfo(bin(exec)).isExecutable(), qPrintable(exec));
    const QString icon = entry.value(QStringLiteral("Icon")).toString();
    QVERIFY(
        QFileInfo::exists(data(QStringLiteral("icons/hicolor/48x48/apps/") + icon + QStringLiteral(".png"))));
    QCOMPARE(entry.value(QStringLiteral("Terminal")).toString(), QStringLiteral("false"));
}

void TstInstall::icons_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("48") << 48;
    QTest::newRow("128") << 128;
}

// Each size is drawn at that size, with a transparent surround and an opaque sheet in the middle.
void TstInstall::icons() {
    QFETCH(int, size);
    const QString name = QStringLiteral("icons/hicolor/%1x%1/apps/ledgerwick.png").arg(size);
    const QImage icon(data(name));
    QVERIFY2(!icon.isNull(), qPrintable(name));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
}

// Started from its prefix with no configuration of the user's, the program reads the installed demo
// aliases; a configuration of the user's own, or one named by LEDGERWICK_ALIASES, is read instead.
void TstInstall::installedProgramFindsItsAliases_data() {
    QTest::addColumn<QString>("own"); // "", "user" or "environment"
    QTest::newRow("no configuration of the user's") << QString();
    QTest::newRow("the user's own aliases.ini") << QStringLiteral("user");
    QTest::newRow("LEDGERWICK_ALIASES") << QStringLiteral("environment");
}

void TstInstall::installedProgramFindsItsAliases() {
    QFETCH(QString, own);
    const QString home = m_work.filePath(QString::fromLatin1(QTest::currentDataTag()));
    const QString userAliases = home + QStringLiteral("/config/Ledgerwick/aliases.ini");
    const QString environmentAliases = home + QStringLiteral("/elsewhere/aliases.ini");
    QVERIFY(lw::test::writeFile(userAliases, "[MINE]\nTYPE=STANDARD\nPATH=.\n"));
    QVERIFY(lw::test::writeFile(environmentAliases, "[NAMED]\nTYPE=STANDARD\nPATH=.\n"));
    if (own != QLatin1String("user"))
        QVERIFY(QFile::remove(userAliases));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/start")));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.remove(QStringLiteral("LEDGERWICK_ALIASES"));
    env.remove(QStringLiteral("LEDGERWICK_WINDOW"));
    if (own == QLatin1String("environment"))
        env.insert(QStringLiteral("LEDGERWICK_ALIASES"), environmentAliases);
    const QString expected = own.isEmpty()                  ? demoAliases()
                             : own == QLatin1String("user") ? userAliases
                                                            : environmentAliases;

    OpenWatch demo(demoAliases());
    OpenWatch user(userAliases);
    OpenWatch named(environmentAliases);
    QVERIFY(demo.valid() && named.valid());
    OpenWatch& watched = own.isEmpty() ? demo : own == QLatin1String("user") ? user : named;
    QVERIFY(watched.valid());

    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home + QStringLiteral("/start"));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(bin(QStringLiteral("ledgerwick")), {});
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
    const bool found = waitFor([&] { return watched.opened(); }, 20000);
    QVERIFY2(found, qPrintable(expected + QStringLiteral(" was not read; ") + program.readAll()));
    QTest::qWait(500); // time enough to read a second configuration, were it going to
    QCOMPARE(demo.opened(), own.isEmpty());
    QCOMPARE(named.opened(), own == QLatin1String("environment"));
    QCOMPARE(program.state(), QProcess::Running); // waiting at its about box

    // The installed message sender reaches the installed program's own port (0 is no command).
    const QString port = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/ledgerwick/TMainForm-") +
                         QString::number(program.processId());
    QVERIFY(waitFor([&] { return QFileInfo::exists(port); }, 10000));
    QProcess post;
    post.setProcessEnvironment(env);
    post.start(bin(QStringLiteral("ledgerwick-post")),
               {QStringLiteral("--window"), port, QStringLiteral("0")});
    QVERIFY(post.waitForFinished(15000));
    QCOMPARE(post.exitCode(), 0);
    QCOMPARE(program.state(), QProcess::Running);

    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(5000);
    }
}

QTEST_MAIN(TstInstall)
#include "tst_install.moc"
