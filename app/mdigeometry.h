// Pure geometry of the main window: the background tile counts, the first-show centring, and the
// tiling and icon arrangement of the editor windows inside the client area.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace lw {

// How many whole tiles the background painter copies: rows = height div tile height + 1 and
// columns = width div tile width + 1, so the tiles always reach past the right and bottom edges.
struct TileCounts {
    int rows = 0;
    int columns = 0;
};
TileCounts backgroundTileCounts(const QSize& innerArea, const QSize& tile);

// The top-left point that centres a window of the given size on a screen of the given size:
// each coordinate (screen - window) / 2, truncated toward zero, 0 when negative.
QPoint centredPosition(const QSize& screen, const QSize& window);

// Where a window's frame goes so that its whole title bar (the frame's top titleHeight pixels)
// lies on one screen's available area: where it is when it does already; else on the area that
// holds most of the frame (the first when none does), moved the least so that the bar's top and
// left edges are inside it, and its right edge too when the frame is no wider than the area.
QPoint titleBarOnScreen(const QRect& frame, int titleHeight, const QList<QRect>& areas);

// Horizontal tiling stacks the windows one above another; vertical tiling sets them side by side.
// With four or more windows both make a grid: about the square root of the count in one direction,
// filled column by column, the last column taking the windows left over.
enum class TileMode { Horizontal, Vertical };

// Rectangles for count windows tiled over area, in the order the windows are given (the first
// at the top-left). They cover the whole area without overlapping.
QList<QRect> tileRects(const QRect& area, int count, TileMode mode);

// Cascading as a desktop's multiple-document client does it: each window steps spacing pixels
// (its title bar's height) right and down from the one before, starting again at the top-left
// corner after as many steps as a third of the area's height holds; every window gets the
// area's size less those steps, but never less than minimum (the window's designed size), so in
// a small area the windows run past its right and bottom edges. The rectangles are in the order
// of the windows given, the first at the top-left.
QList<QRect> cascadeRects(const QRect& area, int count, int spacing, const QSize& minimum);

// Places for count minimised windows of iconSize: a row along the bottom edge of area from left
// to right, further rows above it when one row is full.
QList<QRect> arrangeIconRects(const QRect& area, const QSize& iconSize, int count);

// The part of area that tiling uses when count minimised windows keep their rows at the bottom:
// area less those rows, or the whole area when too little would be left above them.
QRect areaAboveIcons(const QRect& area, const QSize& iconSize, int count);

} // namespace lw
