// Workbook library speed and memory: writing 65,536 rows x 10 columns against libxlsxwriter in its
// constant-memory mode, reading LibreOffice's save of that workbook against libfreexl, reading a
// large .xlsx blank against unzipping and parsing its parts with expat alone, and the peak memory of
// the writer from 10,000 to 1,000,000 rows, and of 1,000,000 rows with a distinct text in each (each
// measured in a fresh process).
#include "ratio.h"
#include "workbook/xls.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/xlsx.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <expat.h>
#include <freexl.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <regex>
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

// ---- A large .xlsx blank ------------------------------------------------------------------------

constexpr int kXlsxRows = 113000; // about 50 MB (50,150,000 bytes) of sheet XML

// An .xlsx workbook as other programs write a big one: each row 5 numbers (2 of them with a cell
// format), 3 shared strings drawn from 1,000 and 2 inline strings of their own; styles, shared
// strings, relationships and content types as usual. Returns the sheet XML's size.
qint64 writeLargeXlsx(const QString& path) {
    const QByteArray decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const QByteArray main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QByteArray sheet = decl + "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><dimension ref=\"A1:J" +
                       QByteArray::number(kXlsxRows) +
                       "\"/><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>"
                       "<cols><col min=\"1\" max=\"10\" width=\"14.7109375\" customWidth=\"1\"/></cols><sheetData>";
    sheet.reserve(qsizetype(kXlsxRows) * 480);
    static const char* const letters = "ABCDEFGHIJ";
    for (int r = 0; r < kXlsxRows; ++r) {
        const QByteArray row = QByteArray::number(r + 1);
        sheet += "<row r=\"" + row + "\" spans=\"1:10\">";
        for (int c = 0; c < 10; ++c) {
            sheet += "<c r=\"";
            sheet += letters[c];
            sheet += row + '"';
            if (c < 5) {
                sheet += c == 1 ? " s=\"1\"" : c == 3 ? " s=\"2\"" : "";
                sheet += "><v>" + QByteArray::number(c == 3 ? date(r, c) : number(r, c), 'g', 15) + "</v></c>";
            } else if (c < 8) {
                sheet += " t=\"s\"><v>" + QByteArray::number(textIndex(r, c)) + "</v></c>";
            } else {
                sheet += " t=\"inlineStr\"><is><t>Record " + row + (c == 8 ? " of the ledger" : " note") + "</t></is></c>";
            }
        }
        sheet += "</row>";
    }
    sheet += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
             "footer=\"0.3\"/></worksheet>";
    const qint64 sheetBytes = sheet.size();
    QByteArray sst = decl + "<sst xmlns=\"" + main + "\" count=\"" + QByteArray::number(kXlsxRows * 3) +
                     "\" uniqueCount=\"1000\">";
    for (const std::string& t : texts().utf8)
        sst += "<si><t>" + QByteArray::fromStdString(t) + "</t></si>";
    sst += "</sst>";
    lw::xlsx::zipio::ZipOut zip(path);
    zip.addData("[Content_Types].xml",
                decl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                       "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                       "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                       "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                       "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                       "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
                       "</Types>");
    zip.addData("_rels/.rels",
                decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    zip.addData("xl/_rels/workbook.xml.rels",
                decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                       "<Relationship Id=\"rId2\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>"
                       "<Relationship Id=\"rId3\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
                       "</Relationships>");
    zip.addData("xl/workbook.xml",
                decl + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><workbookPr/><bookViews><workbookView/>"
                       "</bookViews><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets><calcPr calcId=\"0\"/></workbook>");
    zip.addData("xl/styles.xml",
                decl + "<styleSheet xmlns=\"" + main + "\"><numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts>"
                       "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
                       "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
                       "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
                       "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
                       "<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
                       "<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
                       "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/></cellXfs>"
                       "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles></styleSheet>");
    zip.addData("xl/sharedStrings.xml", sst);
    zip.addData("xl/worksheets/sheet1.xml", sheet);
    zip.close();
    return sheetBytes;
}

// The floor of reading it: every part unzipped into memory (libzip) and parsed by expat, with the
// namespace processing the reader needs, by handlers that only count.
struct Counts {
    long elements = 0;
    long textBytes = 0;
};

void XMLCALL countStart(void* data, const char*, const char**) {
    ++static_cast<Counts*>(data)->elements;
}
void XMLCALL countEnd(void*, const char*) {}
void XMLCALL countText(void* data, const char*, int length) {
    static_cast<Counts*>(data)->textBytes += length;
}

long readExpatFloor(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray data = f.readAll();
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data.constData(), zip_uint64_t(data.size()), 0, &error);
    zip_t* za = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!za) {
        if (source)
            zip_source_free(source);
        return -1;
    }
    Counts counts;
    QByteArray part;
    for (zip_int64_t i = 0, n = zip_get_num_entries(za, 0); i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_file_t* zf = zip_stat_index(za, zip_uint64_t(i), 0, &st) == 0 ? zip_fopen_index(za, zip_uint64_t(i), 0) : nullptr;
        if (!zf)
            continue;
        part.resize(qsizetype(st.size));
        const zip_int64_t got = zip_fread(zf, part.data(), st.size);
        zip_fclose(zf);
        XML_Parser parser = XML_ParserCreateNS("UTF-8", '|');
        XML_SetUserData(parser, &counts);
        XML_SetElementHandler(parser, countStart, countEnd);
        XML_SetCharacterDataHandler(parser, countText);
        XML_Parse(parser, part.constData(), int(got), XML_TRUE);
        XML_ParserFree(parser);
    }
    zip_discard(za);
    return counts.elements;
}

// Whether the command line's --benchmark_filter (a regular expression) leaves out every one of the
// cases `names`: the set-up only they need is then skipped. No filter, or a negative one: false.
bool filteredOut(int argc, char** argv, std::initializer_list<std::string> names) {
    for (int i = 1; i < argc; ++i) {
        const char* flag = "--benchmark_filter=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) != 0)
            continue;
        const std::string filter = argv[i] + std::strlen(flag);
        if (filter.empty() || filter[0] == '-')
            return false;
        try {
            const std::regex re(filter);
            return std::none_of(names.begin(), names.end(), [&re](const std::string& n) { return std::regex_search(n, re); });
        } catch (const std::regex_error&) {
            return false;
        }
    }
    return false;
}

// This process's own peak resident memory (KiB): the high-water mark of its memory since it was
// started. getrusage's ru_maxrss will not do: Linux carries the parent's peak over into a child
// through fork and exec, so a child started by a benchmark that had grown would report that.
long peakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
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
    // The large .xlsx blank alone, to check it with other readers: --write-large-xlsx path; and
    // read by ours or by the floor alone, to profile them: --read-xlsx | --floor-xlsx path.
    if (argc == 3 && std::strcmp(argv[1], "--write-large-xlsx") == 0) {
        std::printf("%lld bytes of sheet XML\n", static_cast<long long>(writeLargeXlsx(QString::fromLocal8Bit(argv[2]))));
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--floor-xlsx") == 0) {
        std::printf("%ld elements\n", readExpatFloor(QString::fromLocal8Bit(argv[2])));
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--read-xlsx") == 0) {
        const lw::xlsx::Package p = lw::xlsx::readPackage(QString::fromLocal8Bit(argv[2]));
        std::printf("%zu cells\n", p.book.sheets.front().cells.size());
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

    // A large .xlsx blank read into the model, against unzipping and parsing it with expat alone.
    const QString large = dir.filePath(QStringLiteral("large.xlsx"));
    if (!filteredOut(argc, argv, {"workbook/read_xlsx_blank_50mb", "workbook/expat_floor_read_xlsx_blank_50mb"})) {
        lwbench::note("workbook/xlsx_blank_sheet_xml", double(writeLargeXlsx(large)) / (1 << 20), "MB");
        lwbench::addCase("workbook/expat_floor_read_xlsx_blank_50mb", "", 0,
                         [large](benchmark::State& st) {
                             for (auto _ : st)
                                 benchmark::DoNotOptimize(readExpatFloor(large));
                         })
            ->Unit(benchmark::kMillisecond);
        lwbench::addCase("workbook/read_xlsx_blank_50mb", "workbook/expat_floor_read_xlsx_blank_50mb", 1.5,
                         [large](benchmark::State& st) {
                             for (auto _ : st) {
                                 const lw::xlsx::Package p = lw::xlsx::readPackage(large);
                                 benchmark::DoNotOptimize(p.book.sheets.front().cells.size());
                             }
                         })
            ->Unit(benchmark::kMillisecond);
    }

    // The same workbook as LibreOffice saves it.
    const bool readCases = !filteredOut(argc, argv, {"workbook/read_libreoffice_65536x10", "workbook/freexl_read_libreoffice_65536x10"});
    const QString source = dir.filePath(QStringLiteral("source.xls"));
    if (readCases)
        writeOurs(source, kRows);
    const QString lo = dir.filePath(QStringLiteral("lo"));
    QTemporaryDir profile;
    const int rc = !readCases ? -1 : QProcess::execute(
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
    } else if (readCases) {
        std::fprintf(stderr, "LibreOffice could not save the workbook: the read cases are left out\n");
    }

    // Peak memory, each in a fresh process (left out when a filter names only other cases).
    const QString self = QCoreApplication::applicationFilePath();
    if (filteredOut(argc, argv, {"workbook/peak_memory_write_1000000_rows", "workbook/xlsxwriter_peak_memory_write_65536_rows"}))
        return lwbench::run(argc, argv);
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
