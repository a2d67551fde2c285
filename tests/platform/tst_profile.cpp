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
#include <unistd.h>

using namespace lw;
using test::readFile;
using test::writeFile;

class TstProfile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name = QStringLiteral("t.ini")) const { return m_dir->filePath(name); }

    // What a directory holds besides the given files: temporary or lock files left behind.
    static QStringList leftovers(const QString& dir, const QStringList& expected) {
        QStringList names =
            QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& e : expected)
            names.removeAll(e);
        return names;
    }
    static bool isRoot() { return ::geteuid() == 0; }

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
        row("$1F", 31);
        row("0xFFFFFFFF", -1);
        row("$123456789", def);
        row("+7", 7);
        row("2147483648", def);
        row("0x", def);
        row("-0x10", def);
        row("12abc", def);
        row("\"12 \"", def);
        row("\xD9\xA3", def, "digit outside ASCII");
    }
    void integerForms() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QVERIFY(writeFile(path(), "[Main]\nN=" + stored + "\n"));
        QCOMPARE(Profile(path()).readInteger(QStringLiteral("Main"), QStringLiteral("N"), -77), expected);
    }

    void integersAndBooleans() {
        QVERIFY(writeFile(path(), "[M]\nTwo=2\nZero=0\nText=yes\n"));
        Profile p(path());
        QCOMPARE(p.readBool("M", "Two", false), true);
        QCOMPARE(p.readBool("M", "Zero", true), false);
        QCOMPARE(p.readBool("M", "Text", true), true);
        QCOMPARE(p.readBool("M", "Missing", true), true);
        QVERIFY(writeFile(path(), QByteArray()));
        p.writeInteger("M", "I", -42);
        p.writeBool("M", "T", true);
        p.writeBool("M", "F", false);
        QCOMPARE(readFile(path()), QByteArray("[M]\nI=-42\nT=1\nF=0\n"));
    }

    void readRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& file, const QString& section, const QString& key,
                      const QString& expected) { QTest::newRow(name) << file << section << key << expected; };
        const QString d = QStringLiteral("<default>");
        row("case and blanks of names", "[ main ]\n  NAME  =  v  \n", " MAIN", "name ", "v");
        row("double quotes removed", "[M]\nK=  \" a b \"  \n", "M", "K", " a b ");
        row("one pair only", "[M]\nK=\"\"x\"\"\n", "M", "K", "\"x\"");
        row("empty value is not the default", "[M]\nK=\n", "M", "K", "");
        row("first section wins", "[M]\nA=1\n[m]\nK=2\n", "M", "K", d);
        row("first key wins", "[M]\nK=1\nk=2\n", "M", "K", "1");
        row("comments are not keys or sections", ";[M]\nK=1\n[M]\n ;K=1\nK\nK=2\n", "M", "K", "2");
        row("byte-order mark and CRLF", "\xEF\xBB\xBF[M]\r\nK=abc\r\n", "M", "K", "abc");
        row("Latin-1", "[M]\nK=caf\xE9\n", "M", "K", QString::fromUtf8("caf\xC3\xA9"));
        row("ASCII case only", "[M]\n\xC3\x89t\xC3\xA9=1\n", "M", QString::fromUtf8("\xC3\xA9t\xC3\xA9"), d);
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
        row("mixed line endings kept per line", "[A]\r\nX=1\n[M]\nK=1\r\nL=2\n", "M", "K", "22",
            "[A]\r\nX=1\n[M]\nK=22\r\nL=2\n");
        row("byte-order mark and bad UTF-8 kept", "\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=1\n", "M",
            "K", "\xC3\xA9", "\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=\xC3\xA9\n");
        row("added after the last key, not after blanks", "[M]\nA=1\n; note\nB=2\n\n; next\n[N]\nA=1\n", "M",
            "C", "3", "[M]\nA=1\n; note\nB=2\nC=3\n\n; next\n[N]\nA=1\n");
        row("added with the file's CRLF", "[M]\r\nA=1\r\n", "M", "B", "2", "[M]\r\nA=1\r\nB=2\r\n");
        row("added after an unterminated last line", "[M]\nA=1", "M", "B", "2", "[M]\nA=1\nB=2");
        row("new section at the end, CRLF", "; c\r\n[M]\r\nA=1\r\n", "N", "B", "2",
            "; c\r\n[M]\r\nA=1\r\n[N]\r\nB=2\r\n");
        row("only the first matching section changes", "[M]\nA=1\n[M]\nK=old\n", "M", "K", "v",
            "[M]\nA=1\nK=v\n[M]\nK=old\n");
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
        QCOMPARE(leftovers(m_dir->path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // Every value a caller can write reads back as it was, a long query condition included.
    void roundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("leading blank") << " x";
        QTest::newRow("two quotes") << "\"\"";
        QTest::newRow("SQL with single quotes") << "'a' = 'b'";
        QTest::newRow("Cyrillic") << QString::fromUtf8("\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82");
        QTest::newRow("5,000 characters") << QString(5000, QLatin1Char('q')) + QStringLiteral("END");
    }
    void roundTrip() {
        QFETCH(QString, value);
        Profile p(path());
        p.writeString("M", "K", value);
        p.writeString("M", "After", "x");
        QCOMPARE(Profile(path()).readString("M", "K", "d"), value);
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
        row("key starting with ;", "M", " ;k");
        row("empty key", "M", "");
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
        QTest::addColumn<bool>("needsNonRoot");
        QTest::newRow("missing directory") << "missing/dir/t.ini" << false;
        QTest::newRow("parent is a file") << "plain/t.ini" << false;
        QTest::newRow("target is a directory") << "adir" << false;
        QTest::newRow("link loop") << "loop" << false;
        QTest::newRow("read-only file") << "ro.ini" << true;
        QTest::newRow("new file in read-only directory") << "rodir/new.ini" << true;
    }
    void refusedWrites() {
        QFETCH(QString, target);
        QFETCH(bool, needsNonRoot);
        if (needsNonRoot && isRoot())
            QSKIP("permission checks do not stop root");
        const QByteArray old("; keep me\r\n[M]\r\nK=1\r\n");
        QVERIFY(writeFile(path("plain"), old) && writeFile(path("ro.ini"), old));
        QVERIFY(QDir(m_dir->path()).mkdir("adir") && QDir(m_dir->path()).mkdir("rodir"));
        QVERIFY(QFile::link(path("loop"), path("loop")));
        QVERIFY(QFile::setPermissions(path("ro.ini"), QFile::ReadOwner | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(path("rodir"), QFile::ReadOwner | QFile::ExeOwner));
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
        QCOMPARE(readFile(path("plain")), old);
        QCOMPARE(readFile(path("ro.ini")), old);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
        QCOMPARE(leftovers(path("rodir"), {}), QStringList());
    }

    void readOnlyDirectoryWritesInPlace() {
        if (isRoot())
            QSKIP("permission checks do not stop root");
        const QString dir = path("rodir");
        const QString file = dir + QStringLiteral("/t.ini");
        QVERIFY(writeFile(file, "[M]\r\nK=1\r\nL=2\r\n"));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        Profile p(file);
        p.writeString("M", "K", "longer value");
        p.writeString("M", "L", QString());
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readFile(file), QByteArray("[M]\r\nK=longer value\r\nL=\r\n"));
        QCOMPARE(leftovers(dir, {QStringLiteral("t.ini")}), QStringList());
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
        QCOMPARE(leftovers(m_dir->path(), {QStringLiteral("real.ini"), QStringLiteral("link.ini")}),
                 QStringList());
    }

    // A bare name lives in the per-user configuration directory, which only a write creates.
    void bareNameInConfigurationDirectory() {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (config.isEmpty())
            QSKIP("needs the throwaway XDG_CONFIG_HOME the test runner sets");
        QDir(config + QStringLiteral("/Ledgerwick")).removeRecursively();
        Profile p(QStringLiteral("l_wick.ini"));
        QCOMPARE(p.filePath(), config + QStringLiteral("/Ledgerwick/l_wick.ini"));
        QCOMPARE(p.readInteger("M", "K", 5), 5);
        QVERIFY(!QFileInfo::exists(config + QStringLiteral("/Ledgerwick")));
        p.writeBool("Options", "Show", true);
        QCOMPARE(readFile(p.filePath()), QByteArray("[Options]\nShow=1\n"));
    }

    // Several processes write different keys of one file at once: none is lost.
    void concurrentWriters() {
        const QString file = path();
        QVERIFY(writeFile(file, "; shared\n[Keep]\nK=1\n"));
        const int writers = 4;
        const int perWriter = 25;
        QList<QProcess*> procs;
        for (int w = 0; w < writers; ++w) {
            procs << new QProcess(this);
            procs.last()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            procs.last()->start(LW_PROFILE_WRITER, {"write", file, "Shared", QStringLiteral("W%1_").arg(w),
                                                    QString::number(perWriter)});
        }
        for (QProcess* proc : procs) {
            QVERIFY(proc->waitForFinished(120000));
            QCOMPARE(proc->exitStatus(), QProcess::NormalExit);
            QCOMPARE(proc->exitCode(), 0);
        }
        Profile p(file);
        QCOMPARE(p.keys("Shared").size(), writers * perWriter);
        for (int w = 0; w < writers; ++w) {
            const QString prefix = QStringLiteral("W%1_").arg(w);
            for (int i = 0; i < perWriter; ++i)
                QCOMPARE(p.readString("Shared", prefix + QString::number(i), {}),
                         QStringLiteral("value %1 of %2").arg(i).arg(prefix));
        }
        QVERIFY(readFile(file).startsWith("; shared\n[Keep]\nK=1\n[Shared]\n"));
        QCOMPARE(leftovers(m_dir->path(), {QStringLiteral("t.ini")}), QStringList());
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
        QCOMPARE(leftovers(m_dir->path(), {QStringLiteral("t.ini")}), QStringList());
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
        QVERIFY(QFileInfo::exists(file + QStringLiteral(".lock")));
        Profile::setLockTimeout(5000);
        Profile(file).writeString("M", "K", "3");
        QCOMPARE(readFile(file), QByteArray("[M]\nK=3\n"));
        QVERIFY(!QFileInfo::exists(file + QStringLiteral(".lock")));
    }
};

QTEST_GUILESS_MAIN(TstProfile)
#include "tst_profile.moc"
