// The database engine the program uses: aliases from an alias configuration file (one section
// per alias, key "TYPE" and the type's parameters) answered by directories and SQL databases.
#pragma once

#include "data/catalogue.h"
#include "data/engine_sql.h"

namespace lw {

class AliasFileEngine : public DataEngine {
public:
    // An empty file name, or one that names no file, means a configuration without aliases.
    explicit AliasFileEngine(const QString& configurationFile);

    // Where the program's alias configuration is: LEDGERWICK_ALIASES when set; else "aliases.ini"
    // in the per-user configuration directory when it exists; else the demo configuration
    // shipped with the program (installed, or in the build tree). Empty when there is none.
    static QString locateConfiguration();

    QString configurationFile() const { return m_file; }

    // Where an alias's data lives: a directory of table files, or an SQL database with the
    // settings its table listing connects with. Throws EngineError as tableNames does.
    struct Target {
        QString name;        // the alias as the configuration spells it
        bool directory = false;
        QString path;        // the directory of a directory alias
        SqlSource sql;       // the database of any other alias
        // "Conditions=trusted": the administrator lets conditions run on this alias even when it
        // logs in with rights beyond reading (a PostgreSQL superuser, a role that reads server files).
        bool trustedConditions = false;
    };
    Target target(const QString& alias) const;

    QStringList aliasNames() override;
    QStringList tableNames(const QString& alias) override;
    QStringList aliasParameters(const QString& alias) override;

private:
    struct Alias {
        QString name; // the section name as the file spells it
        QString type; // the TYPE value in capitals
    };

    // Whether the configuration exists; throws when it exists but cannot be read.
    bool configurationReadable() const;
    Alias findAlias(const QString& alias) const;
    QString value(const Alias& alias, const QString& key) const;
    QString absolutePath(const QString& path) const;
    QString directoryOf(const Alias& alias) const;

    QString m_file;
};

} // namespace lw
