// libFuzzer target over the .xlsx reader: bytes taken as a whole package (zip layer, then the XML
// of every part); any failure must be an Error, never a crash, a hang or an unbounded allocation.
#include "workbook/xlsx/xlsx.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Small limits, so that a zip bomb is refused before it can reach the fuzzer's memory limit.
    lw::xlsx::ReadLimits limits;
    limits.partBytes = 64 << 20;
    limits.totalBytes = 128 << 20;
    limits.parts = 2000;
    lw::xlsx::setReadLimits(limits);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const lw::xlsx::Package p =
            lw::xlsx::readPackageData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        for (std::size_t s = 0; s < p.sheets.size(); ++s)
            for (const QString& f : p.sheets[s].formulas)
                (void)lw::xlsx::moveFormulaRows(f, 3);
    } catch (const lw::xlsx::Error&) {
    }
    return 0;
}
