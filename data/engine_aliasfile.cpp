// The alias configuration engine: reads the configuration through the profile store on every
// request (nothing is cached) and hands each alias to its directory or SQL database.
#include "data/engine_aliasfile.h"

#include "platform/profile.h"
#include "data/engine_directory.h"
#include "data/engine_sql.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace lw {

namespace {

const QString typeKey = QStringLiteral("TYPE");
const QString pathKey = QStringLiteral("PATH");

[[noreturn]] void fail(const QString& text) {
    throw EngineError(text.toStdString());
}

} // namespace

AliasFileEngine::AliasFileEngine(const QString& configurationFile) : m_file(configurationFile) {}

QString AliasFileEngine::locateConfiguration() {
    const QString fromEnvironment = qEnvironmentVariable("LEDGERWICK_ALIASES");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    const QString perUser = profileDirectory() + QStringLiteral("/aliases.ini");
    if (QFileInfo::exists(perUser)) {
        return perUser;
    }
    QStringList demos;
    if (QCoreApplication::instance() != nullptr) {
        const QString programDir = QCoreApplication::applicationDirPath();
        demos << programDir + QStringLiteral("/../share/ledgerwick/demo/aliases.ini");
        // The sibling tools are installed one level deeper, in libexec/ledgerwick.
        demos << programDir + QStringLiteral("/../../share/ledgerwick/demo/aliases.ini");
        demos << programDir + QStringLiteral("/demo/aliases.ini");
    }
    demos << QStringLiteral(LW_INSTALL_DATADIR "/demo/aliases.ini");
    demos << QStringLiteral(LW_BUILD_DIR "/demo/aliases.ini");
    for (const QString& demo : demos) {
        if (QFileInfo(demo).isFile()) {
            return QDir::cleanPath(demo);
        }
    }
    return QString();
}

bool AliasFileEngine::configurationReadable() const {
    if (m_file.isEmpty()) {
        return false;
    }
    const QFileInfo info(m_file);
    if (!info.exists()) {
        if (info.isSymLink()) {
            fail(QStringLiteral("Cannot read the alias configuration \"%1\": it is a link to a missing file")
                     .arg(m_file));
        }
        return false;
    }
    if (info.isDir()) {
        fail(QStringLiteral("Cannot read the alias configuration \"%1\": it is a directory").arg(m_file));
    }
    // Opening a named pipe waits for a writer, and a device may never end: only plain files are read.
    if (!info.isFile()) {
        fail(QStringLiteral("Cannot read the alias configuration \"%1\": it is not a plain file").arg(m_file));
    }
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(
            QStringLiteral("Cannot read the alias configuration \"%1\": %2").arg(m_file, file.errorString()));
    }
    return true;
}

QStringList AliasFileEngine::aliasNames() {
    if (!configurationReadable()) {
        return {};
    }
    QStringList names = Profile(m_file).sections();
    names.removeAll(QString());
    return names;
}

AliasFileEngine::Alias AliasFileEngine::findAlias(const QString& alias) const {
    if (configurationReadable()) {
        const Profile profile(m_file);
        // The profile store matches sections ignoring case and reads the first match.
        for (const QString& section : profile.sections()) {
            if (!section.isEmpty() && section.compare(alias, Qt::CaseInsensitive) == 0) {
                return {section, profile.readString(section, typeKey, QString()).trimmed().toUpper()};
            }
        }
    }
    fail(QStringLiteral("The alias \"%1\" does not exist").arg(alias));
}

QString AliasFileEngine::value(const Alias& alias, const QString& key) const {
    return Profile(m_file).readString(alias.name, key, QString());
}

QString AliasFileEngine::absolutePath(const QString& path) const {
    const QDir base = QFileInfo(m_file).absoluteDir();
    return QDir::cleanPath(base.absoluteFilePath(path));
}

QString AliasFileEngine::directoryOf(const Alias& alias) const {
    const QString path = value(alias, pathKey).trimmed();
    if (path.isEmpty()) {
        fail(QStringLiteral("The alias \"%1\" names no directory (key PATH)").arg(alias.name));
    }
    return absolutePath(path);
}

AliasFileEngine::Target AliasFileEngine::target(const QString& aliasName) const {
    const Alias alias = findAlias(aliasName);
    Target target;
    target.name = alias.name;
    if (alias.type == QLatin1String("STANDARD")) {
        target.directory = true;
        target.path = directoryOf(alias);
        return target;
    }

    SqlSource source;
    if (alias.type == QLatin1String("SQLITE")) {
        const QString file = value(alias, QStringLiteral("DATABASE NAME")).trimmed();
        if (file.isEmpty()) {
            fail(QStringLiteral("The alias \"%1\" names no database file (key DATABASE NAME)")
                     .arg(alias.name));
        }
        source.driver = QStringLiteral("QSQLITE");
        source.databaseName = absolutePath(file);
        // Opening would create a missing file; a listing only reads.
        if (!QFileInfo(source.databaseName).isFile()) {
            fail(QStringLiteral("The database file \"%1\" of alias \"%2\" does not exist")
                     .arg(source.databaseName, alias.name));
        }
        source.connectOptions = QStringLiteral("QSQLITE_OPEN_READONLY");
    } else if (alias.type == QLatin1String("POSTGRESQL")) {
        source.driver = QStringLiteral("QPSQL");
        source.hostName = value(alias, QStringLiteral("SERVER NAME")).trimmed();
        source.databaseName = value(alias, QStringLiteral("DATABASE NAME")).trimmed();
        source.userName = value(alias, QStringLiteral("USER NAME")).trimmed();
        const QString port = value(alias, QStringLiteral("PORT")).trimmed();
        if (!port.isEmpty()) {
            bool ok = false;
            source.port = port.toInt(&ok);
            if (!ok || source.port < 1 || source.port > 65535) {
                fail(QStringLiteral("The alias \"%1\" has the invalid port \"%2\"").arg(alias.name, port));
            }
        }
        // A server that does not answer must not hang the program.
        source.connectOptions = QStringLiteral("connect_timeout=10");
    } else if (alias.type == QLatin1String("ODBC")) {
        const QString dsn = value(alias, QStringLiteral("ODBC DSN")).trimmed();
        if (dsn.isEmpty()) {
            fail(QStringLiteral("The alias \"%1\" names no ODBC data source (key ODBC DSN)").arg(alias.name));
        }
        // A data source name is only a name: anything that could make it a connection string
        // of its own ("DRIVER=...;...") is refused.
        static const QString forbidden = QStringLiteral("[]{}(),;?*=!@\\");
        const bool valid =
            !dsn.endsWith(QLatin1String(".dsn"), Qt::CaseInsensitive) &&
            std::none_of(dsn.begin(), dsn.end(), [](QChar c) { return forbidden.contains(c); });
        if (!valid) {
            fail(QStringLiteral("The alias \"%1\" has the invalid ODBC data source name \"%2\"")
                     .arg(alias.name, dsn));
        }
        source.driver = QStringLiteral("QODBC");
        source.databaseName = dsn;
    } else if (alias.type.isEmpty()) {
        fail(QStringLiteral("The alias \"%1\" has no type (key TYPE)").arg(alias.name));
    } else {
        fail(QStringLiteral("The alias \"%1\" has the unknown type \"%2\"").arg(alias.name, alias.type));
    }
    target.sql = source;
    target.trustedConditions =
        value(alias, QStringLiteral("Conditions")).trimmed().compare(QLatin1String("trusted"), Qt::CaseInsensitive) == 0;
    return target;
}

QStringList AliasFileEngine::tableNames(const QString& aliasName) {
    const Target target = this->target(aliasName);
    if (target.directory) {
        return listTableFiles(target.path, target.name);
    }
    return sqlTableNames(target.name, target.sql, target.name);
}

QStringList AliasFileEngine::aliasParameters(const QString& aliasName) {
    const Alias alias = findAlias(aliasName);
    const bool standard = alias.type == QLatin1String("STANDARD");
    QStringList lines;
    if (standard) {
        lines << pathKey + QLatin1Char('=') + directoryOf(alias);
    }
    const Profile profile(m_file);
    QStringList seen;
    for (const QString& key : profile.keys(alias.name)) {
        if (key.compare(typeKey, Qt::CaseInsensitive) == 0 ||
            (standard && key.compare(pathKey, Qt::CaseInsensitive) == 0) ||
            seen.contains(key, Qt::CaseInsensitive)) {
            continue;
        }
        seen << key;
        lines << key + QLatin1Char('=') + profile.readString(alias.name, key, QString());
    }
    return lines;
}

} // namespace lw
