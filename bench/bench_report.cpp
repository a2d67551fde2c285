// The report generator as the user runs it (whole process, --batch): 65,536 records x 10 fields from
// SQLite into a columnar blank against a small C program with the SQLite C API and libxlsxwriter;
// 250,000 and 1,000,000 records (time per record, peak memory); 9,999 records as a form on sheets;
// 65,536 records into a blank made by LibreOffice with a logo, a chart and a conditional format
// against the same blank without them; with a PostgreSQL server (scripts/test-servers), 1,000,000 rows
// x 6 columns from PostgreSQL against psql fetching the same rows (\copy to /dev/null).
#include "ratio.h"

#include "report/definition.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

QString g_dir;

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Outcome {
    bool ok = false;
    double seconds = 0;
    double peakMB = 0;
};

// Runs a program to its end; its time and its own peak resident memory (wait4).
Outcome runProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Outcome o;
    const double start = now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return o;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return o;
    o.seconds = now() - start;
    o.peakMB = double(usage.ru_maxrss) / 1024.0;
    o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return o;
}

bool exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        fprintf(stderr, "%s\n", error);
        sqlite3_free(error);
        return false;
    }
    return true;
}

// A table of 10 fields: numbers, texts (names and cities repeat, codes do not), a date, a logical.
bool makeTable(sqlite3* db, const std::string& name, int rows) {
    const std::string create = "CREATE TABLE " + name +
                               " (ID INTEGER, NAME TEXT, CITY TEXT, DAY DATE, AMOUNT REAL, QTY INTEGER, "
                               "PRICE REAL, CODE TEXT, PAID BOOLEAN, NOTE TEXT)";
    if (!exec(db, create.c_str()) || !exec(db, "BEGIN"))
        return false;
    sqlite3_stmt* st = nullptr;
    const std::string insert = "INSERT INTO " + name + " VALUES (?,?,?,?,?,?,?,?,?,?)";
    sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr);
    static const char* cities[] = {"Leeds", "Norwich", "Oban", "York", "Bath", "Ely", "Wells", "Derby"};
    char text[64];
    for (int i = 1; i <= rows; ++i) {
        sqlite3_bind_int(st, 1, i);
        snprintf(text, sizeof text, "Client %d", i % 997);
        sqlite3_bind_text(st, 2, text, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, cities[i % 8], -1, SQLITE_STATIC);
        snprintf(text, sizeof text, "%04d-%02d-%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
        sqlite3_bind_text(st, 4, text, -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 5, i * 1.25);
        sqlite3_bind_int(st, 6, i % 50);
        sqlite3_bind_double(st, 7, (i % 1000) / 8.0);
        snprintf(text, sizeof text, "C%07d", i);
        sqlite3_bind_text(st, 8, text, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 9, i % 2);
        if (i % 10 == 0)
            sqlite3_bind_text(st, 10, "checked", -1, SQLITE_STATIC);
        else
            sqlite3_bind_null(st, 10);
        if (sqlite3_step(st) != SQLITE_DONE)
            return false;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return exec(db, "COMMIT");
}

const char* const Fields[] = {"ID", "NAME", "CITY", "DAY", "AMOUNT", "QTY", "PRICE", "CODE", "PAID", "NOTE"};

// The columnar blank: a title, field names, the band of markers, a total under the amounts
// (column `total`).
void writeColumnarBlank(const QString& path, const std::vector<const char*>& fields = {std::begin(Fields), std::end(Fields)},
                        int total = 4) {
    lw::xls::WorkbookWriter w(path);
    lw::xls::CellFormat bold;
    bold.font.bold = true;
    const quint16 b = w.addFormat(bold);
    lw::xls::CellFormat money;
    money.numberFormat = QStringLiteral("0.00");
    const quint16 m = w.addFormat(money);
    w.beginSheet(QStringLiteral("Report"));
    w.writeText(0, 0, b, QStringLiteral("${REPORT}"));
    const int n = int(fields.size());
    for (int c = 0; c < n; ++c)
        w.writeText(2, c, b, QString::fromLatin1(fields[std::size_t(c)]));
    for (int c = 0; c < n; ++c)
        w.writeText(3, c, c == total ? m : 15,
                    QStringLiteral("${%1}").arg(QString::fromLatin1(fields[std::size_t(c)])));
    // SUM(E4:E4) (for total 4): tArea with relative rows and columns.
    QByteArray tokens;
    tokens.append(char(0x25));
    const auto put16 = [&](quint16 v) {
        tokens.append(char(v & 0xff));
        tokens.append(char(v >> 8));
    };
    put16(3);
    put16(3);
    put16(quint16(0xC000 | total));
    put16(quint16(0xC000 | total));
    tokens.append(char(0x22)); // tFuncVar, 1 argument, SUM (4)
    tokens.append(char(1));
    put16(4);
    w.writeFormula(4, total, m, lw::xls::Formula(tokens), lw::xls::Value{});
    w.endSheet();
    w.finish();
}

// The same columnar blank as an .xlsx workbook.
void writeColumnarXlsxBlank(const QString& path) {
    lw::xlsx::NewWorkbookWriter w(path);
    lw::xls::CellFormat bold;
    bold.font.bold = true;
    const quint16 b = w.addFormat(bold);
    lw::xls::CellFormat money;
    money.numberFormat = QStringLiteral("0.00");
    const quint16 m = w.addFormat(money);
    w.beginSheet(QStringLiteral("Report"));
    w.writeText(0, 0, b, QStringLiteral("${REPORT}"));
    for (int c = 0; c < 10; ++c)
        w.writeText(2, c, b, QString::fromLatin1(Fields[c]));
    for (int c = 0; c < 10; ++c)
        w.writeText(3, c, c == 4 ? m : 0, QStringLiteral("${%1}").arg(QString::fromLatin1(Fields[c])));
    w.writeFormula(4, 4, m, QStringLiteral("SUM(E4:E4)"));
    w.endSheet();
    w.finish();
}

// The form blank: one row per field, its name and its marker.
void writeFormBlank(const QString& path) {
    lw::xls::WorkbookWriter w(path);
    w.beginSheet(QStringLiteral("Card"));
    w.writeText(0, 0, 15, QStringLiteral("Card ${#}"));
    for (int c = 0; c < 10; ++c) {
        w.writeText(c + 1, 0, 15, QString::fromLatin1(Fields[c]));
        w.writeText(c + 1, 1, 15, QStringLiteral("${%1}").arg(QString::fromLatin1(Fields[c])));
    }
    w.endSheet();
    w.finish();
}

QString definition(const QString& name, const QString& table, int view, int list, int to,
                   const QString& alias = QStringLiteral("BENCH"), const QString& workbook = {}) {
    lw::ReportDefinition d;
    d.excel = workbook;
    d.name = name;
    d.alias = true;
    d.path = alias;
    d.db = table;
    d.view = view;
    d.list = list;
    d.from = 1;
    d.to = to;
    const QString file = g_dir + QLatin1Char('/') + name + QStringLiteral(".pr");
    lw::writeDefinition(file, d);
    return file;
}

std::function<void(benchmark::State&)> timed(std::vector<std::string> args, const std::string& memoryNote = {}) {
    return [args, memoryNote](benchmark::State& st) {
        for (auto _ : st) {
            const Outcome o = runProcess(args);
            if (!o.ok) {
                st.SkipWithError("the program failed");
                break;
            }
            st.SetIterationTime(o.seconds);
            if (!memoryNote.empty())
                lwbench::note(memoryNote, o.peakMB, "MB");
        }
    };
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    g_dir = dir.path();
    for (const char* sub : {"runtime", "config"})
        QDir().mkpath(g_dir + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(g_dir + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", (g_dir + QStringLiteral("/runtime")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (g_dir + QStringLiteral("/config")).toUtf8());

    // The demo SQLite database with the benchmark's tables added.
    const QString database = g_dir + QStringLiteral("/demo.sqlite");
    QFile::copy(QStringLiteral(LW_BENCH_DEMO_DB), database);
    QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(database).constData(), &db);
    const bool made = makeTable(db, "R65536", 65536) && makeTable(db, "R250K", 250000) &&
                      makeTable(db, "R1M", 1000000) && makeTable(db, "R9999", 9999);
    sqlite3_close(db);
    if (!made)
        return 1;
    QByteArray aliasConfig = "[BENCH]\nTYPE=SQLITE\nDATABASE NAME=demo.sqlite\n";

    // PostgreSQL when a server is given the way the tests get one (scripts/test-servers): a table of
    // 1,000,000 rows x 6 columns (integer, text, numeric(12,2), date, boolean, float8).
    std::vector<std::string> psql;
    const QByteArray pgHost = qgetenv("LEDGERWICK_TEST_PG_HOST");
    const QString psqlProgram = QStandardPaths::findExecutable(QStringLiteral("psql"));
    if (!pgHost.isEmpty() && !psqlProgram.isEmpty()) {
        const QByteArray port = qgetenv("LEDGERWICK_TEST_PG_PORT");
        psql = {psqlProgram.toStdString(), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", pgHost.toStdString(),
                "-p", port.toStdString(), "-U", "postgres"};
        auto run = [&psql](const std::string& db, const std::string& sql) {
            std::vector<std::string> args = psql;
            args.insert(args.end(), {"-d", db, "-o", "/dev/null", "-c", sql});
            return runProcess(args).ok;
        };
        const bool ready =
            run("postgres", "DROP DATABASE IF EXISTS lw_report_bench") &&
            run("postgres", "CREATE DATABASE lw_report_bench ENCODING 'UTF8' TEMPLATE template0") &&
            run("lw_report_bench",
                "CREATE TABLE r1m AS SELECT i AS \"ID\", 'Client ' || (i % 997) AS \"NAME\", "
                "((i % 20000) * 0.37)::numeric(12,2) AS \"AMOUNT\", date '1990-01-01' + (i % 10000) AS \"DAY\", "
                "i % 3 <> 0 AS \"PAID\", (i % 1000) / 7.0::float8 AS \"RATE\" "
                "FROM generate_series(1, 1000000) AS i");
        if (ready) {
            aliasConfig += "[BENCHPG]\nTYPE=POSTGRESQL\nSERVER NAME=" + pgHost + "\nPORT=" + port +
                           "\nDATABASE NAME=lw_report_bench\nUSER NAME=postgres\n";
            psql.insert(psql.end(), {"-d", "lw_report_bench", "-c",
                                     "\\copy (select * from r1m) to '/dev/null' csv"});
        } else {
            psql.clear();
        }
    }
    if (psql.empty())
        std::fprintf(stderr, "No PostgreSQL server (LEDGERWICK_TEST_PG_HOST) or no psql: the PostgreSQL "
                             "case is left out\n");
    QFile aliases(g_dir + QStringLiteral("/aliases.ini"));
    aliases.open(QIODevice::WriteOnly);
    aliases.write(aliasConfig);
    aliases.close();
    qputenv("LEDGERWICK_ALIASES", QFile::encodeName(aliases.fileName()));

    for (const char* name : {"cols65536", "cols250k", "cols1m"})
        writeColumnarBlank(g_dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".xls"));
    writeFormBlank(g_dir + QStringLiteral("/cards.xls"));

    const std::string program = LW_BENCH_GENERATOR;
    const auto def = [](const char* name, const char* table, int view, int list) {
        return definition(QLatin1String(name), QLatin1String(table), view, list, 0).toStdString();
    };
    const std::string reference = "report/ref_sqlite_xlsxwriter_65536x10";
    lwbench::addManualCase(reference, "", 0,
                           timed({LW_BENCH_REFERENCE, database.toStdString(), "R65536",
                                  (g_dir + QStringLiteral("/ref.xlsx")).toStdString()},
                                 "report/ref_65536x10 peak memory"))
        ->Iterations(1);
    lwbench::addManualCase("report/generator_columnar_65536x10", reference, 1.0,
                           timed({program, "--batch", def("cols65536", "R65536", 1, 0)},
                                 "report/generator_65536x10 peak memory"))
        ->Iterations(1);
    // Time per record: 1,000,000 against 250,000 records (16 sheets against 4).
    const std::string quarter = "report/generator_columnar_250000x10";
    lwbench::addManualCase(quarter, "", 0,
                           timed({program, "--batch", def("cols250k", "R250K", 1, 0)},
                                 "report/generator_250000x10 peak memory"))
        ->Iterations(1);
    lwbench::addManualCase("report/generator_columnar_1000000x10", quarter, 4.2,
                           timed({program, "--batch", def("cols1m", "R1M", 1, 0)},
                                 "report/generator_1000000x10 peak memory"))
        ->Iterations(1);
    // 1,000,000 records against the C program writing them all on one sheet with libxlsxwriter.
    const std::string referenceMillion = "report/ref_sqlite_xlsxwriter_1000000x10";
    lwbench::addManualCase(referenceMillion, "", 0,
                           timed({LW_BENCH_REFERENCE, database.toStdString(), "R1M",
                                  (g_dir + QStringLiteral("/ref1m.xlsx")).toStdString()}))
        ->Iterations(1);
    lwbench::addManualCase("report/generator_columnar_1000000x10_vs_c", referenceMillion, 0.25,
                           timed({program, "--batch", def("cols1m", "R1M", 1, 0)}))
        ->Iterations(1);
    // Blanks as a user makes them (openpyxl, saved by LibreOffice): without and with a logo, a chart
    // over the band and a conditional format; left out when LibreOffice or openpyxl is missing.
    const QString helper = QStringLiteral(LW_SOURCE_DIR "/tests/generator/lo_blank.py");
    const auto loBlank = [&](const char* name, const char* mode) {
        const std::string out = (g_dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".xls")).toStdString();
        return runProcess({"/usr/bin/python3", helper.toStdString(), "blank", out, mode}).ok;
    };
    if (loBlank("plain65536", "plain") && loBlank("dressed65536", "bench")) {
        const std::string plain = "report/generator_plain_blank_65536";
        lwbench::addManualCase(plain, "", 0, timed({program, "--batch", def("plain65536", "R65536", 1, 0)}))
            ->Iterations(1);
        lwbench::addManualCase("report/generator_logo_chart_format_65536", plain, 1.1,
                               timed({program, "--batch", def("dressed65536", "R65536", 1, 0)},
                                     "report/generator_logo_chart_format_65536 peak memory"))
            ->Iterations(1);
        // A picture (and a chart) on each of 9,999 sheets: the picture's data stays once in the
        // drawing group, each sheet holds its shapes.
        QFile::copy(g_dir + QStringLiteral("/dressed65536.xls"), g_dir + QStringLiteral("/dressed9999.xls"));
        lwbench::addManualCase("report/generator_form_sheets_picture_9999", "report/generator_form_sheets_9999", 0,
                               timed({program, "--batch", def("dressed9999", "R9999", 0, 1)},
                                     "report/generator_form_sheets_picture_9999 peak memory"))
            ->Iterations(1);
    } else {
        fprintf(stderr, "LibreOffice or python3-openpyxl missing: the blanks with drawings are not measured\n");
    }
    lwbench::addManualCase("report/generator_form_sheets_9999", "", 0,
                           timed({program, "--batch", def("cards", "R9999", 0, 1)},
                                 "report/generator_form_9999 peak memory"))
        ->Iterations(1);
    // PostgreSQL: the report of 1,000,000 rows against psql fetching them (16 sheets).
    if (!psql.empty()) {
        writeColumnarBlank(g_dir + QStringLiteral("/pg1m.xls"), {"ID", "NAME", "AMOUNT", "DAY", "PAID", "RATE"}, 2);
        const std::string fetch = "report/ref_psql_copy_1000000x6";
        lwbench::addManualCase(fetch, "", 0, timed(psql))->Iterations(1);
        lwbench::addManualCase(
            "report/generator_postgres_1000000x6", fetch, 2.0,
            timed({program, "--batch",
                   definition(QStringLiteral("pg1m"), QStringLiteral("r1m"), 1, 0, 0, QStringLiteral("BENCHPG"))
                       .toStdString()},
                  "report/generator_postgres_1000000x6 peak memory"))
            ->Iterations(1);
    }
    // .xlsx: 1,000,000 records on one sheet against libxlsxwriter in constant-memory mode.
    writeColumnarXlsxBlank(g_dir + QStringLiteral("/colsx1m.xlsx"));
    lwbench::addManualCase("report/generator_xlsx_columnar_1000000x10", referenceMillion, 1.2,
                           timed({program, "--batch",
                                  definition(QStringLiteral("colsx1m"), QStringLiteral("R1M"), 1, 0, 0,
                                             QStringLiteral("BENCH"), g_dir + QStringLiteral("/colsx1m.xlsx"))
                                      .toStdString()},
                                 "report/generator_xlsx_1000000x10 peak memory"))
        ->Iterations(1);
    return lwbench::run(argc, argv);
}
