// Table listings of SQL databases through Qt's drivers (SQLite, PostgreSQL, ODBC), with one
// connection per alias that is opened on the first listing and kept for the later ones.
#pragma once

#include <QString>
#include <QStringList>

namespace lw {

// Where an alias's tables live: the Qt driver and what it needs to connect.
struct SqlSource {
    QString driver; // "QSQLITE", "QPSQL" or "QODBC"
    QString databaseName;
    QString hostName;
    int port = -1;
    QString userName;
    QString connectOptions;

    bool operator==(const SqlSource&) const = default;
};

// The user tables of the source, without the engine's own, in the order the database gives them;
// tables outside PostgreSQL's "public" schema are named "schema.table". Uses the connection named
// connectionName, opening it when it does not exist yet or was made for other settings; an open
// connection stays open for later listings. Throws EngineError (naming the alias) when the driver
// is missing or the database cannot be opened or read.
// Makes sure the connection named connectionName is open with the settings of source, opening it
// when it does not exist yet or was made for other settings. Returns true when an open connection
// is reused. Throws EngineError (naming the alias) when the driver is missing or it cannot open.
bool openSqlConnection(const QString& connectionName, const SqlSource& source, const QString& alias);

QStringList sqlTableNames(const QString& connectionName, const SqlSource& source, const QString& alias);

} // namespace lw
