// The Paradox reader.
#include "data/tablefile.h"

namespace lw::data {

std::unique_ptr<TableReader> openParadox(const QString& path) {
    failTable(path, QStringLiteral("Paradox tables are not read yet"));
}

} // namespace lw::data
