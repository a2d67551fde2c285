// The lock our processes share while one of them reads and rewrites a profile file: an exclusive
// flock on a lock file beside it, released by the system when its holder ends in any way.
#pragma once

#include <QByteArray>
#include <QString>

namespace lw {

class ProfileLock {
public:
    ProfileLock() = default;
    ~ProfileLock();
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

    // Takes the lock for the file at path (links already followed), waiting at most timeoutMs for
    // another holder. The lock file is "<path>.lock"; when that directory takes no new files, it is
    // a file named after the path in the per-user runtime directory instead. False: not taken.
    bool acquire(const QString& path, int timeoutMs);

    // Removes the lock file and lets the next waiter in. The destructor does this too.
    void release();

    // The lock file in use while the lock is held.
    QString lockFilePath() const;

private:
    enum class Result { Taken, Busy, CannotCreate };
    Result tryAt(const QByteArray& lockPath, int timeoutMs);

    int m_fd = -1;
    QByteArray m_path;
};

} // namespace lw
