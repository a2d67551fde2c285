// The profile store's fast search: where a name's bytes may stand in a file, found many bytes at a
// time with the processor's vector instructions instead of line by line.
#pragma once

#include <QtGlobal>

namespace lw {

// The first position p >= from (p + size <= end) where the file's bytes are name's, ASCII letters
// in either case; -1 when there is none. The caller checks what stands around it. name must not be
// empty.
qsizetype findNameCandidate(const char* data, qsizetype end, qsizetype from, const char* name, qsizetype size);

} // namespace lw
