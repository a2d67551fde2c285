// The flat button's drawing routines: system colours, the caption text rule, bevel, popup mark,
// transparent and embossed glyphs, embossed captions, the grey image and the down pattern.
#pragma once

#include "ui/flatbtn_rules.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;

namespace lw {

// A colour as the button's properties hold it: either a fixed colour or a system colour, which
// is looked up in the application palette each time it is drawn.
class TColor {
public:
    constexpr TColor() = default; // the window text colour
    TColor(const QColor& colour) : m_system(false), m_rgb(colour.rgb()) {}
    static constexpr TColor system(QPalette::ColorRole role) { return TColor(role); }

    bool isSystem() const { return m_system; }
    QColor resolve() const;
    constexpr bool operator==(const TColor&) const = default;

private:
    constexpr explicit TColor(QPalette::ColorRole role) : m_role(role) {}
    bool m_system = true;
    QPalette::ColorRole m_role = QPalette::WindowText;
    QRgb m_rgb = 0;
};

// The system colours the button draws with.
inline constexpr TColor clBtnFace = TColor::system(QPalette::Button);
inline constexpr TColor clBtnHighlight = TColor::system(QPalette::Light);
inline constexpr TColor clBtnShadow = TColor::system(QPalette::Dark);
inline constexpr TColor clWindowText = TColor::system(QPalette::WindowText);

// The caption's working buffer holds 260 characters with one kept for a terminator, so the
// text rule works on at most 259 characters, the appended blank included; longer captions are cut.
inline constexpr int captionBufferSize = 260;

// The caption as measured and drawn: cut to fit the working buffer, with one blank appended
// when the caption breaks at words.
QString captionWorkingCopy(const QString& caption, bool wordWrap);

// The text rule. Alignment left, centre or right, top-aligned, ampersands as accelerator marks.
// Measuring in a rectangle width pixels wide gives the text's width and height for one line
// (widest line for several); with word breaking the width stays the given one and the height
// covers all lines.
QSize measureCaption(QPainter& painter, const QString& workingCopy, bool wordWrap, int width);

// Draws the text clipped to r in the painter's font and the given colour, leaving the
// background alone; with ellipsis a line that does not fit ends in an ellipsis.
void drawCaption(QPainter& painter, const QRect& r, const QString& workingCopy, TAlignment alignment,
                 bool wordWrap, bool ellipsis, const QColor& colour);

// The caption in a disabled button: highlight one pixel down-right, then shadow in r.
void drawEmbossedCaption(QPainter& painter, const QRect& r, const QString& workingCopy, TAlignment alignment,
                         bool wordWrap, bool ellipsis);

// The one-pixel bevel round a button width x height; pressed chooses the pressed form.
void drawBevel(QPainter& painter, int width, int height, bool pressed, TBevelStyle style);

// The small downward triangle of the drop-down menu, its widest row at y - 1 starting at x.
void drawPopupMark(QPainter& painter, int x, int y, const QColor& colour);

// Draws the image at (x, y), leaving the surface unchanged wherever the image has the colour
// of its own top-left pixel.
void drawTransparent(QPainter& painter, int x, int y, const QImage& image);

// Draws only the black pixels of the image: in the highlight colour one pixel down-right, then
// in the shadow colour at (x, y).
void drawEmbossedGlyph(QPainter& painter, int x, int y, const QImage& image);

// The grey image of a glyph: same size and pixel format, every pixel not of the background
// (top-left) colour replaced by white, highlight, shadow or black by the shading thresholds;
// a tone the pixel format cannot hold becomes the nearest it can. Empty for an empty source.
QImage deriveGreyImage(const QImage& source, TFlatButtonShadingType shading);

// The 8 x 8 checkerboard of button face and highlight that fills a down button.
QImage makeDownPattern();

} // namespace lw

Q_DECLARE_METATYPE(lw::TColor)
