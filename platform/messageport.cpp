// The main window's message port: a per-user local socket on which sibling tools post completion
// messages (one line holding a decimal number), and the client side that ledgerwick-post uses.
#include "platform/messageport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace lw {

namespace {

const QByteArray AckLine = QByteArrayLiteral("OK\n");
const QByteArray RefuseLine = QByteArrayLiteral("ERR\n");

// The main window's class name: the part of a port's name that says whose port it is.
const QString PortPrefix = QStringLiteral("TMainForm-");

// How long the port stops accepting when the process is out of descriptors: the waiting connection
// stays in the backlog and would otherwise wake the event loop again at once, over and over.
constexpr int AcceptPauseMs = 100;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A socket descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// The socket address of path. A path that does not fit in sun_path (with its terminating zero) is
// refused with a reason instead of being cut short, which would name another file.
bool socketAddress(const QString& path, sockaddr_un* address, socklen_t* length, QString* error) {
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty() || encoded.contains('\0')) {
        *error = QStringLiteral("not a valid socket path");
        return false;
    }
    constexpr qsizetype room = sizeof(address->sun_path);
    if (encoded.size() >= room) {
        *error = QStringLiteral("the path is too long for a local socket (%1 bytes, at most %2)")
                     .arg(encoded.size())
                     .arg(room - 1);
        return false;
    }
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + encoded.size() + 1);
    return true;
}

// Waits until fd is ready for events. Returns the events that came, 0 when the deadline passed,
// -1 on an error (errno says which). A signal does not cut the wait short.
int waitReady(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const qint64 left = deadline.remainingTime(); // -1: no deadline
        const int timeout = left < 0 ? -1 : static_cast<int>(std::min<qint64>(left, INT_MAX));
        const int ready = ::poll(&entry, 1, timeout);
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// Connects the non-blocking socket fd to address before the deadline. Returns 0 or an errno value.
int connectBefore(int fd, const sockaddr_un& address, socklen_t length, const QDeadlineTimer& deadline) {
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
            return 0;
        const int error = errno;
        switch (error) {
        case EISCONN:
            return 0;
        case EINTR:
            continue;
        case EINPROGRESS:
        case EALREADY: {
            const int ready = waitReady(fd, POLLOUT, deadline);
            if (ready < 0)
                return errno;
            if (ready == 0)
                return ETIMEDOUT;
            int result = 0;
            socklen_t size = sizeof(result);
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
                return errno;
            return result;
        }
        case EAGAIN: {
            // The port's backlog is full: its program is busy. Try again shortly until the time is up.
            if (deadline.hasExpired())
                return ETIMEDOUT;
            const qint64 left = deadline.remainingTime();
            ::poll(nullptr, 0, left < 0 ? 10 : static_cast<int>(std::min<qint64>(left, 10)));
            continue;
        }
        default:
            return error;
        }
    }
}

// Sends all of bytes before the deadline, however many pieces the socket takes them in.
// Returns 0 or an errno value; a closed peer gives EPIPE, never the signal.
int sendAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        const int ready = waitReady(fd, POLLOUT, deadline);
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
    }
    return 0;
}

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
    auto fail = [this, &path](const QString& reason) {
        m_errorString = QStringLiteral("Cannot open the message port %1: %2").arg(path, reason);
        return false;
    };
    sockaddr_un address;
    socklen_t length = 0;
    QString reason;
    if (!socketAddress(path, &address, &length, &reason))
        return fail(reason);

    Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        return fail(systemError(errno));
    // A socket under our own process id can only be left over from an earlier process.
    ::unlink(address.sun_path);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return fail(systemError(errno));
    // The directory is closed to everyone else already, so nobody can reach the socket before it is
    // made the owner's alone here.
    struct stat made;
    if (::chmod(address.sun_path, S_IRWXU) != 0 || ::stat(address.sun_path, &made) != 0 ||
        ::listen(socket.get(), MaxConnections) != 0) {
        const int error = errno;
        ::unlink(address.sun_path);
        return fail(systemError(error));
    }

    m_fd = socket.release();
    m_path = path;
    m_device = made.st_dev;
    m_inode = made.st_ino;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MessagePort::acceptConnections);
    return true;
}

void MessagePort::close() {
    const auto clients = m_clients.keys();
    for (int fd : clients)
        dropClient(fd);
    if (m_fd < 0)
        return;
    // close() may run inside the notifier's own signal (from a receiver of messageReceived): it goes
    // quiet now and away later.
    m_notifier->setEnabled(false);
    m_notifier->disconnect(this);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    // Remove the socket file only while it is still the one listen() made.
    const QByteArray path = QFile::encodeName(m_path);
    struct stat current;
    if (::lstat(path.constData(), &current) == 0 && current.st_dev == m_device && current.st_ino == m_inode)
        ::unlink(path.constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

bool MessagePort::isListening() const {
    return m_fd >= 0;
}

QString MessagePort::address() const {
    return m_path;
}

QString MessagePort::errorString() const {
    return m_errorString;
}

void MessagePort::acceptConnections() {
    // A receiver of messageReceived may close or even delete the port while a client is served.
    const QPointer<MessagePort> self(this);
    while (self && m_fd >= 0) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Out of descriptors or memory: leave the connection in the backlog for a while.
            QSocketNotifier* notifier = m_notifier;
            notifier->setEnabled(false);
            QTimer::singleShot(AcceptPauseMs, notifier, [this, notifier]() {
                if (m_notifier == notifier)
                    notifier->setEnabled(true);
            });
            return;
        }
        if (m_clients.size() >= MaxConnections) {
            ::close(fd);
            continue;
        }
        Client client;
        client.reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(client.reader, &QSocketNotifier::activated, this, [this, fd]() { readClient(fd); });
        client.idle = new QTimer(this);
        client.idle->setSingleShot(true);
        connect(client.idle, &QTimer::timeout, this, [this, fd]() { dropClient(fd); });
        client.idle->start(IdleTimeoutMs);
        m_clients.insert(fd, client);
        readClient(fd); // the line may be there already
    }
}

void MessagePort::readClient(int fd) {
    auto it = m_clients.find(fd);
    if (it == m_clients.end() || it->done)
        return;
    // Read no more than a line can hold, so a client that floods the port costs nothing.
    char chunk[MaxLineLength + 2];
    for (;;) {
        const qsizetype room = MaxLineLength + 2 - it->buffer.size();
        const ssize_t n = ::recv(fd, chunk, static_cast<size_t>(room), MSG_DONTWAIT);
        if (n > 0) {
            it->buffer.append(chunk, n);
            const qsizetype newline = it->buffer.indexOf('\n');
            if (newline >= 0) {
                QByteArray line = it->buffer.left(newline);
                if (line.endsWith('\r'))
                    line.chop(1);
                finishLine(fd, line);
                return;
            }
            if (it->buffer.size() > MaxLineLength + 1) {
                finishLine(fd, it->buffer); // over-long: refused
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // the rest of the line comes later
        if (n == 0 && !it->buffer.isEmpty()) {
            // A client that ends after an unterminated line still gets its message through, and an
            // answer too when it has only shut its sending side.
            const QByteArray rest = it->buffer;
            finishLine(fd, rest);
            return;
        }
        dropClient(fd); // gone without a word, or the connection failed
        return;
    }
}

void MessagePort::finishLine(int fd, const QByteArray& line) {
    auto it = m_clients.find(fd);
    if (it == m_clients.end() || it->done)
        return;
    it->done = true;
    it->reader->setEnabled(false); // anything after the first line is not listened to
    // A line longer than a message may be is refused, whatever it holds.
    const std::optional<int> number = line.size() <= MaxLineLength ? parseLine(line) : std::nullopt;
    it->reply = number ? AckLine : RefuseLine;
    it->idle->start(IdleTimeoutMs); // the time the answer may wait for the client to take it
    writeReply(fd);
    // The acknowledgement goes out first: whatever the receiver does next (a dialog, say) must not
    // keep the sending tool waiting. Nothing of this client is touched after the signal.
    if (number)
        emit messageReceived(*number);
}

void MessagePort::writeReply(int fd) {
    auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return;
    while (!it->reply.isEmpty()) {
        const ssize_t n = ::send(fd, it->reply.constData(), static_cast<size_t>(it->reply.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            it->reply.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!it->writer) {
                it->writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
                connect(it->writer, &QSocketNotifier::activated, this, [this, fd]() { writeReply(fd); });
            }
            return;
        }
        break; // the client has gone: there is nobody left to answer
    }
    dropClient(fd);
}

void MessagePort::dropClient(int fd) {
    auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return;
    const Client client = it.value();
    m_clients.erase(it);
    // The notifiers go quiet before the descriptor is closed (its number may come back with the next
    // client); they are deleted later since this may run inside their own signals.
    for (QSocketNotifier* notifier : {client.reader, client.writer}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->disconnect(this);
            notifier->deleteLater();
        }
    }
    client.idle->stop();
    client.idle->disconnect(this);
    client.idle->deleteLater();
    ::close(fd);
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

    auto unreachable = [&](const QString& reason) {
        return fail(QStringLiteral("cannot reach the main window at %1: %2").arg(address, reason));
    };
    sockaddr_un socketAddr;
    socklen_t length = 0;
    QString reason;
    if (!socketAddress(address, &socketAddr, &length, &reason))
        return unreachable(reason);
    const QDeadlineTimer deadline(timeoutMs);
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        return unreachable(systemError(errno));
    if (const int failure = connectBefore(socket.get(), socketAddr, length, deadline))
        return unreachable(systemError(failure));
    if (reached)
        *reached = true;
    if (const int failure = sendAll(socket.get(), QByteArray::number(number) + '\n', deadline))
        return fail(
            QStringLiteral("cannot send to the main window at %1: %2").arg(address, systemError(failure)));

    QByteArray reply;
    while (!reply.contains('\n') && reply.size() <= 16) {
        char chunk[16];
        const ssize_t n = ::recv(socket.get(), chunk, sizeof(chunk), 0);
        if (n > 0) {
            reply.append(chunk, n);
            continue;
        }
        if (n == 0)
            break; // the port closed the connection
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        if (waitReady(socket.get(), POLLIN, deadline) <= 0)
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
