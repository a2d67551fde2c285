// One report generator at a time per user: an exclusive lock on a file in the runtime directory,
// released by the system when the process ends, however it ends.
#pragma once

#include <QString>

namespace lw::report {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting. False when another process holds it, or (with error set)
    // when the lock file cannot be made.
    bool acquire();
    QString error() const { return m_error; }

    // The lock file: "ledgerwick-report.lock" in the user's runtime directory (XDG_RUNTIME_DIR,
    // else the temporary directory with the user's id in the name).
    static QString lockFilePath();

private:
    int m_fd = -1;
    QString m_error;
};

} // namespace lw::report
