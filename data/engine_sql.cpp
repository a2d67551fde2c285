// Table listings of SQL databases through Qt's drivers, with one kept connection per alias.
#include "data/engine_sql.h"

#include "data/catalogue.h"

#include <QLibrary>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace lw {

namespace {

[[noreturn]] void fail(const QString& text) {
    throw EngineError(text.toStdString());
}

QString errorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

SqlSource settingsOf(const QSqlDatabase& db) {
    SqlSource s;
    s.driver = db.driverName();
    s.databaseName = db.databaseName();
    s.hostName = db.hostName();
    s.port = db.port();
    s.userName = db.userName();
    s.connectOptions = db.connectOptions();
    return s;
}

// Makes sure the named connection is open with the given settings. Returns true when an
// already open connection is reused. No QSqlDatabase copy may outlive a removeDatabase call,
// hence the inner scopes.
bool openConnection(const QString& name, const SqlSource& source, const QString& alias) {
    if (QSqlDatabase::contains(name)) {
        {
            const QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen() && settingsOf(db) == source) {
                return true;
            }
        }
        // Closed, or made for settings the configuration no longer holds: start afresh.
        QSqlDatabase::removeDatabase(name);
    }
    if (!QSqlDatabase::isDriverAvailable(source.driver)) {
        fail(QStringLiteral("The database driver %1 that alias \"%2\" needs is not installed")
                 .arg(source.driver, alias));
    }
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(source.driver, name);
        db.setDatabaseName(source.databaseName);
        db.setHostName(source.hostName);
        db.setPort(source.port);
        db.setUserName(source.userName);
        db.setConnectOptions(source.connectOptions);
        if (db.open()) {
            return false;
        }
        reason = errorText(db.lastError());
    }
    QSqlDatabase::removeDatabase(name);
    fail(QStringLiteral("Cannot open the database of alias \"%1\": %2").arg(alias, reason));
}

void dropConnection(const QString& name) {
    QSqlDatabase::removeDatabase(name);
}

// SQLite keeps its own bookkeeping in tables whose names begin with "sqlite_".
void removeSqliteOwnTables(QStringList& names) {
    names.removeIf(
        [](const QString& n) { return n.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive); });
}

// The product name an ODBC data source reports (SQL_DBMS_NAME), or empty when it cannot be asked.
// The driver manager is already loaded by Qt's ODBC driver; it is resolved at run time so that
// building needs no ODBC headers or libraries.
QString odbcDbmsName(const QSqlDatabase& db) {
    using GetInfo =
        short (*)(void* connection, unsigned short infoType, void* value, short bufferLength, short* length);
    static const GetInfo getInfo = [] {
        QLibrary manager(QStringLiteral("odbc"), 2);
        return reinterpret_cast<GetInfo>(manager.resolve("SQLGetInfo"));
    }();
    const QVariant handle = db.driver()->handle();
    if (getInfo == nullptr || !handle.isValid() || handle.metaType().sizeOf() != int(sizeof(void*))) {
        return QString();
    }
    void* connection = *static_cast<void* const*>(handle.constData());
    if (connection == nullptr) {
        return QString();
    }
    constexpr unsigned short dbmsNameInfo = 17; // SQL_DBMS_NAME
    char buffer[256] = {};
    short length = 0;
    const short result = getInfo(connection, dbmsNameInfo, buffer, short(sizeof buffer - 1), &length);
    if (result != 0 && result != 1) { // neither SQL_SUCCESS nor SQL_SUCCESS_WITH_INFO
        return QString();
    }
    return QString::fromUtf8(buffer);
}

// Regular and partitioned tables of every schema but the server's own, "public" ones by their
// bare name and the others as "schema.table". Qt's own listing is not used: it leaves out every
// table whose name begins with "Inv" or "pg_".
bool postgresTables(const QSqlDatabase& db, QStringList& names, QString& reason) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ok =
        query.exec(QStringLiteral("SELECT n.nspname, c.relname FROM pg_catalog.pg_class c "
                                  "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                                  "WHERE c.relkind IN ('r', 'p') AND n.nspname <> 'information_schema' "
                                  "AND n.nspname NOT LIKE 'pg\\_%' "
                                  "ORDER BY n.nspname <> 'public', n.nspname, c.relname"));
    if (!ok) {
        reason = errorText(query.lastError());
        return false;
    }
    names.clear();
    while (query.next()) {
        const QString schema = query.value(0).toString();
        const QString table = query.value(1).toString();
        names.append(schema == QLatin1String("public") ? table : schema + QLatin1Char('.') + table);
    }
    return true;
}

QStringList listPostgres(const QString& name, const SqlSource& source, const QString& alias) {
    const bool reused = openConnection(name, source, alias);
    QStringList names;
    QString reason;
    bool ok = postgresTables(QSqlDatabase::database(name, false), names, reason);
    if (!ok && reused) {
        // The kept connection may have been lost (server restarted): connect once more.
        dropConnection(name);
        openConnection(name, source, alias);
        ok = postgresTables(QSqlDatabase::database(name, false), names, reason);
    }
    if (!ok) {
        dropConnection(name);
        fail(QStringLiteral("The tables of alias \"%1\" cannot be listed: %2").arg(alias, reason));
    }
    return names;
}

QStringList listSqlite(const QString& name, const SqlSource& source, const QString& alias) {
    openConnection(name, source, alias);
    QString reason;
    QStringList names;
    {
        const QSqlDatabase db = QSqlDatabase::database(name, false);
        // Opening succeeds on any file; reading the schema shows whether it is a database.
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            names = db.tables(QSql::Tables);
        } else {
            reason = errorText(probe.lastError());
        }
    }
    if (!reason.isEmpty()) {
        dropConnection(name);
        fail(QStringLiteral("The database \"%1\" of alias \"%2\" cannot be read: %3")
                 .arg(source.databaseName, alias, reason));
    }
    removeSqliteOwnTables(names);
    return names;
}

QStringList listOdbc(const QString& name, const SqlSource& source, const QString& alias) {
    openConnection(name, source, alias);
    const QSqlDatabase db = QSqlDatabase::database(name, false);
    QStringList names = db.tables(QSql::Tables);
    if (odbcDbmsName(db).contains(QLatin1String("sqlite"), Qt::CaseInsensitive)) {
        removeSqliteOwnTables(names);
    }
    return names;
}

} // namespace

bool openSqlConnection(const QString& connectionName, const SqlSource& source, const QString& alias) {
    return openConnection(connectionName, source, alias);
}

QStringList sqlTableNames(const QString& connectionName, const SqlSource& source, const QString& alias) {
    if (source.driver == QLatin1String("QPSQL")) {
        return listPostgres(connectionName, source, alias);
    }
    if (source.driver == QLatin1String("QSQLITE")) {
        return listSqlite(connectionName, source, alias);
    }
    return listOdbc(connectionName, source, alias);
}

} // namespace lw
