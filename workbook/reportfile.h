// The file a report is written into before it is put in place, shared by the .xls and .xlsx
// writers: an unnamed file linked in when complete, leftovers of killed writers, the new file's mode.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace lw::xls::reportfile {

// Removes what writers of this file that are gone (killed while writing) left in its folder.
void removeStaleTemporaries(const QString& folder, const QString& fileName);

// The file a workbook is written into before it is put in place. Where the file system allows, it
// has no name at all until it is complete (O_TMPFILE): a kill leaves nothing behind. Elsewhere it
// is a temporary file named after this process, which the next writer removes once we are gone.
struct NewFile {
    int fd = -1;
    int error = 0;
    QByteArray folder;
    QByteArray name;
    QByteArray named; // the temporary name, when the file has one

    NewFile(const QString& folderPath, const QString& fileName);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Gives the complete file the name target, replacing what had it (atomically).
    void putInPlace(const QByteArray& target);
    [[noreturn]] void fail(const QByteArray& target) const;
};

// The permissions for the file at path: an existing file keeps its own; a new one gets the usual
// ones (umask) and never more bits than templatePath has, when one is given (a private blank gives
// a private report). Throws Error when the template cannot be read.
mode_t modeFor(const QString& path, const QString& templatePath);

} // namespace lw::xls::reportfile
