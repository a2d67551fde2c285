// libFuzzer target: the drawing and chart readers (a sheet's OfficeArt drawing, its objects,
// comments and chart substreams, the anchored records) and the placers that copy them over rows;
// anything but an Error is a finding.
#include "workbook/xls.h"
#include "workbook/xls/anchors.h"
#include "workbook/xls/drawing.h"

#include <cstddef>
#include <cstdint>

using namespace lw::xls;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const Workbook book =
            readWorkbookStream(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
        // The maps of the three layouts: as it is, a band of two rows copied 40 times below a
        // header, a block of 9 rows repeated 5 times.
        const RowMap maps[] = {RowMap(), RowMap({{0, 2, 0}, {3, 4, 3, 40, 2}, {5, maxRows - 1, 83}}),
                               RowMap({{0, maxRows - 1, 0, 5, 9, 8}})};
        DrawingPlacer drawings(book);
        const auto sheetOf = [&](int s) { return s < int(book.sheets.size()) ? s : -1; };
        for (const Sheet& sheet : book.sheets) {
            for (const RowMap& map : maps) {
                drawings.sheet(sheet, map,
                               [&](Formula& f, int shift) { placeSeries(f, 0, 0, map, shift, sheetOf); });
                placeAnchored(sheet.anchored, map);
                for (const DefinedName& n : book.names) {
                    Formula f = n.formula;
                    placeName(f, 0, 0, map, sheetOf);
                }
            }
        }
        drawings.group();
    } catch (const Error&) {
    }
    return 0;
}
