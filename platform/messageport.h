// The main window's message port: a per-user local socket on which sibling tools post completion
// messages (one line holding a decimal number), and the client side that ledgerwick-post uses.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QSocketNotifier;
class QTimer;

namespace lw {

class MessagePort : public QObject {
    Q_OBJECT
public:
    // Longest line accepted, terminator excluded; a longer one is junk.
    static constexpr int MaxLineLength = 32;
    // A client that has not sent its line within this time is disconnected.
    static constexpr int IdleTimeoutMs = 3000;
    // Connections served at once; further ones are closed at once.
    static constexpr int MaxConnections = 16;

    explicit MessagePort(QObject* parent = nullptr);
    ~MessagePort() override;

    // Opens the port of this process in directory() (or in the given directory), after removing
    // the sockets that dead processes left behind. Returns false and sets errorString() on failure.
    bool listen();
    bool listen(const QString& directory);
    void close();
    bool isListening() const;

    // The full path of the socket, empty while not listening.
    QString address() const;
    QString errorString() const;

    // The directory that holds the ports of this user's main windows: "ledgerwick" inside the
    // user's runtime directory. Empty when the runtime directory is unavailable.
    static QString directory();

    // A port's file name: the main window's class name and the process id, "TMainForm-<pid>".
    static QString portName(qint64 pid);

    // The process id in a port's file name, or nullopt for a name that is not a port's.
    static std::optional<qint64> portPid(const QString& fileName);

    // Removes the sockets in dir whose process has ended. Returns how many were removed.
    static int removeStalePorts(const QString& dir);

    // The ports in dir whose process is alive, the most recently opened first.
    static QStringList livePorts(const QString& dir);

    // The message number in one line (terminator already removed): ASCII digits only, with blanks
    // or tabs around them allowed, within the range of int. nullopt for anything else.
    static std::optional<int> parseLine(const QByteArray& line);

    // Sends one message to the port at address and waits for its acknowledgement.
    // Returns true when the port took the message; otherwise false with a reason in *error, and
    // *reached says whether a connection was made at all.
    static bool post(const QString& address, int number, QString* error = nullptr, int timeoutMs = 5000,
                     bool* reached = nullptr);

signals:
    // A well-formed message number arrived (the receiver decides whether it handles it).
    void messageReceived(int number);

private:
    // One connected client: its socket, what it has sent so far and the reply still to go out.
    struct Client {
        QSocketNotifier* reader = nullptr;
        QSocketNotifier* writer = nullptr; // only while a reply waits for room in the socket
        QTimer* idle = nullptr;
        QByteArray buffer;
        QByteArray reply;
        bool done = false;
    };

    void acceptConnections();
    void readClient(int fd);
    void finishLine(int fd, const QByteArray& line);
    void writeReply(int fd);
    void dropClient(int fd);

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QString m_path;
    // The socket file that listen() made, so that close() never removes another one in its place.
    quint64 m_device = 0;
    quint64 m_inode = 0;
    QHash<int, Client> m_clients; // by socket descriptor
    QString m_errorString;
};

} // namespace lw
