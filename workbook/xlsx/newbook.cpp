// A new .xlsx workbook of our own (the blank builder's new blanks): one package with its styles,
// shared strings and sheets, written from memory (blanks are small) by the zip layer into a file that
// gets its name only when complete.
#include "workbook/xlsx/xlsx.h"

#include "workbook/reportfile.h"
#include "workbook/xlsx/package.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cmath>
#include <cstring>

#include <sys/stat.h>

namespace lw::xlsx {

namespace {

const char* const Main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const Rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

QByteArray num(double v) {
    return QByteArray::number(v, 'g', 15);
}

} // namespace

struct NewWorkbookWriter::Impl {
    QString path;
    std::vector<xls::CellFormat> formats;
    QHash<QString, int> sst;
    QByteArray sstXml;
    int sstRefs = 0;
    struct Sheet {
        QString name;
        QByteArray cols, rows;
        int row = -1;
        int column = -1;
        bool rowOpen = false;
        std::optional<std::pair<int, int>> titles;
    };
    std::vector<Sheet> sheets;
    bool inSheet = false;

    Sheet& cur() {
        if (!inSheet)
            throw Error("a cell written outside a sheet");
        return sheets.back();
    }
    void openRow(int r, const xls::RowFormat* f) {
        Sheet& s = cur();
        if (r < s.row || r >= maxRows || (r == s.row && s.rowOpen && f))
            throw Error("rows written out of order");
        if (s.rowOpen && r == s.row)
            return;
        if (s.rowOpen)
            s.rows += "</row>";
        s.rows += "<row r=\"" + QByteArray::number(r + 1) + '"';
        if (f && (f->customHeight || f->height != 255))
            s.rows += " ht=\"" + num(f->height / 20.0) + "\" customHeight=\"1\"";
        s.rows += '>';
        s.row = r;
        s.column = -1;
        s.rowOpen = true;
    }
    void cell(int r, int c, quint16 xf, const QByteArray& inner, const char* type) {
        openRow(r, nullptr);
        Sheet& s = cur();
        if (c <= s.column || c >= maxColumns)
            throw Error("cells written out of order");
        s.column = c;
        s.rows += "<c r=\"" + cellName(r, c).toLatin1() + "\" s=\"" + QByteArray::number(xf) + '"';
        if (type)
            s.rows += QByteArray(" t=\"") + type + '"';
        s.rows += '>' + inner + "</c>";
    }
};

NewWorkbookWriter::NewWorkbookWriter(const QString& path) : d(std::make_unique<Impl>()) {
    d->path = path;
    d->formats.push_back(xls::CellFormat{}); // index 0: the default
}

NewWorkbookWriter::~NewWorkbookWriter() = default;

quint16 NewWorkbookWriter::addFormat(const xls::CellFormat& f) {
    for (std::size_t i = 0; i < d->formats.size(); ++i) {
        const xls::CellFormat& g = d->formats[i];
        if (g.font.name == f.font.name && g.font.height == f.font.height && g.font.bold == f.font.bold &&
            g.font.italic == f.font.italic && g.font.underline == f.font.underline && g.numberFormat == f.numberFormat &&
            g.border == f.border && g.align == f.align && g.wrap == f.wrap)
            return quint16(i);
    }
    d->formats.push_back(f);
    return quint16(d->formats.size() - 1);
}

void NewWorkbookWriter::beginSheet(const QString& name) {
    const QString problem = xls::sheetNameProblem(name);
    if (!problem.isEmpty())
        throw Error(problem.toStdString());
    for (const auto& s : d->sheets)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            throw Error(QStringLiteral("two sheets are named %1").arg(name).toStdString());
    d->sheets.push_back({});
    d->sheets.back().name = name;
    d->inSheet = true;
}

void NewWorkbookWriter::setColumnWidth(int first, int last, quint16 width, quint16 xf) {
    Impl::Sheet& s = d->cur();
    s.cols += "<col min=\"" + QByteArray::number(first + 1) + "\" max=\"" + QByteArray::number(last + 1) +
              "\" width=\"" + num(std::round(width / 256.0 * 100) / 100) + "\" customWidth=\"1\"" +
              (xf ? " style=\"" + QByteArray::number(xf) + '"' : QByteArray()) + "/>";
}

void NewWorkbookWriter::setRow(const xls::RowFormat& row) {
    d->openRow(row.row, &row);
}

void NewWorkbookWriter::writeText(int row, int column, quint16 xf, const QString& text) {
    if (text.size() > xls::maxCellText)
        throw Error("a text longer than 32,767 characters");
    if (text.isEmpty()) {
        writeBlank(row, column, xf);
        return;
    }
    int index = d->sst.value(text, -1);
    if (index < 0) {
        index = int(d->sst.size());
        d->sst.insert(text, index);
        const bool keep = text.front().isSpace() || text.back().isSpace();
        d->sstXml += QByteArray("<si>") + (keep ? "<t xml:space=\"preserve\">" : "<t>") + escapeXml(text) + "</t></si>";
    }
    ++d->sstRefs;
    d->cell(row, column, xf, "<v>" + QByteArray::number(index) + "</v>", "s");
}

void NewWorkbookWriter::writeBlank(int row, int column, quint16 xf) {
    d->cell(row, column, xf, {}, nullptr);
}

void NewWorkbookWriter::writeFormula(int row, int column, quint16 xf, const QString& formula) {
    d->cell(row, column, xf, "<f>" + escapeXml(formula) + "</f>", nullptr);
}

void NewWorkbookWriter::setPrintTitleRows(int first, int last) {
    d->cur().titles = std::pair(first, last);
}

void NewWorkbookWriter::endSheet() {
    Impl::Sheet& s = d->cur();
    if (s.rowOpen)
        s.rows += "</row>";
    s.rowOpen = false;
    d->inSheet = false;
}

void NewWorkbookWriter::finish() {
    if (d->inSheet)
        endSheet();
    if (d->sheets.empty())
        throw Error("a workbook needs a sheet");
    // Styles: a font, a border and a number format per cell format.
    QByteArray fonts, borders = "<border><left/><right/><top/><bottom/><diagonal/></border>"
                                "<border><left style=\"thin\"/><right style=\"thin\"/><top style=\"thin\"/>"
                                "<bottom style=\"thin\"/><diagonal/></border>";
    QByteArray numFmts, xfs;
    QHash<QString, int> fmtIds;
    for (std::size_t i = 0; i < d->formats.size(); ++i) {
        const xls::CellFormat& f = d->formats[i];
        fonts += QByteArray("<font>") + (f.font.bold ? "<b/>" : "") + (f.font.italic ? "<i/>" : "") +
                 (f.font.underline ? "<u/>" : "") + "<sz val=\"" + num(f.font.height / 20.0) + "\"/><name val=\"" +
                 escapeXml(f.font.name) + "\"/></font>";
        int id = 0;
        if (f.numberFormat != QLatin1String("General")) {
            id = fmtIds.value(f.numberFormat, -1);
            if (id < 0) {
                id = 164 + int(fmtIds.size());
                fmtIds.insert(f.numberFormat, id);
                numFmts += "<numFmt numFmtId=\"" + QByteArray::number(id) + "\" formatCode=\"" + escapeXml(f.numberFormat) + "\"/>";
            }
        }
        const char* h = f.align == xls::HAlign::Left     ? "left"
                        : f.align == xls::HAlign::Center ? "center"
                        : f.align == xls::HAlign::Right  ? "right"
                                                         : nullptr;
        xfs += "<xf numFmtId=\"" + QByteArray::number(id) + "\" fontId=\"" + QByteArray::number(qsizetype(i)) +
               "\" fillId=\"0\" borderId=\"" + (f.border ? "1" : "0") + "\" xfId=\"0\"" +
               (id ? " applyNumberFormat=\"1\"" : "") + " applyFont=\"1\"" + (f.border ? " applyBorder=\"1\"" : "");
        if (h || f.wrap) {
            xfs += " applyAlignment=\"1\"><alignment";
            if (h)
                xfs += QByteArray(" horizontal=\"") + h + '"';
            if (f.wrap)
                xfs += " wrapText=\"1\"";
            xfs += "/></xf>";
        } else {
            xfs += "/>";
        }
    }
    const QByteArray decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    QByteArray styles = decl + "<styleSheet xmlns=\"" + Main + "\">";
    if (!numFmts.isEmpty())
        styles += "<numFmts count=\"" + QByteArray::number(qsizetype(fmtIds.size())) + "\">" + numFmts + "</numFmts>";
    styles += "<fonts count=\"" + QByteArray::number(qsizetype(d->formats.size())) + "\">" + fonts + "</fonts>" +
              "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>" +
              "<borders count=\"2\">" + borders + "</borders>" +
              "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>" +
              "<cellXfs count=\"" + QByteArray::number(qsizetype(d->formats.size())) + "\">" + xfs + "</cellXfs>" +
              "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles></styleSheet>";

    QByteArray ct = decl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                           "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                           "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                           "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                           "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    QByteArray wbRels = decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                               "<Relationship Id=\"rIdStyles\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
                               "<Relationship Id=\"rIdStrings\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    QByteArray sheetList, names;
    // Written into a file without a name and linked in place only when complete, as the reports
    // are: a kill leaves neither a half-written blank nor a temporary file beside it.
    const auto file = zipio::newPackageFile(d->path);
    zipio::ZipOut zip(d->path, file->fd);
    for (std::size_t i = 0; i < d->sheets.size(); ++i) {
        const Impl::Sheet& s = d->sheets[i];
        const QByteArray n = QByteArray::number(qsizetype(i + 1));
        ct += "<Override PartName=\"/xl/worksheets/sheet" + n +
              ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        wbRels += "<Relationship Id=\"rId" + n +
                  "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet" +
                  n + ".xml\"/>";
        sheetList += "<sheet name=\"" + escapeXml(s.name) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        if (s.titles)
            names += "<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"" + QByteArray::number(qsizetype(i)) + "\">" +
                     escapeXml(quoteSheetName(s.name) + QStringLiteral("!$%1:$%2").arg(s.titles->first + 1).arg(s.titles->second + 1)) +
                     "</definedName>";
        QByteArray sheet = decl + "<worksheet xmlns=\"" + Main + "\" xmlns:r=\"" + Rel + "\">" +
                           "<sheetViews><sheetView workbookViewId=\"0\"" + (i == 0 ? " tabSelected=\"1\"" : "") +
                           "/></sheetViews><sheetFormatPr defaultRowHeight=\"12.75\"/>";
        if (!s.cols.isEmpty())
            sheet += "<cols>" + s.cols + "</cols>";
        sheet += "<sheetData>" + s.rows + "</sheetData>"
                 "<pageMargins left=\"0.75\" right=\"0.75\" top=\"1\" bottom=\"1\" header=\"0.5\" footer=\"0.5\"/></worksheet>";
        zip.addData(QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1), sheet);
    }
    ct += "</Types>";
    wbRels += "</Relationships>";
    QByteArray wb = decl + "<workbook xmlns=\"" + Main + "\" xmlns:r=\"" + Rel + "\"><bookViews><workbookView/></bookViews>"
                           "<sheets>" + sheetList + "</sheets>";
    if (!names.isEmpty())
        wb += "<definedNames>" + names + "</definedNames>";
    wb += "<calcPr calcId=\"0\"/></workbook>";
    zip.addData(QStringLiteral("[Content_Types].xml"), ct);
    zip.addData(QStringLiteral("_rels/.rels"),
                decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
                       "</Relationships>");
    zip.addData(QStringLiteral("xl/workbook.xml"), wb);
    zip.addData(QStringLiteral("xl/_rels/workbook.xml.rels"), wbRels);
    zip.addData(QStringLiteral("xl/styles.xml"), styles);
    zip.addData(QStringLiteral("xl/sharedStrings.xml"),
                decl + "<sst xmlns=\"" + Main + "\" count=\"" + QByteArray::number(d->sstRefs) + "\" uniqueCount=\"" +
                    QByteArray::number(qsizetype(d->sst.size())) + "\">" + d->sstXml + "</sst>");
    zip.close(); // flushed to disk as well
    ::fchmod(file->fd, xls::reportfile::modeFor(d->path, QString()));
    file->putInPlace(QFile::encodeName(d->path));
}

} // namespace lw::xlsx
