// The glyphs of the program's two flat buttons (Exit and Close): a door with an arrow leaving it,
// drawn by us as 16-colour pixel maps.
#pragma once

#include <QImage>

namespace lw {

// The colour glyph shown while the pointer is over the button: 20 x 25, 16 colours.
QImage programButtonGlyph();

// The same picture in greys, shown at rest: 20 x 24, 16 colours.
QImage programButtonNoFocusGlyph();

} // namespace lw
