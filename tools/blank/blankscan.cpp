// Reading a blank's markers back: every marker with its sheet and cell, and the names that stand for nothing.
#include "tools/blank/blankscan.h"

namespace lw::blank {

QString cellName(int row, int column) {
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row + 1);
}

QStringList ScanResult::unknown() const {
    QStringList names;
    QStringList seen;
    for (const FoundMarker& m : markers) {
        if (m.kind != MarkerKind::Unknown || seen.contains(m.name, Qt::CaseInsensitive))
            continue;
        seen.append(m.name);
        names.append(QStringLiteral("%1 (%2!%3)").arg(m.name, m.sheet, cellName(m.row, m.column)));
    }
    return names;
}

ScanResult scanBlank(const xls::Workbook& workbook, const QStringList& fieldNames) {
    ScanResult result;
    for (const xls::Sheet& sheet : workbook.sheets) {
        for (const xls::Cell& cell : sheet.cells) {
            if (cell.formula || cell.value.type != xls::ValueType::Text || !hasMarker(cell.value.text))
                continue;
            for (const MarkerPart& part : splitMarkers(cell.value.text)) {
                if (!part.isMarker)
                    continue;
                FoundMarker found{part.text, markerKind(part.text, fieldNames), sheet.name, cell.row, cell.column};
                if (found.kind == MarkerKind::Field)
                    ++result.fieldMarkers;
                result.markers.push_back(found);
            }
        }
    }
    return result;
}

} // namespace lw::blank
