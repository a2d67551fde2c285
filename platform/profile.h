// The profile store: section/key=value files read and written one key at a time, never cached.
#pragma once

#include <QHash>
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

// A file the store could not read although it is there: larger than profileMaxBytes(), a read that
// failed, or not enough memory for it. Its text names the file and says why.
class ProfileReadError : public std::runtime_error {
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

// The keys of one section as read in one go (Profile::readSections): looked up exactly as the
// single reads look them up, without going back to the file.
class ProfileSection {
public:
    // Whether the file holds the section at all.
    bool exists() const { return m_exists; }
    // Key names in file order, the first of each name only.
    QStringList keys() const;
    QString readString(const QString& key, const QString& def) const;
    int readInteger(const QString& key, int def) const;
    bool readBool(const QString& key, bool def) const;

private:
    friend class Profile;
    bool m_exists = false;
    QStringList m_names;          // as in the file
    QStringList m_values;         // as readString gives them
    QHash<QString, qsizetype> m_index; // folded name -> position
};

class Profile {
public:
    // A bare file name resolves into the per-user configuration directory; a path is used as given.
    explicit Profile(const QString& fileName);

    // Single values. A missing or unopenable file gives the default; a file that is there but
    // cannot be read (see ProfileReadError) throws.
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

    // The named sections (the first of each name, as the single reads take it) with one read of
    // the file, in the order asked for.
    QList<ProfileSection> readSections(const QStringList& names) const;

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
    // The file's path in the system's encoding.
    QByteArray nativePath() const;

    QString m_fileName;
    QByteArray m_nativePath; // set when the file name is a path
};

// The per-user configuration directory that bare file names resolve into: the application
// configuration location of the application "Ledgerwick" (~/.config/Ledgerwick), whatever name
// the running process itself has. It is not created here.
QString profileDirectory();

// The program's settings file "l_wick.ini", a bare name: the store keeps it in profileDirectory().
// The main program and its sibling tools share it.
QString settingsFileName();

// The largest profile file the store reads (16 MiB): no settings or definition file comes near it,
// and a bigger one is read as an error instead of costing its size in memory and time.
qint64 profileMaxBytes();

// The integer a stored text stands for, or nothing when the text is not an integer: leading
// blanks, then "$" (or a leading "0x"/"0X") and one to eight hexadecimal digits taken as 32 bits,
// or an optional sign and decimal digits within the 32-bit signed range; nothing may follow.
std::optional<int> profileInteger(const QString& text);

} // namespace lw
