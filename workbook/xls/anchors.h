// Things anchored to a sheet's rows (conditional formats, data validation, hyperlinks, the
// autofilter, defined names) moved, widened and copied as the rows of a blank are written elsewhere.
#pragma once

#include "workbook/xls.h"

#include <vector>

namespace lw::xls {

// Rows first..last of the source sheet written `copies` times, `stride` rows apart, the first copy
// from row `at` on. A range that covers rows first..whole (the band, a form's block) is widened over
// every copy; a range inside it is copied with each copy.
struct RowSegment {
    int first = 0;
    int last = 0;
    int at = 0;
    int copies = 1;
    int stride = 0;
    int whole = -1; // -1: last
};

// A range of rows where it landed, and how far its first copy moved (for the formulas it carries).
struct RowPiece {
    int first = 0;
    int last = 0;
    int shift = 0;
    bool operator==(const RowPiece&) const = default;
};

// Where the rows of a source sheet land on one written sheet. Rows in no segment are not on it.
class RowMap {
public:
    RowMap() = default; // every row where it was
    // rowLimit: the rows a written sheet has (.xls 65,536; .xlsx sheets have more).
    explicit RowMap(std::vector<RowSegment> segments, int rowLimit = maxRows);
    bool isIdentity() const { return m_identity; }
    // Where rows first..last go: one piece, widened when the range covers a repeated segment whole
    // or reaches across segments; one piece per copy when it lies inside a repeated segment; none
    // when its rows are not on the sheet. Whole columns stay whole columns.
    std::vector<RowPiece> range(int first, int last) const;
    // How far something anchored at a row moves: once per copy of its row (none: not on the sheet).
    std::vector<int> shifts(int row) const;

private:
    bool m_identity = true;
    int m_limit = maxRows;
    std::vector<RowSegment> m_segments;
};

// The sheet's anchored records (Sheet::anchored) for a written sheet: the autofilter's records
// (WorkbookWriter::SheetPart::Filter) and the conditional formats, hyperlinks and validation
// (SheetPart::Formats), their ranges placed by the map and the formulas inside them moved with
// their ranges. Records it cannot read are left out and named in `problems`.
struct AnchoredRecords {
    QByteArray filter;
    QByteArray formats;
};
AnchoredRecords placeAnchored(const QList<Record>& anchored, const RowMap& map,
                              QStringList* problems = nullptr);

// A defined name's references to sheet `source` placed by the map on written sheet `target`
// (the first piece where a range was copied); references to other sheets go through sheetOf
// (-1: gone). False when a reference was lost (it becomes #REF!).
bool placeName(Formula& formula, int source, int target, const RowMap& map,
               const std::function<int(int)>& sheetOf);

// The names a formula uses (tName, by index plus one) given the index `written` gives for each
// (-1: not written); false, the formula unchanged, when one is not.
bool mapNames(Formula& formula, const std::function<int(int)>& written);

// A chart's series formula (values, categories) placed like a name, for the copy of the chart that
// moved by `shift` rows: where its range was copied, the copy that moved with the chart; a single
// cell that is widened becomes a range.
bool placeSeries(Formula& formula, int source, int target, const RowMap& map, int shift,
                 const std::function<int(int)>& sheetOf);

} // namespace lw::xls
