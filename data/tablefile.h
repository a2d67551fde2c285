// Readers of table files (dBASE .dbf, Paradox .db): the fields and a walk over the live records,
// decoding only the values asked for, in constant memory. Used by the record streams and by the
// SQLite virtual table.
#pragma once

#include "data/tabledata.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace lw::data {

// A table file opened for reading with a buffer of its own. Every read is checked against the
// file's size as it was when opened.
class InputFile {
public:
    // Throws DataError (Table) when the file cannot be opened or is not a plain file.
    explicit InputFile(const QString& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const QString& path() const { return m_path; }
    qint64 size() const { return m_size; }
    // Reads exactly length bytes at offset into buffer; false when the file ends first.
    bool readAt(qint64 offset, void* buffer, qint64 length) const;

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
};

// The files of a table (the table and its memo file) watched while its records are read: each is
// held under a shared lock (flock), so that a program that locks it before writing waits for us,
// and at the end of the read check() compares each file's size, modification time and inode with
// what they were when the watch began.
class TableFileWatch {
public:
    // Throws DataError (Table) when a file cannot be opened, or another program holds a lock on
    // it to write it.
    explicit TableFileWatch(const QString& tablePath);
    ~TableFileWatch();
    TableFileWatch(const TableFileWatch&) = delete;
    TableFileWatch& operator=(const TableFileWatch&) = delete;

    // Throws DataError (Query: the report must not be made) when a file changed since the watch began.
    void check() const;

private:
    struct Watched;
    std::vector<Watched> m_files;
};

class TableReader {
public:
    virtual ~TableReader() = default;

    const QString& path() const { return m_path; }
    const std::vector<Field>& fields() const { return m_fields; }

    // Moves to the next live (not deleted) record; false after the last. Throws DataError (Table)
    // naming the file and the record when the file is damaged.
    virtual bool advance() = 0;
    // The value of one field of the current record.
    virtual void value(int column, Value& out) = 0;
    // The UTF-8 text of a Text field of the current record (out cleared); false when it is null.
    virtual bool textUtf8(int column, std::string& out) = 0;
    // Back before the first record.
    virtual void rewind() = 0;
    // The current record's number in the file, counted from 1 (deleted records included).
    virtual qint64 recordNumber() const = 0;
    // Where the current record is, as a number seek() takes back (a rowid for SQLite).
    virtual qint64 position() const = 0;
    // Makes the record at a position() of this file current, as advance() would have. Throws
    // DataError (Table) when there is no record there.
    virtual void seek(qint64 position) = 0;

    // Decimal values with their number only, without their text (for SQLite, which only
    // compares and sorts them).
    void setNumbersOnly(bool on) { m_numbersOnly = on; }

    // What could not be read in full, each once, in the order it was met.
    const QStringList& warnings() const { return m_warnings; }

protected:
    void warn(const QString& text) {
        if (!m_warnings.contains(text)) {
            m_warnings.append(text);
        }
    }

    QString m_path;
    std::vector<Field> m_fields;
    QStringList m_warnings;
    bool m_numbersOnly = false;
};

// Opens a dBASE table (by its first byte) or a Paradox table. Throws DataError (Table).
std::unique_ptr<TableReader> openTableFile(const QString& path);
std::unique_ptr<TableReader> openDbf(const QString& path);
std::unique_ptr<TableReader> openParadox(const QString& path);

// Puts the reader's current record into record (resized to the fields).
void readRecord(TableReader& reader, Record& record);

// "The table file "<path>" ..." with a reason; the text of a Table error.
[[noreturn]] void failTable(const QString& path, const QString& reason);

} // namespace lw::data
