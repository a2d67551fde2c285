// The drawings (pictures, shapes, charts), comments with their VML shapes and tables of a blank's
// sheet placed on the report's sheets: each written sheet gets parts of its own, moved with the rows.
#pragma once

#include "workbook/xls/anchors.h"
#include "workbook/xlsx/xlsx.h"

#include <memory>

namespace lw::xlsx {

// Places the parts of one blank sheet as the .xls side places its drawings: what is anchored above
// the rows that repeat stays, what is below moves with them, what lies inside them is copied once
// per copy (xls::RowMap::shifts); tables and chart series follow their ranges (xls::RowMap::range),
// a series inside repeated rows keeping to the copy its chart moved with. Every placement writes
// new parts through the writer (the first one of each part under the blank's part name), with
// drawing shape ids, VML shape ids, table ids and table names unique; pictures' media and other
// shared parts are referred to, never copied. Parts are streamed: nothing is held per sheet.
class PartPlacer {
public:
    // The parts of blank sheet `source` that are copied are left out of the report at once
    // (ReportWriter::dropPart): their placed copies take their place.
    // vmlBlocks: the next free block of VML shape numbers, shared by the placers of one report.
    PartPlacer(const Package& blank, int source, ReportWriter& out, int* vmlBlocks = nullptr);
    ~PartPlacer();
    PartPlacer(const PartPlacer&) = delete;
    PartPlacer& operator=(const PartPlacer&) = delete;

    // Whether the sheet has drawings, comments or tables to place.
    bool active() const;
    // Places them on the sheet being written (ReportWriter::setSheetParts): `map` says where the
    // blank sheet's rows are on it, `name` is its name (chart series on the blank sheet point at
    // it). first: the first sheet made from the source, which also keeps what is not copied (form
    // controls, embedded objects, header and footer pictures). elsewhere: where chart series on
    // other sheets go (none: they stay).
    void place(const xls::RowMap& map, const QString& name, bool first, const Relocation& elsewhere = {});
    // What went wrong so far, each once (a chart series whose rows are not on its sheet: #REF!).
    QStringList problems() const;
    // What the sheet holds that stays with the first sheet made from it ("form controls" ...).
    QStringList firstOnly() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace lw::xlsx
