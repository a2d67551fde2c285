// libFuzzer target: a whole .xls file, its compound file as well as its workbook stream, read by
// the workbook reader through libgsf as the tools read a blank; anything but an Error is a finding.
#include "workbook/xls.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One file in memory, rewritten for each input, read by its path as a blank is.
    static const int fd = ::memfd_create("blank.xls", MFD_CLOEXEC);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    try {
        const lw::xls::Workbook book = lw::xls::readWorkbook(path);
        for (const lw::xls::Sheet& sheet : book.sheets)
            for (const lw::xls::Cell& cell : sheet.cells)
                sheet.cellAt(cell.row, cell.lastColumn());
    } catch (const lw::xls::Error&) {
    }
    return 0;
}
