// The flat button's pure rules: the placement of glyph and caption, and the grey tones.
#include "ui/flatbtn_rules.h"

#include <algorithm>

namespace lw {

FlatButtonGeometry layOutFlatButton(const FlatButtonLayoutInput& in) {
    const int W = in.width;
    const int H = in.height;
    FlatButtonGeometry g;

    if (in.captionShown) {
        g.sp = 2;
        g.tw = in.measuredWidth;
        g.th = in.measuredHeight;
    }
    if (g.tw > W - 4)
        g.tw = W - 4;

    g.gw = (in.hasBitmap ? in.bitmapWidth : 0) + (in.popupMarkShown ? 10 : 0);
    g.gh = in.hasBitmap ? in.bitmapHeight : 0;

    int& GX = g.glyphX;
    int& GY = g.glyphY;
    int& TX = g.textX;
    int& TY = g.textY;

    if (!in.hasBitmap) {
        // The caption alone, centred together with the strip the popup mark needs.
        int a = g.tw;
        if (in.popupMarkShown) {
            a = g.tw + 10;
            g.tw = std::min(g.tw, W - 14);
        }
        TY = half(H - g.th);
        switch (in.alignment) {
        case taLeftJustify:
            TX = 3;
            break;
        case taRightJustify:
            TX = W - a - 3;
            break;
        case taCenter:
            TX = half(W - a);
            break;
        }
    } else if (in.layout == blBitmapTop || in.layout == blBitmapBottom) {
        if (in.layout == blBitmapTop) {
            GY = half(H - (g.gh + g.th + g.sp));
            TY = GY + g.gh + g.sp;
        } else {
            TY = half(H - (g.gh + g.th + g.sp));
            GY = TY + g.th + g.sp;
        }
        switch (in.alignment) {
        case taLeftJustify:
            GX = 3;
            TX = 3;
            break;
        case taRightJustify:
            GX = W - g.gw - 3;
            TX = W - g.tw - 3;
            break;
        case taCenter:
            GX = half(W - g.gw);
            TX = half(W - g.tw);
            break;
        }
    } else {
        // Side by side: the caption gives way to the glyph when both do not fit.
        if (g.gw + g.tw + g.sp > W - 4)
            g.tw = W - 4 - g.sp - g.gw;
        GY = half(H - g.gh);
        TY = half(H - g.th);
        const bool left = in.layout == blBitmapLeft;
        switch (in.alignment) {
        case taLeftJustify:
            if (left) {
                GX = 3;
                TX = GX + g.gw + g.sp;
            } else {
                TX = 3;
                GX = TX + g.tw + g.sp;
            }
            break;
        case taRightJustify:
            if (left) {
                TX = W - g.tw - 3;
                GX = TX - g.gw - g.sp;
            } else {
                GX = W - g.gw - 3;
                TX = GX - g.tw - g.sp;
            }
            break;
        case taCenter:
            if (left) {
                GX = half(W - (g.gw + g.tw + g.sp));
                TX = GX + g.gw + g.sp;
            } else {
                TX = half(W - (g.gw + g.tw + g.sp));
                GX = TX + g.tw + g.sp;
            }
            break;
        }
    }

    // A wrapped caption keeps five pixels clear of the right edge.
    if (in.wordWrap && TX + g.tw > W - 5)
        g.tw = W - TX - 5;

    g.captionRect = QRect(TX, TY, g.tw, g.th);
    return g;
}

QString hintFromCaption(const QString& caption) {
    QString hint;
    hint.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar c = caption.at(i);
        if (c != QLatin1Char('&') || i + 1 == caption.size()) {
            hint += c;
        } else if (caption.at(i + 1) == QLatin1Char('&')) {
            hint += c;
            ++i;
        }
    }
    return hint;
}

GreyThresholds greyThresholds(TFlatButtonShadingType shading) {
    switch (shading) {
    case stLight:
        return {205, 127, 68};
    case stDark:
        return {335, 274, 175};
    case stMedium:
        break;
    }
    return {553, 231, 57};
}

GreyTone greyToneForSum(int sum, TFlatButtonShadingType shading) {
    const GreyThresholds t = greyThresholds(shading);
    if (sum > t.t1)
        return GreyTone::White;
    if (sum > t.t2)
        return GreyTone::Highlight;
    if (sum > t.t3)
        return GreyTone::Shadow;
    return GreyTone::Black;
}

quint32 greyPixel(quint32 rgb, quint32 background, TFlatButtonShadingType shading, quint32 highlight,
                  quint32 shadow) {
    rgb &= 0xFFFFFF;
    background &= 0xFFFFFF;
    if (rgb == background)
        return background;
    const int sum = int((rgb >> 16) & 0xFF) + int((rgb >> 8) & 0xFF) + int(rgb & 0xFF);
    switch (greyToneForSum(sum, shading)) {
    case GreyTone::White:
        return 0xFFFFFF;
    case GreyTone::Highlight:
        return highlight & 0xFFFFFF;
    case GreyTone::Shadow:
        return shadow & 0xFFFFFF;
    case GreyTone::Black:
        break;
    }
    return 0x000000;
}

} // namespace lw
