// Table files of a directory: the regular files whose extension is DB or DBF in any case,
// found by reading names only, so that huge directories list quickly.
#pragma once

#include <QString>
#include <QStringList>

namespace lw {

// The table files of a directory, named as on disk with their extension, in name order
// (letters A to Z ignoring case, other characters in code order; ties in exact order). Throws EngineError
// when the directory cannot be read; the text names the directory, the alias it belongs to (when one is
// given) and the reason.
QStringList listTableFiles(const QString& directory, const QString& alias = QString());

// Whether a file name has the extension DB or DBF in any case and a name before it.
bool isTableFileName(const QString& fileName);

} // namespace lw
