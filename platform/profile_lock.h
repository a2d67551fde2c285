// The lock our processes share, whoever runs them, while one of them reads and rewrites a profile
// file: an exclusive flock on "<file>.lock" beside it, released by the system when its holder ends.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace lw {

class ProfileLock {
public:
    ProfileLock() = default;
    ~ProfileLock();
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

    // Takes the lock for the file at path (links already followed), waiting at most timeoutMs for
    // another holder. data is the file's status, or null when it does not exist yet: a lock file
    // this call makes gets the file's read and write bits for group and others and its group,
    // whatever the umask, so that every user who may write the file may open the lock too (a new
    // file's lock gets what the umask gives a new file). False: not taken, because another holder
    // kept it past the timeout or no lock file can be made or opened beside the file; there is no
    // other place to meet, since a lock elsewhere would not be seen by every writer.
    bool acquire(const QString& path, const struct stat* data, int timeoutMs);

    // Whether the lock file was already there when the lock was taken: its last holder may have
    // ended without finishing (and left a temporary file behind), or another writer waited too.
    bool foundExisting() const { return m_foundExisting; }

    // Removes the lock file and lets the next waiter in. The destructor does this too.
    void release();

    // The lock file in use while the lock is held.
    QString lockFilePath() const;

private:
    int m_fd = -1;
    bool m_foundExisting = false;
    QByteArray m_path;
};

} // namespace lw
