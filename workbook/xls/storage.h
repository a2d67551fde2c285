// Storages of an .xls compound file carried as they are (a macro project): read with everything
// under them, written back byte for byte.
#pragma once

#include "workbook/xls.h"

#include <gsf/gsf.h>

namespace lw::xls {

// The named storages or streams at the top of the compound file at path, with everything under
// them; those that are not there are left out. Throws Error when they hold more than 256 MB.
std::vector<StorageEntry> readStorages(const QString& path, const QStringList& names);
// Writes an entry and everything under it as a child of the compound file being written.
bool writeStorage(GsfOutfile* parent, const StorageEntry& entry);

} // namespace lw::xls
