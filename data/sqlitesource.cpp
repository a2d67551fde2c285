// Table data of SQLite aliases: the database file the catalogue names, opened read-only with
// SQLite's own C API so that rows come straight from sqlite3_step; one statement, reading only.
#include "data/sqlsource.h"
#include "data/streams.h"
#include "data/textvalues.h"
#include "data/values.h"

#include <sqlite3.h>

#include <QFile>
#include <QRegularExpression>

namespace lw::data {

namespace {

// What the declared type of an SQLite column makes of its values; decimals from "NUMERIC(10,2)".
Field declaredField(const QString& name, const char* declaredType) {
    Field f;
    f.name = name;
    const QString t = QString::fromUtf8(declaredType ? declaredType : "").trimmed().toUpper();
    static const QRegularExpression scale(QStringLiteral("\\(\\s*(\\d+)\\s*(?:,\\s*(\\d+)\\s*)?\\)"));
    const QRegularExpressionMatch m = scale.match(t);
    if (m.hasMatch()) {
        f.size = m.captured(1).toInt();
        f.decimals = m.captured(2).toInt();
    }
    const QString base = t.section(QLatin1Char('('), 0, 0).trimmed();
    if (base == QLatin1String("DATE")) {
        f.type = FieldType::Date;
    } else if (base == QLatin1String("DATETIME") || base == QLatin1String("TIMESTAMP")) {
        f.type = FieldType::Timestamp;
    } else if (base.contains(QLatin1String("INT"))) {
        f.type = FieldType::Integer;
    } else if (base.isEmpty() || base.contains(QLatin1String("CHAR")) ||
               base.contains(QLatin1String("CLOB")) || base.contains(QLatin1String("TEXT"))) {
        f.type = FieldType::Text;
    } else if (base.contains(QLatin1String("BLOB"))) {
        f.type = FieldType::Binary;
    } else if (base.contains(QLatin1String("REAL")) || base.contains(QLatin1String("FLOA")) ||
               base.contains(QLatin1String("DOUB"))) {
        f.type = FieldType::Double;
    } else if (base.contains(QLatin1String("BOOL"))) {
        f.type = FieldType::Logical;
    } else {
        f.type = FieldType::Decimal;
    }
    if (f.type != FieldType::Decimal && f.type != FieldType::Double) {
        f.decimals = 0;
    }
    if (f.type != FieldType::Text && f.type != FieldType::Decimal) {
        f.size = 0;
    }
    return f;
}

class Database {
public:
    Database(const QString& file, const QString& alias) {
        const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const QString reason =
                m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            throw DataError(
                DataError::Kind::Source,
                QStringLiteral("Cannot open the database of alias \"%1\": %2").arg(alias, reason));
        }
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_limit(m_db, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, int(maxStatementBytes) + 4096);
        sqlite3_busy_timeout(m_db, 10000);
    }
    ~Database() { sqlite3_close_v2(m_db); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

class SqliteStream : public RangedStream {
public:
    SqliteStream(std::shared_ptr<Database> db, sqlite3_stmt* stmt, std::vector<Field> fields,
                 const QString& alias, const QString& table, int from, int to, const QueryControl& control)
        : RangedStream(from, to), m_db(std::move(db)), m_stmt(stmt), m_alias(alias), m_table(table) {
        m_fields = std::move(fields);
        m_watch.attach(m_db->handle(), control);
    }
    ~SqliteStream() override { finish(); }

protected:
    bool fetch(Record* record) override {
        if (m_stmt == nullptr) {
            return false;
        }
        const int rc = m_watch.step(m_stmt);
        if (rc == SQLITE_DONE) {
            finish();
            return false;
        }
        if (rc != SQLITE_ROW) {
            const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db->handle()));
            finish();
            if (m_watch.stopped()) {
                throw queryStopped(m_watch.control(), m_table);
            }
            throw DataError(
                DataError::Kind::Query,
                QStringLiteral("Reading the records of alias \"%1\" failed: %2").arg(m_alias, reason));
        }
        if (record != nullptr) {
            record->resize(m_fields.size());
            for (std::size_t i = 0; i < m_fields.size(); ++i) {
                column(int(i), (*record)[i]);
            }
        }
        return true;
    }

    void finish() override {
        if (m_stmt != nullptr) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            sqlite3_progress_handler(m_db->handle(), 0, nullptr, nullptr);
        }
    }

private:
    void column(int i, Value& out) {
        const Field& f = m_fields[std::size_t(i)];
        switch (sqlite3_column_type(m_stmt, i)) {
        case SQLITE_NULL:
        case SQLITE_BLOB:
            out.kind = Value::Kind::Null;
            return;
        case SQLITE_INTEGER: {
            const qint64 v = sqlite3_column_int64(m_stmt, i);
            if (f.type == FieldType::Logical) {
                out.kind = Value::Kind::Logical;
                out.logical = v != 0;
            } else if (f.type == FieldType::Decimal && f.decimals > 0) {
                setDecimal(out, double(v), f.decimals);
            } else {
                out.kind = Value::Kind::Integer;
                out.integer = v;
            }
            return;
        }
        case SQLITE_FLOAT: {
            const double d = sqlite3_column_double(m_stmt, i);
            if (f.type == FieldType::Decimal && f.decimals > 0) {
                setDecimal(out, d, f.decimals);
            } else {
                out.kind = Value::Kind::Double;
                out.number = d;
            }
            return;
        }
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
            const int length = sqlite3_column_bytes(m_stmt, i);
            setTextValue(out, text, length, f.type);
            return;
        }
        }
    }

    std::shared_ptr<Database> m_db;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_alias;
    QString m_table;
    SqliteWatch m_watch;
};

QString quoted(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

class SqliteDataSource : public DataSource {
public:
    SqliteDataSource(const QString& alias, const QString& file)
        : m_alias(alias), m_db(std::make_shared<Database>(file, alias)) {}

    std::vector<Field> fields(const QString& table) override {
        sqlite3_stmt* stmt =
            prepare(QStringLiteral("SELECT * FROM ") + quoted(table), table, DataError::Kind::Table);
        std::vector<Field> fields = fieldsOf(stmt);
        sqlite3_finalize(stmt);
        return fields;
    }

    std::unique_ptr<RecordStream> query(const QString& table, const QString& condition, int from,
                                        int to) override {
        if (condition.toUtf8().size() > maxStatementBytes) {
            throw statementTooLong();
        }
        if (hasSecondStatement(condition)) {
            throw secondStatementRefused();
        }
        // The table first, so that a missing table is told as one.
        fields(table);
        const qsizetype end = statementEnd(condition);
        const QString cond = (end < 0 ? condition : condition.left(end)).trimmed();
        QString statement = QStringLiteral("SELECT * FROM ") + quoted(table);
        if (!cond.isEmpty()) {
            statement += QLatin1Char(' ') + cond;
        }
        sqlite3_stmt* stmt = prepare(statement, table, DataError::Kind::Query);
        if (!sqlite3_stmt_readonly(stmt)) {
            sqlite3_finalize(stmt);
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The condition would change the database"));
        }
        return std::make_unique<SqliteStream>(m_db, stmt, fieldsOf(stmt), m_alias, table, from, to, m_control);
    }

    qint64 countRecords(const QString& table, const QString& condition, int from, int to) override {
        if (hasSecondStatement(condition)) {
            return -1;
        }
        const qsizetype end = statementEnd(condition);
        const QString cond = (end < 0 ? condition : condition.left(end)).trimmed();
        // The new line ends a comment the condition may close with.
        const QString statement = QStringLiteral("SELECT count(*) FROM (SELECT * FROM ") + quoted(table) +
                                  (cond.isEmpty() ? QString() : QLatin1Char(' ') + cond) + QStringLiteral("\n)");
        sqlite3_stmt* stmt = nullptr;
        try {
            stmt = prepare(statement, table, DataError::Kind::Query);
        } catch (const DataError&) {
            return -1; // the query itself tells what is wrong
        }
        qint64 total = -1;
        if (sqlite3_stmt_readonly(stmt) && sqlite3_step(stmt) == SQLITE_ROW) {
            total = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
        return total < 0 ? -1 : countInRange(total, from, to);
    }

private:
    sqlite3_stmt* prepare(const QString& sql, const QString& table, DataError::Kind kind) {
        const QByteArray utf8 = sql.toUtf8();
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v3(m_db->handle(), utf8.constData(), int(utf8.size()), 0, &stmt, &tail) !=
                SQLITE_OK ||
            stmt == nullptr) {
            const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db->handle()));
            sqlite3_finalize(stmt);
            throw DataError(kind, kind == DataError::Kind::Table
                                      ? QStringLiteral("The table \"%1\" of alias \"%2\" cannot be read: %3")
                                            .arg(table, m_alias, reason)
                                      : QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3")
                                            .arg(table, m_alias, reason));
        }
        if (tail != nullptr && hasSecondStatement(QStringLiteral(";") + QString::fromUtf8(tail))) {
            sqlite3_finalize(stmt);
            throw secondStatementRefused();
        }
        return stmt;
    }

    static std::vector<Field> fieldsOf(sqlite3_stmt* stmt) {
        std::vector<Field> fields;
        const int n = sqlite3_column_count(stmt);
        for (int i = 0; i < n; ++i) {
            fields.push_back(declaredField(QString::fromUtf8(sqlite3_column_name(stmt, i)),
                                           sqlite3_column_decltype(stmt, i)));
        }
        return fields;
    }

    QString m_alias;
    std::shared_ptr<Database> m_db;
};

} // namespace

std::unique_ptr<DataSource> openSqliteSource(const QString& alias, const QString& file) {
    return std::make_unique<SqliteDataSource>(alias, file);
}

} // namespace lw::data
