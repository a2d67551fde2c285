// The report generator as the user runs it (whole process, --batch): 65,536 records x 10 fields from
// SQLite into a columnar blank against a small C program with the SQLite C API and libxlsxwriter;
// 250,000 and 1,000,000 records (time per record, peak memory); 9,999 records as a form on sheets.
#include "ratio.h"

#include "report/definition.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QDir>
#include <QFile>
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

// The columnar blank: a title, field names, the band of markers, a total under the amounts.
void writeColumnarBlank(const QString& path) {
    lw::xls::WorkbookWriter w(path);
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
        w.writeText(3, c, c == 4 ? m : 15, QStringLiteral("${%1}").arg(QString::fromLatin1(Fields[c])));
    // SUM(E4:E4): tArea with relative rows and columns.
    QByteArray tokens;
    tokens.append(char(0x25));
    const auto put16 = [&](quint16 v) {
        tokens.append(char(v & 0xff));
        tokens.append(char(v >> 8));
    };
    put16(3);
    put16(3);
    put16(0xC004);
    put16(0xC004);
    tokens.append(char(0x22)); // tFuncVar, 1 argument, SUM (4)
    tokens.append(char(1));
    put16(4);
    w.writeFormula(4, 4, m, lw::xls::Formula(tokens), lw::xls::Value{});
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
                   const QString& workbook = {}) {
    lw::ReportDefinition d;
    d.excel = workbook;
    d.name = name;
    d.alias = true;
    d.path = QStringLiteral("BENCH");
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
    QFile aliases(g_dir + QStringLiteral("/aliases.ini"));
    aliases.open(QIODevice::WriteOnly);
    aliases.write("[BENCH]\nTYPE=SQLITE\nDATABASE NAME=demo.sqlite\n");
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
        ->Iterations(1)
        ->Repetitions(7);
    lwbench::addManualCase("report/generator_columnar_65536x10", reference, 1.0,
                           timed({program, "--batch", def("cols65536", "R65536", 1, 0)},
                                 "report/generator_65536x10 peak memory"))
        ->Iterations(1)
        ->Repetitions(7);
    // Time per record: 1,000,000 against 250,000 records (16 sheets against 4).
    const std::string quarter = "report/generator_columnar_250000x10";
    lwbench::addManualCase(quarter, "", 0,
                           timed({program, "--batch", def("cols250k", "R250K", 1, 0)},
                                 "report/generator_250000x10 peak memory"))
        ->Iterations(1)
        ->Repetitions(3);
    lwbench::addManualCase("report/generator_columnar_1000000x10", quarter, 4.4,
                           timed({program, "--batch", def("cols1m", "R1M", 1, 0)},
                                 "report/generator_1000000x10 peak memory"))
        ->Iterations(1)
        ->Repetitions(3);
    lwbench::addManualCase("report/generator_form_sheets_9999", "", 0,
                           timed({program, "--batch", def("cards", "R9999", 0, 1)},
                                 "report/generator_form_9999 peak memory"))
        ->Iterations(1)
        ->Repetitions(3);
    // .xlsx: 1,000,000 records on one sheet against libxlsxwriter in constant-memory mode.
    writeColumnarXlsxBlank(g_dir + QStringLiteral("/colsx1m.xlsx"));
    const std::string referenceX = "report/ref_sqlite_xlsxwriter_1000000x10";
    lwbench::addManualCase(referenceX, "", 0,
                           timed({LW_BENCH_REFERENCE, database.toStdString(), "R1M",
                                  (g_dir + QStringLiteral("/ref1m.xlsx")).toStdString()},
                                 "report/ref_1000000x10 peak memory"))
        ->Iterations(1)
        ->Repetitions(3);
    lwbench::addManualCase("report/generator_xlsx_columnar_1000000x10", referenceX, 1.2,
                           timed({program, "--batch",
                                  definition(QStringLiteral("colsx1m"), QStringLiteral("R1M"), 1, 0, 0,
                                             g_dir + QStringLiteral("/colsx1m.xlsx"))
                                      .toStdString()},
                                 "report/generator_xlsx_1000000x10 peak memory"))
        ->Iterations(1)
        ->Repetitions(3);
    return lwbench::run(argc, argv);
}
