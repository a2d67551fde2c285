// The message port and ledgerwick-post: delivery, junk that must change nothing, access and stale sockets.
#include "platform/messageport.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

using namespace lw;
using lw::test::waitFor;

class TstMessagePort : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A real runtime directory is closed to others; the throwaway one of the test run may not be.
        QFile::setPermissions(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The socket is named after the main window's class and our pid, closed to others; sockets of
    // dead processes go, live ones stay, the newest first.
    void portFiles() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath(QStringLiteral("ports"));
        QProcess ended;
        ended.start(QStringLiteral("/bin/true"), {});
        QVERIFY(ended.waitForStarted());
        const QString deadPort = dir + QStringLiteral("/TMainForm-") + QString::number(ended.processId());
        QVERIFY(ended.waitForFinished());
        const QString parentPort = dir + QStringLiteral("/TMainForm-") + QString::number(getppid());
        QVERIFY(test::writeFile(deadPort, "") && test::writeFile(parentPort, ""));
        QFile parent(parentPort);
        QVERIFY(parent.open(QIODevice::ReadWrite));
        QVERIFY(
            parent.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        parent.close();

        MessagePort port;
        QVERIFY2(port.listen(dir), qPrintable(port.errorString()));
        QCOMPARE(port.address(), dir + QStringLiteral("/TMainForm-") + QString::number(getpid()));
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                            QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(dir).permissions() & others, QFile::Permissions());
        QCOMPARE(QFileInfo(port.address()).permissions() & others, QFile::Permissions());
        QVERIFY(!QFileInfo::exists(deadPort));
        QCOMPARE(MessagePort::livePorts(dir), QStringList({port.address(), parentPort}));
        port.close();
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/TMainForm-") + QString::number(getpid())));
    }

    // Whatever a client sends, only a well-formed first line counts, and the port keeps serving.
    void clientBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<int>("number"); // -1: nothing delivered
        QTest::newRow("word") << QByteArray("hello\n") << false << -1;
        QTest::newRow("empty line") << QByteArray("\r\n") << false << -1;
        QTest::newRow("signed") << QByteArray("-1029\n") << false << -1;
        QTest::newRow("beyond int") << QByteArray("2147483648\n") << false << -1;
        QTest::newRow("inner blank") << QByteArray("10 25\n") << false << -1;
        QTest::newRow("binary") << QByteArray("\x00\xff\x01\n", 4) << false << -1;
        QTest::newRow("over-long, terminated") << QByteArray(60, '1') + '\n' << false << -1;
        QTest::newRow("flood, never terminated") << QByteArray(100000, '7') << false << -1;
        QTest::newRow("junk, closed") << QByteArray("abc") << true << -1;
        QTest::newRow("nothing, closed") << QByteArray() << true << -1;
        QTest::newRow("CRLF") << QByteArray("1029\r\n") << false << 1029;
        QTest::newRow("blanks around") << QByteArray(" 1025\t\n") << false << 1025;
        QTest::newRow("two lines: the first counts") << QByteArray("1025\n1029\n") << false << 1025;
        QTest::newRow("unterminated, closed") << QByteArray("1029") << true << 1029;
    }
    void clientBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closeAfter);
        QFETCH(int, number);
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        QLocalSocket client;
        client.connectToServer(port.address());
        QVERIFY(client.waitForConnected(2000));
        client.write(bytes);
        client.flush();
        if (closeAfter)
            client.disconnectFromServer();
        QVERIFY(waitFor([&]() { return client.state() == QLocalSocket::UnconnectedState; }));
        QTest::qWait(20);
        QCOMPARE(spy.size(), number < 0 ? 0 : 1);
        if (number >= 0)
            QCOMPARE(spy.at(0).at(0).toInt(), number);

        QLocalSocket next;
        next.connectToServer(port.address());
        QVERIFY(next.waitForConnected(2000));
        next.write("1025\n");
        QVERIFY(waitFor([&]() { return spy.size() == (number < 0 ? 1 : 2); }, 2000));
    }

    // A client that connects and says nothing holds up nobody and is let go after a while.
    void silentClient() {
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        QLocalSocket silent, talker;
        silent.connectToServer(port.address());
        talker.connectToServer(port.address());
        QVERIFY(silent.waitForConnected(2000) && talker.waitForConnected(2000));
        talker.write("1029\n");
        QVERIFY(waitFor([&]() { return spy.size() == 1; }, 2000));
        QVERIFY(waitFor([&]() { return silent.state() == QLocalSocket::UnconnectedState; },
                        MessagePort::IdleTimeoutMs + 3000));
    }

    void postProgram_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas"); // empty: no complaint at all
        QTest::newRow("--window") << "window"
                                  << "1029" << 0 << "";
        QTest::newRow("environment") << "env"
                                     << "1025" << 0 << "";
        QTest::newRow("--window beats environment") << "window+badenv"
                                                    << "1029" << 0 << "";
        QTest::newRow("most recent main window") << "recent"
                                                 << "1029" << 0 << "";
        QTest::newRow("unreachable") << "badenv"
                                     << "1025" << 1 << "cannot reach";
        QTest::newRow("no main window running") << "none"
                                                << "1025" << 1 << "no running";
        QTest::newRow("not a number") << "window"
                                      << "WM_USER+5" << 2 << "not a decimal";
    }
    void postProgram() {
        QFETCH(QString, how);
        QFETCH(QString, number);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        QTemporaryDir tmp;
        MessagePort port;
        if (how != QLatin1String("none"))
            QVERIFY(how == QLatin1String("recent") ? port.listen() : port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LEDGERWICK_WINDOW"));
        QStringList args;
        if (how.startsWith(QLatin1String("window")))
            args << QStringLiteral("--window") << port.address();
        if (how == QLatin1String("env"))
            env.insert(QStringLiteral("LEDGERWICK_WINDOW"), port.address());
        if (how.endsWith(QLatin1String("badenv")))
            env.insert(QStringLiteral("LEDGERWICK_WINDOW"), tmp.filePath(QStringLiteral("TMainForm-9")));
        if (how == QLatin1String("none"))
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());

        QProcess post;
        post.setProcessEnvironment(env);
        post.start(qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR") + QStringLiteral("/ledgerwick-post"),
                   args << number);
        QVERIFY(post.waitForStarted());
        QVERIFY(waitFor([&]() { return post.state() == QProcess::NotRunning; }, 15000));
        const QByteArray err = post.readAllStandardError();
        QCOMPARE(post.exitCode(), exitCode);
        QVERIFY2(stderrHas.isEmpty() ? err.isEmpty() : err.contains(stderrHas.toUtf8()), err.constData());
        QCOMPARE(spy.size(), exitCode == 0 ? 1 : 0);
        if (exitCode == 0)
            QCOMPARE(spy.at(0).at(0).toString(), number);
    }
};

QTEST_GUILESS_MAIN(TstMessagePort)
#include "tst_messageport.moc"
