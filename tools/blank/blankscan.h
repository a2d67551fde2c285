// Reading a blank's markers back: every marker with its sheet and cell, and the names that stand for nothing.
#pragma once

#include "tools/common/markers.h"
#include "workbook/xls.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lw::blank {

struct FoundMarker {
    QString name; // as written between "${" and "}"
    MarkerKind kind = MarkerKind::Unknown;
    QString sheet;
    int row = 0;    // 0-based
    int column = 0; // 0-based
};

struct ScanResult {
    std::vector<FoundMarker> markers; // sheet by sheet, in cell order
    int fieldMarkers = 0;

    // The unknown names, each once in the order found, with the first cell that holds it:
    // "NAME (Sheet!B4)".
    QStringList unknown() const;
};

// The name of a cell as a spreadsheet shows it: column letters and the row counted from 1 ("B4", "AA10").
QString cellName(int row, int column);

// Every marker in the text cells of every sheet. Formula results are values, not text the user
// wrote, and are not read for markers.
ScanResult scanBlank(const xls::Workbook& workbook, const QStringList& fieldNames);

} // namespace lw::blank
