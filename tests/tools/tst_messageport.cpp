// The message port and ledgerwick-post: delivery, junk that must change nothing, access and stale sockets.
#include "platform/messageport.h"
#include "support/testsupport.h"

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
    // dead processes go, live ones stay.
    void portFiles() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("ports");
        QProcess ended;
        ended.start(QStringLiteral("/bin/true"), {});
        QVERIFY(ended.waitForStarted());
        const QString deadPort = dir + "/TMainForm-" + QString::number(ended.processId());
        QVERIFY(ended.waitForFinished());
        const QString parentPort = dir + "/TMainForm-" + QString::number(getppid());
        QVERIFY(test::writeFile(deadPort, "") && test::writeFile(parentPort, ""));

        MessagePort port;
        QVERIFY2(port.listen(dir), qPrintable(port.errorString()));
        const QString address = dir + "/TMainForm-" + QString::number(getpid());
        QCOMPARE(port.address(), address);
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                            QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(dir).permissions() & others, QFile::Permissions());
        QCOMPARE(QFileInfo(address).permissions() & others, QFile::Permissions());
        QVERIFY(!QFileInfo::exists(deadPort));
        QCOMPARE(MessagePort::livePorts(dir).size(), 2);
        QVERIFY(MessagePort::livePorts(dir).contains(parentPort));
        port.close();
        QVERIFY(!QFileInfo::exists(address));
    }

    // Whatever a client sends, only a well-formed first line counts; a client that says nothing is let
    // go after a while. Meanwhile the port serves the next client at once.
    void clientBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<int>("number"); // -1: nothing delivered
        QTest::newRow("binary") << QByteArray("\x00\xff\x01\n", 4) << false << -1;
        QTest::newRow("flood, never terminated") << QByteArray(100000, '7') << false << -1;
        QTest::newRow("nothing, kept open") << QByteArray() << false << -1;
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
        QLocalSocket client, next;
        client.connectToServer(port.address());
        QVERIFY(client.waitForConnected(2000));
        client.write(bytes);
        client.flush();
        if (closeAfter)
            client.disconnectFromServer();
        next.connectToServer(port.address());
        QVERIFY(next.waitForConnected(2000));
        next.write("1025\n");
        QList<int> expected{1025};
        if (number >= 0)
            expected << number;
        QVERIFY(waitFor([&]() { return spy.size() >= expected.size(); }, 2000));
        QVERIFY(waitFor([&]() { return client.state() == QLocalSocket::UnconnectedState; },
                        MessagePort::IdleTimeoutMs + 3000));
        QTest::qWait(20);
        QList<int> received;
        for (const QList<QVariant>& args : spy)
            received << args.at(0).toInt();
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(received, expected);
    }

    // ledgerwick-post finds the port by --window before LEDGERWICK_WINDOW (here unreachable), and exits 0
    // only when the message was delivered.
    void postProgram_data() {
        QTest::addColumn<bool>("withWindow");
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas"); // empty: no complaint at all
        QTest::newRow("--window beats environment") << true << "1029" << 0 << "";
        QTest::newRow("environment, unreachable") << false << "1025" << 1 << "cannot reach";
        QTest::newRow("not a number") << true << "WM_USER+5" << 2 << "not a decimal";
    }
    void postProgram() {
        QFETCH(bool, withWindow);
        QFETCH(QString, number);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LEDGERWICK_WINDOW"), tmp.filePath("TMainForm-9"));
        QStringList args;
        if (withWindow)
            args << QStringLiteral("--window") << port.address();

        QProcess post;
        post.setProcessEnvironment(env);
        post.start(qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR") + "/ledgerwick-post", args << number);
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
