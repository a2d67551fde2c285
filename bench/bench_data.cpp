// Table data speed: scanning a dBASE table of 1,000,000 records x 10 fields with our reader
// against shapelib's DBFRead*Attribute, the same scan with a condition through the SQLite virtual
// table, and 1,000,000 rows of SQLite and PostgreSQL through our stream against the engines' own
// C clients (an sqlite3_step loop, libpq in single-row mode). A Paradox table with a memo in every
// record against the same table with its memos empty. Memory growth is noted.
#include "data/tabledata.h"
#include "ratio.h"
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <libpq-fe.h>
#include <shapefil.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecords = 1000000;

struct FieldShape {
    const char* name;
    char type;
    int length;
    int decimals;
};

// Ten fields of the kinds a report table has.
const FieldShape kFields[10] = {{"ID", 'N', 8, 0},      {"NAME", 'C', 20, 0}, {"CITY", 'C', 16, 0},
                          {"AMOUNT", 'N', 12, 2}, {"QTY", 'N', 6, 0},   {"DAY", 'D', 8, 0},
                          {"PAID", 'L', 1, 0},    {"RATE", 'N', 10, 4}, {"CODE", 'C', 6, 0},
                          {"NOTE", 'C', 30, 0}};

double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    double size = 0, resident = 0;
    statm >> size >> resident;
    return resident * double(::sysconf(_SC_PAGESIZE));
}

void put(std::string& r, const std::string& text, int length, bool right) {
    std::string t = text.substr(0, std::size_t(length));
    const std::string pad(std::size_t(length) - t.size(), ' ');
    r += right ? pad + t : t + pad;
}

// The table, written straight in dBASE III form (code page 1252).
void writeTable(const QString& path) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    int recordLength = 1;
    for (const FieldShape& s : kFields)
        recordLength += s.length;
    const int headerLength = 32 + 32 * 10 + 1;
    unsigned char head[32] = {};
    head[0] = 0x03;
    head[1] = 124;
    head[2] = 1;
    head[3] = 1;
    std::memcpy(head + 4, &kRecords, 4);
    head[8] = headerLength & 0xFF;
    head[9] = headerLength >> 8;
    head[10] = recordLength & 0xFF;
    head[11] = recordLength >> 8;
    head[29] = 0x03;
    std::fwrite(head, 1, 32, f);
    for (const FieldShape& s : kFields) {
        unsigned char d[32] = {};
        std::memcpy(d, s.name, std::strlen(s.name));
        d[11] = static_cast<unsigned char>(s.type);
        d[16] = static_cast<unsigned char>(s.length);
        d[17] = static_cast<unsigned char>(s.decimals);
        std::fwrite(d, 1, 32, f);
    }
    std::fputc(0x0D, f);
    static const char* names[] = {"Ashdown Hardware", "Brackley Mills", "Corran Fisheries", "Dunmore & Sons"};
    static const char* cities[] = {"Leeds", "Norwich", "Oban", "Cork", "Bath"};
    std::string r;
    char buf[64];
    for (int i = 0; i < kRecords; ++i) {
        r.assign(1, ' ');
        put(r, std::to_string(i + 1), 8, true);
        put(r, names[i % 4], 20, false);
        put(r, cities[i % 5], 16, false);
        std::snprintf(buf, sizeof buf, "%.2f", (i % 20000) * 0.37);
        put(r, buf, 12, true);
        put(r, std::to_string(i % 997), 6, true);
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
        put(r, buf, 8, false);
        put(r, i % 3 ? "T" : "F", 1, false);
        std::snprintf(buf, sizeof buf, "%.4f", (i % 1000) / 7.0);
        put(r, buf, 10, true);
        std::snprintf(buf, sizeof buf, "C%d", i % 100);
        put(r, buf, 6, false);
        std::snprintf(buf, sizeof buf, "a note of some length %d", i);
        put(r, buf, 30, false);
        std::fwrite(r.data(), 1, r.size(), f);
    }
    std::fputc(0x1A, f);
    std::fclose(f);
}

// Paradox tables of 500,000 records (NAME alpha 20, QTY long, NOTE memo of 20 bytes), written byte
// by byte: version 5 with 4 KB blocks, code page 1252. With memos, every record's memo (about 50
// bytes, more than the 10 the record holds) is in the .mb file, 58 to a shared 4 KB block, as
// Paradox keeps small memos; without, every memo is empty.
constexpr int kParadoxRecords = 500000;

void writeParadox(const QString& base, bool memos) {
    constexpr int recordSize = 20 + 4 + 20;
    constexpr int headerSize = 0x800;
    constexpr int blockSize = 4096;
    constexpr int perBlock = (blockSize - 6) / recordSize;
    const int blocks = (kParadoxRecords + perBlock - 1) / perBlock;
    std::string head(headerSize, '\0');
    auto put16 = [](std::string& b, std::size_t at, unsigned v) {
        b[at] = char(v & 0xFF);
        b[at + 1] = char(v >> 8);
    };
    auto put32 = [](std::string& b, std::size_t at, unsigned v) {
        for (int i = 0; i < 4; ++i)
            b[at + std::size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    put16(head, 0, recordSize);
    put16(head, 2, headerSize);
    head[4] = 2; // a table without a primary key
    head[5] = blockSize / 1024;
    put32(head, 6, kParadoxRecords);
    put16(head, 0x0A, unsigned(blocks)); // blocks in use
    put16(head, 0x0C, unsigned(blocks)); // blocks in the file
    put16(head, 0x0E, 1);                // first block
    put16(head, 0x10, unsigned(blocks)); // last block
    put16(head, 0x21, 3);
    head[0x39] = 9; // version 5
    put16(head, 0x6A, 1252);
    std::size_t at = 0x78;
    const unsigned char types[3][2] = {{0x01, 20}, {0x04, 4}, {0x0C, 20}};
    for (const auto& t : types) {
        head[at++] = char(t[0]);
        head[at++] = char(t[1]);
    }
    at += 4 + 4 * 3 + 79; // the table name's pointer, the field names' pointers, the table name
    for (const char* name : {"NAME", "QTY", "NOTE"}) {
        std::memcpy(&head[at], name, std::strlen(name));
        at += std::strlen(name) + 1;
    }
    std::FILE* db = std::fopen(QFile::encodeName(base + QStringLiteral(".db")).constData(), "wb");
    std::fwrite(head.data(), 1, head.size(), db);

    // The memo file: a header block, then shared blocks of 64 entries (offset and length in 16-byte
    // units, modification number, the length's remainder) with the memos from byte 336.
    std::string memoBlock;
    std::FILE* mb = nullptr;
    unsigned memoBlockOffset = 0;
    int memoIndex = 0;
    std::size_t memoAt = 0;
    if (memos) {
        mb = std::fopen(QFile::encodeName(base + QStringLiteral(".mb")).constData(), "wb");
        std::string mbHead(blockSize, '\0');
        put16(mbHead, 1, 1);
        std::fwrite(mbHead.data(), 1, mbHead.size(), mb);
        memoBlockOffset = blockSize;
    }
    auto flushMemoBlock = [&] {
        if (!memoBlock.empty())
            std::fwrite(memoBlock.data(), 1, memoBlock.size(), mb);
        memoBlock.assign(blockSize, '\0');
        memoBlock[0] = 3;
        put16(memoBlock, 1, 1);
        memoIndex = 0;
        memoAt = 336;
    };
    if (memos) {
        flushMemoBlock();
    }

    static const char* names[] = {"Ashdown Hardware", "Brackley Mills", "Corran Fisheries", "Dunmore & Sons"};
    std::string block(blockSize, '\0');
    int record = 0;
    char text[96];
    for (int b = 1; b <= blocks; ++b) {
        std::fill(block.begin(), block.end(), '\0');
        const int n = std::min(perBlock, kParadoxRecords - record);
        put16(block, 0, b < blocks ? unsigned(b + 1) : 0);
        put16(block, 2, unsigned(b - 1));
        put16(block, 4, unsigned((n - 1) * recordSize));
        for (int i = 0; i < n; ++i, ++record) {
            char* r = &block[6 + std::size_t(i) * recordSize];
            std::memcpy(r, names[record % 4], std::strlen(names[record % 4]));
            const unsigned qty = unsigned(record % 997) ^ 0x80000000u;
            for (int k = 0; k < 4; ++k)
                r[20 + k] = char((qty >> (24 - 8 * k)) & 0xFF);
            if (!memos)
                continue;
            const int length = std::snprintf(text, sizeof text, "A note of some length for record %d, kept in the memo", record);
            const int paragraphs = (length + 15) / 16;
            if (memoIndex == 64 || memoAt + std::size_t(paragraphs) * 16 > std::size_t(blockSize)) {
                flushMemoBlock();
                memoBlockOffset += blockSize;
            }
            std::memcpy(&memoBlock[memoAt], text, std::size_t(length));
            char* entry = &memoBlock[12 + 5 * std::size_t(memoIndex)];
            entry[0] = char(memoAt / 16);
            entry[1] = char(paragraphs);
            entry[4] = char(length % 16);
            char* note = r + 24;
            std::memcpy(note, text, 10);
            const unsigned pointer = memoBlockOffset | unsigned(memoIndex);
            for (int k = 0; k < 4; ++k) {
                note[10 + k] = char((pointer >> (8 * k)) & 0xFF);
                note[14 + k] = char((unsigned(length) >> (8 * k)) & 0xFF);
            }
            memoAt += std::size_t(paragraphs) * 16;
            ++memoIndex;
        }
        std::fwrite(block.data(), 1, block.size(), db);
    }
    std::fclose(db);
    if (memos) {
        std::fwrite(memoBlock.data(), 1, memoBlock.size(), mb);
        std::fclose(mb);
    }
}

void writeSqlite(const QString& path) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(
        db,
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE big (id INTEGER, name TEXT, city TEXT, amount NUMERIC(12,2), qty INTEGER, day DATE, "
        "paid BOOLEAN, rate REAL, code TEXT, note TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999) "
        "INSERT INTO big SELECT i + 1, 'Ashdown Hardware', 'Leeds', (i % 20000) * 0.37, i % 997, "
        "printf('%04d-%02d-%02d', 1990 + i % 30, 1 + i % 12, 1 + i % 28), i % 3 <> 0, (i % 1000) / 7.0, "
        "'C' || (i % 100), 'a note of some length ' || i FROM n;"
        "COMMIT;",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// The floors: the engines' own clients reading every column of every row.
std::int64_t scanShapelib(const QByteArray& path) {
    DBFHandle h = DBFOpen(path.constData(), "rb");
    const int records = DBFGetRecordCount(h);
    const int fields = DBFGetFieldCount(h);
    std::vector<DBFFieldType> types;
    for (int f = 0; f < fields; ++f)
        types.push_back(DBFGetFieldInfo(h, f, nullptr, nullptr, nullptr));
    std::int64_t sum = 0;
    for (int r = 0; r < records; ++r) {
        if (DBFIsRecordDeleted(h, r))
            continue;
        for (int f = 0; f < fields; ++f) {
            switch (types[std::size_t(f)]) {
            case FTInteger:
                sum += DBFReadIntegerAttribute(h, r, f);
                break;
            case FTDouble:
                sum += std::int64_t(DBFReadDoubleAttribute(h, r, f));
                break;
            case FTLogical:
                sum += *DBFReadLogicalAttribute(h, r, f) == 'T';
                break;
            default:
                sum += std::int64_t(std::strlen(DBFReadStringAttribute(h, r, f)));
                break;
            }
        }
    }
    DBFClose(h);
    return sum;
}

std::int64_t scanSqlite(const QByteArray& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM big", -1, &stmt, nullptr);
    std::int64_t sum = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const int n = sqlite3_column_count(stmt);
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_INTEGER:
                sum += sqlite3_column_int64(stmt, i);
                break;
            case SQLITE_FLOAT:
                sum += std::int64_t(sqlite3_column_double(stmt, i));
                break;
            case SQLITE_TEXT:
                sum += std::int64_t(std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))));
                break;
            default:
                break;
            }
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return sum;
}

std::int64_t scanLibpq(const std::string& conninfo) {
    PGconn* c = PQconnectdb(conninfo.c_str());
    PQclear(PQexec(c, "START TRANSACTION READ ONLY"));
    PQsendQuery(c, "SELECT * FROM big");
    PQsetSingleRowMode(c);
    std::int64_t sum = 0;
    while (PGresult* r = PQgetResult(c)) {
        if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
            const int n = PQnfields(r);
            for (int i = 0; i < n; ++i)
                sum += PQgetisnull(r, 0, i) ? 0 : PQgetlength(r, 0, i) + (PQgetvalue(r, 0, i)[0] == '1');
        }
        PQclear(r);
    }
    PQclear(PQexec(c, "ROLLBACK"));
    PQfinish(c);
    return sum;
}

// Our stream over the whole result; the largest growth of resident memory during it is noted.
std::int64_t scanOurs(const lw::data::SourceRef& where, const QString& table, const QString& condition,
                      double* growth = nullptr) {
    auto source = lw::data::DataSource::open(where);
    auto stream = source->query(table, condition, 0, 0);
    lw::data::Record record;
    std::int64_t sum = 0;
    const double start = growth ? residentBytes() : 0;
    double peak = start;
    std::int64_t n = 0;
    while (stream->next(record)) {
        for (const lw::data::Value& v : record)
            sum += v.kind == lw::data::Value::Kind::Integer ? v.integer : v.text.size();
        if (growth && ++n % 100000 == 0)
            peak = std::max(peak, residentBytes());
    }
    if (growth)
        *growth = std::max(peak, residentBytes()) - start;
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString tables = dir.filePath(QStringLiteral("tables"));
    QDir().mkpath(tables);
    writeTable(tables + QStringLiteral("/BIG.DBF"));
    writeParadox(tables + QStringLiteral("/NOMEMO"), false);
    writeParadox(tables + QStringLiteral("/MEMO"), true);
    writeSqlite(dir.filePath(QStringLiteral("big.sqlite")));
    QByteArray config =
        "[BIGFILES]\nTYPE=STANDARD\nPATH=" + QFile::encodeName(tables) +
        "\n[BIGSQLITE]\nTYPE=SQLITE\nDATABASE NAME=" + QFile::encodeName(dir.filePath("big.sqlite")) + "\n";

    // PostgreSQL when a server is given the way the tests are (scripts/test-servers).
    std::string conninfo;
    const QByteArray pgHost = qgetenv("LEDGERWICK_TEST_PG_HOST");
    if (!pgHost.isEmpty()) {
        const QByteArray port = qgetenv("LEDGERWICK_TEST_PG_PORT");
        const std::string admin =
            "host=" + pgHost.toStdString() + " port=" + port.toStdString() + " user=postgres dbname=";
        PGconn* c = PQconnectdb((admin + "postgres").c_str());
        if (PQstatus(c) == CONNECTION_OK) {
            PQclear(PQexec(c, "DROP DATABASE IF EXISTS lw_data_bench"));
            PQclear(PQexec(c, "CREATE DATABASE lw_data_bench"));
            PQfinish(c);
            c = PQconnectdb((admin + "lw_data_bench").c_str());
            PGresult* r = PQexec(c, "CREATE TABLE big AS SELECT i AS id, 'Ashdown Hardware'::text AS name, "
                                    "'Leeds'::text AS city, "
                                    "((i % 20000) * 0.37)::numeric(12,2) AS amount, i % 997 AS qty, "
                                    "date '1990-01-01' + (i % 10000) AS day, i % 3 <> 0 AS paid, (i % 1000) "
                                    "/ 7.0::float8 AS rate, "
                                    "'C' || (i % 100) AS code, 'a note of some length ' || i AS note "
                                    "FROM generate_series(1, 1000000) AS i");
            if (PQresultStatus(r) == PGRES_COMMAND_OK)
                conninfo = admin + "lw_data_bench";
            PQclear(r);
            config += "[BIGPG]\nTYPE=POSTGRESQL\nSERVER NAME=" + pgHost + "\nPORT=" + port +
                      "\nDATABASE NAME=lw_data_bench\nUSER NAME=postgres\n";
        }
        PQfinish(c);
    }
    const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
    QFile f(aliases);
    f.open(QIODevice::WriteOnly);
    f.write(config);
    f.close();
    lw::setEngine(std::make_unique<lw::AliasFileEngine>(aliases));

    const lw::data::SourceRef files{true, QStringLiteral("BIGFILES")};
    const lw::data::SourceRef sqliteAlias{true, QStringLiteral("BIGSQLITE")};
    const lw::data::SourceRef pgAlias{true, QStringLiteral("BIGPG")};
    const QString condition = QStringLiteral("where AMOUNT > 100");

    // Memory first, in a process where nothing else has run yet.
    double growth = 0;
    scanOurs(files, QStringLiteral("BIG.DBF"), QString(), &growth);
    lwbench::note("data/dbf_scan resident memory growth", growth / 1024, "KiB");
    scanOurs(files, QStringLiteral("BIG.DBF"), condition, &growth);
    lwbench::note("data/dbf_where resident memory growth", growth / 1024, "KiB");
    scanOurs(sqliteAlias, QStringLiteral("big"), QString(), &growth);
    lwbench::note("data/sqlite_stream resident memory growth", growth / 1024, "KiB");
    if (!conninfo.empty()) {
        scanOurs(pgAlias, QStringLiteral("big"), QString(), &growth);
        lwbench::note("data/postgres_stream resident memory growth", growth / 1024, "KiB");
    }

    // The memo table must read as written, or its time says nothing.
    {
        auto stream = lw::data::DataSource::open(files)->query(QStringLiteral("MEMO.DB"), QString(), 0, 0);
        lw::data::Record record;
        std::int64_t n = 0;
        bool right = true;
        while (stream->next(record)) {
            right = right && record.size() == 3 && record[2].kind == lw::data::Value::Kind::Text &&
                    record[2].text == QStringLiteral("A note of some length for record %1, kept in the memo").arg(n);
            ++n;
        }
        if (!right || n != kParadoxRecords || !stream->warnings().isEmpty()) {
            std::fprintf(stderr, "The Paradox memo table does not read as written (%lld records): %s\n",
                         static_cast<long long>(n), qPrintable(stream->warnings().join(QLatin1Char('\n'))));
            return 1;
        }
    }

    const QByteArray dbfPath = QFile::encodeName(tables + QStringLiteral("/BIG.DBF"));
    const QByteArray sqlitePath = QFile::encodeName(dir.filePath(QStringLiteral("big.sqlite")));
    lwbench::addCase("data/dbf_1M_x_10/shapelib_read_attributes", "", 0, [dbfPath](benchmark::State& st) {
        for (auto _ : st)
            benchmark::DoNotOptimize(scanShapelib(dbfPath));
    })->Iterations(1);
    lwbench::addCase("data/dbf_1M_x_10/our_stream", "data/dbf_1M_x_10/shapelib_read_attributes", 1.0,
                     [files](benchmark::State& st) {
                         for (auto _ : st)
                             benchmark::DoNotOptimize(scanOurs(files, QStringLiteral("BIG.DBF"), QString()));
                     })
        ->Iterations(1);
    lwbench::addCase("data/dbf_1M_x_10/our_where_amount_gt_100", "data/dbf_1M_x_10/our_stream", 2.0,
                     [files, condition](benchmark::State& st) {
                         for (auto _ : st)
                             benchmark::DoNotOptimize(scanOurs(files, QStringLiteral("BIG.DBF"), condition));
                     })
        ->Iterations(1);
    lwbench::addCase("data/paradox_500k/our_stream_memos_empty", "", 0, [files](benchmark::State& st) {
        for (auto _ : st)
            benchmark::DoNotOptimize(scanOurs(files, QStringLiteral("NOMEMO.DB"), QString()));
    })->Iterations(1);
    lwbench::addCase("data/paradox_500k/our_stream_memo_per_record", "data/paradox_500k/our_stream_memos_empty", 1.5,
                     [files](benchmark::State& st) {
                         for (auto _ : st)
                             benchmark::DoNotOptimize(scanOurs(files, QStringLiteral("MEMO.DB"), QString()));
                     })
        ->Iterations(1);
    lwbench::addCase("data/sqlite_1M_x_10/sqlite3_step", "", 0, [sqlitePath](benchmark::State& st) {
        for (auto _ : st)
            benchmark::DoNotOptimize(scanSqlite(sqlitePath));
    })->Iterations(1);
    lwbench::addCase("data/sqlite_1M_x_10/our_stream", "data/sqlite_1M_x_10/sqlite3_step", 1.3,
                     [sqliteAlias](benchmark::State& st) {
                         for (auto _ : st)
                             benchmark::DoNotOptimize(
                                 scanOurs(sqliteAlias, QStringLiteral("big"), QString()));
                     })
        ->Iterations(1);
    if (!conninfo.empty()) {
        lwbench::addCase("data/postgres_1M_x_10/libpq_single_row", "", 0, [conninfo](benchmark::State& st) {
            for (auto _ : st)
                benchmark::DoNotOptimize(scanLibpq(conninfo));
        })->Iterations(1);
        lwbench::addCase("data/postgres_1M_x_10/our_stream", "data/postgres_1M_x_10/libpq_single_row", 1.3,
                         [pgAlias](benchmark::State& st) {
                             for (auto _ : st)
                                 benchmark::DoNotOptimize(
                                     scanOurs(pgAlias, QStringLiteral("big"), QString()));
                         })
            ->Iterations(1);
    } else {
        std::fprintf(stderr, "No PostgreSQL server (LEDGERWICK_TEST_PG_HOST): its cases are left out\n");
    }
    const int rc = lwbench::run(argc, argv);
    lw::setEngine(nullptr);
    return rc;
}
