// The profile store as the rest of the program and the sibling tools see it: values read back,
// files on disk byte for byte, refused writes that leave the old file whole, several writers at once.
#include "platform/profile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace lw;

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool isRoot() {
    return ::geteuid() == 0;
}

} // namespace

class TstProfile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name = QStringLiteral("t.ini")) const { return m_dir.filePath(name); }

    // What a directory holds besides the given files: temporary or lock files left behind.
    QStringList leftovers(const QString& dir, const QStringList& expected) const {
        QStringList names =
            QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& e : expected)
            names.removeAll(e);
        return names;
    }

private slots:
    void init() {
        Profile::setLockTimeout(10000);
        QDir dir(m_dir.path());
        for (const QString& n :
             dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            QFileInfo fi(dir.filePath(n));
            if (fi.isDir() && !fi.isSymLink()) {
                QFile::setPermissions(fi.filePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QDir(fi.filePath()).removeRecursively();
            } else {
                QFile::remove(fi.filePath());
            }
        }
    }

    void integerForms_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        const int def = -77;
        QTest::newRow("0x1F") << QByteArray("0x1F") << 31;
        QTest::newRow("$1F") << QByteArray("$1F") << 31;
        QTest::newRow("0xFFFFFFFF") << QByteArray("0xFFFFFFFF") << -1;
        QTest::newRow("nine hex digits") << QByteArray("$123456789") << def;
        QTest::newRow("+7") << QByteArray("+7") << 7;
        QTest::newRow("leading zeros") << QByteArray("007") << 7;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483647 - 1);
        QTest::newRow("above int max") << QByteArray("2147483648") << def;
        QTest::newRow("below int min") << QByteArray("-2147483649") << def;
        QTest::newRow("0x alone") << QByteArray("0x") << def;
        QTest::newRow("$ alone") << QByteArray("$") << def;
        QTest::newRow("-0x10") << QByteArray("-0x10") << def;
        QTest::newRow("12abc") << QByteArray("12abc") << def;
        QTest::newRow("12 and a blank, quoted") << QByteArray("\"12 \"") << def;
        QTest::newRow("blanks before, quoted") << QByteArray("\"  12\"") << 12;
        QTest::newRow("sign alone") << QByteArray("-") << def;
        QTest::newRow("empty") << QByteArray("") << def;
        QTest::newRow("decimal point") << QByteArray("1.5") << def;
        QTest::newRow("non-ASCII digit") << QByteArray("\xD9\xA3") << def;
    }
    void integerForms() {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QVERIFY(writeBytes(path(), "[Main]\nN=" + stored + "\n"));
        QCOMPARE(Profile(path()).readInteger(QStringLiteral("Main"), QStringLiteral("N"), -77), expected);
    }

    void booleans_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("def");
        QTest::addColumn<bool>("expected");
        QTest::newRow("2 is true") << QByteArray("[M]\nB=2\n") << false << true;
        QTest::newRow("0 is false") << QByteArray("[M]\nB=0\n") << true << false;
        QTest::newRow("text gives default true") << QByteArray("[M]\nB=yes\n") << true << true;
        QTest::newRow("missing gives default") << QByteArray("[M]\n") << true << true;
    }
    void booleans() {
        QFETCH(QByteArray, file);
        QFETCH(bool, def);
        QFETCH(bool, expected);
        QVERIFY(writeBytes(path(), file));
        QCOMPARE(Profile(path()).readBool(QStringLiteral("M"), QStringLiteral("B"), def), expected);
    }

    void writtenForms() {
        Profile p(path());
        p.writeInteger(QStringLiteral("M"), QStringLiteral("I"), -42);
        p.writeBool(QStringLiteral("M"), QStringLiteral("T"), true);
        p.writeBool(QStringLiteral("M"), QStringLiteral("F"), false);
        QCOMPARE(readBytes(path()), QByteArray("[M]\nI=-42\nT=1\nF=0\n"));
        QCOMPARE(p.readInteger(QStringLiteral("M"), QStringLiteral("I"), 0), -42);
    }

    void readRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString d = QStringLiteral("<default>");
        QTest::newRow("case and blanks of names") << QByteArray("[ main ]\n  NAME  =  v  \n") << " MAIN"
                                                  << "name "
                                                  << "v";
        QTest::newRow("double quotes removed") << QByteArray("[M]\nK=  \" a b \"  \n") << "M"
                                               << "K"
                                               << " a b ";
        QTest::newRow("single quotes removed") << QByteArray("[M]\nK='x'\n") << "M"
                                               << "K"
                                               << "x";
        QTest::newRow("one pair only") << QByteArray("[M]\nK=\"\"x\"\"\n") << "M"
                                       << "K"
                                       << "\"x\"";
        QTest::newRow("unpaired quote kept") << QByteArray("[M]\nK=\"x\n") << "M"
                                             << "K"
                                             << "\"x";
        QTest::newRow("equals in value") << QByteArray("[M]\nK=a=b\n") << "M"
                                         << "K"
                                         << "a=b";
        QTest::newRow("empty value is not the default") << QByteArray("[M]\nK=\n") << "M"
                                                        << "K"
                                                        << "";
        QTest::newRow("first section wins") << QByteArray("[M]\nA=1\n[m]\nK=2\n") << "M"
                                            << "K" << d;
        QTest::newRow("first key wins") << QByteArray("[M]\nK=1\nk=2\n") << "M"
                                        << "K"
                                        << "1";
        QTest::newRow("other section's key") << QByteArray("[A]\nK=1\n[M]\n") << "M"
                                             << "K" << d;
        QTest::newRow("comment is not a key") << QByteArray("[M]\n ;K=1\nK=2\n") << "M"
                                              << "K"
                                              << "2";
        QTest::newRow("commented section") << QByteArray(";[M]\nK=1\n") << "M"
                                           << "K" << d;
        QTest::newRow("line without equals") << QByteArray("[M]\nK\nK=3\n") << "M"
                                             << "K"
                                             << "3";
        QTest::newRow("key before any section") << QByteArray("K=1\n[M]\n") << "M"
                                                << "K" << d;
        QTest::newRow("header with a comment") << QByteArray("[M] ; mine\nK=1\n") << "M"
                                               << "K"
                                               << "1";
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[M]\r\nK=1\r\n") << "M"
                                         << "K"
                                         << "1";
        QTest::newRow("CRLF") << QByteArray("[M]\r\nK=abc\r\n") << "M"
                              << "K"
                              << "abc";
        QTest::newRow("UTF-8") << QByteArray("[M]\nK=\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\n") << "M"
                               << "K" << QString::fromUtf8("\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82");
        QTest::newRow("Latin-1") << QByteArray("[M]\nK=caf\xE9\n") << "M"
                                 << "K" << QString::fromUtf8("caf\xC3\xA9");
        QTest::newRow("Latin-1 key name")
            << QByteArray("[M]\nCl\xE9=1\n") << "M" << QString::fromUtf8("Cl\xC3\xA9") << "1";
        QTest::newRow("ASCII case only")
            << QByteArray("[M]\n\xC3\x89t\xC3\xA9=1\n") << "M" << QString::fromUtf8("\xC3\xA9t\xC3\xA9") << d;
        QTest::newRow("missing key") << QByteArray("[M]\nA=1\n") << "M"
                                     << "K" << d;
    }
    void readRules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(writeBytes(path(), file));
        QCOMPARE(Profile(path()).readString(section, key, QStringLiteral("<default>")), expected);
    }

    void missingFileReadsDefaults() {
        Profile p(path(QStringLiteral("none/x.ini")));
        QCOMPARE(p.readString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QCOMPARE(p.readInteger(QStringLiteral("M"), QStringLiteral("K"), 5), 5);
        QCOMPARE(p.readBool(QStringLiteral("M"), QStringLiteral("K"), true), true);
        QVERIFY(p.sections().isEmpty());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("none"))));
    }

    // Each write changes only that key's value bytes, or adds one line, or a section at the end.
    void writePreservesBytes_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file") << QByteArray() << "Main"
                                  << "K"
                                  << "v" << QByteArray("[Main]\nK=v\n");
        QTest::newRow("replace, CRLF, comments, foreign keys")
            << QByteArray(
                   "; made by hand\r\n[Main]\r\nOther=1\r\n  k = old ; still value\r\n\r\n[Next]\r\nK=x\r\n")
            << "MAIN"
            << "K"
            << "new"
            << QByteArray("; made by hand\r\n[Main]\r\nOther=1\r\n  k = new\r\n\r\n[Next]\r\nK=x\r\n");
        QTest::newRow("mixed line endings kept per line")
            << QByteArray("[A]\r\nX=1\n[M]\nK=1\r\nL=2\n") << "M"
            << "K"
            << "22" << QByteArray("[A]\r\nX=1\n[M]\nK=22\r\nL=2\n");
        QTest::newRow("byte-order mark and bad UTF-8 kept")
            << QByteArray("\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=1\n") << "M"
            << "K"
            << "\xC3\xA9" << QByteArray("\xEF\xBB\xBF[M]\nJunk=\xFF\xFE\xC3\n;\x80\nK=\xC3\xA9\n");
        QTest::newRow("added after the last key, not after blanks")
            << QByteArray("[M]\nA=1\n; note\nB=2\n\n; next\n[N]\nA=1\n") << "M"
            << "C"
            << "3" << QByteArray("[M]\nA=1\n; note\nB=2\nC=3\n\n; next\n[N]\nA=1\n");
        QTest::newRow("added with the file's CRLF") << QByteArray("[M]\r\nA=1\r\n") << "M"
                                                    << "B"
                                                    << "2" << QByteArray("[M]\r\nA=1\r\nB=2\r\n");
        QTest::newRow("added under a header with no keys") << QByteArray("[M]\n\n[N]\n") << "M"
                                                           << "B"
                                                           << "2" << QByteArray("[M]\nB=2\n\n[N]\n");
        QTest::newRow("added after an unterminated last line") << QByteArray("[M]\nA=1") << "M"
                                                               << "B"
                                                               << "2" << QByteArray("[M]\nA=1\nB=2");
        QTest::newRow("new section at the end, CRLF")
            << QByteArray("; c\r\n[M]\r\nA=1\r\n") << "N"
            << "B"
            << "2" << QByteArray("; c\r\n[M]\r\nA=1\r\n[N]\r\nB=2\r\n");
        QTest::newRow("new section after an unterminated line") << QByteArray("[M]\nA=1") << "N"
                                                                << "B"
                                                                << "2" << QByteArray("[M]\nA=1\n[N]\nB=2\n");
        QTest::newRow("new section after a byte-order mark alone")
            << QByteArray("\xEF\xBB\xBF") << "N"
            << "B"
            << "2" << QByteArray("\xEF\xBB\xBF[N]\nB=2\n");
        QTest::newRow("only the first matching section changes")
            << QByteArray("[M]\nA=1\n[M]\nK=old\n") << "M"
            << "K"
            << "v" << QByteArray("[M]\nA=1\nK=v\n[M]\nK=old\n");
        QTest::newRow("line breaks become blanks") << QByteArray("[M]\nK=1\nL=2\n") << "M"
                                                   << "K"
                                                   << "a\nb\r\nc\rd" << QByteArray("[M]\nK=a b c d\nL=2\n");
        QTest::newRow("names written trimmed") << QByteArray() << " M "
                                               << " K "
                                               << "v" << QByteArray("[M]\nK=v\n");
        QTest::newRow("surrounding blanks kept by quoting") << QByteArray("[M]\nK=1\n") << "M"
                                                            << "K"
                                                            << " v " << QByteArray("[M]\nK=\" v \"\n");
        QTest::newRow("value that looks like a section") << QByteArray("[M]\nK=1\n") << "M"
                                                         << "K"
                                                         << "[N]" << QByteArray("[M]\nK=[N]\n");
    }
    void writePreservesBytes() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            QVERIFY(writeBytes(path(), before));
        Profile p(path());
        p.writeString(section, key, value);
        QCOMPARE(readBytes(path()), after);
        QCOMPARE(leftovers(m_dir.path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // Every value a caller can write reads back as it was (line breaks apart).
    void roundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "SALES";
        QTest::newRow("empty") << "";
        QTest::newRow("leading blank") << " x";
        QTest::newRow("double-quoted") << "\"NAME\"";
        QTest::newRow("SQL with single quotes") << "'a' = 'b'";
        QTest::newRow("two quotes") << "\"\"";
        QTest::newRow("semicolon and equals") << "; a=b";
        QTest::newRow("Cyrillic") << QString::fromUtf8("\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82");
        QTest::newRow("5,000 characters") << QString(5000, QLatin1Char('q')) + QStringLiteral("END");
    }
    void roundTrip() {
        QFETCH(QString, value);
        Profile p(path());
        p.writeString(QStringLiteral("M"), QStringLiteral("K"), value);
        p.writeString(QStringLiteral("M"), QStringLiteral("After"), QStringLiteral("x"));
        QCOMPARE(Profile(path()).readString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("d")),
                 value);
    }

    void longValueWrittenByAnotherProgram() {
        const QByteArray cond = "NAME = 'x' AND " + QByteArray(5000, 'c') + " END";
        QVERIFY(writeBytes(path(), "[Query]\r\nCondition=" + cond + "\r\n"));
        const QString got =
            Profile(path()).readString(QStringLiteral("Query"), QStringLiteral("Condition"), {});
        QCOMPARE(got.size(), cond.size());
        QCOMPARE(got.toLatin1(), cond);
    }

    // Another program writes a key between two of ours: only the key being written changes.
    void otherProgramBetweenWrites() {
        QVERIFY(writeBytes(path(), "[Main]\nA=1\n; theirs\n[Tool]\nT=1\n"));
        Profile p(path());
        p.writeString(QStringLiteral("Main"), QStringLiteral("A"), QStringLiteral("2"));
        QVERIFY(writeBytes(path(), readBytes(path()).replace("T=1", "T=9\nZARMEK=done")));
        p.writeString(QStringLiteral("Main"), QStringLiteral("B"), QStringLiteral("3"));
        QCOMPARE(readBytes(path()), QByteArray("[Main]\nA=2\nB=3\n; theirs\n[Tool]\nT=9\nZARMEK=done\n"));
    }

    void badNamesRefused_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("] in section") << "a]b"
                                      << "K";
        QTest::newRow("line break in section") << "a\nb"
                                               << "K";
        QTest::newRow("empty section") << "  "
                                       << "K";
        QTest::newRow("= in key") << "M"
                                  << "a=b";
        QTest::newRow("line break in key") << "M"
                                           << "a\nb";
        QTest::newRow("key starting with ;") << "M"
                                             << " ;k";
        QTest::newRow("key that reads as a section") << "M"
                                                     << "[N]";
        QTest::newRow("empty key") << "M"
                                   << "";
    }
    void badNamesRefused() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        const QByteArray before("[M]\nK=1\n");
        QVERIFY(writeBytes(path(), before));
        Profile p(path());
        QVERIFY_THROWS_EXCEPTION(ProfileArgumentError, p.writeString(section, key, QStringLiteral("v")));
        // A batch with one bad entry writes nothing at all.
        QVERIFY_THROWS_EXCEPTION(
            ProfileArgumentError,
            p.writeEntries({{QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("2")},
                            {section, key, QStringLiteral("v")}}));
        QCOMPARE(readBytes(path()), before);
        QVERIFY_THROWS_EXCEPTION(
            ProfileArgumentError,
            Profile(path(QStringLiteral("new.ini"))).writeString(section, key, QString()));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("new.ini"))));
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
        QVERIFY(writeBytes(path(QStringLiteral("plain")), old));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("adir")));
        QVERIFY(QFile::link(path(QStringLiteral("loop")), path(QStringLiteral("loop"))));
        QVERIFY(writeBytes(path(QStringLiteral("ro.ini")), old));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("ro.ini")), QFile::ReadOwner | QFile::ReadOther));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("rodir")));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("rodir")), QFile::ReadOwner | QFile::ExeOwner));
        const QStringList before =
            QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);

        const QString name = path(target);
        Profile p(name);
        QString message;
        try {
            p.writeString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("2"));
        } catch (const ProfileWriteError& e) {
            message = QString::fromUtf8(e.what());
        }
        QCOMPARE(message, QStringLiteral("Unable to write to ") + name);
        QCOMPARE(readBytes(path(QStringLiteral("plain"))), old);
        QCOMPARE(readBytes(path(QStringLiteral("ro.ini"))), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
        QCOMPARE(leftovers(path(QStringLiteral("rodir")), {}), QStringList());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
        QFile::setPermissions(path(QStringLiteral("rodir")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void readOnlyDirectoryWritesInPlace() {
        if (isRoot())
            QSKIP("permission checks do not stop root");
        const QString dir = path(QStringLiteral("rodir"));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("rodir")));
        const QString file = dir + QStringLiteral("/t.ini");
        QVERIFY(writeBytes(file, "[M]\r\nK=1\r\nL=2\r\n"));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        Profile p(file);
        p.writeString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("longer value"));
        p.writeString(QStringLiteral("M"), QStringLiteral("L"), QString());
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readBytes(file), QByteArray("[M]\r\nK=longer value\r\nL=\r\n"));
        QCOMPARE(leftovers(dir, {QStringLiteral("t.ini")}), QStringList());
    }

    void permissionsAndLinksKept() {
        const QString real = path(QStringLiteral("real.ini"));
        QVERIFY(writeBytes(real, "[M]\nK=1\n"));
        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
        QVERIFY(QFile::link(QStringLiteral("real.ini"), path(QStringLiteral("link.ini"))));
        Profile(path(QStringLiteral("link.ini"))).writeString(QStringLiteral("M"), QStringLiteral("K"), "2");
        QVERIFY(QFileInfo(path(QStringLiteral("link.ini"))).isSymLink());
        QCOMPARE(readBytes(real), QByteArray("[M]\nK=2\n"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(real).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), 0640);
        QCOMPARE(leftovers(m_dir.path(), {QStringLiteral("real.ini"), QStringLiteral("link.ini")}),
                 QStringList());
    }

    void bareNameInConfigurationDirectory() {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (config.isEmpty())
            QSKIP("needs the throwaway XDG_CONFIG_HOME the test runner sets");
        QDir(config + QStringLiteral("/Ledgerwick")).removeRecursively();
        Profile p(QStringLiteral("l_wick.ini"));
        QCOMPARE(p.fileName(), QStringLiteral("l_wick.ini"));
        QCOMPARE(p.filePath(), config + QStringLiteral("/Ledgerwick/l_wick.ini"));
        QCOMPARE(p.readString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QVERIFY(!QFileInfo::exists(config + QStringLiteral("/Ledgerwick")));
        p.writeBool(QStringLiteral("Options"), QStringLiteral("Show"), true);
        QCOMPARE(readBytes(config + QStringLiteral("/Ledgerwick/l_wick.ini")),
                 QByteArray("[Options]\nShow=1\n"));
    }

    void sectionsAndKeysInFileOrder() {
        QVERIFY(writeBytes(path(), "K=0\n[Zeta]\nB=1\n;C=1\nA=2\nb=3\n[Alpha]\nX=1\n[zeta]\nD=1\n"));
        Profile p(path());
        QCOMPARE(p.sections(), QStringList({QStringLiteral("Zeta"), QStringLiteral("Alpha")}));
        QCOMPARE(p.keys(QStringLiteral("ZETA")), QStringList({QStringLiteral("B"), QStringLiteral("A")}));
        QVERIFY(p.keys(QStringLiteral("None")).isEmpty());
    }

    void batchEqualsSingleWrites() {
        const QByteArray start("; header\r\n[Report]\r\nName=old\r\n\r\n[Other]\r\nX=1\r\n");
        const QList<ProfileEntry> entries = {
            {QStringLiteral("Report"), QStringLiteral("Name"), QStringLiteral("SALES")},
            {QStringLiteral("Report"), QStringLiteral("Type"), QStringLiteral("1")},
            {QStringLiteral("Source"), QStringLiteral("Alias"), QStringLiteral("DEMO")},
            {QStringLiteral("report"), QStringLiteral("name"), QStringLiteral("final")},
            {QStringLiteral("Source"), QStringLiteral("Query"), QStringLiteral("a\nb")}};
        QVERIFY(writeBytes(path(QStringLiteral("single.ini")), start));
        Profile single(path(QStringLiteral("single.ini")));
        for (const ProfileEntry& e : entries)
            single.writeString(e.section, e.key, e.value);
        QVERIFY(writeBytes(path(QStringLiteral("batch.ini")), start));
        Profile(path(QStringLiteral("batch.ini"))).writeEntries(entries);
        QCOMPARE(readBytes(path(QStringLiteral("batch.ini"))), readBytes(path(QStringLiteral("single.ini"))));
        QCOMPARE(readBytes(path(QStringLiteral("batch.ini"))),
                 QByteArray("; header\r\n[Report]\r\nName=final\r\nType=1\r\n\r\n[Other]\r\nX=1\r\n"
                            "[Source]\r\nAlias=DEMO\r\nQuery=a b\r\n"));
    }

    // A megabyte file: the one key changes, every other byte stays, and it does not take long.
    void largeFile() {
        QByteArray bytes;
        for (int i = 0; i < 31000; ++i) {
            if (i % 50 == 0)
                bytes += "[Section" + QByteArray::number(i / 50) + "]\r\n";
            bytes += "Key" + QByteArray::number(i) + "=value of key " + QByteArray::number(i) + "\r\n";
        }
        QVERIFY(writeBytes(path(), bytes));
        Profile p(path());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(p.readString(QStringLiteral("Section619"), QStringLiteral("Key30999"), {}),
                 QStringLiteral("value of key 30999"));
        p.writeString(QStringLiteral("Section300"), QStringLiteral("Key15000"), QStringLiteral("changed"));
        QVERIFY2(timer.elapsed() < 5000, "a read and a write of a 1 MB file took seconds");
        QCOMPARE(readBytes(path()),
                 QByteArray(bytes).replace("Key15000=value of key 15000", "Key15000=changed"));
    }

    // Several processes write different keys of one file at once: none is lost.
    void concurrentWriters() {
        const QString file = path();
        QVERIFY(writeBytes(file, "; shared\n[Keep]\nK=1\n"));
        const int writers = 4;
        const int perWriter = 25;
        QList<QProcess*> procs;
        for (int w = 0; w < writers; ++w) {
            auto* proc = new QProcess(this);
            proc->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            proc->start(QStringLiteral(LW_PROFILE_WRITER),
                        {QStringLiteral("write"), file, QStringLiteral("Shared"),
                         QStringLiteral("W%1_").arg(w), QString::number(perWriter)});
            procs << proc;
        }
        for (QProcess* proc : procs) {
            QVERIFY(proc->waitForFinished(120000));
            QCOMPARE(proc->exitStatus(), QProcess::NormalExit);
            QCOMPARE(proc->exitCode(), 0);
        }
        Profile p(file);
        QCOMPARE(p.readString(QStringLiteral("Keep"), QStringLiteral("K"), {}), QStringLiteral("1"));
        QCOMPARE(p.keys(QStringLiteral("Shared")).size(), writers * perWriter);
        for (int w = 0; w < writers; ++w) {
            for (int i = 0; i < perWriter; ++i) {
                const QString prefix = QStringLiteral("W%1_").arg(w);
                QCOMPARE(p.readString(QStringLiteral("Shared"), prefix + QString::number(i), {}),
                         QStringLiteral("value %1 of %2").arg(i).arg(prefix));
            }
        }
        QVERIFY(readBytes(file).startsWith("; shared\n[Keep]\nK=1\n[Shared]\n"));
        QCOMPARE(leftovers(m_dir.path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // A write that runs out of space (here: past the process's file-size limit) leaves the old file.
    void fullDisk() {
        const QString file = path();
        const QByteArray old = "[M]\r\nK=" + QByteArray(100, 'o') + "\r\n";
        QVERIFY(writeBytes(file, old));
        QProcess writer;
        writer.start(QStringLiteral(LW_PROFILE_WRITER),
                     {QStringLiteral("limited"), file, QStringLiteral("1000"), QStringLiteral("M"),
                      QStringLiteral("K"), QStringLiteral("5000")});
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitCode(), 3);
        QCOMPARE(writer.readAllStandardOutput().trimmed(),
                 (QStringLiteral("Unable to write to ") + file).toUtf8());
        QCOMPARE(readBytes(file), old);
        QCOMPARE(leftovers(m_dir.path(), {QStringLiteral("t.ini")}), QStringList());
    }

    // A lock left by a process that died is taken over; a live one is waited for, but not forever.
    void locks() {
        const QString file = path();
        QVERIFY(writeBytes(file, "[M]\nK=1\n"));
        QProcess holder;
        holder.start(QStringLiteral(LW_PROFILE_WRITER), {QStringLiteral("hold"), file});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

        Profile::setLockTimeout(300);
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(ProfileWriteError,
                                 Profile(file).writeString(QStringLiteral("M"), QStringLiteral("K"), "2"));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(readBytes(file), QByteArray("[M]\nK=1\n"));

        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(QFileInfo::exists(file + QStringLiteral(".lock")));
        Profile::setLockTimeout(5000);
        Profile(file).writeString(QStringLiteral("M"), QStringLiteral("K"), QStringLiteral("3"));
        QCOMPARE(readBytes(file), QByteArray("[M]\nK=3\n"));
        QVERIFY(!QFileInfo::exists(file + QStringLiteral(".lock")));
    }
};

QTEST_GUILESS_MAIN(TstProfile)
#include "tst_profile.moc"
