// The program's designed fonts: Windows interface families ("System", "MS Sans Serif") named by
// the windows, and the installed family each is shown in.
#pragma once

#include <QFont>
#include <QString>

namespace lw {

// A font of a designed family and pixel size (weight and the rest are left to the caller). Where
// the family is installed it is named as designed. Where it is not (the usual case away from
// Windows), the font names the installed family the system shows in its place, found once per
// process, for the first such request: Qt would otherwise ask the font configuration for a list of
// fallbacks for every missing family and style hint it meets, a cost the start-up paid for each.
// The style hint only guides that search for a stand-in, so it is set only where Qt may still
// have to search (no installed family found); fonts that differ by their hint alone then share
// one loaded face. The text looks the same.
QFont designedFont(const QString& family, int pixelSize, QFont::StyleHint hint = QFont::AnyStyle);

} // namespace lw
