// Table data of database aliases through Qt SQL: the fields of a table, and the records of
// `SELECT * FROM <table> <condition>` in a read-only transaction, fetched forward only.
#include "data/sqlsource.h"

#include "data/streams.h"
#include "report/catalogue.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QHash>
#include <QRegularExpression>
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
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("TEXT"))) {
        return FieldType::Text;
    }
    if (t.contains(QLatin1String("BLOB"))) {
        return FieldType::Binary;
    }
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB"))) {
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

// ISO text of an SQLite date column: "YYYY-MM-DD", optionally followed by " HH:MM[:SS[.fff]]"
// (or "T" between). False when the text is not that.
bool parseIsoText(const QString& text, Value& out) {
    const QString t = text.trimmed();
    if (t.size() < 10 || t.at(4) != QLatin1Char('-') || t.at(7) != QLatin1Char('-')) {
        return false;
    }
    const QDate date = QDate::fromString(t.left(10), Qt::ISODate);
    if (!date.isValid()) {
        return false;
    }
    if (t.size() == 10) {
        out.kind = Value::Kind::Date;
        out.date = date;
        return true;
    }
    if (t.at(10) != QLatin1Char(' ') && t.at(10) != QLatin1Char('T')) {
        return false;
    }
    QString clock = t.mid(11);
    if (clock.endsWith(QLatin1Char('Z'))) {
        clock.chop(1);
    }
    QTime time = QTime::fromString(clock, Qt::ISODateWithMs);
    if (!time.isValid()) {
        time = QTime::fromString(clock, Qt::ISODate);
    }
    if (!time.isValid()) {
        return false;
    }
    out.kind = Value::Kind::Timestamp;
    out.date = date;
    out.time = time;
    return true;
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
            out.text = QString::number(v.toLongLong()) + QLatin1Char('.') + QString(decimals, QLatin1Char('0'));
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
            out.kind = Value::Kind::Decimal;
            out.text = QString::number(out.number == 0 ? 0.0 : out.number, 'f', decimals);
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
    const QString text = v.toString();
    if ((hint == FieldType::Date || hint == FieldType::Timestamp) && parseIsoText(text, out)) {
        return;
    }
    if (hint == FieldType::Decimal) {
        bool ok = false;
        const double d = text.toDouble(&ok);
        if (ok) {
            out.kind = Value::Kind::Decimal;
            out.text = text;
            out.number = d;
            return;
        }
    }
    out.kind = Value::Kind::Text;
    out.text = text;
}

class SqlStream : public RangedStream {
public:
    SqlStream(QSqlQuery query, std::vector<Field> fields, bool transaction, const QString& connection,
              const QString& alias, int from, int to)
        : RangedStream(from, to), m_query(std::move(query)), m_transaction(transaction),
          m_connection(connection), m_alias(alias) {
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
                throw DataError(DataError::Kind::Query, QStringLiteral("Reading the records of alias \"%1\" failed: %2")
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
};

class SqlDataSource : public DataSource {
public:
    SqlDataSource(const QString& alias, const SqlSource& source) : m_alias(alias), m_source(source) {
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
        if (!query.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(quoteTableName(m_source.driver, table)))) {
            throw DataError(DataError::Kind::Table, QStringLiteral("The table \"%1\" of alias \"%2\" cannot be read: %3")
                                                        .arg(table, m_alias, errorText(query.lastError())));
        }
        return fieldsOf(query.record(), table);
    }

    std::unique_ptr<RecordStream> query(const QString& table, const QString& condition, int from, int to) override {
        if (hasSecondStatement(condition)) {
            throw DataError(DataError::Kind::Query,
                            QStringLiteral("The condition holds more than one statement; only one is allowed"));
        }
        std::vector<Field> tableFields = fields(table);
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        const bool transaction = isPostgres(m_source);
        if (transaction) {
            QSqlQuery start(db);
            if (!start.exec(QStringLiteral("START TRANSACTION READ ONLY"))) {
                throw DataError(DataError::Kind::Query, QStringLiteral("The database of alias \"%1\" refuses a read-only transaction: %2")
                                                            .arg(m_alias, errorText(start.lastError())));
            }
        }
        QString statement = QStringLiteral("SELECT * FROM ") + quoteTableName(m_source.driver, table);
        // The statement's own terminator, and any comment after it, are left out: the driver
        // takes one statement without one.
        const qsizetype end = statementEnd(condition);
        const QString cond = (end < 0 ? condition : condition.left(end)).trimmed();
        if (!cond.isEmpty()) {
            statement += QLatin1Char(' ') + cond;
        }
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!query.exec(statement)) {
            const QString reason = errorText(query.lastError());
            query = QSqlQuery();
            if (transaction) {
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            }
            throw DataError(DataError::Kind::Query, QStringLiteral("The query on table \"%1\" of alias \"%2\" failed: %3")
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
        return std::make_unique<SqlStream>(std::move(query), std::move(resultFields), transaction, m_connection,
                                           m_alias, from, to);
    }

private:
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
            field.type = it != declared.constEnd() ? sqliteDeclaredType(*it) : qtFieldType(f, isPostgres(m_source));
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

std::unique_ptr<DataSource> openSqlSource(const QString& alias, const SqlSource& source) {
    if (source.driver == QLatin1String("QSQLITE")) {
        return openSqliteSource(alias, source.databaseName);
    }
    return std::make_unique<SqlDataSource>(alias, source);
}

} // namespace lw::data
