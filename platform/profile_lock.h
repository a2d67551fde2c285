// The lock our processes share, whoever runs them, while one of them reads and rewrites a profile
// file: an exclusive flock on the data file itself, released by the system when its holder ends.
#pragma once

#include <QByteArray>

#include <sys/stat.h>

namespace lw {

class ProfileLock {
public:
    ProfileLock() = default;
    ~ProfileLock();
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;

    enum class Result {
        Locked,  // held; fd() is the file, open for reading and writing
        Changed, // the file was replaced or made by someone else meanwhile: look again
        Link,    // path is a symbolic link, which is not followed here
        Missing, // there is no file, and the caller asked to be told rather than to lock
        Failed,  // cannot be opened or made for writing, no regular file, or held past the timeout
    };

    // Opens the file at path for reading and writing and takes its lock, waiting at most
    // timeoutMs for another holder. A symbolic link at path is not followed (the caller decides
    // whether to follow it). Every writer locks the file it is about to replace and checks, once it
    // holds the lock, that the file is still the one at path, so a writer never works on a file
    // another one has just replaced. A file that is not there yet is reported (Missing) when the
    // caller asks for that; otherwise it is made empty first so that there is something to lock
    // (an empty file reads as no file).
    Result acquire(const QByteArray& path, int timeoutMs, bool missing = false);

    int fd() const { return m_fd; }
    // The locked file's status, taken once the lock was held.
    const struct stat& status() const { return m_status; }
    // Whether acquire() made the file.
    bool created() const { return m_created; }

    // Removes the empty file acquire() made (when the write that needed it fails), then releases.
    void discardCreated();
    // Lets the next waiter in. The destructor does this too.
    void release();

private:
    int m_fd = -1;
    bool m_created = false;
    struct stat m_status {};
    QByteArray m_path;
};

} // namespace lw
