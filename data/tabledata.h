// The data of a report's table: its fields and its records, read from a database alias or from a
// directory of table files (dBASE, Paradox), filtered by the definition's condition and cut to its range.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace lw::data {

// A failure to read data. The text names the file, the table, the record or carries the engine's
// own message. kind tells the tools which notice to show.
class DataError : public std::runtime_error {
public:
    enum class Kind {
        Source,  // the alias or directory cannot be opened (" DataBase path " / " Alias")
        Table,   // no such table, or the table file cannot be read (damaged, unknown version ...)
        Query,   // the condition is refused or fails (the engine's message)
    };
    DataError(Kind kind, const QString& text);
    Kind kind() const { return m_kind; }
    QString text() const { return QString::fromUtf8(what()); }

private:
    Kind m_kind;
};

enum class FieldType { Text, Integer, Double, Decimal, Date, Time, Timestamp, Logical, Binary };

struct Field {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;     // characters of a text field, digits of a number, 0 when unknown
    int decimals = 0; // digits after the point of a number field
};

// One typed value of a record.
struct Value {
    enum class Kind { Null, Integer, Double, Decimal, Text, Date, Time, Timestamp, Logical };
    Kind kind = Kind::Null;
    qint64 integer = 0; // Integer
    double number = 0;  // Double; of a Decimal, the number its text reads as
    QString text;       // Text; Decimal as its exact decimal text ("1234.50", "-0.1")
    QDate date;         // Date, and the date of a Timestamp
    QTime time;         // Time, and the time of a Timestamp
    bool logical = false;

    bool isNull() const { return kind == Kind::Null; }
};

using Record = std::vector<Value>;

// Records of a query in order, read as they are asked for (constant memory).
class RecordStream {
public:
    virtual ~RecordStream() = default;
    const std::vector<Field>& fields() const { return m_fields; }
    // The next record of the range into record (resized to the fields); false at the end.
    // Throws DataError on a damaged file or a failing engine.
    virtual bool next(Record& record) = 0;
    // What was read but not delivered in full, in words (memo fields read as empty, a header whose
    // record count disagrees with the file's size, ...). Each once.
    QStringList warnings() const { return m_warnings; }

protected:
    std::vector<Field> m_fields;
    QStringList m_warnings;
};

// Where a definition's table lives: a database alias or a directory of table files.
struct SourceRef {
    bool alias = false;
    QString path; // the alias name, or the directory (an alias name in directory mode is resolved
                  // to its directory as the main program does)
};

// How a running query is stopped: a flag that another thread or a signal handler sets (the user
// cancelled, the program is asked to end), watched while the engine works, and a limit on the
// time the engine spends on the statement. A stopped query throws DataError (Query).
struct QueryControl {
    const std::atomic<bool>* cancel = nullptr;
    int timeoutSeconds = 600; // 0: no limit

    bool cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
};

// An opened data source.
class DataSource {
public:
    virtual ~DataSource() = default;

    // Applies to the queries started afterwards.
    void setControl(const QueryControl& control) { m_control = control; }
    const QueryControl& control() const { return m_control; }

    // Opens the alias or directory with the catalogue's configuration. Throws DataError (Source).
    static std::unique_ptr<DataSource> open(const SourceRef& source);

    // The table's fields in order. Throws DataError (Table) for a missing or unreadable table.
    virtual std::vector<Field> fields(const QString& table) = 0;

    // `SELECT * FROM <table> <condition>` (condition empty: none), records from..to of its result
    // counted from 1: from below 1 is 1, to 0 is to the last record, to below from is an empty
    // range. Reading stops once `to` is reached. Table files are queried through an in-memory SQLite
    // virtual table when there is a condition; one statement only, reading only.
    virtual std::unique_ptr<RecordStream> query(const QString& table, const QString& condition,
                                                int from, int to) = 0;

    // How many records query() would deliver for the same arguments, counted by the database
    // engine without sending them; -1 when the source cannot count that way (table files) or the
    // engine refuses the count: the caller then reads the records to count them.
    virtual qint64 countRecords(const QString& table, const QString& condition, int from, int to) {
        (void)table, (void)condition, (void)from, (void)to;
        return -1;
    }

protected:
    QueryControl m_control;
};

} // namespace lw::data
