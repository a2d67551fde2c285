// The floors the store and the Save command are measured against: the least a program must do to
// read a whole file, or to replace one atomically, written straight on the system calls.
#pragma once

#include <QByteArray>

namespace lwbench {

// Reads a whole file: open, size, read until the end, close. Empty on any failure.
QByteArray floorReadWholeFile(const QByteArray& path);

// Replaces a file atomically: a new file beside it, written, flushed to disk and renamed over the
// old one. Returns false when any step fails.
bool floorAtomicWrite(const QByteArray& path, const QByteArray& bytes);

// Writes a file in place without flushing it: for resetting test files between timed runs.
void plainWrite(const QByteArray& path, const QByteArray& bytes);

} // namespace lwbench
