// Start-up speed: whole processes, from exec to the main window painted and idle (the about box
// painted, then answered at once), against a like-for-like program with the same furniture (menus,
// pictured tool bar, MDI area, a modal dialog with a picture) that ends the same way, and a bare
// QMainWindow with a QMdiArea. All run on the offscreen platform with
// throwaway settings.
#include "ratio.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The environment every started process gets: ours, with the platform, the per-user directories
// and the quit hook replaced.
class Environment {
public:
    explicit Environment(const QString& home) {
        const std::vector<std::pair<std::string, std::string>> set = {
            {"QT_QPA_PLATFORM", "offscreen"},
            {"HOME", home.toStdString()},
            {"XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toStdString()},
            {"XDG_RUNTIME_DIR", (home + QStringLiteral("/runtime")).toStdString()},
            {"XDG_DATA_HOME", (home + QStringLiteral("/data")).toStdString()},
            {"XDG_CACHE_HOME", (home + QStringLiteral("/cache")).toStdString()},
            {"LEDGERWICK_QUIT_WHEN_IDLE", "1"},
        };
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = name == "LEDGERWICK_ALIASES"; // the shipped demo configuration is used
            for (const auto& [key, value] : set)
                replaced = replaced || key == name;
            if (!replaced)
                m_strings.push_back(entry);
        }
        for (const auto& [key, value] : set)
            m_strings.push_back(key + "=" + value);
        for (std::string& s : m_strings)
            m_pointers.push_back(s.data());
        m_pointers.push_back(nullptr);
    }
    char** data() { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// One start of a program: the seconds from the start to its "idle" line, and to its end.
struct Times {
    double idle = 0;
    double ended = 0;
};

// Starts the program in directory and waits (at most 60 seconds) for its "idle" line and its end
// with status 0. Its standard output comes through a pipe; its error output goes to log.
bool runOnce(const char* program, const char* argument, char** envp, const char* directory, const char* log,
             Times* times, std::string* error) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The start directory is the throwaway home: what the program finds there (its file dialogs
    // look at it) is then the same on every machine.
    posix_spawn_file_actions_addchdir_np(&actions, directory);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
    pid_t pid = 0;
    const double start = now();
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        *error = std::string("cannot start ") + program + ": " + std::strerror(rc);
        return false;
    }

    // Everything it prints until it closes its output; a program that never ends (a hook that did
    // not fire) must not hang the benchmark.
    std::string printed;
    times->idle = 0;
    bool timedOut = false;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::max(0.0, 60 - (now() - start)) * 1000));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        char buf[256];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        printed.append(buf, std::size_t(n));
        if (times->idle == 0 && printed.find("idle\n") != std::string::npos)
            times->idle = now() - start;
    }
    ::close(out[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    times->ended = now() - start;
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || times->idle == 0) {
        QFile errors(QString::fromLocal8Bit(log));
        errors.open(QIODevice::ReadOnly);
        *error = std::string(program) + (timedOut ? " did not end within 60 seconds" : " failed") +
                 " (status " + std::to_string(status) + "): " + errors.readAll().left(500).toStdString();
        return false;
    }
    return true;
}

// A settings file as a user who has worked with the program for a while has it.
void writeSettings(const QString& home) {
    const QString dir = home + QStringLiteral("/config/Ledgerwick");
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/l_wick.ini"));
    f.open(QIODevice::WriteOnly);
    f.write("[MainForm]\nWidth=640\nHeight=480\nLeft=137\nTop=146\n"
            "[DIALOG]\nOpen=" +
            QFile::encodeName(home) +
            "\n[EXCEL]\nShow=1\n"
            "[MENU]\n1=" +
            QFile::encodeName(home) + "/sales.pr\n2=" + QFile::encodeName(home) + "/stock.pr\n3=" +
            QFile::encodeName(home) + "/staff.pr\n4=" + QFile::encodeName(home) + "/orders.pr\n");
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    const QString home = dir.path();
    for (const char* sub : {"config", "runtime", "data", "cache"})
        QDir().mkpath(home + QLatin1Char('/') + QLatin1String(sub));
    ::chmod(QFile::encodeName(home + QStringLiteral("/runtime")).constData(), 0700);
    writeSettings(home);
    static Environment environment(home);
    static const std::string log = (home + QStringLiteral("/output.log")).toStdString();
    static const std::string startDirectory = home.toStdString();

    // to_idle: from the start to the main window painted and idle, as the user waits for it.
    // whole_process: until the process has ended, tearing down included.
    auto timing = [](const char* program, const char* argument, bool toIdle) {
        return [program, argument, toIdle](benchmark::State& st) {
            std::string error;
            Times times;
            for (auto _ : st) {
                if (!runOnce(program, argument, environment.data(), startDirectory.c_str(), log.c_str(),
                             &times, &error)) {
                    st.SkipWithError(error.c_str());
                    break;
                }
                st.SetIterationTime(toIdle ? times.idle : times.ended);
            }
        };
    };
    // Each process takes a few hundredths of a second: a longer minimum time gives several per run.
    // The reference is the like-for-like program (the same furniture, nothing of the program's
    // own); the bare window (a QMainWindow and a QMdiArea) is measured against it as well.
    const std::string like = "startup/floor_like_program_";
    const std::string bare = "startup/floor_bare_mainwindow_";
    for (const char* which : {"to_idle", "whole_process"}) {
        const bool toIdle = std::string(which) == "to_idle";
        lwbench::addManualCase(like + which, "", 0, timing(LW_BENCH_LIKE, nullptr, toIdle))->MinTime(0.5);
        lwbench::addManualCase(bare + which, like + which, 0, timing(LW_BENCH_BARE, nullptr, toIdle))
            ->MinTime(0.5);
        lwbench::addManualCase(std::string("startup/ledgerwick_") + which, like + which, toIdle ? 0 : 1.0,
                               timing(LW_BENCH_PROGRAM, nullptr, toIdle))
            ->MinTime(0.5);
    }
    // What any main window with text pays over the bare one: the same window with a menu bar.
    lwbench::addManualCase("startup/bare_mainwindow_with_menus_to_idle", bare + "to_idle", 0,
                           timing(LW_BENCH_BARE, "--menus", true))
        ->MinTime(0.5);
    return lwbench::run(argc, argv);
}
