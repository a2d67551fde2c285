// Pure geometry of the main window: background tile counts, centring, tiling and icon rows.
#include "app/mdigeometry.h"

#include <algorithm>
#include <cmath>

namespace lw {

TileCounts backgroundTileCounts(const QSize& innerArea, const QSize& tile) {
    if (tile.width() <= 0 || tile.height() <= 0)
        return {};
    // A negative extent (a window not laid out yet) paints one row or column, never none.
    const int width = std::max(0, innerArea.width());
    const int height = std::max(0, innerArea.height());
    return {height / tile.height() + 1, width / tile.width() + 1};
}

QPoint centredPosition(const QSize& screen, const QSize& window) {
    // Integer division truncates toward zero, as the rule asks; negatives then become 0.
    const int left = (screen.width() - window.width()) / 2;
    const int top = (screen.height() - window.height()) / 2;
    return {std::max(0, left), std::max(0, top)};
}

QPoint titleBarOnScreen(const QRect& frame, int titleHeight, const QList<QRect>& areas) {
    const QRect bar(frame.topLeft(), QSize(frame.width(), std::max(1, titleHeight)));
    if (areas.isEmpty())
        return frame.topLeft();
    const QRect* best = &areas.first();
    long long bestShare = -1;
    for (const QRect& area : areas) {
        if (area.contains(bar))
            return frame.topLeft();
        const QRect common = area.intersected(frame);
        const long long share = common.isEmpty() ? 0 : 1LL * common.width() * common.height();
        if (share > bestShare) {
            bestShare = share;
            best = &area;
        }
    }
    const QRect& area = *best;
    const int maxLeft = std::max(area.left(), area.right() + 1 - frame.width());
    const int maxTop = std::max(area.top(), area.bottom() + 1 - bar.height());
    return {std::clamp(frame.left(), area.left(), maxLeft), std::clamp(frame.top(), area.top(), maxTop)};
}

namespace {

// The start of part i of n equal parts of length; consecutive starts leave no gap and no overlap.
int partStart(int length, int i, int n) {
    return static_cast<int>(static_cast<long long>(length) * i / n);
}

} // namespace

QList<QRect> cascadeRects(const QRect& area, int count, int spacing, const QSize& minimum) {
    QList<QRect> rects;
    if (count <= 0)
        return rects;
    spacing = std::max(1, spacing);
    const int steps = std::max(0, area.height() / (3 * spacing));
    const QSize size =
        QSize(area.width() - steps * spacing, area.height() - steps * spacing).expandedTo(minimum);
    rects.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int offset = spacing * (i % (steps + 1));
        rects.append(QRect(area.topLeft() + QPoint(offset, offset), size));
    }
    return rects;
}

QList<QRect> tileRects(const QRect& area, int count, TileMode mode) {
    QList<QRect> rects;
    if (count <= 0 || area.width() <= 0 || area.height() <= 0)
        return rects;
    int rows = static_cast<int>(std::sqrt(static_cast<double>(count)));
    // Guard against a square root rounded down below the exact value of a perfect square.
    while ((rows + 1) * (rows + 1) <= count)
        ++rows;
    int columns = count / rows;
    if (mode == TileMode::Horizontal)
        std::swap(rows, columns);

    rects.reserve(count);
    int placed = 0;
    for (int c = 0; c < columns; ++c) {
        const int inColumn = (c == columns - 1) ? count - placed : rows;
        const int left = area.left() + partStart(area.width(), c, columns);
        const int right = area.left() + partStart(area.width(), c + 1, columns);
        for (int r = 0; r < inColumn; ++r) {
            const int top = area.top() + partStart(area.height(), r, inColumn);
            const int bottom = area.top() + partStart(area.height(), r + 1, inColumn);
            rects.append(QRect(left, top, right - left, bottom - top));
        }
        placed += inColumn;
    }
    return rects;
}

namespace {

int iconsPerRow(const QRect& area, const QSize& iconSize) {
    if (iconSize.width() <= 0)
        return 1;
    return std::max(1, area.width() / iconSize.width());
}

int iconRows(const QRect& area, const QSize& iconSize, int count) {
    if (count <= 0)
        return 0;
    const int perRow = iconsPerRow(area, iconSize);
    return (count + perRow - 1) / perRow;
}

} // namespace

QList<QRect> arrangeIconRects(const QRect& area, const QSize& iconSize, int count) {
    QList<QRect> rects;
    if (count <= 0)
        return rects;
    const int perRow = iconsPerRow(area, iconSize);
    rects.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int row = i / perRow;
        const int column = i % perRow;
        const int left = area.left() + column * iconSize.width();
        const int top = area.top() + area.height() - (row + 1) * iconSize.height();
        rects.append(QRect(QPoint(left, top), iconSize));
    }
    return rects;
}

QRect areaAboveIcons(const QRect& area, const QSize& iconSize, int count) {
    const int reserved = iconRows(area, iconSize, count) * std::max(0, iconSize.height());
    // Keep the icon rows free only when at least one more icon height is left for the windows.
    if (reserved == 0 || area.height() - reserved < std::max(1, iconSize.height()))
        return area;
    return QRect(area.left(), area.top(), area.width(), area.height() - reserved);
}

} // namespace lw
