// Conditions on table files: an in-memory SQLite database with a virtual table over the table
// file's reader, guarded so that the one statement may read that table and nothing else.
#include "data/streams.h"
#include "data/values.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <QSet>

#include <cstring>

namespace lw::data {

namespace {

// The SQL type a field is declared with in the virtual table; results are typed back by it.
const char* declaredType(FieldType type) {
    switch (type) {
    case FieldType::Text:
        return "TEXT";
    case FieldType::Integer:
        return "INTEGER";
    case FieldType::Double:
        return "REAL";
    case FieldType::Decimal:
        return "NUMERIC";
    case FieldType::Date:
        return "DATE";
    case FieldType::Time:
        return "TIME";
    case FieldType::Timestamp:
        return "TIMESTAMP";
    case FieldType::Logical:
        return "BOOLEAN";
    case FieldType::Binary:
        return "BLOB";
    }
    return "TEXT";
}

FieldType typeOfDeclared(const char* declared) {
    if (declared == nullptr) {
        return FieldType::Text;
    }
    static const struct {
        const char* name;
        FieldType type;
    } names[] = {
        {"TEXT", FieldType::Text},           {"INTEGER", FieldType::Integer}, {"REAL", FieldType::Double},
        {"NUMERIC", FieldType::Decimal},     {"DATE", FieldType::Date},       {"TIME", FieldType::Time},
        {"TIMESTAMP", FieldType::Timestamp}, {"BOOLEAN", FieldType::Logical}, {"BLOB", FieldType::Binary}};
    for (const auto& n : names) {
        if (sqlite3_stricmp(declared, n.name) == 0) {
            return n.type;
        }
    }
    return FieldType::Text;
}

QByteArray quoted(const QString& name) {
    QByteArray q = name.toUtf8();
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

// "YYYY-MM-DD" into out (at least 11 characters); its length.
int isoDate(const QDate& date, char* out) {
    int y = 0, m = 0, d = 0;
    date.getDate(&y, &m, &d);
    if (y < 0 || y > 9999) {
        const QByteArray t = date.toString(Qt::ISODate).toLatin1().left(15);
        std::memcpy(out, t.constData(), std::size_t(t.size()));
        return int(t.size());
    }
    out[0] = char('0' + y / 1000);
    out[1] = char('0' + y / 100 % 10);
    out[2] = char('0' + y / 10 % 10);
    out[3] = char('0' + y % 10);
    out[4] = '-';
    out[5] = char('0' + m / 10);
    out[6] = char('0' + m % 10);
    out[7] = '-';
    out[8] = char('0' + d / 10);
    out[9] = char('0' + d % 10);
    return 10;
}

// ---- the virtual table module

// What the virtual table shares with the stream that made it. Each cursor reads the file with a
// reader of its own, so that a subquery over the same table has its own place in it.
struct Cursor;

struct Shared {
    TableReader* reader = nullptr; // the stream's, for the fields
    QString failure;
    QStringList warnings;
    std::vector<Cursor*> cursors; // those open now
    void addWarnings(const QStringList& more) {
        for (const QString& w : more) {
            if (!warnings.contains(w)) {
                warnings.append(w);
            }
        }
    }
};

struct Table {
    sqlite3_vtab base{};
    Shared* shared = nullptr;
};

struct Cursor {
    sqlite3_vtab_cursor base{};
    std::unique_ptr<TableReader> reader;
    bool eof = true;
    Value value;
    std::string text;
};

int connectTable(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char** error) {
    auto* shared = static_cast<Shared*>(aux);
    TableReader* reader = shared->reader;
    QByteArray schema = "CREATE TABLE x(";
    QSet<QString> names;
    const std::vector<Field>& fields = reader->fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // Names the table repeats get a number, so that SQLite takes the schema.
        QString name = fields[i].name.isEmpty() ? QStringLiteral("FIELD%1").arg(i + 1) : fields[i].name;
        for (int n = 2; names.contains(name.toCaseFolded()); ++n) {
            name = fields[i].name + QStringLiteral("_%1").arg(n);
        }
        names.insert(name.toCaseFolded());
        schema += (i ? ", " : "") + quoted(name) + ' ' + declaredType(fields[i].type);
    }
    schema += ")";
    const int rc = sqlite3_declare_vtab(db, schema.constData());
    if (rc != SQLITE_OK) {
        *error = sqlite3_mprintf("%s", sqlite3_errmsg(db));
        return rc;
    }
    auto* table = new Table;
    table->shared = shared;
    *out = &table->base;
    return SQLITE_OK;
}

int disconnectTable(sqlite3_vtab* vtab) {
    delete reinterpret_cast<Table*>(vtab);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    // Every record is read in file order; SQLite applies the condition.
    info->estimatedCost = 1e6;
    info->estimatedRows = 1000000;
    return SQLITE_OK;
}

// Reader errors go out as the SQLite error of the statement, with their text kept whole.
int readerFailed(Table* table, const DataError& e) {
    table->shared->failure = e.text();
    sqlite3_free(table->base.zErrMsg);
    table->base.zErrMsg = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
}

int openCursor(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
    auto* table = reinterpret_cast<Table*>(vtab);
    auto cursor = std::make_unique<Cursor>();
    try {
        cursor->reader = openTableFile(table->shared->reader->path());
    } catch (const DataError& e) {
        return readerFailed(table, e);
    }
    cursor->reader->setNumbersOnly(true);
    table->shared->cursors.push_back(cursor.get());
    *out = &cursor.release()->base;
    return SQLITE_OK;
}

Table* tableOf(sqlite3_vtab_cursor* c) {
    return reinterpret_cast<Table*>(c->pVtab);
}

TableReader* readerOf(sqlite3_vtab_cursor* c) {
    return reinterpret_cast<Cursor*>(c)->reader.get();
}

int closeCursor(sqlite3_vtab_cursor* c) {
    Shared* shared = tableOf(c)->shared;
    shared->addWarnings(readerOf(c)->warnings());
    std::erase(shared->cursors, reinterpret_cast<Cursor*>(c));
    delete reinterpret_cast<Cursor*>(c);
    return SQLITE_OK;
}

int advance(sqlite3_vtab_cursor* c) {
    auto* cursor = reinterpret_cast<Cursor*>(c);
    try {
        cursor->eof = !cursor->reader->advance();
    } catch (const DataError& e) {
        cursor->eof = true;
        return readerFailed(tableOf(c), e);
    }
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**) {
    readerOf(c)->rewind();
    return advance(c);
}

int eof(sqlite3_vtab_cursor* c) {
    return reinterpret_cast<Cursor*>(c)->eof ? 1 : 0;
}

int column(sqlite3_vtab_cursor* c, sqlite3_context* context, int i) {
    auto* cursor = reinterpret_cast<Cursor*>(c);
    TableReader* reader = cursor->reader.get();
    try {
        const FieldType type = reader->fields()[std::size_t(i)].type;
        if (type == FieldType::Text) {
            if (reader->textUtf8(i, cursor->text)) {
                sqlite3_result_text(context, cursor->text.data(), int(cursor->text.size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_result_null(context);
            }
            return SQLITE_OK;
        }
        Value& v = cursor->value;
        reader->value(i, v);
        switch (v.kind) {
        case Value::Kind::Null:
            sqlite3_result_null(context);
            break;
        case Value::Kind::Integer:
            sqlite3_result_int64(context, v.integer);
            break;
        case Value::Kind::Double:
        case Value::Kind::Decimal:
            sqlite3_result_double(context, v.number);
            break;
        case Value::Kind::Logical:
            sqlite3_result_int(context, v.logical ? 1 : 0);
            break;
        case Value::Kind::Date: {
            char t[16];
            const int n = isoDate(v.date, t);
            sqlite3_result_text(context, t, n, SQLITE_TRANSIENT);
            break;
        }
        case Value::Kind::Time: {
            const QByteArray t = v.time.toString(v.time.msec() ? Qt::ISODateWithMs : Qt::ISODate).toLatin1();
            sqlite3_result_text(context, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            break;
        }
        case Value::Kind::Timestamp: {
            const QByteArray t = (v.date.toString(Qt::ISODate) + QLatin1Char(' ') +
                                  v.time.toString(v.time.msec() ? Qt::ISODateWithMs : Qt::ISODate))
                                     .toLatin1();
            sqlite3_result_text(context, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            break;
        }
        case Value::Kind::Text: {
            const QByteArray t = v.text.toUtf8();
            sqlite3_result_text(context, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    } catch (const DataError& e) {
        readerFailed(tableOf(c), e);
        sqlite3_result_error(context, e.what(), -1);
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
    *out = readerOf(c)->position();
    return SQLITE_OK;
}

sqlite3_module tableModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = connectTable;
    m.xConnect = connectTable;
    m.xBestIndex = bestIndex;
    m.xDisconnect = disconnectTable;
    m.xDestroy = disconnectTable;
    m.xOpen = openCursor;
    m.xClose = closeCursor;
    m.xFilter = filter;
    m.xNext = advance;
    m.xEof = eof;
    m.xColumn = column;
    m.xRowid = rowid;
    return m;
}

const sqlite3_module module = tableModule();

} // namespace

// ---- stopping a statement

DataError statementTooLong() {
    return DataError(DataError::Kind::Query,
                     QStringLiteral("The condition is longer than %1 bytes; a shorter one is needed")
                         .arg(maxStatementBytes));
}

DataError queryStopped(const QueryControl& control, const QString& table) {
    if (control.cancelled()) {
        return DataError(DataError::Kind::Query, QStringLiteral("The query on table \"%1\" was cancelled").arg(table));
    }
    return DataError(DataError::Kind::Query,
                     QStringLiteral("The query on table \"%1\" was stopped after %2 seconds, the time limit "
                                    "(setting \"QueryTimeout\" of section [EXCEL] in l_wick.ini; 0: no limit)")
                         .arg(table)
                         .arg(control.timeoutSeconds));
}

void SqliteWatch::attach(sqlite3* db, const QueryControl& control) {
    m_control = control;
    // About every 10,000 virtual machine instructions: well under a millisecond.
    sqlite3_progress_handler(db, 10000, &SqliteWatch::onProgress, this);
}

int SqliteWatch::step(sqlite3_stmt* statement) {
    m_stopped = false;
    m_stepStart = std::chrono::steady_clock::now();
    const int rc = sqlite3_step(statement);
    m_used += std::chrono::steady_clock::now() - m_stepStart;
    return rc;
}

int SqliteWatch::onProgress(void* data) {
    auto* self = static_cast<SqliteWatch*>(data);
    bool stop = self->m_control.cancelled();
    if (!stop && self->m_control.timeoutSeconds > 0) {
        const auto used = self->m_used + (std::chrono::steady_clock::now() - self->m_stepStart);
        stop = used > std::chrono::seconds(self->m_control.timeoutSeconds);
    }
    self->m_stopped = self->m_stopped || stop;
    return stop ? 1 : 0;
}

namespace {

// ---- the guard

struct Guard {
    QByteArray table; // the virtual table's name, UTF-8
    QString refusal;  // why the last statement was refused
    QString statement; // the statement being prepared
};

// A table-valued pragma function (pragma_table_info(...)) named in the statement, or empty.
QString pragmaFunction(const QString& statement) {
    static const QRegularExpression pragma(QStringLiteral("\\b(pragma_\\w+)\\s*\\("),
                                           QRegularExpression::CaseInsensitiveOption);
    return pragma.match(statement).captured(1);
}

QString refusedFunction(const QString& name) {
    return QStringLiteral("the function %1 is not allowed (only plain functions of values may be used)").arg(name);
}

QString actionName(int action) {
    switch (action) {
    case SQLITE_ATTACH:
        return QStringLiteral("ATTACH");
    case SQLITE_DETACH:
        return QStringLiteral("DETACH");
    case SQLITE_PRAGMA:
        return QStringLiteral("PRAGMA");
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        return QStringLiteral("changing records");
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
        return QStringLiteral("transactions");
    case SQLITE_RECURSIVE:
        return QStringLiteral("a recursive query");
    case SQLITE_ANALYZE:
        return QStringLiteral("ANALYZE");
    default:
        return QStringLiteral("changing the database");
    }
}

int authorize(void* data, int action, const char* a, const char* b, const char*, const char*) {
    auto* guard = static_cast<Guard*>(data);
    switch (action) {
    case SQLITE_SELECT:
        return SQLITE_OK;
    case SQLITE_READ:
        if (a != nullptr && sqlite3_stricmp(a, guard->table.constData()) == 0) {
            return SQLITE_OK;
        }
        guard->refusal = a != nullptr && sqlite3_strnicmp(a, "pragma_", 7) == 0
                             ? refusedFunction(QString::fromUtf8(a))
                             : QStringLiteral("only the table itself may be read, not \"%1\"").arg(QString::fromUtf8(a));
        return SQLITE_DENY;
    case SQLITE_FUNCTION:
        if (b != nullptr && sqlite3_stricmp(b, "load_extension") == 0) {
            guard->refusal = refusedFunction(QStringLiteral("load_extension"));
            return SQLITE_DENY;
        }
        return SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        // A pragma function first has SQLite look at its schema table as if to change it.
        if (a != nullptr && (sqlite3_stricmp(a, "sqlite_master") == 0 || sqlite3_stricmp(a, "sqlite_schema") == 0 ||
                             sqlite3_stricmp(a, "sqlite_temp_master") == 0)) {
            const QString function = pragmaFunction(guard->statement);
            guard->refusal = function.isEmpty()
                                 ? QStringLiteral("reading or changing the database's own schema is not allowed")
                                 : refusedFunction(function);
            return SQLITE_DENY;
        }
        guard->refusal = QStringLiteral("%1 is not allowed").arg(actionName(action));
        return SQLITE_DENY;
    default:
        guard->refusal = QStringLiteral("%1 is not allowed").arg(actionName(action));
        return SQLITE_DENY;
    }
}

// ---- the stream

class TableQueryStream : public RangedStream {
public:
    TableQueryStream(std::unique_ptr<TableReader> reader, const QString& table, const QString& condition,
                     int from, int to, const QueryControl& control, std::unique_ptr<TableFileWatch> watch)
        : RangedStream(from, to), m_reader(std::move(reader)), m_table(table), m_fileWatch(std::move(watch)) {
        m_shared.reader = m_reader.get();
        open();
        m_watch.attach(m_db, control);
        prepare(condition);
        addWarnings(m_reader->warnings());
    }

    ~TableQueryStream() override { finish(); }

protected:
    void verifyComplete() override {
        if (m_fileWatch) {
            m_fileWatch->check();
        }
    }

    bool fetch(Record* record) override {
        if (m_stmt == nullptr) {
            return false;
        }
        const int rc = m_watch.step(m_stmt);
        if (m_shared.warnings.size() != m_knownWarnings) {
            m_knownWarnings = m_shared.warnings.size();
            addWarnings(m_shared.warnings);
        }
        if (rc == SQLITE_DONE) {
            finish();
            return false;
        }
        if (rc != SQLITE_ROW) {
            const QString reason =
                m_shared.failure.isEmpty() ? QString::fromUtf8(sqlite3_errmsg(m_db)) : m_shared.failure;
            const bool damaged = !m_shared.failure.isEmpty();
            finish();
            if (m_watch.stopped() && !damaged) {
                throw queryStopped(m_watch.control(), m_table);
            }
            if (damaged) {
                throw DataError(DataError::Kind::Table, reason);
            }
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The condition on table \"%1\" failed: %2").arg(m_table, reason));
        }
        if (record == nullptr) {
            return true;
        }
        if (m_rowMode) {
            // The record itself, read where SQLite found it: from the cursor that stands on it
            // (an unsorted result), else from the file.
            const qint64 rowid = sqlite3_column_int64(m_stmt, 0);
            for (Cursor* cursor : m_shared.cursors) {
                if (!cursor->eof && cursor->reader->position() == rowid) {
                    TableReader& reader = *cursor->reader;
                    reader.setNumbersOnly(false);
                    readRecord(reader, *record);
                    reader.setNumbersOnly(true);
                    return true;
                }
            }
            const qsizetype known = m_reader->warnings().size();
            m_reader->seek(rowid);
            readRecord(*m_reader, *record);
            if (m_reader->warnings().size() != known) {
                addWarnings(m_reader->warnings());
            }
            return true;
        }
        record->resize(m_fields.size());
        for (std::size_t i = 0; i < m_fields.size(); ++i) {
            columnValue(int(i), (*record)[i]);
        }
        return true;
    }

    void finish() override {
        if (m_stmt != nullptr) {
            // Finalizing closes the cursors, which hand over what their readers had to say.
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            addWarnings(m_shared.warnings);
        }
        if (m_db != nullptr) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }

private:
    [[noreturn]] void refuse(const QString& reason) {
        finish();
        throw DataError(DataError::Kind::Query,
                        QStringLiteral("The condition on table \"%1\" is refused: %2").arg(m_table, reason));
    }

    void open() {
        if (sqlite3_open_v2(":memory:", &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_PRIVATECACHE |
                                SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            const QString reason =
                m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
            finish();
            throw DataError(DataError::Kind::Query, QStringLiteral("SQLite cannot start: %1").arg(reason));
        }
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_limit(m_db, SQLITE_LIMIT_ATTACHED, 0);
        // A value or a statement of absurd size is refused rather than allocated.
        sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, 100 * 1000 * 1000);
        sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, 1000 * 1000);

        if (sqlite3_create_module_v2(m_db, "lw_table", &module, &m_shared, nullptr) != SQLITE_OK) {
            refuse(QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
        const QByteArray create = "CREATE VIRTUAL TABLE " + quoted(m_table) + " USING lw_table";
        char* error = nullptr;
        if (sqlite3_exec(m_db, create.constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const QString reason = QString::fromUtf8(error ? error : sqlite3_errmsg(m_db));
            sqlite3_free(error);
            finish();
            throw DataError(DataError::Kind::Table,
                            QStringLiteral("The table \"%1\" cannot be queried: %2").arg(m_table, reason));
        }
        m_guard.table = m_table.toUtf8();
        sqlite3_set_authorizer(m_db, authorize, &m_guard);
    }

    void prepare(const QString& condition) {
        const QByteArray sql = "SELECT * FROM " + quoted(m_table) + ' ' + condition.toUtf8();
        const char* tail = nullptr;
        m_guard.refusal.clear();
        m_guard.statement = QString::fromUtf8(sql);
        const int rc = sqlite3_prepare_v3(m_db, sql.constData(), int(sql.size()), 0, &m_stmt, &tail);
        if (rc != SQLITE_OK || m_stmt == nullptr) {
            if (!m_guard.refusal.isEmpty()) {
                refuse(m_guard.refusal);
            }
            const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db));
            finish();
            throw DataError(
                DataError::Kind::Query,
                QStringLiteral("The condition on table \"%1\" is wrong: %2").arg(m_table, reason));
        }
        // Anything but blanks and comments after the statement is a second one.
        if (tail != nullptr && hasSecondStatement(QStringLiteral(";") + QString::fromUtf8(tail))) {
            refuse(QStringLiteral("it holds more than one statement; only one is allowed"));
        }
        if (!sqlite3_stmt_readonly(m_stmt)) {
            refuse(QStringLiteral("it would change the database"));
        }
        // The columns of the result, typed back from the types declared in the virtual table.
        const int count = sqlite3_column_count(m_stmt);
        for (int i = 0; i < count; ++i) {
            Field f;
            f.name = QString::fromUtf8(sqlite3_column_name(m_stmt, i));
            f.type = typeOfDeclared(sqlite3_column_decltype(m_stmt, i));
            for (const Field& t : m_reader->fields()) {
                if (t.name.compare(f.name, Qt::CaseInsensitive) == 0 && t.type == f.type) {
                    f = t;
                    break;
                }
            }
            m_fields.push_back(f);
        }
        useRowids(condition);
    }

    // When the result has the table's own columns, SQLite is only asked for the rowids of the
    // records: it then reads just the fields the condition names, and each record of the result
    // is read whole from the file by our reader. Anything else (a union, say) runs as it is.
    void useRowids(const QString& condition) {
        const std::vector<Field>& own = m_reader->fields();
        if (m_fields.size() != own.size()) {
            return;
        }
        for (std::size_t i = 0; i < own.size(); ++i) {
            if (m_fields[i].name != own[i].name || m_fields[i].type != own[i].type ||
                own[i].name.compare(QLatin1String("lw_rowid"), Qt::CaseInsensitive) == 0) {
                return;
            }
        }
        // The user's statement stays whole inside, so that "ORDER BY 2" still means the second
        // field; SQLite flattens it and computes the rowid alone.
        const qsizetype end = statementEnd(condition);
        const QByteArray sql = "SELECT lw_rowid FROM (SELECT *, rowid AS lw_rowid FROM " + quoted(m_table) +
                               ' ' + (end < 0 ? condition : condition.left(end)).toUtf8() + "\n)";
        sqlite3_stmt* rows = nullptr;
        if (sqlite3_prepare_v3(m_db, sql.constData(), int(sql.size()), 0, &rows, nullptr) != SQLITE_OK ||
            rows == nullptr || sqlite3_column_count(rows) != 1 || !sqlite3_stmt_readonly(rows)) {
            sqlite3_finalize(rows);
            return;
        }
        sqlite3_finalize(m_stmt);
        m_stmt = rows;
        m_rowMode = true;
    }

    void columnValue(int i, Value& out) {
        const FieldType type = m_fields[std::size_t(i)].type;
        switch (sqlite3_column_type(m_stmt, i)) {
        case SQLITE_NULL:
            out.kind = Value::Kind::Null;
            return;
        case SQLITE_INTEGER: {
            const qint64 v = sqlite3_column_int64(m_stmt, i);
            if (type == FieldType::Logical) {
                out.kind = Value::Kind::Logical;
                out.logical = v != 0;
            } else if (type == FieldType::Decimal) {
                setDecimal(out, double(v), m_fields[std::size_t(i)].decimals);
            } else if (type == FieldType::Double) {
                out.kind = Value::Kind::Double;
                out.number = double(v);
            } else {
                out.kind = Value::Kind::Integer;
                out.integer = v;
            }
            return;
        }
        case SQLITE_FLOAT: {
            const double d = sqlite3_column_double(m_stmt, i);
            out.number = d;
            if (type == FieldType::Decimal) {
                setDecimal(out, d, m_fields[std::size_t(i)].decimals);
            } else {
                out.kind = Value::Kind::Double;
            }
            return;
        }
        case SQLITE_TEXT: {
            const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
            const int length = sqlite3_column_bytes(m_stmt, i);
            if ((type == FieldType::Date || type == FieldType::Timestamp || type == FieldType::Time) &&
                setIsoValue(out, bytes, length, type)) {
                return;
            }
            setUtf8Text(out, bytes, length);
            return;
        }
        default:
            out.kind = Value::Kind::Null;
            return;
        }
    }

    std::unique_ptr<TableReader> m_reader;
    QString m_table;
    std::unique_ptr<TableFileWatch> m_fileWatch;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    Guard m_guard;
    SqliteWatch m_watch;
    Shared m_shared;
    qsizetype m_knownWarnings = 0;
    bool m_rowMode = false;
};

} // namespace

std::unique_ptr<RecordStream> queryTableFile(std::unique_ptr<TableReader> reader, const QString& table,
                                             const QString& condition, int from, int to,
                                             const QueryControl& control, std::unique_ptr<TableFileWatch> watch) {
    if (condition.toUtf8().size() > maxStatementBytes) {
        throw statementTooLong();
    }
    return std::make_unique<TableQueryStream>(std::move(reader), table, condition, from, to, control,
                                              std::move(watch));
}

} // namespace lw::data
