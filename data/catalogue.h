// The data-source catalogue: aliases and their tables from the alias configuration
// and real database engines, and the path rules that other windows share.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

namespace lw {

// A failure of the database engine (no configuration, missing directory, unknown type,
// missing driver, a database that cannot be opened). The text says what and where.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The three requests the program makes of a database engine.
class DataEngine {
public:
    virtual ~DataEngine() = default;
    // The names of all aliases, as configured (unsorted, possibly repeated).
    virtual QStringList aliasNames() = 0;
    // The tables of one alias in the engine's order, with "." and extension where there is one,
    // without system tables.
    virtual QStringList tableNames(const QString& alias) = 0;
    // "NAME=value" lines; for a directory alias the first line is "PATH=<directory>".
    virtual QStringList aliasParameters(const QString& alias) = 0;
};

// The engine the program uses: created on first use from the alias configuration
// (LEDGERWICK_ALIASES, else "aliases.ini" in the per-user configuration directory,
// else the shipped demo configuration). Tests may replace it.
DataEngine& engine();
void setEngine(std::unique_ptr<DataEngine> replacement);

// List aliases: sorted case-insensitively and locale-aware, each name once (the first of names
// differing only in case stays). On failure throws and leaves dest untouched.
void listAliases(QStringList& dest);

// List tables: empties dest, then fills it with the alias's tables. On failure throws; dest holds
// at most the names delivered before the error.
void listTables(const QString& alias, QStringList& dest);

// Alias directory: the alias's directory, or the fallback directory "/" on any failure.
QString aliasDirectory(const QString& alias);

// Normalise path: a path ("/..." or a second character ":") comes back unchanged; anything else
// is an alias name and gives its directory followed by "/". The text must not be empty.
QString normalisePath(const QString& text);

// Trim blanks: removes leading and trailing blanks (code 32 only).
QString trimBlanks(const QString& text);

} // namespace lw
