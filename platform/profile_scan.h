// The profile store's fast search: where a name's bytes may stand in a file, found many bytes at a
// time with the processor's vector instructions instead of line by line.
#pragma once

#include <QtGlobal>

namespace lw {

// The first position p >= from (p + size <= end) where the file's bytes are name's, ASCII letters
// in either case; -1 when there is none. The caller checks what stands around it. name must not be
// empty.
qsizetype findNameCandidate(const char* data, qsizetype end, qsizetype from, const char* name, qsizetype size);

// The positions p in [from, end) where the file's byte is c, in file order, written to out until
// max of them are there (max > 0); returns how many were written. *next is where the next call
// goes on: after the last position written when there are max of them, else end. Many at a time,
// so that a file of many sections is not searched with one call a header.
qsizetype findBytes(const char* data, qsizetype from, qsizetype end, char c, qsizetype* out, qsizetype max,
                    qsizetype* next);

} // namespace lw
