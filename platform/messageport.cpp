// The main window's message port: a per-user local socket on which sibling tools post completion
// messages (one line holding a decimal number), and the client side that ledgerwick-post uses.
#include "platform/messageport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <signal.h>
#include <unistd.h>

namespace lw {

namespace {

const QByteArray AckLine = QByteArrayLiteral("OK\n");
const QByteArray RefuseLine = QByteArrayLiteral("ERR\n");

// The main window's class name: the part of a port's name that says whose port it is.
const QString PortPrefix = QStringLiteral("TMainForm-");

bool processAlive(qint64 pid) {
    if (pid <= 0 || pid > INT_MAX)
        return false;
    if (::kill(static_cast<pid_t>(pid), 0) == 0)
        return true;
    return errno == EPERM; // it exists, it just is not ours to signal
}

// Creates dir when needed and makes sure it belongs to this user and is closed to everyone else.
bool prepareDirectory(const QString& dir, QString* error) {
    if (dir.isEmpty()) {
        *error = QStringLiteral("The user's runtime directory is not available");
        return false;
    }
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("Cannot create the directory %1").arg(dir);
        return false;
    }
    const QFileInfo info(dir);
    if (!info.isDir() || info.isSymLink() || info.ownerId() != ::getuid()) {
        *error = QStringLiteral("The directory %1 does not belong to this user").arg(dir);
        return false;
    }
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                           QFile::WriteUser | QFile::ExeUser;
    if (info.permissions() != ownerOnly && !QFile::setPermissions(dir, ownerOnly)) {
        *error = QStringLiteral("Cannot restrict the access to %1").arg(dir);
        return false;
    }
    return true;
}

} // namespace

MessagePort::MessagePort(QObject* parent) : QObject(parent) {}

MessagePort::~MessagePort() {
    close();
}

QString MessagePort::directory() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    return runtime + QStringLiteral("/ledgerwick");
}

QString MessagePort::portName(qint64 pid) {
    return PortPrefix + QString::number(pid);
}

std::optional<qint64> MessagePort::portPid(const QString& fileName) {
    static const QRegularExpression pattern(QStringLiteral("^TMainForm-([1-9][0-9]{0,9})$"));
    const auto match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong();
}

int MessagePort::removeStalePorts(const QString& dir) {
    if (dir.isEmpty())
        return 0;
    int removed = 0;
    const QDir d(dir);
    const auto names = d.entryList(QDir::System | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const auto pid = portPid(name);
        if (pid && !processAlive(*pid) && QFile::remove(d.filePath(name)))
            ++removed;
    }
    return removed;
}

QStringList MessagePort::livePorts(const QString& dir) {
    if (dir.isEmpty())
        return {};
    QList<QFileInfo> ports;
    const QDir d(dir);
    const auto entries = d.entryInfoList(QDir::System | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : entries) {
        const auto pid = portPid(info.fileName());
        if (pid && processAlive(*pid))
            ports.append(info);
    }
    std::stable_sort(ports.begin(), ports.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() > b.lastModified();
    });
    QStringList result;
    for (const QFileInfo& info : ports)
        result.append(info.absoluteFilePath());
    return result;
}

std::optional<int> MessagePort::parseLine(const QByteArray& line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (begin < end && isBlank(line[begin]))
        ++begin;
    while (end > begin && isBlank(line[end - 1]))
        --end;
    const qsizetype length = end - begin;
    if (length == 0 || length > 10)
        return std::nullopt;
    long long value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

bool MessagePort::listen() {
    return listen(directory());
}

bool MessagePort::listen(const QString& dir) {
    close();
    m_errorString.clear();
    if (!prepareDirectory(dir, &m_errorString))
        return false;
    removeStalePorts(dir);

    const QString path = dir + QLatin1Char('/') + portName(QCoreApplication::applicationPid());
    // A socket under our own process id can only be left over from an earlier process.
    QLocalServer::removeServer(path);

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(MaxConnections);
    if (!m_server->listen(path)) {
        m_errorString =
            QStringLiteral("Cannot open the message port %1: %2").arg(path, m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &MessagePort::acceptConnections);
    return true;
}

void MessagePort::close() {
    const auto clients = m_clients.keys();
    for (QLocalSocket* socket : clients)
        dropClient(socket);
    if (m_server) {
        m_server->close(); // removes the socket file
        delete m_server;
        m_server = nullptr;
    }
}

bool MessagePort::isListening() const {
    return m_server && m_server->isListening();
}

QString MessagePort::address() const {
    return isListening() ? m_server->fullServerName() : QString();
}

QString MessagePort::errorString() const {
    return m_errorString;
}

void MessagePort::acceptConnections() {
    while (m_server && m_server->hasPendingConnections()) {
        QLocalSocket* socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        if (m_clients.size() >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_clients.insert(socket, Client{});
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, this, [this, socket]() { dropClient(socket); });
        idle->start(IdleTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() { readClient(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket]() {
            // A client that closes after an unterminated line still gets its message through.
            auto it = m_clients.find(socket);
            if (it != m_clients.end() && !it->done) {
                it->buffer += socket->read(MaxLineLength + 2);
                const QByteArray rest = it->buffer;
                if (!rest.isEmpty() && !rest.contains('\n') && rest.size() <= MaxLineLength)
                    finishLine(socket, rest, false);
            }
            dropClient(socket);
        });
        if (socket->bytesAvailable() > 0)
            readClient(socket);
    }
}

void MessagePort::readClient(QLocalSocket* socket) {
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || it->done) {
        socket->readAll(); // anything after the first line is not listened to
        return;
    }
    // Read no more than a line can hold, so a client that floods the port costs nothing.
    const qint64 room = MaxLineLength + 2 - it->buffer.size();
    if (room > 0)
        it->buffer += socket->read(room);
    const qsizetype newline = it->buffer.indexOf('\n');
    if (newline >= 0) {
        QByteArray line = it->buffer.left(newline);
        if (line.endsWith('\r'))
            line.chop(1);
        finishLine(socket, line.size() <= MaxLineLength ? line : QByteArray("x"), true);
        return;
    }
    if (it->buffer.size() > MaxLineLength + 1)
        finishLine(socket, QByteArray("x"), true); // over-long: junk
}

void MessagePort::finishLine(QLocalSocket* socket, const QByteArray& line, bool canReply) {
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || it->done)
        return;
    it->done = true;
    const std::optional<int> number = parseLine(line);
    if (canReply && socket->state() == QLocalSocket::ConnectedState) {
        socket->write(number ? AckLine : RefuseLine);
        socket->flush();
        socket->disconnectFromServer(); // closes once the reply is written
    }
    // The acknowledgement goes out first: whatever the receiver does next (a dialog, say)
    // must not keep the sending tool waiting.
    if (number)
        emit messageReceived(*number);
}

void MessagePort::dropClient(QLocalSocket* socket) {
    if (!m_clients.remove(socket))
        return;
    socket->disconnect(this);
    if (socket->state() == QLocalSocket::ConnectedState && socket->bytesToWrite() > 0) {
        // Let the reply reach the client, then let the socket go.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromServer();
        QTimer::singleShot(IdleTimeoutMs, socket, &QObject::deleteLater);
        return;
    }
    socket->abort();
    socket->deleteLater();
}

bool MessagePort::post(const QString& address, int number, QString* error, int timeoutMs, bool* reached) {
    if (reached)
        *reached = false;
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (number < 0)
        return fail(QStringLiteral("the message number must not be negative"));
    if (address.isEmpty())
        return fail(QStringLiteral("no main window address given"));

    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(address);
    if (!socket.waitForConnected(timeoutMs))
        return fail(
            QStringLiteral("cannot reach the main window at %1: %2").arg(address, socket.errorString()));
    if (reached)
        *reached = true;
    socket.write(QByteArray::number(number) + '\n');
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return fail(
            QStringLiteral("cannot send to the main window at %1: %2").arg(address, socket.errorString()));

    QByteArray reply;
    while (!reply.contains('\n')) {
        if (socket.bytesAvailable() == 0) {
            if (deadline.hasExpired() || socket.state() != QLocalSocket::ConnectedState)
                break;
            socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
            if (socket.bytesAvailable() == 0 && socket.state() != QLocalSocket::ConnectedState)
                break;
        }
        reply += socket.read(16);
        if (reply.size() > 16)
            break;
    }
    if (reply == AckLine)
        return true;
    if (reply == RefuseLine)
        return fail(QStringLiteral("the main window at %1 refused the message").arg(address));
    if (reply.isEmpty())
        return fail(QStringLiteral("the main window at %1 did not acknowledge the message").arg(address));
    return fail(QStringLiteral("the main window at %1 gave an unexpected answer").arg(address));
}

} // namespace lw
