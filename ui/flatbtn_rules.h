// The flat button's enumerations and its pure rules: where glyph and caption go for a given
// size, and which grey tone a glyph pixel becomes. No drawing here, so both are tested directly.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QRect>
#include <QString>
#include <QtGlobal>

#include <initializer_list>

namespace lw {

// The enumerations live in a gadget so that the property system knows their member names.
// Each is stored in one byte; the members are in their stored order, ordinal 0 first.
struct FlatButtonEnums {
    Q_GADGET
public:
    // Where the glyph stands relative to the caption.
    enum TFlatButtonLayout : quint8 { blBitmapTop, blBitmapBottom, blBitmapLeft, blBitmapRight };
    Q_ENUM(TFlatButtonLayout)

    enum TFlatButtonOption : quint8 { boMonoDisplay, boIconOnly, boPopupMark, boShowBevel };
    Q_ENUM(TFlatButtonOption)

    // Which thresholds turn a coloured glyph into the grey one.
    enum TFlatButtonShadingType : quint8 { stLight, stMedium, stDark };
    Q_ENUM(TFlatButtonShadingType)

    // Which way the bevel faces.
    enum TBevelStyle : quint8 { bsLowered, bsRaised };
    Q_ENUM(TBevelStyle)

    // Horizontal placement of glyph and caption.
    enum TAlignment : quint8 { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
};

using TFlatButtonLayout = FlatButtonEnums::TFlatButtonLayout;
using TFlatButtonOption = FlatButtonEnums::TFlatButtonOption;
using TFlatButtonShadingType = FlatButtonEnums::TFlatButtonShadingType;
using TBevelStyle = FlatButtonEnums::TBevelStyle;
using TAlignment = FlatButtonEnums::TAlignment;
using enum FlatButtonEnums::TFlatButtonLayout;
using enum FlatButtonEnums::TFlatButtonOption;
using enum FlatButtonEnums::TFlatButtonShadingType;
using enum FlatButtonEnums::TBevelStyle;
using enum FlatButtonEnums::TAlignment;

// A set of button options in one byte: bit n stands for the option with ordinal n.
class TFlatButtonOptions {
public:
    constexpr TFlatButtonOptions() = default;
    constexpr TFlatButtonOptions(std::initializer_list<TFlatButtonOption> options) {
        for (TFlatButtonOption option : options)
            m_bits |= bit(option);
    }
    static constexpr TFlatButtonOptions fromByte(quint8 bits) {
        TFlatButtonOptions options;
        options.m_bits = bits & 0x0F;
        return options;
    }
    constexpr quint8 toByte() const { return m_bits; }

    constexpr bool contains(TFlatButtonOption option) const { return (m_bits & bit(option)) != 0; }
    constexpr TFlatButtonOptions with(TFlatButtonOption option) const {
        return fromByte(m_bits | bit(option));
    }
    constexpr TFlatButtonOptions without(TFlatButtonOption option) const {
        return fromByte(m_bits & ~bit(option));
    }
    constexpr bool operator==(const TFlatButtonOptions&) const = default;

private:
    static constexpr quint8 bit(TFlatButtonOption option) { return quint8(1u << quint8(option)); }
    quint8 m_bits = 0;
};

// The options a new button starts with: [boMonoDisplay, boPopupMark, boShowBevel], the byte 13.
inline constexpr TFlatButtonOptions defaultFlatButtonOptions{boMonoDisplay, boPopupMark, boShowBevel};

// Half of v, truncated toward zero (half(7) = 3, half(-5) = -2).
constexpr int half(int v) {
    return v / 2;
}

// What the layout needs to know of a button about to be painted.
struct FlatButtonLayoutInput {
    int width = 0;  // W
    int height = 0; // H
    // Size of Bitmap; an empty Bitmap has no glyph box of its own.
    bool hasBitmap = false;
    int bitmapWidth = 0;
    int bitmapHeight = 0;
    // The caption as measured by the text rule in the rectangle (0, 0, W - 4, 0): the right
    // and bottom edges. Ignored when the caption is not shown.
    bool captionShown = false;
    int measuredWidth = 0;
    int measuredHeight = 0;
    bool popupMarkShown = false;
    TFlatButtonLayout layout = blBitmapTop;
    TAlignment alignment = taCenter;
    bool wordWrap = false;
};

// The working values of one paint.
struct FlatButtonGeometry {
    int sp = 0;        // spacing between glyph and caption
    int tw = 0;        // caption width after shortening
    int th = 0;        // caption height
    int gw = 0;        // glyph box width (Bitmap plus 10 for the popup mark)
    int gh = 0;        // glyph box height
    int glyphX = 0;    // GX
    int glyphY = 0;    // GY
    int textX = 0;     // TX
    int textY = 0;     // TY
    QRect captionRect; // R, before any pressed-look offset
};

// Places glyph and caption inside the button (the positions and shortening rules of a paint).
FlatButtonGeometry layOutFlatButton(const FlatButtonLayoutInput& in);

// The caption without accelerator marks, as the hint of an icon-only button shows it: "&&"
// gives "&", an "&" before any other character is dropped, an "&" at the very end stays.
QString hintFromCaption(const QString& caption);

// The three sums of red, green and blue that split the grey tones.
struct GreyThresholds {
    int t1 = 0; // above: white
    int t2 = 0; // above: button highlight
    int t3 = 0; // above: button shadow; at or below: black
};
GreyThresholds greyThresholds(TFlatButtonShadingType shading);

enum class GreyTone { White, Highlight, Shadow, Black };

// The tone for a colour whose red + green + blue is sum (0 to 765).
GreyTone greyToneForSum(int sum, TFlatButtonShadingType shading);

// The grey image's pixel for a glyph pixel: colours are 0xRRGGBB (anything above is ignored).
// A pixel equal to the background (the glyph's top-left pixel) keeps the background colour;
// any other becomes white, highlight, shadow or black by its sum.
quint32 greyPixel(quint32 rgb, quint32 background, TFlatButtonShadingType shading, quint32 highlight,
                  quint32 shadow);

} // namespace lw

Q_DECLARE_METATYPE(lw::TFlatButtonOptions)
