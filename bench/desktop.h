// What the benchmarks that build real windows share: a throwaway per-user environment on the
// offscreen platform, running the event loop until it has nothing left to do, and resident memory.
#pragma once

#include <QString>

namespace lwbench {

// Before the QApplication exists: the offscreen platform and per-user directories inside a new
// temporary directory, so the user's own settings are neither read nor written. Returns that
// directory (removed when the process ends).
QString useThrowawayDesktop();

// Delivers events until the event loop would wait for new ones (layouts, paints, deferred deletes).
void processUntilIdle();

// The process's resident memory in bytes, from /proc/self/statm.
double residentBytes();

} // namespace lwbench
