// The profile store as the rest of the program and the sibling tools see it: values read back,
// files on disk byte for byte, refused writes that leave the old file whole, several writers at once.
#include "platform/profile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

using namespace lw;
using test::readFile;
using test::writeFile;

class TstProfile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name = QStringLiteral("t.ini")) const { return m_dir->filePath(name); }

private slots:
    void init() {
        Profile::setLockTimeout(10000);
        m_dir = std::make_unique<QTemporaryDir>();
    }

    void integerForms_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        const int def = -77;
        auto row = [](const char* stored, int expected, const char* name = nullptr) {
            QTest::newRow(name ? name : stored) << QByteArray(stored) << expected;
        };
        row("0x1F", 31);
        row("0xFFFFFFFF", -1);
        row("2147483648", def);
        row("12abc", def);
        row("\xD9\xA3", def, "digit outside ASCII");
    }
    void integerForms() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QVERIFY(writeFile(path(), "[Main]\nN=" + stored + "\n"));
        QCOMPARE(Profile(path()).readInteger(QStringLiteral("Main"), QStringLiteral("N"), -77), expected);
    }

    void readRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& file, const QString& section, const QString& key,
                      const QString& expected) { QTest::newRow(name) << file << section << key << expected; };
        row("case and blanks of names", "[ main ]\n  NAME  =  v  \n", " MAIN", "name ", "v");
        row("double quotes removed", "[M]\nK=  \" a b \"  \n", "M", "K", " a b ");
        row("comments are not keys or sections", ";[M]\nK=1\n[M]\n ;K=1\nK\nK=2\n", "M", "K", "2");
        row("byte-order mark and CRLF", "\xEF\xBB\xBF[M]\r\nK=abc\r\n", "M", "K", "abc");
        row("Latin-1", "[M]\nK=caf\xE9\n", "M", "K", QString::fromUtf8("caf\xC3\xA9"));
    }
    void readRules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(writeFile(path(), file));
        QCOMPARE(Profile(path()).readString(section, key, QStringLiteral("<default>")), expected);
    }

    // Each write changes only that key's value bytes, or adds one line, or a section at the end.
    void writePreservesBytes_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        auto row = [](const char* name, const QByteArray& before, const QString& section, const QString& key,
                      const QString& value, const QByteArray& after) {
            QTest::newRow(name) << before << section << key << value << after;
        };
        row("new file", QByteArray(), "Main", "K", "v", "[Main]\nK=v\n");
        row("replace, CRLF, comments, foreign keys",
            "; made by hand\r\n[Main]\r\nOther=1\r\n  k = old ; still value\r\n\r\n[Next]\r\nK=x\r\n", "MAIN",
            "K", "new", "; made by hand\r\n[Main]\r\nOther=1\r\n  k = new\r\n\r\n[Next]\r\nK=x\r\n");
        row("byte-order mark and bad UTF-8 kept", "\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=1\n", "M",
            "K", "\xC3\xA9", "\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=\xC3\xA9\n");
        row("added after the last key, not after blanks", "[M]\nA=1\n; note\nB=2\n\n; next\n[N]\nA=1\n", "M",
            "C", "3", "[M]\nA=1\n; note\nB=2\nC=3\n\n; next\n[N]\nA=1\n");
        row("added after an unterminated last line", "[M]\nA=1", "M", "B", "2", "[M]\nA=1\nB=2");
        row("new section at the end, CRLF", "; c\r\n[M]\r\nA=1\r\n", "N", "B", "2",
            "; c\r\n[M]\r\nA=1\r\n[N]\r\nB=2\r\n");
        row("line breaks become blanks", "[M]\nK=1\nL=2\n", "M", "K", "a\nb\r\nc\rd",
            "[M]\nK=a b c d\nL=2\n");
        row("surrounding blanks kept by quoting", "[M]\nK=1\n", "M", "K", " v ", "[M]\nK=\" v \"\n");
    }
    void writePreservesBytes() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            QVERIFY(writeFile(path(), before));
        Profile(path()).writeString(section, key, value);
        QCOMPARE(readFile(path()), after);
        QCOMPARE(test::leftovers(m_dir->path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // Another program writes a key between two of ours: only the key being written changes.
    void otherProgramBetweenWrites() {
        QVERIFY(writeFile(path(), "[Main]\nA=1\n; theirs\n[Tool]\nT=1\n"));
        Profile p(path());
        p.writeString("Main", "A", "2");
        QVERIFY(writeFile(path(), readFile(path()).replace("T=1", "T=9\nZARMEK=done")));
        p.writeString("Main", "B", "3");
        QCOMPARE(readFile(path()), QByteArray("[Main]\nA=2\nB=3\n; theirs\n[Tool]\nT=9\nZARMEK=done\n"));
    }

    void badNamesRefused_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        auto row = [](const char* name, const char* section, const char* key) {
            QTest::newRow(name) << QString::fromUtf8(section) << QString::fromUtf8(key);
        };
        row("] in section", "a]b", "K");
        row("line break in section", "a\nb", "K");
        row("= in key", "M", "a=b");
    }
    void badNamesRefused() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        const QByteArray before("[M]\nK=1\n");
        QVERIFY(writeFile(path(), before));
        Profile p(path());
        QVERIFY_THROWS_EXCEPTION(ProfileArgumentError, p.writeString(section, key, "v"));
        // A batch with one bad entry writes nothing at all.
        QVERIFY_THROWS_EXCEPTION(ProfileArgumentError,
                                 p.writeEntries({{"M", "K", "2"}, {section, key, "v"}}));
        QCOMPARE(readFile(path()), before);
        QVERIFY_THROWS_EXCEPTION(ProfileArgumentError,
                                 Profile(path("new.ini")).writeString(section, key, {}));
        QVERIFY(!QFileInfo::exists(path("new.ini")));
    }

    // Writes that cannot be done throw "Unable to write to <file name>" and leave everything as it was.
    void refusedWrites_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing directory") << "missing/dir/t.ini";
        QTest::newRow("target is a directory") << "adir";
        QTest::newRow("link loop") << "loop";
        QTest::newRow("target is a pipe") << "pipe"; // opened without waiting for a writer, then refused
    }
    void refusedWrites() {
        QFETCH(QString, target);
        QVERIFY(QDir(m_dir->path()).mkdir("adir") && QFile::link(path("loop"), path("loop")));
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0644) == 0);
        const QStringList before =
            QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);

        const QString name = path(target);
        QString message;
        try {
            Profile(name).writeString("M", "K", "2");
        } catch (const ProfileWriteError& e) {
            message = QString::fromUtf8(e.what());
        }
        QCOMPARE(message, QStringLiteral("Unable to write to ") + name);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
    }

    void permissionsAndLinksKept() {
        const QString real = path("real.ini");
        QVERIFY(writeFile(real, "[M]\nK=1\n"));
        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
        QVERIFY(QFile::link(QStringLiteral("real.ini"), path("link.ini")));
        Profile(path("link.ini")).writeString("M", "K", "2");
        QVERIFY(QFileInfo(path("link.ini")).isSymLink());
        QCOMPARE(readFile(real), QByteArray("[M]\nK=2\n"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(real).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), 0640);
        QCOMPARE(test::leftovers(m_dir->path(), {"real.ini", "link.ini"}), QStringList());
    }

    // Several processes write different keys of one file at once, into a file that is there or one
    // that the first of them makes: none is lost.
    void concurrentWriters_data() {
        QTest::addColumn<bool>("exists");
        QTest::newRow("existing file") << true;
        QTest::newRow("new file") << false;
    }
    void concurrentWriters() {
        QFETCH(bool, exists);
        const QString file = path();
        if (exists)
            QVERIFY(writeFile(file, "; shared\n[Keep]\nK=1\n"));
        const int writers = 4, perWriter = 25;
        // All let go at once, so that their first writes meet (in a new file: all of them making it).
        const QString go = path("go");
        QProcess procs[writers];
        for (int w = 0; w < writers; ++w)
            procs[w].start(LW_PROFILE_WRITER, {"write", file, "Shared", QStringLiteral("W%1_").arg(w),
                                               QString::number(perWriter), go});
        for (QProcess& proc : procs)
            QVERIFY(proc.waitForStarted(10000));
        QTest::qWait(100);
        QVERIFY(writeFile(go, ""));
        for (QProcess& proc : procs) {
            QVERIFY(proc.waitForFinished(120000));
            QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
            QCOMPARE(proc.exitCode(), 0);
        }
        Profile p(file);
        QCOMPARE(p.keys("Shared").size(), writers * perWriter);
        for (int n = 0; n < writers * perWriter; ++n) {
            const QString prefix = QStringLiteral("W%1_").arg(n / perWriter);
            QCOMPARE(p.readString("Shared", prefix + QString::number(n % perWriter), {}),
                     QStringLiteral("value %1 of %2").arg(n % perWriter).arg(prefix));
        }
        QVERIFY(readFile(file).startsWith(exists ? "; shared\n[Keep]\nK=1\n[Shared]\n" : "[Shared]\n"));
        QCOMPARE(test::leftovers(m_dir->path(), {QStringLiteral("t.ini"), QStringLiteral("go")}),
                 QStringList());
    }

    // A write that runs out of space (here: past the process's file-size limit) leaves the old file.
    void fullDisk() {
        const QString file = path();
        const QByteArray old = "[M]\r\nK=" + QByteArray(100, 'o') + "\r\n";
        QVERIFY(writeFile(file, old));
        QProcess writer;
        writer.start(LW_PROFILE_WRITER, {"limited", file, "1000", "M", "K", "5000"});
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitCode(), 3);
        QCOMPARE(writer.readAllStandardOutput().trimmed(),
                 (QStringLiteral("Unable to write to ") + file).toUtf8());
        QCOMPARE(readFile(file), old);
        QCOMPARE(test::leftovers(m_dir->path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // A lock left by a process that died is taken over; a live one is waited for, but not forever.
    void locks() {
        const QString file = path();
        QVERIFY(writeFile(file, "[M]\nK=1\n"));
        QProcess holder;
        holder.start(LW_PROFILE_WRITER, {"hold", file});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

        Profile::setLockTimeout(300);
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(ProfileWriteError, Profile(file).writeString("M", "K", "2"));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(readFile(file), QByteArray("[M]\nK=1\n"));

        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        Profile::setLockTimeout(5000);
        Profile(file).writeString("M", "K", "3");
        QCOMPARE(readFile(file), QByteArray("[M]\nK=3\n"));
        QCOMPARE(test::leftovers(m_dir->path(), {QFileInfo(file).fileName()}), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstProfile)
#include "tst_profile.moc"
