// The flat button's drawing routines. Everything works on plain pixel data (QImage): no drawing
// handles are kept between paints.
#include "ui/flatbtn_draw.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QStringList>

#include <limits>

namespace lw {

QColor TColor::resolve() const {
    if (!m_system)
        return QColor::fromRgb(m_rgb);
    return QGuiApplication::palette().color(QPalette::Active, m_role);
}

QString captionWorkingCopy(const QString& caption, bool wordWrap) {
    const int room = captionBufferSize - 1 - (wordWrap ? 1 : 0);
    QString copy = caption;
    if (copy.size() > room) {
        int cut = room;
        // Never leave half of a surrogate pair at the end.
        if (cut > 0 && copy.at(cut - 1).isHighSurrogate())
            --cut;
        copy.truncate(cut);
    }
    if (wordWrap)
        copy += QLatin1Char(' ');
    return copy;
}

namespace {

int alignmentFlag(TAlignment alignment) {
    switch (alignment) {
    case taLeftJustify:
        return Qt::AlignLeft;
    case taRightJustify:
        return Qt::AlignRight;
    case taCenter:
        break;
    }
    return Qt::AlignHCenter;
}

int textFlags(TAlignment alignment, bool wordWrap) {
    return alignmentFlag(alignment) | Qt::AlignTop | Qt::TextShowMnemonic | (wordWrap ? Qt::TextWordWrap : 0);
}

// Each line that is wider than width ends in an ellipsis; accelerator marks take no room.
QString elideLines(const QFontMetrics& metrics, const QString& text, int width) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        const bool carriageReturn = line.endsWith(QLatin1Char('\r'));
        if (carriageReturn)
            line.chop(1);
        line = metrics.elidedText(line, Qt::ElideRight, width, Qt::TextShowMnemonic);
        if (carriageReturn)
            line += QLatin1Char('\r');
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QSize measureCaption(QPainter& painter, const QString& workingCopy, bool wordWrap, int width) {
    const QFontMetrics metrics = painter.fontMetrics();
    const int layoutWidth = std::max(width, 0);
    const QRect bounds =
        metrics.boundingRect(QRect(0, 0, layoutWidth, 0), textFlags(taLeftJustify, wordWrap), workingCopy);
    if (wordWrap)
        return QSize(width, bounds.height());
    return QSize(bounds.width(), bounds.height());
}

void drawCaption(QPainter& painter, const QRect& r, const QString& workingCopy, TAlignment alignment,
                 bool wordWrap, bool ellipsis, const QColor& colour) {
    if (r.width() <= 0 || r.height() <= 0 || workingCopy.isEmpty())
        return;
    QString shown = workingCopy;
    if (ellipsis && !wordWrap)
        shown = elideLines(painter.fontMetrics(), workingCopy, r.width());
    painter.save();
    painter.setClipRect(r, Qt::IntersectClip);
    painter.setPen(colour);
    painter.setBrush(Qt::NoBrush);
    painter.drawText(r, textFlags(alignment, wordWrap), shown);
    painter.restore();
}

void drawEmbossedCaption(QPainter& painter, const QRect& r, const QString& workingCopy, TAlignment alignment,
                         bool wordWrap, bool ellipsis) {
    drawCaption(painter, r.translated(1, 1), workingCopy, alignment, wordWrap, ellipsis,
                clBtnHighlight.resolve());
    drawCaption(painter, r, workingCopy, alignment, wordWrap, ellipsis, clBtnShadow.resolve());
}

void drawBevel(QPainter& painter, int width, int height, bool pressed, TBevelStyle style) {
    if (width <= 0 || height <= 0)
        return;
    const QColor highlight = clBtnHighlight.resolve();
    const QColor shadow = clBtnShadow.resolve();
    // The raised form of a raised bevel and the pressed form of a lowered one are lit from the
    // top left; the other two are lit from the bottom right.
    const bool litTopLeft = pressed ? style == bsLowered : style == bsRaised;
    const QColor first = litTopLeft ? highlight : shadow;
    const QColor second = litTopLeft ? shadow : highlight;
    // First colour: the left column from the bottom up, then the top row short of its last pixel.
    painter.fillRect(QRect(0, 0, 1, height), first);
    painter.fillRect(QRect(0, 0, width - 1, 1), first);
    // Second colour: the right column downwards, then the bottom row short of its first pixel.
    painter.fillRect(QRect(width - 1, 0, 1, height), second);
    painter.fillRect(QRect(1, height - 1, width - 1, 1), second);
}

void drawPopupMark(QPainter& painter, int x, int y, const QColor& colour) {
    painter.fillRect(QRect(x, y - 1, 7, 1), colour);
    painter.fillRect(QRect(x + 1, y, 5, 1), colour);
    painter.fillRect(QRect(x + 2, y + 1, 3, 1), colour);
    painter.fillRect(QRect(x + 3, y + 2, 1, 1), colour);
}

void drawTransparent(QPainter& painter, int x, int y, const QImage& image) {
    if (image.isNull())
        return;
    const QRgb key = image.pixel(0, 0) & RGB_MASK;
    QImage masked = image.convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < masked.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(masked.scanLine(row));
        for (int col = 0; col < masked.width(); ++col)
            line[col] = (line[col] & RGB_MASK) == key ? 0 : (line[col] | ~RGB_MASK);
    }
    painter.drawImage(x, y, masked);
}

void drawEmbossedGlyph(QPainter& painter, int x, int y, const QImage& image) {
    if (image.isNull())
        return;
    // The black pixels of the glyph, everything else clear.
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    QImage blackOnly(source.size(), QImage::Format_ARGB32);
    auto stamp = [&](const QColor& colour) {
        const QRgb paint = colour.rgb() | ~RGB_MASK;
        for (int row = 0; row < source.height(); ++row) {
            const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(row));
            auto* out = reinterpret_cast<QRgb*>(blackOnly.scanLine(row));
            for (int col = 0; col < source.width(); ++col)
                out[col] = (in[col] & RGB_MASK) == 0 ? paint : 0;
        }
        return blackOnly;
    };
    painter.drawImage(x + 1, y + 1, stamp(clBtnHighlight.resolve()));
    painter.drawImage(x, y, stamp(clBtnShadow.resolve()));
}

namespace {

int nearestColourIndex(const QList<QRgb>& table, QRgb colour) {
    int best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (int i = 0; i < table.size(); ++i) {
        const long long dr = qRed(table[i]) - qRed(colour);
        const long long dg = qGreen(table[i]) - qGreen(colour);
        const long long db = qBlue(table[i]) - qBlue(colour);
        const long long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

} // namespace

QImage deriveGreyImage(const QImage& source, TFlatButtonShadingType shading) {
    if (source.isNull())
        return QImage();
    QImage target = source.copy();
    const bool indexed = target.format() == QImage::Format_Indexed8 ||
                         target.format() == QImage::Format_Mono || target.format() == QImage::Format_MonoLSB;
    if (indexed && target.colorCount() == 0)
        target = source.convertToFormat(QImage::Format_ARGB32);
    const QList<QRgb> table = target.colorTable();
    const bool useTable = !table.isEmpty();

    const QRgb background = source.pixel(0, 0) & RGB_MASK;
    const QRgb highlight = clBtnHighlight.resolve().rgb() & RGB_MASK;
    const QRgb shadow = clBtnShadow.resolve().rgb() & RGB_MASK;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb colour = source.pixel(x, y) & RGB_MASK;
            if (colour == background)
                continue;
            const QRgb grey = greyPixel(colour, background, shading, highlight, shadow);
            if (useTable)
                target.setPixel(x, y, uint(nearestColourIndex(table, grey)));
            else
                target.setPixel(x, y, grey | ~RGB_MASK);
        }
    }
    return target;
}

QImage makeDownPattern() {
    QImage pattern(8, 8, QImage::Format_RGB32);
    pattern.fill(clBtnFace.resolve());
    const QRgb highlight = clBtnHighlight.resolve().rgb();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((x + y) % 2 == 0)
                pattern.setPixel(x, y, highlight);
    return pattern;
}

} // namespace lw
