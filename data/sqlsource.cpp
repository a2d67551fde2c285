// Table data of database aliases through Qt SQL: the fields of a table, and the records of
// `SELECT * FROM <table> <condition>` in a read-only transaction, fetched forward only.
#include "data/sqlsource.h"

#include "data/streams.h"
#include "data/textvalues.h"
#include "data/values.h"
#include "data/catalogue.h"

#ifdef LW_HAVE_LIBPQ
#include <libpq-fe.h>
#include <poll.h>
#endif
#ifdef LW_HAVE_ODBC
#include <sql.h>
#include <sqlext.h>
#endif

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariant>

namespace lw::data {

namespace {

QString errorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

bool isPostgres(const SqlSource& s) {
    return s.driver == QLatin1String("QPSQL");
}
bool isSqlite(const SqlSource& s) {
    return s.driver == QLatin1String("QSQLITE");
}

QString quoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// What the declared type of an SQLite column makes of its values.
FieldType sqliteDeclaredType(const QString& declared) {
    const QString t = declared.trimmed().toUpper();
    if (t == QLatin1String("DATE")) {
        return FieldType::Date;
    }
    if (t == QLatin1String("DATETIME") || t == QLatin1String("TIMESTAMP")) {
        return FieldType::Timestamp;
    }
    // SQLite's own affinity rules.
    if (t.contains(QLatin1String("INT"))) {
        return FieldType::Integer;
    }
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) ||
        t.contains(QLatin1String("TEXT"))) {
        return FieldType::Text;
    }
    if (t.contains(QLatin1String("BLOB"))) {
        return FieldType::Binary;
    }
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) ||
        t.contains(QLatin1String("DOUB"))) {
        return FieldType::Double;
    }
    if (t.contains(QLatin1String("BOOL"))) {
        return FieldType::Logical;
    }
    if (t.isEmpty()) {
        return FieldType::Text;
    }
    return FieldType::Decimal;
}

FieldType qtFieldType(const QSqlField& field, bool postgres) {
    constexpr int numericOid = 1700;
    if (postgres && field.typeID() == numericOid) {
        return FieldType::Decimal;
    }
    switch (field.metaType().id()) {
    case QMetaType::Bool:
        return FieldType::Logical;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::ULong:
        return FieldType::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return FieldType::Double;
    case QMetaType::QDate:
        return FieldType::Date;
    case QMetaType::QTime:
        return FieldType::Time;
    case QMetaType::QDateTime:
        return FieldType::Timestamp;
    case QMetaType::QByteArray:
        return FieldType::Binary;
    default:
        return FieldType::Text;
    }
}

void toValue(const QVariant& v, FieldType hint, int decimals, Value& out) {
    if (v.isNull() || !v.isValid()) {
        out.kind = Value::Kind::Null;
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Bool:
        out.kind = Value::Kind::Logical;
        out.logical = v.toBool();
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::ULong:
        if (hint == FieldType::Logical) {
            out.kind = Value::Kind::Logical;
            out.logical = v.toLongLong() != 0;
            return;
        }
        if (hint == FieldType::Decimal && decimals > 0) {
            out.kind = Value::Kind::Decimal;
            out.number = double(v.toLongLong());
            out.text =
                QString::number(v.toLongLong()) + QLatin1Char('.') + QString(decimals, QLatin1Char('0'));
            return;
        }
        out.kind = Value::Kind::Integer;
        out.integer = v.toLongLong();
        return;
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max())) {
            out.kind = Value::Kind::Decimal;
            out.text = QString::number(u);
            out.number = double(u);
            return;
        }
        out.kind = Value::Kind::Integer;
        out.integer = qint64(u);
        return;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        out.number = v.toDouble();
        if (hint == FieldType::Decimal && decimals > 0) {
            setDecimal(out, out.number, decimals);
            return;
        }
        out.kind = Value::Kind::Double;
        return;
    case QMetaType::QDate:
        out.kind = Value::Kind::Date;
        out.date = v.toDate();
        return;
    case QMetaType::QTime:
        out.kind = Value::Kind::Time;
        out.time = v.toTime();
        return;
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        out.kind = Value::Kind::Timestamp;
        out.date = dt.date();
        out.time = dt.time();
        return;
    }
    case QMetaType::QByteArray:
        out.kind = Value::Kind::Null;
        return;
    default:
        break;
    }
    // Numbers, dates and logicals the driver hands over as text are parsed on their bytes.
    setTextValue(out, v.toString(), hint);
}

// Cancels an ODBC statement from a thread of its own when the query's control says stop, or when
// its execution passes the time limit (not every driver keeps SQL_ATTR_QUERY_TIMEOUT): the driver
// is blocked in the statement's call, and SQLCancel is the one call made for another thread.
class OdbcCancelWatch {
public:
    OdbcCancelWatch(void* statement, const QueryControl& control) {
#ifdef LW_HAVE_ODBC
        if (statement == nullptr) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(control.timeoutSeconds);
        m_thread = std::thread([this, statement, control, deadline] {
            std::unique_lock lock(m_mutex);
            while (!m_done) {
                const bool late = m_timing && control.timeoutSeconds > 0 && std::chrono::steady_clock::now() > deadline;
                if (control.cancelled() || late) {
                    m_timedOut = late && !control.cancelled();
                    SQLCancel(static_cast<SQLHSTMT>(statement));
                    return;
                }
                m_wake.wait_for(lock, std::chrono::milliseconds(50));
            }
        });
#else
        Q_UNUSED(statement);
        Q_UNUSED(control);
#endif
    }
    ~OdbcCancelWatch() { stop(); }
    OdbcCancelWatch(const OdbcCancelWatch&) = delete;
    OdbcCancelWatch& operator=(const OdbcCancelWatch&) = delete;
    // The statement has run: its rows are fetched without a time limit, as with the other engines'
    // results once they flow.
    void executed() {
        std::lock_guard lock(m_mutex);
        m_timing = false;
    }
    bool timedOut() {
        std::lock_guard lock(m_mutex);
        return m_timedOut;
    }
    void stop() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_timing = true;
    bool m_timedOut = false;
    std::thread m_thread;
};

// The ODBC statement handle behind a prepared query (Qt's driver hands out its SQLHANDLE, a void*).
void* odbcStatement(const QSqlQuery& query) {
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "SQLHANDLE") != 0 && qstrcmp(handle.typeName(), "void*") != 0)) {
        return nullptr;
    }
    return *static_cast<void* const*>(handle.constData());
}

class SqlStream : public RangedStream {
public:
    SqlStream(QSqlQuery query, std::vector<Field> fields, bool transaction, const QString& connection,
              const QString& alias, int from, int to, std::unique_ptr<OdbcCancelWatch> watch,
              const QueryControl& control, const QString& table)
        : RangedStream(from, to), m_query(std::move(query)), m_transaction(transaction),
          m_connection(connection), m_alias(alias), m_watch(std::move(watch)), m_control(control),
          m_table(table) {
        m_fields = std::move(fields);
        m_columns = int(m_fields.size());
    }
    ~SqlStream() override { finish(); }

protected:
    bool fetch(Record* record) override {
        if (m_finished) {
            return false;
        }
        if (!m_query.next()) {
            const QSqlError error = m_query.lastError();
            finish();
            if (error.isValid() && error.type() != QSqlError::NoError) {
                if (m_control.cancelled()) {
                    throw queryStopped(m_control, m_table);
                }
                throw DataError(DataError::Kind::Query,
                                QStringLiteral("Reading the records of alias \"%1\" failed: %2")
                                    .arg(m_alias, errorText(error)));
            }
            return false;
        }
        if (record != nullptr) {
            record->resize(std::size_t(m_columns));
            for (int i = 0; i < m_columns; ++i) {
                const Field& f = m_fields[std::size_t(i)];
                toValue(m_query.value(i), f.type, f.decimals, (*record)[std::size_t(i)]);
            }
        }
        return true;
    }

    void finish() override {
        if (m_finished) {
            return;
        }
        m_finished = true;
        if (m_watch) {
            m_watch->stop();
        }
        m_query.finish();
        m_query = QSqlQuery();
        if (m_transaction) {
            QSqlQuery end(QSqlDatabase::database(m_connection, false));
            end.exec(QStringLiteral("ROLLBACK"));
        }
    }

private:
    QSqlQuery m_query;
    bool m_transaction = false;
    bool m_finished = false;
    int m_columns = 0;
    QString m_connection;
    QString m_alias;
    std::unique_ptr<OdbcCancelWatch> m_watch;
    QueryControl m_control;
    QString m_table;
};

#ifdef LW_HAVE_LIBPQ
// The next result of the statement running on conn, waiting on the connection's socket in short
// steps: when the query's control says stop, the server is asked to cancel the statement (once),
// and its answer (an error) comes as the result.
PGresult* pgResult(PGconn* conn, const QueryControl& control) {
    bool cancelSent = false;
    while (PQisBusy(conn)) {
        if (!cancelSent && control.cancelled()) {
            cancelSent = true;
            if (PGcancel* cancel = PQgetCancel(conn)) {
                char error[256];
                PQcancel(cancel, error, sizeof error);
                PQfreeCancel(cancel);
            }
        }
        pollfd p{PQsocket(conn), POLLIN, 0};
        if (p.fd < 0) {
            break;
        }
        ::poll(&p, 1, 100);
        if (!PQconsumeInput(conn)) {
            break;
        }
    }
    return PQgetResult(conn);
}

// Whether a failed result is the server cancelling the statement (by our request or its time limit).
bool pgCancelled(const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr && qstrcmp(state, "57014") == 0;
}

// Asks the server to cancel the statement running on conn.
void pgCancel(PGconn* conn) {
    if (PGcancel* cancel = PQgetCancel(conn)) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }
}

// One field of a row in COPY's text format, its escapes undone in place: "\b", "\f", "\n", "\r",
// "\t", "\v", one to three octal digits, "\x" and one or two hex digits; a backslash before any
// other character stands for that character. Returns the new length.
qsizetype unescapeCopyField(char* text, qsizetype length) {
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    char* w = text;
    const char* r = text;
    const char* end = text + length;
    while (r < end) {
        if (*r != '\\' || r + 1 == end) {
            *w++ = *r++;
            continue;
        }
        ++r;
        const char c = *r++;
        switch (c) {
        case 'b': *w++ = '\b'; break;
        case 'f': *w++ = '\f'; break;
        case 'n': *w++ = '\n'; break;
        case 'r': *w++ = '\r'; break;
        case 't': *w++ = '\t'; break;
        case 'v': *w++ = '\v'; break;
        case 'x':
            if (r < end && hex(*r) >= 0) {
                int v = hex(*r++);
                if (r < end && hex(*r) >= 0)
                    v = v * 16 + hex(*r++);
                *w++ = char(v);
            } else {
                *w++ = 'x';
            }
            break;
        default:
            if (c >= '0' && c <= '7') {
                int v = c - '0';
                for (int k = 0; k < 2 && r < end && *r >= '0' && *r <= '7'; ++k)
                    v = v * 8 + (*r++ - '0');
                *w++ = char(v);
            } else {
                *w++ = c;
            }
            break;
        }
    }
    return w - text;
}

// PostgreSQL's rows straight from libpq on the connection Qt opened, in a read-only transaction,
// values converted from their text by the column's type. The rows come as the text of
// `COPY (<query>) TO STDOUT`, a line a row, which libpq hands over without building a result for
// each; where that cannot be used, in single-row mode (a result a row).
class PgStream : public RangedStream {
public:
    // columns describes the result; first is the first result of single-row mode (taken over), or
    // null when the rows come through COPY.
    PgStream(PGconn* conn, const PGresult* columns, PGresult* first, bool copy, const QString& alias,
             const QString& table, int from, int to, const QueryControl& control)
        : RangedStream(from, to), m_conn(conn), m_pending(first), m_copy(copy), m_alias(alias), m_table(table),
          m_control(control) {
        m_copying = copy;
        const int n = PQnfields(columns);
        for (int i = 0; i < n; ++i) {
            Field f;
            f.name = QString::fromUtf8(PQfname(columns, i));
            const int mod = PQfmod(columns, i);
            switch (PQftype(columns, i)) {
            case 16:
                f.type = FieldType::Logical;
                break;
            case 20:
            case 21:
            case 23:
            case 26:
                f.type = FieldType::Integer;
                break;
            case 700:
            case 701:
                f.type = FieldType::Double;
                break;
            case 1700:
                f.type = FieldType::Decimal;
                if (mod >= 4) {
                    f.size = ((mod - 4) >> 16) & 0xFFFF;
                    f.decimals = (mod - 4) & 0xFFFF;
                }
                break;
            case 1082:
                f.type = FieldType::Date;
                break;
            case 1083:
            case 1266:
                f.type = FieldType::Time;
                break;
            case 1114:
            case 1184:
                f.type = FieldType::Timestamp;
                break;
            case 17:
                f.type = FieldType::Binary;
                break;
            default:
                f.type = FieldType::Text;
                f.size = mod >= 4 ? mod - 4 : 0;
                break;
            }
            m_fields.push_back(f);
        }
    }
    ~PgStream() override { finish(); }

protected:
    bool fetch(Record* record) override {
        if (m_conn == nullptr) {
            return false;
        }
        if (m_copy) {
            return fetchCopied(record);
        }
        PGresult* r = m_pending ? m_pending : pgResult(m_conn, m_control);
        m_pending = nullptr;
        const ExecStatusType status = r ? PQresultStatus(r) : PGRES_TUPLES_OK;
        if (status == PGRES_SINGLE_TUPLE) {
            if (record != nullptr) {
                convert(r, *record);
            }
            PQclear(r);
            return true;
        }
        if (status == PGRES_TUPLES_OK) {
            PQclear(r);
            finish();
            return false;
        }
        const QString reason =
            QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(m_conn)).trimmed();
        const bool stopped = pgCancelled(r);
        PQclear(r);
        finish();
        if (stopped) {
            throw queryStopped(m_control, m_table);
        }
        throw DataError(
            DataError::Kind::Query,
            QStringLiteral("Reading the records of alias \"%1\" failed: %2").arg(m_alias, reason));
    }

    void finish() override {
        if (m_conn == nullptr) {
            return;
        }
        PQclear(m_pending);
        m_pending = nullptr;
        // Rows still coming are not wanted: the server is asked to stop sending them.
        if (m_copying || PQisBusy(m_conn) || PQtransactionStatus(m_conn) == PQTRANS_ACTIVE) {
            pgCancel(m_conn);
        }
        // What COPY sends until the server has stopped is read and dropped (its end, or the error
        // the cancel makes); only then does the connection give its results again.
        if (m_copying) {
            char* line = nullptr;
            while (PQgetCopyData(m_conn, &line, 0) > 0) {
                PQfreemem(line);
                line = nullptr;
            }
            m_copying = false;
        }
        while (PGresult* r = PQgetResult(m_conn)) {
            // A connection still in COPY (its data unreadable) would give that result for ever.
            const bool copyState = PQresultStatus(r) == PGRES_COPY_OUT;
            PQclear(r);
            if (copyState) {
                break;
            }
        }
        PQclear(PQexec(m_conn, "ROLLBACK"));
        m_conn = nullptr;
    }

private:
    // The next row of COPY's output: waits on the connection's socket in short steps, asking the
    // server to cancel the statement (once) when the query's control says stop.
    bool fetchCopied(Record* record) {
        char* line = nullptr;
        int n = 0;
        bool cancelSent = false;
        while ((n = PQgetCopyData(m_conn, &line, 1)) == 0) {
            if (!cancelSent && m_control.cancelled()) {
                cancelSent = true;
                pgCancel(m_conn);
            }
            pollfd p{PQsocket(m_conn), POLLIN, 0};
            if (p.fd < 0) {
                n = -2;
                break;
            }
            ::poll(&p, 1, 100);
            if (!PQconsumeInput(m_conn)) {
                n = -2;
                break;
            }
        }
        if (n > 0) {
            const std::unique_ptr<char, void (*)(void*)> owned(line, PQfreemem);
            if (record != nullptr) {
                convertLine(line, n, *record);
            }
            ++m_rows;
            return true;
        }
        // The end of the rows: the statement's own result says whether all of them came.
        m_copying = false;
        PGresult* r = PQgetResult(m_conn);
        const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK) {
            PQclear(r);
            finish();
            return false;
        }
        const QString reason =
            QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(m_conn)).trimmed();
        const bool stopped = pgCancelled(r);
        PQclear(r);
        finish();
        if (stopped) {
            throw queryStopped(m_control, m_table);
        }
        // Before its first row the statement itself failed, as a query that is refused does.
        if (m_rows == 0) {
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3")
                                .arg(m_table, m_alias, reason));
        }
        throw DataError(
            DataError::Kind::Query,
            QStringLiteral("Reading the records of alias \"%1\" failed: %2").arg(m_alias, reason));
    }

    // A row of COPY's text format: fields separated by tabs, "\N" for null, escapes in texts.
    void convertLine(char* line, int length, Record& record) {
        qsizetype n = length;
        if (n > 0 && line[n - 1] == '\n') {
            --n;
        }
        record.resize(m_fields.size());
        char* field = line;
        char* const end = line + n;
        const std::size_t count = m_fields.size();
        for (std::size_t i = 0; i < count; ++i) {
            char* tab = static_cast<char*>(std::memchr(field, '\t', std::size_t(end - field)));
            if ((tab != nullptr) != (i + 1 < count)) {
                malformedRow();
            }
            char* fieldEnd = tab ? tab : end;
            Value& out = record[i];
            qsizetype size = fieldEnd - field;
            if ((size == 2 && field[0] == '\\' && field[1] == 'N') || m_fields[i].type == FieldType::Binary) {
                out.kind = Value::Kind::Null;
            } else {
                if (std::memchr(field, '\\', std::size_t(size)) != nullptr) {
                    size = unescapeCopyField(field, size);
                }
                setTextValue(out, field, size, m_fields[i].type);
            }
            field = fieldEnd + 1;
        }
        if (count == 0 && n != 0) {
            malformedRow();
        }
    }

    [[noreturn]] void malformedRow() {
        finish();
        throw DataError(DataError::Kind::Query,
                        QStringLiteral("Reading the records of alias \"%1\" failed: the server sent a row "
                                       "whose fields do not match its columns")
                            .arg(m_alias));
    }

    void convert(PGresult* r, Record& record) {
        record.resize(m_fields.size());
        for (std::size_t i = 0; i < m_fields.size(); ++i) {
            Value& out = record[i];
            const int c = int(i);
            if (PQgetisnull(r, 0, c)) {
                out.kind = Value::Kind::Null;
                continue;
            }
            if (m_fields[i].type == FieldType::Binary) {
                out.kind = Value::Kind::Null;
                continue;
            }
            // Text, and what its type's parser does not take ("infinity", BC dates), stays text.
            setTextValue(out, PQgetvalue(r, 0, c), PQgetlength(r, 0, c), m_fields[i].type);
        }
    }

    PGconn* m_conn = nullptr;
    PGresult* m_pending = nullptr;
    bool m_copy = false;    // the rows come through COPY
    bool m_copying = false; // COPY's rows are still coming
    qint64 m_rows = 0;
    QString m_alias;
    QString m_table;
    QueryControl m_control;
};

PGconn* pgConnection(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    // Qt registers the handle under the name of the struct behind libpq's typedef.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0)) {
        return nullptr;
    }
    return *static_cast<PGconn* const*>(handle.constData());
}
#endif

class SqlDataSource : public DataSource {
public:
    SqlDataSource(const QString& alias, const SqlSource& source, bool trustedConditions)
        : m_alias(alias), m_source(source), m_trustedConditions(trustedConditions) {
        m_connection = QStringLiteral("lw_data:") + alias;
        if (m_source.driver == QLatin1String("QODBC")) {
            // Reading only: the driver is told so.
            m_source.connectOptions = QStringLiteral("SQL_ATTR_ACCESS_MODE=SQL_MODE_READ_ONLY");
        }
        connect();
    }

    std::vector<Field> fields(const QString& table) override {
        connect();
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(
                QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(quoteTableName(m_source.driver, table)))) {
            throw DataError(DataError::Kind::Table,
                            QStringLiteral("The table \"%1\" of alias \"%2\" cannot be read: %3")
                                .arg(table, m_alias, errorText(query.lastError())));
        }
        return fieldsOf(query.record(), table);
    }

    std::unique_ptr<RecordStream> query(const QString& table, const QString& condition, int from,
                                        int to) override {
        if (condition.toUtf8().size() > maxStatementBytes) {
            throw statementTooLong();
        }
        if (hasSecondStatement(condition)) {
            throw secondStatementRefused();
        }
        std::vector<Field> tableFields = fields(table);
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (isPostgres(m_source) && !condition.trimmed().isEmpty()) {
            refuseUntrustedRole(db);
        }
#ifdef LW_HAVE_LIBPQ
        if (PGconn* conn = isPostgres(m_source) ? pgConnection(db) : nullptr) {
            return queryPostgres(conn, table, condition, from, to);
        }
#endif
        const bool transaction = isPostgres(m_source);
        if (transaction) {
            QSqlQuery start(db);
            if (!start.exec(QStringLiteral("START TRANSACTION READ ONLY"))) {
                throw DataError(
                    DataError::Kind::Query,
                    QStringLiteral("The database of alias \"%1\" refuses a read-only transaction: %2")
                        .arg(m_alias, errorText(start.lastError())));
            }
        }
        // The statement's own terminator, and any comment after it, are left out: the driver
        // takes one statement without one.
        const QString statement = statementFor(table, condition);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        // ODBC: prepared first, so that the statement's handle is there for its time limit and
        // for SQLCancel while it runs.
        std::unique_ptr<OdbcCancelWatch> watch;
        bool ran = false;
        if (m_source.driver == QLatin1String("QODBC") && query.prepare(statement)) {
            void* handle = odbcStatement(query);
#ifdef LW_HAVE_ODBC
            if (handle != nullptr && m_control.timeoutSeconds > 0) {
                SQLSetStmtAttr(static_cast<SQLHSTMT>(handle), SQL_ATTR_QUERY_TIMEOUT,
                               reinterpret_cast<SQLPOINTER>(SQLULEN(m_control.timeoutSeconds)), 0);
            }
#endif
            watch = std::make_unique<OdbcCancelWatch>(handle, m_control);
            ran = query.exec();
            watch->executed();
        } else {
            ran = query.exec(statement);
        }
        if (!ran) {
            if (watch) {
                watch->stop();
            }
            if (m_control.cancelled() || (watch && watch->timedOut())) {
                query = QSqlQuery();
                throw queryStopped(m_control, table);
            }
            const QString reason = errorText(query.lastError());
            query = QSqlQuery();
            if (transaction) {
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            }
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3")
                                .arg(table, m_alias, reason));
        }
        // The columns of the result, typed as the table declares them where their names match.
        std::vector<Field> resultFields = fieldsOf(query.record(), table);
        for (Field& f : resultFields) {
            for (const Field& t : tableFields) {
                if (t.name.compare(f.name, Qt::CaseInsensitive) == 0) {
                    f = t;
                    break;
                }
            }
        }
        return std::make_unique<SqlStream>(std::move(query), std::move(resultFields), transaction,
                                           m_connection, m_alias, from, to, std::move(watch), m_control, table);
    }

    qint64 countRecords(const QString& table, const QString& condition, int from, int to) override {
        if (hasSecondStatement(condition)) {
            return -1;
        }
        connect();
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        const bool transaction = isPostgres(m_source);
        qint64 total = -1;
        {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!transaction || q.exec(QStringLiteral("START TRANSACTION READ ONLY"))) {
                // The new line ends a comment the condition may close with.
                if (q.exec(QStringLiteral("SELECT count(*) FROM (%1\n) AS lw_counted").arg(statementFor(table, condition))) &&
                    q.next()) {
                    bool ok = false;
                    total = q.value(0).toLongLong(&ok);
                    total = ok ? total : -1;
                }
                q.finish();
                if (transaction) {
                    q.exec(QStringLiteral("ROLLBACK"));
                }
            }
        }
        return total < 0 ? -1 : countInRange(total, from, to);
    }

private:
    // A read-only transaction keeps a condition from changing the database, not from what a
    // superuser or a role with the server's file and program rights may do in a SELECT (read and
    // write files, run programs on the server). Such a login runs no condition unless the
    // administrator says its conditions are trusted.
    void refuseUntrustedRole(QSqlDatabase& db) {
        if (m_trustedConditions) {
            return;
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const bool asked = q.exec(QStringLiteral(
                               "SELECT r.rolsuper, coalesce((SELECT string_agg(b.rolname, ', ' ORDER BY b.rolname) "
                               "FROM pg_roles b WHERE b.rolname IN ('pg_read_server_files', 'pg_write_server_files', "
                               "'pg_execute_server_program') AND pg_has_role(current_user, b.oid, 'MEMBER')), ''), "
                               "current_user FROM pg_roles r WHERE r.rolname = current_user")) &&
                           q.next();
        if (!asked) {
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The rights of the login of alias \"%1\" cannot be read (%2): "
                                           "the condition is not run")
                                .arg(m_alias, errorText(q.lastError())));
        }
        const bool superuser = q.value(0).toBool();
        const QString roles = q.value(1).toString();
        const QString user = q.value(2).toString();
        if (!superuser && roles.isEmpty()) {
            return;
        }
        const QString why = superuser ? QStringLiteral("a superuser") : QStringLiteral("a member of %1").arg(roles);
        throw DataError(DataError::Kind::Query,
                        QStringLiteral("The condition is not run: alias \"%1\" logs in as \"%2\", %3, who may "
                                       "read, write or run files on the database server from a query. Let the "
                                       "alias log in with a role that may only read its tables; or, where "
                                       "everyone who writes conditions is trusted, the administrator adds "
                                       "\"Conditions=trusted\" to the alias in the alias file.")
                            .arg(m_alias, user, why));
    }

    // The statement: SELECT * FROM <table> and the condition without its own terminator.
    QString statementFor(const QString& table, const QString& condition) const {
        const qsizetype end = statementEnd(condition);
        const QString cond = (end < 0 ? condition : condition.left(end)).trimmed();
        QString statement = QStringLiteral("SELECT * FROM ") + quoteTableName(m_source.driver, table);
        if (!cond.isEmpty()) {
            statement += QLatin1Char(' ') + cond;
        }
        return statement;
    }

#ifdef LW_HAVE_LIBPQ
    // copy: the rows may come through COPY (the statement falls back to single-row mode when the
    // server does not take COPY of a query).
    std::unique_ptr<RecordStream> queryPostgres(PGconn* conn, const QString& table, const QString& condition,
                                                int from, int to, bool copy = true) {
        auto fail = [&](const QString& what, const QString& reason) {
            while (PGresult* r = PQgetResult(conn)) {
                PQclear(r);
            }
            PQclear(PQexec(conn, "ROLLBACK"));
            throw DataError(DataError::Kind::Query, what.arg(table, m_alias, reason.trimmed()));
        };
        PGresult* start = PQexec(conn, "START TRANSACTION READ ONLY");
        const bool started = PQresultStatus(start) == PGRES_COMMAND_OK;
        const QString startError = QString::fromUtf8(PQresultErrorMessage(start));
        PQclear(start);
        if (!started) {
            fail(QStringLiteral(
                     "The query on table \"%1\" of alias \"%2\" cannot start a read-only transaction: %3"),
                 startError);
        }
        // The statement's time limit, and a server that looks every second whether we are still
        // there (from version 14), so that a backend whose client was killed stops its statement.
        QByteArray limits;
        if (m_control.timeoutSeconds > 0) {
            limits += "SET LOCAL statement_timeout = " + QByteArray::number(qint64(m_control.timeoutSeconds) * 1000) + ';';
        }
        if (PQserverVersion(conn) >= 140000) {
            limits += "SET LOCAL client_connection_check_interval = 1000;";
        }
        if (!limits.isEmpty()) {
            PGresult* set = PQexec(conn, limits.constData());
            const bool ok = PQresultStatus(set) == PGRES_COMMAND_OK;
            const QString setError = QString::fromUtf8(PQresultErrorMessage(set));
            PQclear(set);
            if (!ok) {
                fail(QStringLiteral("The query on table \"%1\" of alias \"%2\" cannot set its time limit: %3"),
                     setError);
            }
        }
        // The extended protocol takes exactly one statement.
        const QByteArray sql = statementFor(table, condition).toUtf8();
        // COPY's text escapes only bytes below 0x80, which UTF-8 never uses inside a character.
        if (copy && qstrcmp(pg_encoding_to_char(PQclientEncoding(conn)), "UTF8") == 0) {
            return queryPostgresCopied(conn, sql, table, condition, from, to, fail);
        }
        if (!PQsendQueryParams(conn, sql.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0) ||
            !PQsetSingleRowMode(conn)) {
            fail(QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3"),
                 QString::fromUtf8(PQerrorMessage(conn)));
        }
        PGresult* first = pgResult(conn, m_control);
        const ExecStatusType status = first ? PQresultStatus(first) : PGRES_FATAL_ERROR;
        if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK) {
            const QString reason =
                QString::fromUtf8(first ? PQresultErrorMessage(first) : PQerrorMessage(conn));
            const bool stopped = pgCancelled(first);
            PQclear(first);
            if (stopped) {
                while (PGresult* r = PQgetResult(conn)) {
                    PQclear(r);
                }
                PQclear(PQexec(conn, "ROLLBACK"));
                throw queryStopped(m_control, table);
            }
            fail(QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3"), reason);
        }
        return std::make_unique<PgStream>(conn, first, first, false, m_alias, table, from, to, m_control);
    }

    // The rows of the statement sql through `COPY (sql) TO STDOUT`, in the transaction begun. The
    // statement is prepared first: that checks it is one query as it stands (so that wrapping it
    // in COPY runs that query and nothing else) and gives its columns' types, which COPY's rows do
    // not carry. One statement, as before: its time limit and its cancelling work the same.
    template <typename Fail>
    std::unique_ptr<RecordStream> queryPostgresCopied(PGconn* conn, const QByteArray& sql, const QString& table,
                                                      const QString& condition, int from, int to, Fail& fail) {
        const QString failed = QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3");
        const auto stop = [&] {
            while (PGresult* r = PQgetResult(conn)) {
                PQclear(r);
            }
            PQclear(PQexec(conn, "ROLLBACK"));
            throw queryStopped(m_control, table);
        };
        // The result of a command sent, of the status expected; else the query fails as refused.
        const auto step = [&](bool sent, ExecStatusType expected) {
            if (!sent) {
                fail(failed, QString::fromUtf8(PQerrorMessage(conn)));
            }
            PGresult* r = pgResult(conn, m_control);
            if (r != nullptr && PQresultStatus(r) == expected) {
                while (PGresult* rest = PQgetResult(conn)) {
                    PQclear(rest);
                }
                return r;
            }
            const QString reason = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(conn));
            const bool stopped = pgCancelled(r);
            PQclear(r);
            if (stopped) {
                stop();
            }
            fail(failed, reason);
            return static_cast<PGresult*>(nullptr);
        };
        PQclear(step(PQsendPrepare(conn, "", sql.constData(), 0, nullptr), PGRES_COMMAND_OK));
        const std::unique_ptr<PGresult, void (*)(PGresult*)> columns(
            step(PQsendDescribePrepared(conn, ""), PGRES_COMMAND_OK), PQclear);
        // The new line ends a comment the condition may close with.
        const QByteArray copy = "COPY (" + sql + "\n) TO STDOUT";
        if (!PQsendQueryParams(conn, copy.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0)) {
            fail(failed, QString::fromUtf8(PQerrorMessage(conn)));
        }
        PGresult* started = pgResult(conn, m_control);
        if (started != nullptr && PQresultStatus(started) == PGRES_COPY_OUT) {
            PQclear(started);
            return std::make_unique<PgStream>(conn, columns.get(), nullptr, true, m_alias, table, from, to,
                                              m_control);
        }
        const QString reason = QString::fromUtf8(started ? PQresultErrorMessage(started) : PQerrorMessage(conn));
        const char* state = started ? PQresultErrorField(started, PG_DIAG_SQLSTATE) : nullptr;
        // A server that does not take COPY of a query (a syntax error in COPY around a query that
        // was prepared as it stands, or a feature it lacks) is read in single-row mode.
        const bool noCopy = state != nullptr && (qstrcmp(state, "42601") == 0 || qstrcmp(state, "0A000") == 0);
        const bool stopped = pgCancelled(started);
        PQclear(started);
        if (stopped) {
            stop();
        }
        if (noCopy) {
            while (PGresult* r = PQgetResult(conn)) {
                PQclear(r);
            }
            PQclear(PQexec(conn, "ROLLBACK"));
            return queryPostgres(conn, table, condition, from, to, false);
        }
        fail(failed, reason);
        return nullptr;
    }
#endif

    void connect() {
        try {
            openSqlConnection(m_connection, m_source, m_alias);
        } catch (const EngineError& e) {
            throw DataError(DataError::Kind::Source, QString::fromStdString(e.what()));
        }
    }

    std::vector<Field> fieldsOf(const QSqlRecord& record, const QString& table) {
        QHash<QString, QString> declared;
        if (isSqlite(m_source)) {
            QSqlQuery info(QSqlDatabase::database(m_connection, false));
            info.setForwardOnly(true);
            if (info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)))) {
                while (info.next()) {
                    declared.insert(info.value(1).toString().toCaseFolded(), info.value(2).toString());
                }
            }
        }
        std::vector<Field> fields;
        static const QRegularExpression scale(QStringLiteral("\\(\\s*(\\d+)\\s*(?:,\\s*(\\d+)\\s*)?\\)"));
        for (int i = 0; i < record.count(); ++i) {
            const QSqlField f = record.field(i);
            Field field;
            field.name = f.name();
            const auto it = declared.constFind(f.name().toCaseFolded());
            field.type =
                it != declared.constEnd() ? sqliteDeclaredType(*it) : qtFieldType(f, isPostgres(m_source));
            field.size = std::max(0, f.length());
            field.decimals = std::max(0, f.precision());
            if (it != declared.constEnd()) {
                // SQLite keeps "NUMERIC(10,2)" as written: its size and decimals come from there.
                const QRegularExpressionMatch m = scale.match(*it);
                field.size = m.hasMatch() ? m.captured(1).toInt() : 0;
                field.decimals = m.hasMatch() ? m.captured(2).toInt() : 0;
            }
            if (field.type != FieldType::Decimal && field.type != FieldType::Double) {
                field.decimals = 0;
            }
            fields.push_back(field);
        }
        return fields;
    }

    QString m_alias;
    SqlSource m_source;
    QString m_connection;
    bool m_trustedConditions = false;
};

} // namespace

QString quoteTableName(const QString& driver, const QString& table) {
    if (driver == QLatin1String("QPSQL")) {
        const qsizetype dot = table.indexOf(QLatin1Char('.'));
        if (dot > 0) {
            return quoteIdentifier(table.left(dot)) + QLatin1Char('.') + quoteIdentifier(table.mid(dot + 1));
        }
    }
    return quoteIdentifier(table);
}

std::unique_ptr<DataSource> openSqlSource(const QString& alias, const SqlSource& source, bool trustedConditions) {
    if (source.driver == QLatin1String("QSQLITE")) {
        return openSqliteSource(alias, source.databaseName);
    }
    return std::make_unique<SqlDataSource>(alias, source, trustedConditions);
}

} // namespace lw::data
