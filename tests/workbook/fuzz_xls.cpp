// libFuzzer target: the records of a "Workbook" stream read by the workbook reader, and the
// formulas it finds moved and widened; anything but an Error is a finding.
#include "workbook/xls.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const lw::xls::Workbook book = lw::xls::readWorkbookStream(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
        for (const lw::xls::Sheet& sheet : book.sheets) {
            for (const lw::xls::Cell& cell : sheet.cells) {
                if (!cell.formula)
                    continue;
                lw::xls::Formula f = *cell.formula;
                f.moveRows(cell.row % 7 - 3);
                if (f.hasAreaOverRows(cell.row, cell.row + 1))
                    f.spreadArea(cell.row, cell.row + 1, {{-1, 0, 9}, {0, 10, 20}});
                f.spreadArea(0, 0, {{1, 0, 65535}});
            }
            book.isDateFormat(sheet.cells.empty() ? 0 : sheet.cells.front().xf);
        }
    } catch (const lw::xls::Error&) {
    }
    return 0;
}
