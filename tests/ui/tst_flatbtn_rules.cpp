// Tests of the flat button's pure rules: glyph and caption placement, grey tones.
#include "ui/flatbtn_rules.h"

#include <QTest>

#include <algorithm>

using namespace lw;

Q_DECLARE_METATYPE(lw::FlatButtonLayoutInput)
Q_DECLARE_METATYPE(lw::GreyTone)

namespace {

// A button W x H with a glyph bw x bh (0 x 0: none) and a caption measured tw x th (0 x 0: none).
FlatButtonLayoutInput button(int W, int H, int bw, int bh, int tw, int th,
                             TFlatButtonLayout layout = blBitmapTop, TAlignment alignment = taCenter,
                             bool mark = false, bool wrap = false) {
    return {W, H, bw > 0, bw, bh, tw > 0, tw, th, mark, layout, alignment, wrap};
}

} // namespace

class TestFlatButtonRules : public QObject {
    Q_OBJECT
private slots:
    void layout_data() {
        QTest::addColumn<FlatButtonLayoutInput>("in");
        QTest::addColumn<QList<int>>("expected"); // GX, GY, TX, TY, tw, th
        using L = QList<int>;
        QTest::newRow("exit button") << button(58, 25, 20, 25, 30, 13, blBitmapLeft)
                                     << L{3, 0, 25, 6, 30, 13};
        // 20 + 40 + 2 exceeds 54: the caption gives way, cut to 32.
        QTest::newRow("caption shortened")
            << button(58, 25, 20, 25, 40, 13, blBitmapLeft) << L{2, 0, 24, 6, 32, 13};
        // The Close button is one pixel lower than its glyph: half(-1) is 0, not -1.
        QTest::newRow("close button")
            << button(57, 24, 20, 25, 30, 13, blBitmapLeft) << L{2, 0, 24, 5, 30, 13};
        // No caption: sp is 0 and the glyph is centred vertically.
        QTest::newRow("no caption") << button(50, 40, 16, 16, 0, 0) << L{17, 12, 25, 28, 0, 0};
        // No glyph, a long caption with the mark: the caption is cut to W - 14 beside the mark.
        QTest::newRow("long caption, popup mark")
            << button(60, 20, 0, 0, 200, 13, blBitmapTop, taCenter, true) << L{0, 0, -3, 3, 46, 13};
        QTest::newRow("word wrap") << button(60, 20, 0, 0, 56, 39, blBitmapTop, taLeftJustify, false, true)
                                   << L{0, 0, 3, -9, 52, 39};
    }
    void layout() {
        QFETCH(FlatButtonLayoutInput, in);
        const FlatButtonGeometry g = layOutFlatButton(in);
        QTEST((QList<int>{g.glyphX, g.glyphY, g.textX, g.textY, g.tw, g.th}), "expected");
        QCOMPARE(g.captionRect, QRect(g.textX, g.textY, g.tw, g.th));
    }

    void greyTones_data() {
        QTest::addColumn<TFlatButtonShadingType>("shading");
        QTest::addColumn<int>("sum");
        QTest::addColumn<GreyTone>("tone");
        // Each threshold itself falls to the darker tone; one above it to the lighter.
        QTest::newRow("light T1") << stLight << 205 << GreyTone::Highlight;
        QTest::newRow("light T1+1") << stLight << 206 << GreyTone::White;
        QTest::newRow("dark T3") << stDark << 175 << GreyTone::Black;
        QTest::newRow("dark T3+1") << stDark << 176 << GreyTone::Shadow;
    }
    // The tone for a sum, and the same through a whole pixel whose channels add up to it; the
    // background colour stays whatever its sum, the alpha byte ignored.
    void greyTones() {
        QFETCH(TFlatButtonShadingType, shading);
        QFETCH(int, sum);
        QFETCH(GreyTone, tone);
        QCOMPARE(greyToneForSum(sum, shading), tone);
        const int r = std::min(255, sum), g = std::min(255, sum - r), b = sum - r - g;
        const quint32 highlight = 0xE0E0E1, shadow = 0x606061;
        const quint32 tones[] = {0xFFFFFF, highlight, shadow, 0x000000}; // in the order of GreyTone
        QCOMPARE(greyPixel(quint32(r << 16 | g << 8 | b), 0x123456, shading, highlight, shadow),
                 tones[int(tone)]);
        QCOMPARE(greyPixel(0xFF008080, 0x00008080, shading, highlight, shadow), quint32(0x008080));
    }
};

QTEST_GUILESS_MAIN(TestFlatButtonRules)
#include "tst_flatbtn_rules.moc"
