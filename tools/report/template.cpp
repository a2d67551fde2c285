// The report generator's view of a blank: markers found and resolved, the band of a columnar
// report, and a plan of each cell of the report sheet.
#include "tools/report/template.h"

#include "tools/common/markers.h"

#include <algorithm>

namespace lw::report {

QString cellName(int row, int column) {
    QString letters;
    int c = column + 1;
    while (c > 0) {
        const int d = (c - 1) % 26;
        letters.prepend(QChar(u'A' + d));
        c = (c - 1) / 26;
    }
    return letters + QString::number(row + 1);
}

std::vector<TextPart> resolveText(const QString& text, const QStringList& fieldNames) {
    std::vector<TextPart> parts;
    const auto addLiteral = [&](const QString& literal) {
        if (literal.isEmpty())
            return;
        if (!parts.empty() && parts.back().kind == TextPart::Kind::Literal)
            parts.back().literal += literal;
        else
            parts.push_back({TextPart::Kind::Literal, literal, -1});
    };
    for (const MarkerPart& p : splitMarkers(text)) {
        if (!p.isMarker) {
            addLiteral(p.text);
            continue;
        }
        switch (markerKind(p.text, fieldNames)) {
        case MarkerKind::Field:
            parts.push_back({TextPart::Kind::Field, {}, fieldIndex(p.text, fieldNames)});
            break;
        case MarkerKind::Number:
            parts.push_back({TextPart::Kind::Number, {}, -1});
            break;
        case MarkerKind::Report:
            parts.push_back({TextPart::Kind::Report, {}, -1});
            break;
        case MarkerKind::Date:
            parts.push_back({TextPart::Kind::Date, {}, -1});
            break;
        case MarkerKind::Unknown:
            addLiteral(QStringLiteral("${") + p.text + u'}');
            break;
        }
    }
    return parts;
}

CellPlan planCell(const xls::Cell& cell, const QStringList& fieldNames) {
    CellPlan plan;
    plan.column = cell.column;
    plan.repeat = cell.repeat;
    plan.xf = cell.xf;
    plan.value = cell.value;
    if (cell.formula) {
        plan.kind = CellPlan::Kind::Formula;
        plan.formula = cell.formula;
        return plan;
    }
    if (cell.value.type != xls::ValueType::Text || !cell.value.text.contains(QStringLiteral("${")))
        return plan;
    std::vector<TextPart> parts = resolveText(cell.value.text, fieldNames);
    if (parts.size() == 1) {
        switch (parts.front().kind) {
        case TextPart::Kind::Field:
            plan.kind = CellPlan::Kind::Field;
            plan.field = parts.front().field;
            return plan;
        case TextPart::Kind::Number:
            plan.kind = CellPlan::Kind::Number;
            return plan;
        case TextPart::Kind::Date:
            plan.kind = CellPlan::Kind::Date;
            return plan;
        case TextPart::Kind::Literal: // only unknown markers or "$${": the text as it now reads
            plan.value.text = parts.front().literal;
            return plan;
        case TextPart::Kind::Report:
            break;
        }
    }
    plan.kind = CellPlan::Kind::Text;
    plan.parts = std::move(parts);
    return plan;
}

namespace {

bool holdsFieldMarker(const xls::Cell& cell, const QStringList& fieldNames) {
    if (cell.formula || cell.value.type != xls::ValueType::Text)
        return false;
    for (const MarkerPart& p : splitMarkers(cell.value.text))
        if (p.isMarker && markerKind(p.text, fieldNames) == MarkerKind::Field)
            return true;
    return false;
}

} // namespace

Template analyseBlank(const xls::Workbook& blank, const QStringList& fieldNames) {
    Template t;
    for (int s = 0; s < int(blank.sheets.size()); ++s) {
        const xls::Sheet& sheet = blank.sheets[std::size_t(s)];
        bool anyField = false;
        for (const xls::Cell& cell : sheet.cells) {
            if (cell.formula || cell.value.type != xls::ValueType::Text || !cell.value.text.contains(u'$'))
                continue;
            for (const MarkerPart& p : splitMarkers(cell.value.text)) {
                if (!p.isMarker)
                    continue;
                const MarkerKind kind = markerKind(p.text, fieldNames);
                FoundMarker m{sheet.name, cellName(cell.row, cell.column), p.text,
                              kind != MarkerKind::Unknown, kind == MarkerKind::Field};
                if (!m.known)
                    t.unknown << QStringLiteral("${%1} (%2!%3)").arg(m.name, m.sheet, m.cell);
                anyField = anyField || m.field;
                if (t.sheetIndex < 0)
                    t.sheetIndex = s;
                t.markers.push_back(std::move(m));
            }
        }
        if (anyField && s != t.sheetIndex)
            t.otherSheetFields << sheet.name;
    }
    if (t.sheetIndex < 0)
        return t;

    const xls::Sheet& sheet = blank.sheets[std::size_t(t.sheetIndex)];
    int last = sheet.lastRow();
    for (const xls::MergedRange& m : sheet.merged)
        last = std::max(last, m.lastRow);
    t.lastRow = last;
    t.rows.resize(std::size_t(last + 1));
    for (const xls::RowFormat& r : sheet.rows)
        if (r.row >= 0 && r.row <= last)
            t.rows[std::size_t(r.row)].format = r;
    for (const xls::Cell& cell : sheet.cells) {
        if (cell.row < 0 || cell.row > last)
            continue;
        t.rows[std::size_t(cell.row)].cells.push_back(planCell(cell, fieldNames));
        if (holdsFieldMarker(cell, fieldNames)) {
            if (t.bandFirst < 0 || cell.row < t.bandFirst)
                t.bandFirst = cell.row;
            t.bandLast = std::max(t.bandLast, cell.row);
        }
    }
    for (RowPlan& row : t.rows)
        std::stable_sort(row.cells.begin(), row.cells.end(),
                         [](const CellPlan& a, const CellPlan& b) { return a.column < b.column; });
    if (t.hasBand()) {
        for (int r = 0; r <= last; ++r)
            for (CellPlan& c : t.rows[std::size_t(r)].cells)
                if ((r < t.bandFirst || r > t.bandLast) && c.formula &&
                    c.formula->hasAreaOverRows(t.bandFirst, t.bandLast))
                    c.spreadsOverBand = true;
    }
    return t;
}

qint64 columnarSheets(qint64 records, int header, int band, int footer, int maxRows) {
    if (records <= 0)
        return 0;
    const qint64 perSheet = std::max<qint64>(1, (maxRows - header) / std::max(1, band));
    const qint64 sheets = (records + perSheet - 1) / perSheet;
    const qint64 onLast = records - (sheets - 1) * perSheet;
    const qint64 used = header + onLast * band;
    return used + footer > maxRows ? sheets + 1 : sheets;
}

qint64 formSheets(qint64 records, int block, int maxRows) {
    return columnarSheets(records, 0, block, 0, maxRows);
}

QString numberedSheetName(const QString& base, qint64 k) {
    const QString suffix = QStringLiteral(" (%1)").arg(k);
    QString head = base.left(xls::maxSheetName - suffix.size());
    // A cut must not leave half of a surrogate pair or a trailing apostrophe.
    while (!head.isEmpty() && (head.back().isHighSurrogate() || head.back() == u'\''))
        head.chop(1);
    return head + suffix;
}

} // namespace lw::report
