// libgsf, started once for the workbook library, with its log (and GLib's) kept off standard
// error: what it complains about is kept for the error that names the file instead.
#pragma once

#include <QString>

namespace lw::xls::detail {

// gsf_init() once, and the log handlers in place.
void startGsf();
// What libgsf or GLib logged on this thread since the last call (empty: nothing), and forget it.
QString takeGsfLog();

} // namespace lw::xls::detail
