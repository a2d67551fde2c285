// Table data of database aliases (SQLite, PostgreSQL, ODBC) through Qt's SQL drivers.
#pragma once

#include "data/tabledata.h"
#include "data/engine_sql.h"

namespace lw::data {

// A data source over the database of an alias: the engine's own SQL, one statement, reading
// only, forward-only results. Throws DataError (Source) when the database cannot be opened.
// A condition runs on a PostgreSQL alias only when its role has no rights beyond the database
// (no superuser, none of pg_read_server_files, pg_write_server_files, pg_execute_server_program),
// or when the alias's conditions are trusted.
std::unique_ptr<DataSource> openSqlSource(const QString& alias, const SqlSource& source,
                                          bool trustedConditions = false);

// A data source over an SQLite database file of an alias, opened read-only through SQLite's C API.
std::unique_ptr<DataSource> openSqliteSource(const QString& alias, const QString& file);

// The table name quoted for the engine of driver ("schema.table" of PostgreSQL as two names).
QString quoteTableName(const QString& driver, const QString& table);

} // namespace lw::data
