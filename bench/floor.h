// The floors the store and the Save command are measured against: the least a program must do to
// read a whole file, or to replace one atomically, written straight on the system calls.
#pragma once

#include <QByteArray>

namespace lwbench {

// Reads a whole file: open, size, read until the end, close. Empty on any failure.
QByteArray floorReadWholeFile(const QByteArray& path);

// Reads a whole file as floorReadWholeFile does, then looks at every byte once with memchr (for a
// byte no profile holds): the least a read that must search the whole file can take. Returns
// where the byte was found, or the size.
qsizetype floorReadAndSearch(const QByteArray& path);

// Replaces a file atomically: a new file beside it, written, flushed to disk and renamed over the
// old one. Returns false when any step fails.
bool floorAtomicWrite(const QByteArray& path, const QByteArray& bytes);

// Writes a file in place and flushes it to disk: for putting test files back before timed runs,
// so that no unwritten data of theirs is left to slow a timed write.
void resetFile(const QByteArray& path, const QByteArray& bytes);

} // namespace lwbench
