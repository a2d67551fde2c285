// The profile store between users of one machine: two writers of one shared file, planted links,
// what a killed writer leaves, file groups, folders that take no lock, and the size bound.
// The cases with other users make two throwaway users (root only) and run writers as them.
#include "platform/profile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace lw;
using test::readFile;
using test::writeFile;

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_mode = 0;
    return st;
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TstProfileShared : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_base; // readable by all: holds the writer program and the folders
    QString m_writer;                      // the test writer, copied where the throwaway users may run it
    QString m_userA, m_userB, m_group;     // empty unless made
    uid_t m_uidA = 0, m_uidB = 0;
    gid_t m_gid = 0;

    QString folder(const QString& name, mode_t mode) const {
        const QString dir = m_base->filePath(name);
        if (!QDir().mkpath(dir) || ::chmod(QFile::encodeName(dir).constData(), mode) != 0)
            return {};
        return dir;
    }

    // The writer program started as a throwaway user, with the user's own groups.
    void startAs(QProcess& p, const QString& user, const QStringList& args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("HOME", m_base->path());
        p.setProcessEnvironment(env);
        p.start("setpriv",
                QStringList{"--reuid=" + user, "--regid=" + user, "--init-groups", "--", m_writer} + args);
    }
    int runAs(const QString& user, const QStringList& args, QByteArray* output = nullptr) const {
        QProcess p;
        startAs(p, user, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        if (output)
            *output = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitCode();
    }

private slots:
    void initTestCase() {
        // On tmpfs where there is one, so that a thousand writes take no time at disk speed.
        const QString shm = QStringLiteral("/dev/shm");
        m_base = std::make_unique<QTemporaryDir>(
            (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath()) +
            "/lw-shared-XXXXXX");
        QVERIFY(m_base->isValid());
        QVERIFY(::chmod(QFile::encodeName(m_base->path()).constData(), 0755) == 0);
        m_writer = m_base->filePath("profile_writer");
        QVERIFY(QFile::copy(LW_PROFILE_WRITER, m_writer));
        QVERIFY(QFile::setPermissions(m_writer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther));
        if (::geteuid() != 0)
            return;
        // Two users with a personal group each, both also in one shared group.
        const QString tag = QString::number(::getpid());
        const QString group = "lwg" + tag, a = "lwa" + tag, b = "lwb" + tag;
        QVERIFY(run("groupadd", {group}));
        m_group = group;
        QVERIFY(run("useradd", {"-M", "-U", "-s", "/usr/sbin/nologin", "-G", group, a}));
        m_userA = a;
        QVERIFY(run("useradd", {"-M", "-U", "-s", "/usr/sbin/nologin", "-G", group, b}));
        m_userB = b;
        QProcess id;
        auto number = [&id](const QStringList& args) {
            id.start("id", args);
            id.waitForFinished(10000);
            return id.readAllStandardOutput().trimmed().toUInt();
        };
        m_uidA = number({"-u", a});
        m_uidB = number({"-u", b});
        id.start("getent", {"group", group});
        id.waitForFinished(10000);
        m_gid = id.readAllStandardOutput().split(':').value(2).toUInt();
        QVERIFY(m_uidA && m_uidB && m_gid);
    }

    void cleanupTestCase() {
        for (const QString& user : {m_userA, m_userB}) {
            if (!user.isEmpty())
                run("userdel", {user});
        }
        if (!m_group.isEmpty())
            run("groupdel", {m_group});
    }

    void init() { Profile::setLockTimeout(10000); }

    // Two users write a thousand keys each into one 0666 file in a 0777 folder at once, with a
    // umask that would keep the lock file from the other: no key is lost.
    void twoUsersOneFile() {
        if (m_userA.isEmpty())
            QSKIP("needs root to make throwaway users");
        const QString dir = folder("shared", 0777);
        const QString file = dir + "/sales.pr";
        QVERIFY(writeFile(file, "[REPORT]\nName=Sales\n"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0666) == 0);
        const mode_t mask = ::umask(077);
        QProcess a, b;
        startAs(a, m_userA, {"write", file, "Shared", "A", "1000"});
        startAs(b, m_userB, {"write", file, "Shared", "B", "1000"});
        ::umask(mask);
        for (QProcess* p : {&a, &b}) {
            QVERIFY(p->waitForFinished(120000));
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     p->readAllStandardError());
        }
        const Profile profile(file);
        QCOMPARE(profile.keys("Shared").size(), 2000);
        const ProfileSection shared = profile.readSections({"Shared"}).at(0);
        for (int i = 0; i < 1000; ++i) {
            QCOMPARE(shared.readString("A" + QString::number(i), {}), QStringLiteral("value %1 of A").arg(i));
            QCOMPARE(shared.readString("B" + QString::number(i), {}), QStringLiteral("value %1 of B").arg(i));
        }
        QCOMPARE(int(statOf(file).st_mode & 07777), 0666);
        QCOMPARE(test::leftovers(dir, {"sales.pr"}), QStringList());
    }

    // A lock that one user's killed writer held on a file in a sticky folder (where the other user
    // may not replace the file, only rewrite it) is free for the other user at once.
    void lockLeftByAnotherUser() {
        if (m_userA.isEmpty())
            QSKIP("needs root to make throwaway users");
        const QString dir = folder("sticky", 01777);
        const QString file = dir + "/sales.pr";
        QVERIFY(writeFile(file, "[REPORT]\nName=Sales\n"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0666) == 0);
        QProcess holder;
        startAs(holder, m_userA, {"hold", file});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));

        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runAs(m_userB, {"write", file, "REPORT", "B", "1"}, &output), 0);
        QVERIFY(timer.elapsed() < 5000); // not the ten seconds of waiting for a holder
        QCOMPARE(Profile(file).readString("REPORT", "B0", {}), QStringLiteral("value 0 of B"));
        QCOMPARE(test::leftovers(dir, {"sales.pr"}), QStringList());
    }

    // A link is followed only where the kernel's rule for shared folders would follow it; a link
    // another user planted in a sticky world-writable folder is refused and its target untouched.
    void plantedLinks_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("byOther"); // the link made by another user, not by the writer
        QTest::addColumn<bool>("followed");
        QTest::newRow("other user's link, sticky shared folder") << 01777 << true << false;
        QTest::newRow("own link, sticky shared folder") << 01777 << false << true;
        QTest::newRow("other user's link, folder without sticky bit") << 0777 << true << true;
    }
    void plantedLinks() {
        QFETCH(int, folderMode);
        QFETCH(bool, byOther);
        QFETCH(bool, followed);
        if (byOther && m_userA.isEmpty())
            QSKIP("needs root to make throwaway users");
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).remove('\'').replace(' ', '-');
        const QString dir = folder("links-" + tag, mode_t(folderMode));
        const QString target = m_base->filePath("victim-" + tag + ".ini");
        const QString link = dir + "/sales.pr";
        const QByteArray secret = "[M]\nK=secret\n";
        QVERIFY(writeFile(target, secret));
        if (byOther) {
            QProcess ln;
            ln.start("setpriv", {"--reuid=" + m_userA, "--regid=" + m_userA, "--init-groups", "--", "ln",
                                 "-s", target, link});
            QVERIFY(ln.waitForFinished(10000) && ln.exitCode() == 0);
        } else {
            QVERIFY(QFile::link(target, link));
        }

        QString message;
        try {
            Profile(link).writeString("M", "K", "written");
        } catch (const ProfileWriteError& e) {
            message = QString::fromUtf8(e.what());
        }
        QCOMPARE(message, followed ? QString() : "Unable to write to " + link);
        QCOMPARE(readFile(target), followed ? QByteArray("[M]\nK=written\n") : secret);
        QVERIFY(S_ISLNK(statOf(link).st_mode));
        QCOMPARE(test::leftovers(dir, {"sales.pr"}), QStringList());
    }

    // A writer killed in the middle of its write (by the file-size limit's signal) leaves a
    // temporary file that only the file's owner may read, with the file's owner and group; the
    // next writer removes it.
    void killedWriter() {
        const QString dir = folder("killed", 0755);
        const QString file = dir + "/secret.ini";
        const QByteArray before = "[M]\nK=" + QByteArray(100, 's') + "\n";
        QVERIFY(writeFile(file, before));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0600) == 0);
        const bool root = ::geteuid() == 0 && m_uidA;
        if (root)
            QVERIFY(::chown(QFile::encodeName(file).constData(), m_uidA, m_gid) == 0);

        QProcess writer;
        writer.start(m_writer, {"killed", file, "4096", "M", "K", "20000"});
        QVERIFY(writer.waitForStarted(30000));
        const qint64 pid = writer.processId();
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(file), before);
        const QString temporary = QStringLiteral(".secret.ini.%1.tmp").arg(pid);
        QCOMPARE(test::leftovers(dir, {"secret.ini"}), QStringList{temporary});
        const struct stat st = statOf(dir + '/' + temporary);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        QVERIFY(st.st_size > 0 && st.st_size <= 4096);
        if (root) {
            QCOMPARE(st.st_uid, m_uidA);
            QCOMPARE(st.st_gid, m_gid);
        }

        Profile(file).writeString("M", "K", "after");
        QCOMPARE(test::leftovers(dir, {"secret.ini"}), QStringList());
        const struct stat after = statOf(file);
        QCOMPARE(int(after.st_mode & 07777), 0600);
        if (root) {
            QCOMPARE(after.st_uid, m_uidA);
            QCOMPARE(after.st_gid, m_gid);
        }
    }

    // A user's write keeps the file's group when that is one of the user's groups, and the file's
    // permissions; another member of the group can then write it too.
    void groupKept() {
        if (m_userA.isEmpty())
            QSKIP("needs root to make throwaway users");
        const QString dir = folder("group", 0770);
        QVERIFY(::chown(QFile::encodeName(dir).constData(), 0, m_gid) == 0);
        const QString file = dir + "/team.pr";
        QVERIFY(writeFile(file, "[REPORT]\nName=Team\n"));
        QVERIFY(::chown(QFile::encodeName(file).constData(), m_uidA, m_gid) == 0);
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0660) == 0);
        QByteArray output;
        QCOMPARE(runAs(m_userA, {"write", file, "REPORT", "A", "1"}, &output), 0);
        QCOMPARE(statOf(file).st_gid, m_gid);
        QCOMPARE(runAs(m_userB, {"write", file, "REPORT", "B", "1"}, &output), 0);
        const struct stat st = statOf(file);
        QCOMPARE(st.st_gid, m_gid);
        QCOMPARE(int(st.st_mode & 07777), 0660);
        QCOMPARE(Profile(file).keys("REPORT"), (QStringList{"Name", "A0", "B0"}));
        QCOMPARE(test::leftovers(dir, {"team.pr"}), QStringList());
    }

    // A file that others may write, in a folder they may not add to: the lock is on the file itself,
    // so their write rewrites it in place (the same file, its owner kept); a new file there is
    // refused with its name and nothing is left behind.
    void writableFileInClosedFolder() {
        if (m_userA.isEmpty())
            QSKIP("needs root to make throwaway users");
        const QString dir = folder("locked-out", 0755);
        const QString file = dir + "/open.pr";
        QVERIFY(writeFile(file, "[REPORT]\nName=Open\n"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0666) == 0);
        const struct stat before = statOf(file);
        QByteArray output;
        QCOMPARE(runAs(m_userA, {"write", file, "REPORT", "A", "2"}, &output), 0);
        QCOMPARE(Profile(file).keys("REPORT"), (QStringList{"Name", "A0", "A1"}));
        const struct stat after = statOf(file);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_uid, before.st_uid);

        const QString fresh = dir + "/new.pr";
        QCOMPARE(runAs(m_userA, {"write", fresh, "REPORT", "A", "1"}, &output), 1);
        QCOMPARE(output.trimmed(), ("Unable to write to " + fresh).toUtf8());
        QCOMPARE(test::leftovers(dir, {"open.pr"}), QStringList());
    }

    // A file past the bound is an error for every read and write, found without reading it; a read
    // that finds no memory for the file is an error too.
    void sizeBound() {
        const QString dir = folder("bound", 0755);
        const QString file = dir + "/huge.pr";
        QVERIFY(writeFile(file, "[REPORT]\nName=Huge\n"));
        const qint64 size = 3LL * 1024 * 1024 * 1024;
        QVERIFY(::truncate(QFile::encodeName(file).constData(), size) == 0);
        const QString tooLarge = "Unable to read " + file + ": the file is larger than 16 MiB";
        const Profile huge(file);
        QVERIFY_THROWS_EXCEPTION(ProfileReadError, huge.readString("REPORT", "Name", {}));
        try {
            huge.readSections({"REPORT"});
            QFAIL("read past the bound");
        } catch (const ProfileReadError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), tooLarge);
        }
        QVERIFY_THROWS_EXCEPTION(ProfileReadError, huge.keys("REPORT"));
        QVERIFY_THROWS_EXCEPTION(ProfileWriteError, Profile(file).writeString("REPORT", "Name", "x"));
        QCOMPARE(QFileInfo(file).size(), size);
        QCOMPARE(test::leftovers(dir, {"huge.pr"}), QStringList());

        const QString big = dir + "/big.pr";
        QVERIFY(writeFile(big, QByteArray(12 * 1024 * 1024, ';') + "\n[REPORT]\nName=Big\n"));
        QCOMPARE(Profile(big).readString("REPORT", "Name", {}), QStringLiteral("Big"));
        QProcess reader;
        reader.start(m_writer, {"lowmem", big, "REPORT", "Name"});
        QVERIFY(reader.waitForFinished(30000));
        QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
        QCOMPARE(reader.readAllStandardOutput().trimmed(),
                 ("Unable to read " + big + ": not enough memory").toUtf8());
        QCOMPARE(reader.exitCode(), 4);
    }
};

QTEST_GUILESS_MAIN(TstProfileShared)
#include "tst_profile_shared.moc"
