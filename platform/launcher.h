// Starting a sibling program with one argument, never through a shell, and noticing when it ends.
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace lw {

// The program files of the two sibling tools: the start directory, "/", and the tool's name.
QString blankBuilderProgram(const QString& startDirectory);
QString reportGeneratorProgram(const QString& startDirectory);

// Where an installed program keeps its sibling tools: "../libexec/ledgerwick" from the directory
// of the running program.
QString installedToolsDirectory();

// The program file of a sibling tool: the start directory's (as given by programFile) when it
// exists there, else the file of the same name in installedToolsDirectory() when that exists, else
// programFile itself (its launch then fails and names it). tried receives every file looked for.
QString toolProgram(const QString& programFile, QStringList* tried = nullptr,
                    const QString& toolsDirectory = installedToolsDirectory());

// The file a program file name stands for. A name whose file-name part has no extension is tried
// as given, then with ".exe", then with ".EXE"; a name with an extension only as given. The first
// candidate that exists (and is not a directory) is returned; empty when none exists.
QString resolveProgramFile(const QString& programFile);

// Why a program file must not be started, or empty when it may: others than this user and root
// could have changed it. That is so when the file belongs to another user or its group or others may
// write it, or when its folder belongs to another user or its group or others may write it without
// the sticky protection (which keeps them from replacing files they do not own). A link is judged by
// its own folder too, then by the file it leads to and that file's folder.
QString unsafeProgramReason(const QString& programFile);

struct LaunchResult {
    bool started = false;
    qint64 pid = 0;      // of the started program, when started
    QString programFile; // the file actually started (or tried)
    QString error;       // why it did not start
};

// Starts the program file (resolved as above) with argument as its one and only argument vector
// element, with the given environment, in this process's current directory. The program runs
// detached: it is not a child of ours and outlives this process. A program file that does not exist
// or cannot be executed, or that unsafeProgramReason() refuses, is a failed launch.
LaunchResult launchProgram(const QString& programFile, const QString& argument,
                           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// Watches a process that is not our child and signals once when it has ended.
class ProcessWatch : public QObject {
    Q_OBJECT
public:
    explicit ProcessWatch(qint64 pid, QObject* parent = nullptr);
    ~ProcessWatch() override;

    qint64 pid() const { return m_pid; }
    bool hasEnded() const { return m_ended; }

    // Whether a process with this id exists and has not yet ended (a zombie counts as ended).
    static bool isRunning(qint64 pid);

signals:
    void ended();

private:
    void finish();
    void poll();

    qint64 m_pid = 0;
    int m_pidfd = -1;
    bool m_ended = false;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer = nullptr;
};

} // namespace lw
