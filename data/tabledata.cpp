// The way in to table data: opening a source (a directory of table files or an SQL alias), the
// record range, the plain stream over a table file and the one-statement check.
#include "data/tabledata.h"

#include "data/sqlsource.h"
#include "data/streams.h"
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lw::data {

// ---- streams

RangedStream::RangedStream(int from, int to) : m_from(std::max(from, 1)), m_to(to) {
    m_done = to != 0 && to < m_from;
}

qint64 countInRange(qint64 total, int from, int to) {
    const qint64 first = std::max(from, 1);
    if (to != 0 && to < first) {
        return 0;
    }
    const qint64 n = std::max<qint64>(0, total - first + 1);
    return to > 0 ? std::min<qint64>(n, to - first + 1) : n;
}

bool RangedStream::next(Record& record) {
    if (m_done) {
        return false;
    }
    const auto complete = [this] {
        m_done = true;
        verifyComplete();
        finish();
    };
    if (m_to > 0 && m_position >= m_to) {
        complete();
        return false;
    }
    while (m_position < m_from - 1) {
        if (!fetch(nullptr)) {
            complete();
            return false;
        }
        ++m_position;
    }
    if (!fetch(&record)) {
        complete();
        return false;
    }
    ++m_position;
    if (m_to > 0 && m_position >= m_to) {
        // Nothing more is needed: the source may go now (once the record is known to be sound).
        complete();
    }
    return true;
}

void RangedStream::addWarnings(const QStringList& warnings) {
    for (const QString& w : warnings) {
        if (!m_warnings.contains(w)) {
            m_warnings.append(w);
        }
    }
}

TableStream::TableStream(std::unique_ptr<TableReader> reader, int from, int to,
                         std::unique_ptr<TableFileWatch> watch)
    : RangedStream(from, to), m_reader(std::move(reader)), m_watch(std::move(watch)) {
    m_fields = m_reader->fields();
    addWarnings(m_reader->warnings());
}

bool TableStream::fetch(Record* record) {
    const qsizetype known = m_reader->warnings().size();
    const bool more = m_reader->advance();
    if (more && record != nullptr) {
        readRecord(*m_reader, *record);
    }
    if (m_reader->warnings().size() != known) {
        addWarnings(m_reader->warnings());
    }
    return more;
}

void TableStream::verifyComplete() {
    if (m_watch) {
        m_watch->check();
    }
}

void TableStream::finish() {
    addWarnings(m_reader->warnings());
    m_reader.reset();
}

namespace {

// Moves past blanks and comments (-- to the end of the line, /* */) from i; returns where the
// next other character is.
qsizetype skipBlanksAndComments(const QString& sql, qsizetype i) {
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            while (i < n && sql.at(i) != QLatin1Char('\n')) {
                ++i;
            }
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else {
            break;
        }
    }
    return i;
}

} // namespace

qsizetype statementEnd(const QString& sql) {
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype next = skipBlanksAndComments(sql, i);
        if (next != i) {
            i = next;
            continue;
        }
        const QChar c = sql.at(i);
        if (c == QLatin1Char(';')) {
            return i;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
            c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            // E'...' strings of PostgreSQL take backslash escapes.
            const bool backslashes = c == QLatin1Char('\'') && i > 0 &&
                                     (sql.at(i - 1) == QLatin1Char('E') || sql.at(i - 1) == QLatin1Char('e'));
            ++i;
            while (i < n) {
                if (backslashes && sql.at(i) == QLatin1Char('\\')) {
                    i += 2;
                    continue;
                }
                if (sql.at(i) == close) {
                    // A doubled quote stands for itself.
                    if (i + 1 < n && sql.at(i + 1) == close && close != QLatin1Char(']')) {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            ++i;
            continue;
        }
        if (c == QLatin1Char('$')) {
            // A dollar quote: $$...$$ or $tag$...$tag$.
            qsizetype j = i + 1;
            while (j < n && (sql.at(j).isLetterOrNumber() || sql.at(j) == QLatin1Char('_'))) {
                ++j;
            }
            if (j < n && sql.at(j) == QLatin1Char('$') && (j == i + 1 || !sql.at(i + 1).isDigit())) {
                const QString tag = sql.mid(i, j - i + 1);
                const qsizetype end = sql.indexOf(tag, j + 1);
                i = end < 0 ? n : end + tag.size();
                continue;
            }
        }
        ++i;
    }
    return -1;
}

DataError secondStatementRefused() {
    return DataError(DataError::Kind::Query,
                     QStringLiteral("The condition holds more than one statement; only one is allowed"));
}

bool hasSecondStatement(const QString& sql) {
    qsizetype end = statementEnd(sql);
    if (end < 0) {
        return false;
    }
    // Only more terminators, blanks and comments may follow.
    for (qsizetype i = skipBlanksAndComments(sql, end + 1); i < sql.size();
         i = skipBlanksAndComments(sql, i + 1)) {
        if (sql.at(i) != QLatin1Char(';')) {
            return true;
        }
    }
    return false;
}

// ---- a directory of table files

namespace {

class DirectorySource : public DataSource {
public:
    explicit DirectorySource(const QString& directory) : m_directory(directory) {}

    std::vector<Field> fields(const QString& table) override { return openTable(table)->fields(); }

    std::unique_ptr<RecordStream> query(const QString& table, const QString& condition, int from,
                                        int to) override {
        // Watched from before it is opened: any change up to the last record is seen.
        const QString path = tablePath(table);
        auto watch = std::make_unique<TableFileWatch>(path);
        std::unique_ptr<TableReader> reader = openTableFile(path);
        if (condition.trimmed().isEmpty()) {
            return std::make_unique<TableStream>(std::move(reader), from, to, std::move(watch));
        }
        return queryTableFile(std::move(reader), table, condition, from, to, m_control, std::move(watch));
    }

private:
    std::unique_ptr<TableReader> openTable(const QString& table) { return openTableFile(tablePath(table)); }

    // The table's file: its exact name first, else the same name in another case, else with the
    // extension .dbf or .db added.
    QString tablePath(const QString& table) {
        const QString name = table.trimmed();
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
            name == QLatin1String("..")) {
            throw DataError(DataError::Kind::Table,
                            QStringLiteral("\"%1\" is not the name of a table file").arg(table));
        }
        const QDir dir(m_directory);
        QString path = dir.filePath(name);
        if (!QFileInfo(path).isFile()) {
            path.clear();
            const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
            const QString wanted[] = {name, name + QLatin1String(".dbf"), name + QLatin1String(".db")};
            for (const QString& w : wanted) {
                for (const QString& candidate : names) {
                    if (candidate.compare(w, Qt::CaseInsensitive) == 0) {
                        path = dir.filePath(candidate);
                        break;
                    }
                }
                if (!path.isEmpty()) {
                    break;
                }
            }
        }
        if (path.isEmpty()) {
            throw DataError(DataError::Kind::Table,
                            QStringLiteral("The table \"%1\" does not exist in the directory \"%2\"")
                                .arg(table, m_directory));
        }
        return path;
    }

    QString m_directory;
};

std::unique_ptr<DataSource> openDirectory(const QString& directory, const QString& alias) {
    const QFileInfo info(directory);
    if (!info.isDir()) {
        throw DataError(DataError::Kind::Source,
                        alias.isEmpty()
                            ? QStringLiteral("The directory \"%1\" does not exist").arg(directory)
                            : QStringLiteral("The directory \"%1\" of alias \"%2\" does not exist")
                                  .arg(directory, alias));
    }
    return std::make_unique<DirectorySource>(QDir::cleanPath(info.absoluteFilePath()));
}

} // namespace

std::unique_ptr<DataSource> DataSource::open(const SourceRef& source) {
    const QString path = source.path.trimmed();
    if (path.isEmpty()) {
        throw DataError(DataError::Kind::Source, source.alias ? QStringLiteral("No alias is given")
                                                            : QStringLiteral("No directory is given"));
    }
    if (!source.alias) {
        // A name that is not a path is an alias whose directory is meant.
        const bool isPath =
            path.startsWith(QLatin1Char('/')) || (path.size() >= 2 && path.at(1) == QLatin1Char(':'));
        return openDirectory(isPath ? path : normalisePath(path), QString());
    }
    try {
        if (auto* file = dynamic_cast<AliasFileEngine*>(&engine())) {
            const AliasFileEngine::Target target = file->target(path);
            if (target.directory) {
                return openDirectory(target.path, target.name);
            }
            return openSqlSource(target.name, target.sql, target.trustedConditions);
        }
        // Another engine (a test's): only directory aliases, through their parameters.
        const QStringList parameters = engine().aliasParameters(path);
        if (!parameters.isEmpty() && parameters.first().startsWith(QLatin1String("PATH="))) {
            return openDirectory(parameters.first().mid(5), path);
        }
        throw DataError(DataError::Kind::Source,
                        QStringLiteral("The alias \"%1\" names no directory").arg(path));
    } catch (const EngineError& e) {
        throw DataError(DataError::Kind::Source, QString::fromStdString(e.what()));
    }
}

} // namespace lw::data
