// The message port and ledgerwick-post: delivery, junk that must change nothing, access and stale sockets,
// the limits of lines, paths and connections, and clients and servers written in another language.
#include "platform/messageport.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace lw;
using lw::test::waitFor;

namespace {

// A bare local-socket client that never blocks the event loop the port runs on.
class Peer {
public:
    Peer() = default;
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() { close(); }

    bool connectTo(const QString& path) {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.size() >= qsizetype(sizeof(address.sun_path)))
            return false;
        std::memcpy(address.sun_path, name.constData(), name.size());
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // A full backlog says EAGAIN: the port's event loop has to run first.
        return m_fd >= 0 &&
               waitFor(
                   [&]() {
                       return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 ||
                              errno == EISCONN;
                   },
                   2000);
    }
    // Sends what the socket takes at once; the rest of a flood would not be read anyway.
    void write(const QByteArray& bytes) {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // True once the port has ended the connection (or it was closed here).
    bool closed() {
        drain();
        return m_fd < 0 || m_ended;
    }
    QByteArray received() {
        drain();
        return m_received;
    }

private:
    void drain() {
        char chunk[256];
        while (m_fd >= 0 && !m_ended) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), MSG_DONTWAIT);
            if (n > 0) {
                m_received.append(chunk, n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            m_ended = true; // end of stream, or reset by a port that did not read everything
        }
    }

    int m_fd = -1;
    bool m_ended = false;
    QByteArray m_received;
};

QList<int> numbers(const QSignalSpy& spy) {
    QList<int> result;
    for (const QList<QVariant>& args : spy)
        result << args.at(0).toInt();
    return result;
}

QString python() {
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

} // namespace

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
        QTest::newRow("nothing, closed") << QByteArray() << true << -1;
        QTest::newRow("over-long unterminated, closed") << QByteArray(32, ' ') + "1" << true << -1;
    }
    void clientBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closeAfter);
        QFETCH(int, number);
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        Peer client, next;
        QVERIFY(client.connectTo(port.address()));
        client.write(bytes);
        if (closeAfter)
            client.close();
        QVERIFY(next.connectTo(port.address()));
        next.write("1025\n");
        QList<int> expected{1025};
        if (number >= 0)
            expected << number;
        QVERIFY(waitFor([&]() { return spy.size() >= expected.size(); }, 2000));
        QVERIFY(waitFor([&]() { return client.closed(); }, MessagePort::IdleTimeoutMs + 3000));
        QTest::qWait(20);
        QList<int> received;
        for (const QList<QVariant>& args : spy)
            received << args.at(0).toInt();
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(received, expected);
    }

    // What a client reads back for what it sent, in however many pieces, and what the port delivers.
    // A client that only shuts its sending side still gets its answer; every client is let go at once.
    void replies_data() {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<bool>("shutAfter");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("number"); // -1: nothing delivered
        const QByteArray blanks(28, ' ');
        QTest::newRow("line") << QByteArrayList{"12\n"} << false << QByteArray("OK\n") << 12;
        QTest::newRow("blanks, CRLF") << QByteArrayList{" \t1025\r\n"} << false << QByteArray("OK\n") << 1025;
        QTest::newRow("split over writes")
            << QByteArrayList{"1", "02", "9\r", "\n"} << false << QByteArray("OK\n") << 1029;
        QTest::newRow("longest line")
            << QByteArrayList{blanks + "1029\n"} << false << QByteArray("OK\n") << 1029;
        QTest::newRow("one byte too long")
            << QByteArrayList{blanks + " 1029\n"} << false << QByteArray("ERR\n") << -1;
        QTest::newRow("too long, split") << QByteArrayList{QByteArray(20, ' '), QByteArray(20, ' '), "5\n"}
                                         << false << QByteArray("ERR\n") << -1;
        QTest::newRow("beyond int") << QByteArrayList{"2147483648\n"} << false << QByteArray("ERR\n") << -1;
        QTest::newRow("sign") << QByteArrayList{"+12\n"} << false << QByteArray("ERR\n") << -1;
        QTest::newRow("second line not read") << QByteArrayList{"7\n8\n"} << false << QByteArray("OK\n") << 7;
        QTest::newRow("unterminated, sending side shut")
            << QByteArrayList{"1029"} << true << QByteArray("OK\n") << 1029;
        QTest::newRow("junk, sending side shut") << QByteArrayList{"x"} << true << QByteArray("ERR\n") << -1;
        QTest::newRow("nothing, sending side shut") << QByteArrayList{} << true << QByteArray() << -1;
    }
    void replies() {
        QFETCH(QByteArrayList, pieces);
        QFETCH(bool, shutAfter);
        QFETCH(QByteArray, reply);
        QFETCH(int, number);
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        Peer client;
        QVERIFY(client.connectTo(port.address()));
        for (const QByteArray& piece : pieces) {
            client.write(piece);
            QTest::qWait(30); // the port reads each piece on its own
        }
        if (shutAfter)
            client.shutdownWrite();
        QVERIFY(waitFor([&]() { return client.closed(); }, MessagePort::IdleTimeoutMs / 2));
        QCOMPARE(client.received(), reply);
        QTest::qWait(20);
        QCOMPARE(numbers(spy), number < 0 ? QList<int>() : QList<int>{number});
    }

    // Beyond MaxConnections waiting clients the next one is turned away at once; the others stay
    // served, and a place that comes free serves the next client.
    void connectionLimit() {
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        std::vector<std::unique_ptr<Peer>> waiting;
        for (int i = 0; i < MessagePort::MaxConnections; ++i) {
            waiting.push_back(std::make_unique<Peer>());
            QVERIFY(waiting.back()->connectTo(port.address()));
        }
        Peer extra;
        QVERIFY(extra.connectTo(port.address()));
        QVERIFY(waitFor([&]() { return extra.closed(); }, MessagePort::IdleTimeoutMs / 2));
        QCOMPARE(extra.received(), QByteArray());
        for (const auto& peer : waiting)
            QVERIFY(!peer->closed());

        waiting.front()->write("7\n");
        QVERIFY(waitFor([&]() { return waiting.front()->closed(); }, 2000));
        QCOMPARE(waiting.front()->received(), QByteArray("OK\n"));
        Peer late;
        QVERIFY(late.connectTo(port.address()));
        late.write("8\n");
        QVERIFY(waitFor([&]() { return late.closed(); }, 2000));
        QCOMPARE(late.received(), QByteArray("OK\n"));
        QCOMPARE(numbers(spy), (QList<int>{7, 8}));
    }

    // A socket path has room for 107 bytes: one that fits works, a longer one is refused with a
    // clear reason by both sides instead of being cut short.
    void pathLength_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("longest that fits") << 107;
        QTest::newRow("one byte over") << 108;
        QTest::newRow("far over") << 300;
    }
    void pathLength() {
        QFETCH(int, length);
        QTemporaryDir tmp;
        const QString name = MessagePort::portName(getpid());
        const int padding = length - int(tmp.path().size()) - 2 - int(name.size());
        QVERIFY(padding > 0);
        QString pad(padding, QLatin1Char('d'));
        for (int i = 100; i < padding - 1; i += 101) // path components stay short
            pad[i] = QLatin1Char('/');
        const QString dir = tmp.path() + QLatin1Char('/') + pad;
        const QString address = dir + QLatin1Char('/') + name;
        QCOMPARE(QFile::encodeName(address).size(), qsizetype(length));

        MessagePort port;
        const bool fits = length <= 107;
        QCOMPARE(port.listen(dir), fits);
        if (fits) {
            QCOMPARE(port.address(), address);
            Peer client;
            QVERIFY(client.connectTo(address));
            client.write("12\n");
            QVERIFY(waitFor([&]() { return client.closed(); }, 2000));
            QCOMPARE(client.received(), QByteArray("OK\n"));
            return;
        }
        QVERIFY2(port.errorString().contains("too long"), qPrintable(port.errorString()));
        QVERIFY(!port.isListening());
        QCOMPARE(port.address(), QString());
        QVERIFY(!QFileInfo::exists(address));
        QString error;
        bool reached = true;
        QVERIFY(!MessagePort::post(address, 12, &error, 1000, &reached));
        QVERIFY2(error.contains("cannot reach") && error.contains("too long"), qPrintable(error));
        QVERIFY(!reached);
    }

    // Python's socket module as the client: it reads the answer and then the end of the connection.
    void foreignClient_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("shutAfter");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("number");
        QTest::newRow("number") << "12\n" << false << "OK\n" << 12;
        QTest::newRow("junk") << "twelve\n" << false << "ERR\n" << -1;
        QTest::newRow("unterminated, shut") << "1029" << true << "OK\n" << 1029;
    }
    void foreignClient() {
        QFETCH(QString, line);
        QFETCH(bool, shutAfter);
        QFETCH(QString, reply);
        QFETCH(int, number);
        if (python().isEmpty())
            QSKIP("python3 is not installed");
        QTemporaryDir tmp;
        MessagePort port;
        QVERIFY(port.listen(tmp.path()));
        QSignalSpy spy(&port, &MessagePort::messageReceived);
        const QString script = QStringLiteral("import socket, sys\n"
                                              "s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
                                              "s.settimeout(10)\n"
                                              "s.connect(sys.argv[1])\n"
                                              "s.sendall(sys.argv[2].encode())\n"
                                              "if sys.argv[3] == '1':\n"
                                              "    s.shutdown(socket.SHUT_WR)\n"
                                              "got = b''\n"
                                              "while True:\n"
                                              "    chunk = s.recv(64)\n"
                                              "    if not chunk:\n"
                                              "        break\n"
                                              "    got += chunk\n"
                                              "sys.stdout.write(repr(got))\n");
        QProcess client;
        client.start(python(), {"-c", script, port.address(), line, shutAfter ? "1" : "0"});
        QVERIFY(client.waitForStarted());
        QVERIFY(waitFor([&]() { return client.state() == QProcess::NotRunning; }, 15000));
        QCOMPARE(client.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(client.readAllStandardOutput()),
                 QStringLiteral("b'%1'").arg(QString(reply).replace("\n", "\\n")));
        QCOMPARE(numbers(spy), number < 0 ? QList<int>() : QList<int>{number});
    }

    // Python's socket module as the port: post() takes an answer in pieces, and tells a refusal, a
    // connection closed without an answer and a port that never answers apart.
    void foreignServer_data() {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("errorHas");
        QTest::newRow("answer in pieces") << "split" << true << "";
        QTest::newRow("refusal") << "refuse" << false << "refused";
        QTest::newRow("closed without answer") << "close" << false << "did not acknowledge";
        QTest::newRow("never answers") << "silent" << false << "did not acknowledge";
        QTest::newRow("odd answer") << "odd" << false << "unexpected answer";
    }
    void foreignServer() {
        QFETCH(QString, behaviour);
        QFETCH(bool, delivered);
        QFETCH(QString, errorHas);
        if (python().isEmpty())
            QSKIP("python3 is not installed");
        QTemporaryDir tmp;
        const QString address = tmp.filePath("port");
        const QString script = QStringLiteral("import socket, sys, time\n"
                                              "path, mode = sys.argv[1], sys.argv[2]\n"
                                              "srv = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
                                              "srv.bind(path)\n"
                                              "srv.listen(1)\n"
                                              "print('ready', flush=True)\n"
                                              "c, _ = srv.accept()\n"
                                              "line = b''\n"
                                              "while not line.endswith(b'\\n'):\n"
                                              "    chunk = c.recv(64)\n"
                                              "    if not chunk:\n"
                                              "        break\n"
                                              "    line += chunk\n"
                                              "print(repr(line), flush=True)\n"
                                              "if mode == 'split':\n"
                                              "    c.sendall(b'O')\n"
                                              "    time.sleep(0.2)\n"
                                              "    c.sendall(b'K\\n')\n"
                                              "elif mode == 'refuse':\n"
                                              "    c.sendall(b'ERR\\n')\n"
                                              "elif mode == 'odd':\n"
                                              "    c.sendall(b'OK then\\n')\n"
                                              "elif mode == 'silent':\n"
                                              "    time.sleep(3)\n"
                                              "c.close()\n");
        QProcess server;
        server.start(python(), {"-c", script, address, behaviour});
        QVERIFY(server.waitForStarted());
        QVERIFY(waitFor([&]() { return server.canReadLine(); }, 10000));
        QCOMPARE(server.readLine(), QByteArray("ready\n"));

        QString error;
        bool reached = false;
        QCOMPARE(MessagePort::post(address, 1029, &error, 1000, &reached), delivered);
        QVERIFY(reached);
        QVERIFY2(errorHas.isEmpty() ? error.isEmpty() : error.contains(errorHas), qPrintable(error));
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.readAll(), QByteArray("b'1029\\n'\n"));
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
