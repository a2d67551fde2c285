// The message port and ledgerwick-post: delivery, junk that must change nothing, access and stale sockets.
#include "platform/messageport.h"
#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <unistd.h>

using namespace lw;
using lw::test::waitFor;

namespace {

QString postProgram() {
    return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR") + QStringLiteral("/ledgerwick-post");
}

// The id of a process that has ended (and been reaped) a moment ago.
qint64 deadPid() {
    QProcess p;
    p.start(QStringLiteral("/bin/true"), {});
    if (!p.waitForStarted())
        return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

struct PostRun {
    int exitCode = -1;
    QByteArray err;
};

// Runs ledgerwick-post while this thread keeps serving the port.
PostRun runPost(const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(postProgram(), args);
    PostRun run;
    if (!p.waitForStarted(5000))
        return run;
    waitFor([&]() { return p.state() == QProcess::NotRunning; }, 15000);
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.err = p.readAllStandardError();
    return run;
}

} // namespace

class TstMessagePort : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A real runtime directory is closed to others; the throwaway one of the test run may not be.
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty())
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    void parseLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("number"); // -1: not a message
        QTest::newRow("restore") << QByteArray("1025") << 1025;
        QTest::newRow("done") << QByteArray("1029") << 1029;
        QTest::newRow("blanks and tab around") << QByteArray(" \t1029 ") << 1029;
        QTest::newRow("leading zeros") << QByteArray("0001025") << 1025;
        QTest::newRow("zero") << QByteArray("0") << 0;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("beyond int") << QByteArray("2147483648") << -1;
        QTest::newRow("eleven digits") << QByteArray("00000001025") << -1;
        QTest::newRow("empty") << QByteArray("") << -1;
        QTest::newRow("blanks only") << QByteArray("   ") << -1;
        QTest::newRow("negative") << QByteArray("-1025") << -1;
        QTest::newRow("plus sign") << QByteArray("+1025") << -1;
        QTest::newRow("inner blank") << QByteArray("10 25") << -1;
        QTest::newRow("hex") << QByteArray("0x401") << -1;
        QTest::newRow("word") << QByteArray("WM_USER+5") << -1;
        QTest::newRow("nul inside") << QByteArray("10\0" "25", 5) << -1;
        QTest::newRow("arabic-indic digit") << QByteArray("\xd9\xa1") << -1;
    }
    void parseLine() {
        QFETCH(QByteArray, line);
        QFETCH(int, number);
        const auto parsed = MessagePort::parseLine(line);
        if (number < 0)
            QVERIFY(!parsed.has_value());
        else
            QCOMPARE(parsed.value_or(-1), number);
    }

    void portNameAndAccess() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath(QStringLiteral("ports"));
        MessagePort port;
        QVERIFY2(port.listen(dir), qPrintable(port.errorString()));
        const QString expected = dir + QStringLiteral("/TMainForm-") + QString::number(QCoreApplication::applicationPid());
        QCOMPARE(port.address(), expected);
        QVERIFY(QFileInfo::exists(expected));
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                            QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(dir).permissions() & others, QFile::Permissions());
        QCOMPARE(QFileInfo(expected).permissions() & others, QFile::Permissions());
        port.close();
        QVERIFY(!QFileInfo::exists(expected));
    }

    void delivery() {
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        for (int number : {1029, 1025, 7}) {
            QString error;
            auto sent = std::async(std::launch::async,
                                   [&]() { return MessagePort::post(port.address(), number, &error); });
            QVERIFY(waitFor([&]() { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                            10000));
            QVERIFY2(sent.get(), qPrintable(error));
        }
        QCOMPARE(spy.size(), 3);
        QCOMPARE(spy.at(0).at(0).toInt(), 1029);
        QCOMPARE(spy.at(1).at(0).toInt(), 1025);
        QCOMPARE(spy.at(2).at(0).toInt(), 7); // delivered; the receiver decides what it handles
    }

    void postToNowhereFails() {
        QTemporaryDir tmp;
        QString error;
        bool reached = true;
        QVERIFY(!MessagePort::post(tmp.filePath(QStringLiteral("TMainForm-1")), 1025, &error, 2000, &reached));
        QVERIFY(!reached);
        QVERIFY(error.contains(QStringLiteral("cannot reach")));
    }

    // Whatever a client sends that is not a message is dropped, and the port keeps serving.
    void junk_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<QByteArray>("reply"); // what the client reads back
        QTest::newRow("word") << QByteArray("hello\n") << false << QByteArray("ERR\n");
        QTest::newRow("empty line") << QByteArray("\n") << false << QByteArray("ERR\n");
        QTest::newRow("negative") << QByteArray("-1029\n") << false << QByteArray("ERR\n");
        QTest::newRow("too big") << QByteArray("99999999999\n") << false << QByteArray("ERR\n");
        QTest::newRow("binary") << QByteArray("\x00\xff\x01\n", 4) << false << QByteArray("ERR\n");
        QTest::newRow("over-long, terminated") << QByteArray(60, '1') + '\n' << false << QByteArray("ERR\n");
        QTest::newRow("over-long, never terminated") << QByteArray(100000, '7') << false << QByteArray("ERR\n");
        QTest::newRow("unterminated junk, closed") << QByteArray("abc") << true << QByteArray();
        QTest::newRow("nothing, closed") << QByteArray() << true << QByteArray();
    }
    void junk() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closeAfter);
        QFETCH(QByteArray, reply);
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);

        QLocalSocket client;
        client.connectToServer(port.address());
        QVERIFY(client.waitForConnected(2000));
        client.write(bytes);
        QByteArray answer;
        if (closeAfter) {
            client.disconnectFromServer();
            QTest::qWait(200);
        } else {
            QVERIFY(waitFor([&]() {
                answer += client.readAll();
                return answer.contains('\n') || client.state() == QLocalSocket::UnconnectedState;
            }));
            answer += client.readAll();
            QCOMPARE(answer, reply);
        }
        QCOMPARE(spy.size(), 0);

        // The port still takes a real message at once.
        QLocalSocket next;
        next.connectToServer(port.address());
        QVERIFY(next.waitForConnected(2000));
        next.write("1025\n");
        QVERIFY(waitFor([&]() { return spy.size() == 1; }, 2000));
        QCOMPARE(spy.at(0).at(0).toInt(), 1025);
    }

    // A client that connects and says nothing holds up neither other clients nor the port, and
    // is let go after a while.
    void silentClient() {
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        QLocalSocket silent;
        silent.connectToServer(port.address());
        QVERIFY(silent.waitForConnected(2000));

        QLocalSocket talker;
        talker.connectToServer(port.address());
        QVERIFY(talker.waitForConnected(2000));
        talker.write("1029\r\n");
        QVERIFY(waitFor([&]() { return spy.size() == 1; }, 2000));
        QCOMPARE(spy.at(0).at(0).toInt(), 1029);

        QVERIFY(waitFor([&]() { return silent.state() == QLocalSocket::UnconnectedState; },
                        MessagePort::IdleTimeoutMs + 3000));
        QCOMPARE(spy.size(), 1);
    }

    // Only the first line of a connection counts; a line without terminator counts when the
    // client closes after it.
    void lineRules() {
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);

        QLocalSocket two;
        two.connectToServer(port.address());
        QVERIFY(two.waitForConnected(2000));
        two.write("1025\n1029\n");
        QVERIFY(waitFor([&]() { return two.state() == QLocalSocket::UnconnectedState; }));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1025);

        QLocalSocket unterminated;
        unterminated.connectToServer(port.address());
        QVERIFY(unterminated.waitForConnected(2000));
        unterminated.write("1029");
        unterminated.flush();
        unterminated.disconnectFromServer();
        QVERIFY(waitFor([&]() { return spy.size() == 2; }, 2000));
        QCOMPARE(spy.at(1).at(0).toInt(), 1029);
    }

    void staleSockets() {
        QTemporaryDir tmp;
        const QString dir = tmp.path();
        const qint64 dead = deadPid();
        QVERIFY(dead > 0);
        const QString deadPort = dir + QStringLiteral("/TMainForm-") + QString::number(dead);
        const QString otherFile = dir + QStringLiteral("/notes.txt");
        const QString parentPort = dir + QStringLiteral("/TMainForm-") + QString::number(getppid());
        QVERIFY(test::writeFile(deadPort, ""));
        QVERIFY(test::writeFile(otherFile, "x"));
        QVERIFY(test::writeFile(parentPort, ""));
        // The older one first: the newest live port comes first.
        QFile parent(parentPort);
        QVERIFY(parent.open(QIODevice::ReadWrite));
        QVERIFY(parent.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        parent.close();

        QCOMPARE(MessagePort::portPid(QStringLiteral("TMainForm-42")).value_or(0), 42);
        QVERIFY(!MessagePort::portPid(QStringLiteral("TMainForm-")).has_value());
        QVERIFY(!MessagePort::portPid(QStringLiteral("TMainForm-12x")).has_value());
        QVERIFY(!MessagePort::portPid(QStringLiteral("XMainForm-12")).has_value());

        MessagePort port;
        QVERIFY(port.listen(dir));
        QVERIFY(!QFileInfo::exists(deadPort));
        QVERIFY(QFileInfo::exists(otherFile));
        QVERIFY(QFileInfo::exists(parentPort));
        const QStringList live = MessagePort::livePorts(dir);
        QCOMPARE(live, QStringList({port.address(), QFileInfo(parentPort).absoluteFilePath()}));
    }

    void postProgram_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("received"); // -1: nothing
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("--window") << "window" << QStringList{"1029"} << 0 << 1029 << "";
        QTest::newRow("--window=") << "window=" << QStringList{"1025"} << 0 << 1025 << "";
        QTest::newRow("environment") << "env" << QStringList{"1025"} << 0 << 1025 << "";
        QTest::newRow("--window beats environment") << "window+badenv" << QStringList{"1029"} << 0 << 1029 << "";
        QTest::newRow("most recent main window") << "recent" << QStringList{"1029"} << 0 << 1029 << "";
        QTest::newRow("unreachable --window") << "badwindow" << QStringList{"1025"} << 1 << -1 << "cannot reach";
        QTest::newRow("unreachable environment") << "badenv" << QStringList{"1025"} << 1 << -1 << "cannot reach";
        QTest::newRow("no main window running") << "none" << QStringList{"1025"} << 1 << -1 << "no running";
        QTest::newRow("no number") << "window" << QStringList{} << 2 << -1 << "Usage";
        QTest::newRow("not a number") << "window" << QStringList{"WM_USER+5"} << 2 << -1 << "not a decimal";
        QTest::newRow("negative") << "window" << QStringList{"-5"} << 2 << -1 << "Usage";
        QTest::newRow("two numbers") << "window" << QStringList{"1025", "1029"} << 2 << -1 << "unexpected";
    }
    void postProgram() {
        QFETCH(QString, how);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(int, received);
        QFETCH(QString, stderrHas);
        QVERIFY2(QFileInfo(::postProgram()).isExecutable(), "ledgerwick-post is not built");

        QTemporaryDir tmp;
        MessagePort port;
        // "recent" and "none" rely on the port directory of this user's runtime directory.
        const bool inRuntime = how == QLatin1String("recent");
        if (how != QLatin1String("none"))
            QVERIFY2(inRuntime ? port.listen() : port.listen(tmp.path()), qPrintable(port.errorString()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LEDGERWICK_WINDOW"));
        const QString bogus = tmp.filePath(QStringLiteral("TMainForm-999999"));
        QStringList full;
        if (how == QLatin1String("window") || how == QLatin1String("window+badenv"))
            full << QStringLiteral("--window") << port.address();
        if (how == QLatin1String("window="))
            full << QStringLiteral("--window=") + port.address();
        if (how == QLatin1String("badwindow"))
            full << QStringLiteral("--window") << bogus;
        if (how == QLatin1String("env"))
            env.insert(QStringLiteral("LEDGERWICK_WINDOW"), port.address());
        if (how == QLatin1String("badenv") || how == QLatin1String("window+badenv"))
            env.insert(QStringLiteral("LEDGERWICK_WINDOW"), bogus);
        if (how == QLatin1String("none")) // an empty runtime directory of its own
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
        full << args;

        const PostRun run = runPost(full, env);
        QCOMPARE(run.exitCode, exitCode);
        if (!stderrHas.isEmpty())
            QVERIFY2(run.err.contains(stderrHas.toUtf8()), run.err.constData());
        else
            QVERIFY2(run.err.isEmpty(), run.err.constData());
        if (received < 0) {
            QTest::qWait(50);
            QCOMPARE(spy.size(), 0);
        } else {
            QCOMPARE(spy.size(), 1);
            QCOMPARE(spy.at(0).at(0).toInt(), received);
        }
    }
};

QTEST_GUILESS_MAIN(TstMessagePort)
#include "tst_messageport.moc"
