// Build-time generator of the demo data: dBASE III tables from the .csv sources, an SQLite
// database from demo.sql, and the alias configuration that names them.
//
// Usage: lw_makedemo <source dir> <output dir>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <cstdio>
#include <stdexcept>

namespace {

struct Field {
    QByteArray name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

[[noreturn]] void fail(const QString& text) {
    throw std::runtime_error(text.toStdString());
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    }
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
        !file.flush()) {
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
}

void putLe16(QByteArray& out, int at, int value) {
    out[at] = char(value & 0xFF);
    out[at + 1] = char((value >> 8) & 0xFF);
}

void putLe32(QByteArray& out, int at, quint32 value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = char((value >> (8 * i)) & 0xFF);
    }
}

Field parseField(const QString& description, const QString& source) {
    static const QRegularExpression pattern(
        QStringLiteral("^([A-Z][A-Z0-9_]{0,9}):([CNDL])(?::(\\d+))?(?::(\\d+))?$"));
    const QRegularExpressionMatch m = pattern.match(description.trimmed());
    if (!m.hasMatch()) {
        fail(QStringLiteral("%1: bad field description \"%2\"").arg(source, description));
    }
    Field f;
    f.name = m.captured(1).toLatin1();
    f.type = m.captured(2).at(0).toLatin1();
    f.length = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    f.decimals = m.captured(4).isEmpty() ? 0 : m.captured(4).toInt();
    if (f.type == 'D') {
        f.length = 8;
    } else if (f.type == 'L') {
        f.length = 1;
    }
    if (f.length < 1 || f.length > 254 || (f.type == 'N' && (f.length > 19 || f.decimals >= f.length))) {
        fail(QStringLiteral("%1: bad length in \"%2\"").arg(source, description));
    }
    return f;
}

// One field's bytes in the record: characters left-aligned, numbers right-aligned, both padded
// with blanks; dates as YYYYMMDD; logicals as T or F.
QByteArray fieldBytes(const Field& f, const QString& text, const QString& where) {
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() > 126) {
            fail(QStringLiteral("%1: only printable ASCII is allowed").arg(where));
        }
    }
    QByteArray value = text.toLatin1();
    switch (f.type) {
    case 'N': {
        static const QRegularExpression number(QStringLiteral("^-?\\d+(\\.\\d+)?$"));
        if (!value.isEmpty() && !number.match(text).hasMatch()) {
            fail(QStringLiteral("%1: \"%2\" is not a number").arg(where, text));
        }
        if (!value.isEmpty()) {
            value = QByteArray::number(value.toDouble(), 'f', f.decimals);
        }
        if (value.size() > f.length) {
            fail(QStringLiteral("%1: \"%2\" is too long").arg(where, text));
        }
        return QByteArray(f.length - value.size(), ' ') + value;
    }
    case 'D': {
        static const QRegularExpression date(QStringLiteral("^\\d{8}$"));
        if (!value.isEmpty() && !date.match(text).hasMatch()) {
            fail(QStringLiteral("%1: \"%2\" is not a date YYYYMMDD").arg(where, text));
        }
        return value.leftJustified(8, ' ');
    }
    case 'L':
        if (value != "T" && value != "F" && value != "?") {
            fail(QStringLiteral("%1: \"%2\" is not T, F or ?").arg(where, text));
        }
        return value;
    default:
        if (value.size() > f.length) {
            fail(QStringLiteral("%1: \"%2\" is too long").arg(where, text));
        }
        return value.leftJustified(f.length, ' ');
    }
}

// A dBASE III table (version byte 3, no memo file) from a .csv source.
QByteArray makeTable(const QString& source) {
    QList<QString> lines;
    for (const QString& line : QString::fromUtf8(readAll(source)).split(QLatin1Char('\n'))) {
        const QString l = QString(line).remove(QLatin1Char('\r'));
        if (!l.trimmed().isEmpty() && !l.startsWith(QLatin1Char('#'))) {
            lines.append(l);
        }
    }
    if (lines.isEmpty()) {
        fail(QStringLiteral("%1: no field descriptions").arg(source));
    }
    QList<Field> fields;
    for (const QString& description : lines.takeFirst().split(QLatin1Char(','))) {
        fields.append(parseField(description, source));
    }
    if (fields.size() > 128) {
        fail(QStringLiteral("%1: more than 128 fields").arg(source));
    }

    int recordLength = 1;
    for (const Field& f : fields) {
        recordLength += f.length;
    }
    const int headerLength = 32 + 32 * int(fields.size()) + 1;

    QByteArray out(headerLength, '\0');
    out[0] = 0x03;
    // The date of the last update is fixed so that every build makes the same files.
    out[1] = char(99);
    out[2] = char(12);
    out[3] = char(31);
    putLe32(out, 4, quint32(lines.size()));
    putLe16(out, 8, headerLength);
    putLe16(out, 10, recordLength);
    for (int i = 0; i < fields.size(); ++i) {
        const int at = 32 + 32 * i;
        const Field& f = fields.at(i);
        for (int k = 0; k < f.name.size(); ++k) {
            out[at + k] = f.name.at(k);
        }
        out[at + 11] = f.type;
        out[at + 16] = char(f.length);
        out[at + 17] = char(f.decimals);
    }
    out[headerLength - 1] = 0x0D;

    for (int r = 0; r < lines.size(); ++r) {
        const QStringList values = lines.at(r).split(QLatin1Char(','));
        const QString where = QStringLiteral("%1, record %2").arg(source).arg(r + 1);
        if (values.size() != fields.size()) {
            fail(QStringLiteral("%1: %2 values for %3 fields")
                     .arg(where)
                     .arg(values.size())
                     .arg(fields.size()));
        }
        QByteArray record(1, ' ');
        for (int i = 0; i < fields.size(); ++i) {
            record += fieldBytes(fields.at(i), values.at(i).trimmed(), where);
        }
        out += record;
    }
    out += char(0x1A);
    return out;
}

// Runs demo.sql into a new SQLite database: each statement ends with ";" at the end of a line,
// lines beginning with "--" are comments.
void makeDatabase(const QString& script, const QString& target) {
    const QString temporary = target + QStringLiteral(".new");
    QFile::remove(temporary);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo"));
        db.setDatabaseName(temporary);
        if (!db.open()) {
            fail(QStringLiteral("cannot create %1: %2").arg(temporary, db.lastError().text()));
        }
        QString statement;
        for (const QString& line : QString::fromUtf8(readAll(script)).split(QLatin1Char('\n'))) {
            if (line.trimmed().startsWith(QLatin1String("--"))) {
                continue;
            }
            statement += line + QLatin1Char('\n');
            if (line.trimmed().endsWith(QLatin1Char(';'))) {
                QSqlQuery query(db);
                if (!query.exec(statement)) {
                    fail(QStringLiteral("%1: %2 in\n%3").arg(script, query.lastError().text(), statement));
                }
                statement.clear();
            }
        }
        if (!statement.trimmed().isEmpty()) {
            fail(QStringLiteral("%1: the last statement does not end with \";\"").arg(script));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("demo"));
    QFile::remove(target);
    if (!QFile::rename(temporary, target)) {
        fail(QStringLiteral("cannot rename %1 to %2").arg(temporary, target));
    }
}

void generate(const QString& sourceDir, const QString& outputDir) {
    const QDir source(sourceDir);
    QDir output(outputDir);
    if (!output.mkpath(QStringLiteral("."))) {
        fail(QStringLiteral("cannot create %1").arg(outputDir));
    }

    // The tables directory is made afresh so that no table of an earlier build stays behind.
    QDir tables(output.filePath(QStringLiteral("tables")));
    if (tables.exists() && !tables.removeRecursively()) {
        fail(QStringLiteral("cannot empty %1").arg(tables.path()));
    }
    if (!output.mkpath(QStringLiteral("tables"))) {
        fail(QStringLiteral("cannot create %1").arg(tables.path()));
    }
    const QStringList sources = QDir(source.filePath(QStringLiteral("tables")))
                                    .entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    for (const QString& name : sources) {
        const QString tableName = name.chopped(4); // "CLIENTS.DBF.csv" makes "CLIENTS.DBF"
        writeAll(tables.filePath(tableName), makeTable(source.filePath(QStringLiteral("tables/") + name)));
    }

    makeDatabase(source.filePath(QStringLiteral("demo.sql")), output.filePath(QStringLiteral("demo.sqlite")));
    writeAll(output.filePath(QStringLiteral("aliases.ini")),
             readAll(source.filePath(QStringLiteral("aliases.ini"))));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: lw_makedemo <source dir> <output dir>\n");
        return 2;
    }
    try {
        generate(QFile::decodeName(argv[1]), QFile::decodeName(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lw_makedemo: %s\n", e.what());
        return 1;
    }
    return 0;
}
