// Workbook library speed and memory: writing 65,536 rows x 10 columns against libxlsxwriter in its
// constant-memory mode, reading LibreOffice's save of that workbook against libfreexl, and the peak
// memory of the writer from 10,000 to 1,000,000 rows, and of 1,000,000 rows with a distinct text in
// each (each measured in a fresh process).
#include "ratio.h"
#include "workbook/xls.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <freexl.h>
#include <xlsxwriter.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 65536;

struct Texts {
    std::vector<QString> q;
    std::vector<std::string> utf8;
    Texts() {
        for (int i = 0; i < 1000; ++i) {
            q.push_back(QStringLiteral("Customer %1 of the region").arg(i));
            utf8.push_back(q.back().toStdString());
        }
    }
};
const Texts& texts() {
    static const Texts t;
    return t;
}

// Row r: 4 numbers, 3 texts drawn from 1,000 distinct, 2 dates, 1 logical.
double number(int r, int c) {
    return r * 1.5 + c * 0.25 + (c == 3 ? 0.001 * r : 0);
}
int textIndex(int r, int c) {
    return (r * 7 + c * 131) % 1000;
}
double date(int r, int c) {
    return 40000 + (r + c * 17) % 3650;
}

// Our writer: `rows` rows over as many sheets of 65,536 rows as they need; with uniqueTexts the
// first text of each row is one of its own ("Record 123456 of the ledger, customer ..."), as a
// report of distinct records writes.
void writeOurs(const QString& path, int rows, bool uniqueTexts = false) {
    lw::xls::WorkbookWriter w(path);
    lw::xls::CellFormat d;
    d.numberFormat = QStringLiteral("yyyy-mm-dd");
    const quint16 dateXf = w.addFormat(d);
    const auto& t = texts().q;
    for (int start = 0, sheet = 1; start < rows; start += kRows, ++sheet) {
        w.beginSheet(QStringLiteral("Data %1").arg(sheet));
        const int n = std::min(kRows, rows - start);
        for (int r = 0; r < n; ++r) {
            const int g = start + r;
            for (int c = 0; c < 4; ++c)
                w.writeNumber(r, c, 15, number(g, c));
            for (int c = 4; c < 7; ++c) {
                if (uniqueTexts && c == 4)
                    w.writeText(r, c, 15,
                                QStringLiteral("Record %1 of the ledger, customer %2").arg(g).arg(g % 997));
                else
                    w.writeText(r, c, 15, t[std::size_t(textIndex(g, c))]);
            }
            for (int c = 7; c < 9; ++c)
                w.writeNumber(r, c, dateXf, date(g, c));
            w.writeBoolean(r, 9, 15, g % 3 == 0);
        }
        w.endSheet();
    }
    w.finish();
}

void writeXlsxwriter(const std::string& path, int rows) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    lxw_format* dateFormat = workbook_add_format(book);
    format_set_num_format(dateFormat, "yyyy-mm-dd");
    const auto& t = texts().utf8;
    for (int start = 0; start < rows; start += kRows) {
        lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
        const int n = std::min(kRows, rows - start);
        for (int r = 0; r < n; ++r) {
            const int g = start + r;
            for (int c = 0; c < 4; ++c)
                worksheet_write_number(sheet, lxw_row_t(r), lxw_col_t(c), number(g, c), nullptr);
            for (int c = 4; c < 7; ++c)
                worksheet_write_string(sheet, lxw_row_t(r), lxw_col_t(c),
                                       t[std::size_t(textIndex(g, c))].c_str(), nullptr);
            for (int c = 7; c < 9; ++c)
                worksheet_write_number(sheet, lxw_row_t(r), lxw_col_t(c), date(g, c), dateFormat);
            worksheet_write_boolean(sheet, lxw_row_t(r), lxw_col_t(9), g % 3 == 0, nullptr);
        }
    }
    workbook_close(book);
}

// Reads every cell with libfreexl; returns the cells seen.
long readFreexl(const std::string& path) {
    const void* handle = nullptr;
    if (freexl_open(path.c_str(), &handle) != FREEXL_OK)
        return -1;
    unsigned int sheets = 0;
    freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    long cells = 0;
    for (unsigned short s = 0; s < sheets; ++s) {
        freexl_select_active_worksheet(handle, s);
        unsigned int rows = 0;
        unsigned short cols = 0;
        freexl_worksheet_dimensions(handle, &rows, &cols);
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                if (freexl_get_cell_value(handle, r, c, &v) == FREEXL_OK && v.type != FREEXL_CELL_NULL)
                    ++cells;
            }
        }
    }
    freexl_close(handle);
    return cells;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The peak resident memory (MB) of a fresh process of this program writing `rows` rows.
double childPeak(const QString& self, const QString& mode, int rows, const QString& path) {
    QProcess p;
    p.start(self, {mode, QString::number(rows), path});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed().toDouble() / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    // A child measuring its own peak memory: --peak-ours|--peak-ours-unique|--peak-xlsxwriter rows path.
    if (argc == 4 &&
        (std::strcmp(argv[1], "--peak-ours") == 0 || std::strcmp(argv[1], "--peak-ours-unique") == 0 ||
         std::strcmp(argv[1], "--peak-xlsxwriter") == 0)) {
        const int rows = std::atoi(argv[2]);
        if (std::strncmp(argv[1], "--peak-ours", 11) == 0)
            writeOurs(QString::fromLocal8Bit(argv[3]), rows, std::strcmp(argv[1], "--peak-ours-unique") == 0);
        else
            writeXlsxwriter(argv[3], rows);
        std::printf("%ld\n", peakKiB());
        return 0;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.xls"));
    const std::string xlsx = dir.filePath(QStringLiteral("theirs.xlsx")).toStdString();

    lwbench::addCase("workbook/xlsxwriter_constant_memory_write_65536x10", "", 0,
                     [xlsx](benchmark::State& st) {
                         for (auto _ : st)
                             writeXlsxwriter(xlsx, kRows);
                     })
        ->Unit(benchmark::kMillisecond);
    lwbench::addCase("workbook/write_65536x10", "workbook/xlsxwriter_constant_memory_write_65536x10", 1.0,
                     [ours](benchmark::State& st) {
                         for (auto _ : st)
                             writeOurs(ours, kRows);
                     })
        ->Unit(benchmark::kMillisecond);

    // The same workbook as LibreOffice saves it.
    const QString source = dir.filePath(QStringLiteral("source.xls"));
    writeOurs(source, kRows);
    const QString lo = dir.filePath(QStringLiteral("lo"));
    QTemporaryDir profile;
    const int rc = QProcess::execute(
        QStringLiteral("soffice"),
        {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString(),
         QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("xls"),
         QStringLiteral("--outdir"), lo, source});
    const QString saved = lo + QStringLiteral("/source.xls");
    if (rc == 0 && QFile::exists(saved)) {
        const std::string savedNative = saved.toStdString();
        lwbench::addCase("workbook/freexl_read_libreoffice_65536x10", "", 0,
                         [savedNative](benchmark::State& st) {
                             for (auto _ : st)
                                 benchmark::DoNotOptimize(readFreexl(savedNative));
                         })
            ->Unit(benchmark::kMillisecond);
        lwbench::addCase("workbook/read_libreoffice_65536x10", "workbook/freexl_read_libreoffice_65536x10",
                         1.0,
                         [saved](benchmark::State& st) {
                             for (auto _ : st) {
                                 const lw::xls::Workbook b = lw::xls::readWorkbook(saved);
                                 benchmark::DoNotOptimize(b.sheets.front().cells.size());
                             }
                         })
            ->Unit(benchmark::kMillisecond);
    } else {
        std::fprintf(stderr, "LibreOffice could not save the workbook: the read cases are left out\n");
    }

    // Peak memory, each in a fresh process.
    const QString self = QCoreApplication::applicationFilePath();
    for (int rows : {10000, 100000, 1000000})
        lwbench::note(
            "workbook/peak_memory_write_" + std::to_string(rows) + "_rows",
            childPeak(self, QStringLiteral("--peak-ours"), rows, dir.filePath(QStringLiteral("peak.xls"))),
            "MB");
    // A distinct text in every row: the string table fills its budget, the rest go into LABELs.
    lwbench::note("workbook/peak_memory_write_1000000_rows_unique_texts",
                  childPeak(self, QStringLiteral("--peak-ours-unique"), 1000000,
                            dir.filePath(QStringLiteral("peak.xls"))),
                  "MB");
    lwbench::note("workbook/xlsxwriter_peak_memory_write_65536_rows",
                  childPeak(self, QStringLiteral("--peak-xlsxwriter"), kRows,
                            dir.filePath(QStringLiteral("peak.xlsx"))),
                  "MB");
    QFile::remove(dir.filePath(QStringLiteral("peak.xls")));
    return lwbench::run(argc, argv);
}
