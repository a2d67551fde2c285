// The profile store: section/key=value files read and written one key at a time, never cached.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace lw {

// A write the store could not do. Its text is "Unable to write to <file name>".
class ProfileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A section or key name that cannot be written without breaking the file's lines
// (a section name holding "]" or a line break; a key holding "=" or a line break, or
// beginning with ";" or "["; either one empty). Nothing is written.
class ProfileArgumentError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// One key of a batch write.
struct ProfileEntry {
    QString section;
    QString key;
    QString value;
};

class Profile {
public:
    // A bare file name resolves into the per-user configuration directory; a path is used as given.
    explicit Profile(const QString& fileName);

    QString readString(const QString& section, const QString& key, const QString& def) const;
    void writeString(const QString& section, const QString& key, const QString& value);
    int readInteger(const QString& section, const QString& key, int def) const;
    void writeInteger(const QString& section, const QString& key, int value);
    bool readBool(const QString& section, const QString& key, bool def) const;
    void writeBool(const QString& section, const QString& key, bool value);

    // Writes several keys with one lock, one read and one atomic write of the file. Each entry
    // changes the file exactly as the single write would, in the given order. On failure the
    // file stays wholly as it was.
    void writeEntries(const QList<ProfileEntry>& entries);

    // Section names, and the keys of the first matching section, in file order.
    QStringList sections() const;
    QStringList keys(const QString& section) const;

    // The file name as given to the constructor.
    QString fileName() const;

    // The path the file name stands for: a bare name inside profileDirectory(), a path as given.
    QString filePath() const;

    // How long a write waits for another process's lock before it gives up (10 seconds unless
    // changed; tests shorten it).
    static void setLockTimeout(int milliseconds);
    static int lockTimeout();

private:
    QString m_fileName;
};

// The per-user configuration directory that bare file names resolve into: the application
// configuration location of the application "Ledgerwick" (~/.config/Ledgerwick), whatever name
// the running process itself has. It is not created here.
QString profileDirectory();

// The integer a stored text stands for, or nothing when the text is not an integer: leading
// blanks, then "$" (or a leading "0x"/"0X") and one to eight hexadecimal digits taken as 32 bits,
// or an optional sign and decimal digits within the 32-bit signed range; nothing may follow.
std::optional<int> profileInteger(const QString& text);

} // namespace lw
