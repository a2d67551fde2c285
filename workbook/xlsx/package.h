// The zip layer of .xlsx packages (libzip): every part read within limits, and a package written
// from parts in memory and files on disk.
#pragma once

#include <QByteArray>
#include <QString>

#include <list>
#include <map>
#include <memory>

typedef struct zip zip_t;
typedef struct zip_source zip_source_t;

namespace lw::xls::reportfile {
struct NewFile;
}

namespace lw::xlsx::zipio {

// A file without a name in the folder of path, for a package linked in place at path only when
// complete (see workbook/reportfile.h); temporaries of killed writers beside it are removed first.
// Throws Error naming the folder when it cannot be written in.
std::unique_ptr<xls::reportfile::NewFile> newPackageFile(const QString& path);

// Every entry of a zip held in memory, by name. Throws Error when it is no zip, is damaged, or
// breaks the read limits (a zip bomb).
std::map<QString, QByteArray> unzipAll(const QByteArray& data);

// A zip written at a path when closed: libzip writes a temporary file beside it and renames it, so
// the old file stays whole until then; destroyed unclosed, nothing is written. Or a zip written
// into a file descriptor of the caller's, who puts the file in place.
class ZipOut {
public:
    explicit ZipOut(const QString& path);
    // Writes the zip into the open descriptor fd (from its start, truncated) instead; path only
    // names it in errors. The descriptor stays the caller's.
    ZipOut(const QString& path, int fd);
    ~ZipOut();
    void addData(const QString& name, QByteArray data);
    void addFile(const QString& name, const QString& file); // deflated at the fastest level
    void addFile(const QString& name, int fd);              // the same, read from the descriptor
    // The same, from `length` bytes of the descriptor's file at `offset` (one of many parts kept in
    // one temporary file).
    void addFile(const QString& name, int fd, qint64 offset, qint64 length);
    void close();

private:
    void add(const QString& name, zip_source_t* source);

    zip_t* m_zip = nullptr;
    QString m_path;
    std::list<QByteArray> m_keep; // libzip reads the buffers when it closes
};

} // namespace lw::xlsx::zipio
