// The record streams the data sources hand out: the range From..To over any source of records,
// a table file read directly, and the parts the SQL-based streams share.
#pragma once

#include "data/tablefile.h"

#include <chrono>

struct sqlite3;
struct sqlite3_stmt;

namespace lw::data {

// The longest statement a source runs, in UTF-8 bytes (a larger condition is refused before it
// reaches the engine).
inline constexpr qsizetype maxStatementBytes = 1000 * 1000;
// The refusal of a condition past that length.
DataError statementTooLong();

// The failure of a query stopped by its control: cancelled, or past its time limit.
DataError queryStopped(const QueryControl& control, const QString& table);

// Stops an SQLite statement that runs on after its query was cancelled or used up its time: a
// progress handler looks at the control every few thousand instructions, so that even a statement
// that never yields a row (a recursive query without end, a cross join of millions) ends at once.
// The time counted is the time spent inside step(), not the time the caller takes per row.
class SqliteWatch {
public:
    void attach(sqlite3* db, const QueryControl& control);
    // Runs one sqlite3_step under the watch.
    int step(sqlite3_stmt* statement);
    // Whether the last stop came from the watch.
    bool stopped() const { return m_stopped; }
    const QueryControl& control() const { return m_control; }

private:
    static int onProgress(void* self);
    QueryControl m_control;
    std::chrono::steady_clock::duration m_used{};
    std::chrono::steady_clock::time_point m_stepStart{};
    bool m_stopped = false;
};

// A stream that cuts what fetch() delivers to the records from..to (counted from 1).
class RangedStream : public RecordStream {
public:
    RangedStream(int from, int to);
    bool next(Record& record) final;

protected:
    // The next record of the whole result into record, or past it when record is null; false at
    // the end. Throws DataError.
    virtual bool fetch(Record* record) = 0;
    // Called once when the range is over or the result has ended: resources may go.
    virtual void finish() {}
    // Called once when every record of the range was delivered, before finish(): throws DataError
    // when what was read cannot be trusted (the table changed meanwhile).
    virtual void verifyComplete() {}
    // New warnings of the source, added to the stream's own.
    void addWarnings(const QStringList& warnings);

private:
    qint64 m_from = 1;
    qint64 m_to = 0;       // 0: to the end
    qint64 m_position = 0; // records of the result passed so far
    bool m_done = false;
};

// The records of a table file, unfiltered, straight from its reader.
class TableStream : public RangedStream {
public:
    TableStream(std::unique_ptr<TableReader> reader, int from, int to,
                std::unique_ptr<TableFileWatch> watch = nullptr);

protected:
    bool fetch(Record* record) override;
    void finish() override;
    void verifyComplete() override;

private:
    std::unique_ptr<TableReader> m_reader;
    std::unique_ptr<TableFileWatch> m_watch;
};

// The records of `SELECT * FROM "<table>" <condition>` over a table file, run in an in-memory
// SQLite database through a virtual table over the reader. Throws DataError (Query) when the
// condition is refused or bad.
std::unique_ptr<RecordStream> queryTableFile(std::unique_ptr<TableReader> reader, const QString& table,
                                             const QString& condition, int from, int to,
                                             const QueryControl& control = {},
                                             std::unique_ptr<TableFileWatch> watch = nullptr);

// Of total records, how many the range from..to (as RangedStream cuts it) keeps.
qint64 countInRange(qint64 total, int from, int to);

// Whether the text holds a second statement after the first (a ";" outside quotes and comments
// followed by anything but blanks and comments). Quotes: '...', "...", `...`, [...] and
// PostgreSQL's $tag$...$tag$; comments: -- and /* */.
bool hasSecondStatement(const QString& sql);
// The refusal of a condition that holds a second statement.
DataError secondStatementRefused();
// Where the first statement's terminating ";" is (outside quotes and comments), or -1.
qsizetype statementEnd(const QString& sql);

} // namespace lw::data
