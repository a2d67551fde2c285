// The profile store: section/key=value files read and written one key at a time, never cached.
#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace lw {

// A write the store could not do. Its text is "Unable to write to <file name>".
class ProfileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

    // Section names, and the keys of the first matching section, in file order.
    QStringList sections() const;
    QStringList keys(const QString& section) const;

    // The file name as given to the constructor.
    QString fileName() const;

private:
    QString m_fileName;
};

} // namespace lw
