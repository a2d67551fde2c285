// Copying storages of a compound file through libgsf: a tree of storages and streams read whole
// (within a bound) and written again under the same names.
#include "workbook/xls/storage.h"

#include <QFile>

namespace lw::xls {

namespace {

constexpr qint64 maxStorageBytes = qint64(256) << 20;

bool readEntry(GsfInput* input, const QString& name, StorageEntry& out, qint64& budget, int depth) {
    out.name = name;
    if (GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0) {
        out.storage = true;
        GsfInfile* dir = GSF_INFILE(input);
        const int n = gsf_infile_num_children(dir);
        for (int i = 0; i < n && depth < 32; ++i) {
            const char* childName = gsf_infile_name_by_index(dir, i);
            GsfInput* child = gsf_infile_child_by_index(dir, i);
            if (!child || !childName) {
                if (child)
                    g_object_unref(child);
                return false;
            }
            StorageEntry e;
            const bool ok = readEntry(child, QString::fromUtf8(childName), e, budget, depth + 1);
            g_object_unref(child);
            if (!ok)
                return false;
            out.children.push_back(std::move(e));
        }
        return true;
    }
    const gsf_off_t size = gsf_input_size(input);
    if (size < 0 || size > budget)
        throw Error("a macro project larger than 256 MB");
    budget -= size;
    out.data.resize(qsizetype(size));
    return size == 0 ||
           gsf_input_read(input, size_t(size), reinterpret_cast<guint8*>(out.data.data())) != nullptr;
}

} // namespace

std::vector<StorageEntry> readStorages(const QString& path, const QStringList& names) {
    std::vector<StorageEntry> out;
    GsfInput* input = gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr);
    if (!input)
        return out;
    GsfInfile* ole = gsf_infile_msole_new(input, nullptr);
    g_object_unref(input);
    if (!ole)
        return out;
    qint64 budget = maxStorageBytes;
    try {
        for (const QString& name : names) {
            GsfInput* child = gsf_infile_child_by_name(ole, name.toUtf8().constData());
            if (!child)
                continue;
            StorageEntry e;
            const bool ok = readEntry(child, name, e, budget, 0);
            g_object_unref(child);
            if (ok)
                out.push_back(std::move(e));
        }
    } catch (...) {
        g_object_unref(ole);
        throw;
    }
    g_object_unref(ole);
    return out;
}

bool writeStorage(GsfOutfile* parent, const StorageEntry& entry) {
    GsfOutput* out = gsf_outfile_new_child(parent, entry.name.toUtf8().constData(), entry.storage);
    if (!out)
        return false;
    bool ok = true;
    if (entry.storage) {
        for (const StorageEntry& child : entry.children)
            ok = ok && writeStorage(GSF_OUTFILE(out), child);
    } else if (!entry.data.isEmpty()) {
        ok = gsf_output_write(out, size_t(entry.data.size()),
                              reinterpret_cast<const guint8*>(entry.data.constData()));
    }
    ok = gsf_output_close(out) && ok;
    g_object_unref(out);
    return ok;
}

} // namespace lw::xls
