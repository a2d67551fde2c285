// The profile store's fast search: where a name's bytes may stand in a file, found many bytes at a
// time with the processor's vector instructions instead of line by line.
#pragma once

#include <QtGlobal>

namespace lw {

// The first position p >= from (p + size <= end) where the file's bytes may be name's: its first
// and its last byte are name's first and last byte, ASCII letters in either case. The caller
// checks the rest. -1 when there is none. name must not be empty.
qsizetype findNameCandidate(const char* data, qsizetype end, qsizetype from, const char* name, qsizetype size);

} // namespace lw
