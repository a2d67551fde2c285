// Tests of the flat button's pure rules: glyph and caption placement, grey tones, hint text.
#include "ui/flatbtn_rules.h"

#include <QMetaEnum>
#include <QTest>

#include <algorithm>

using namespace lw;

class TestFlatButtonRules : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void halfTruncatesTowardZero();
    void greyTones_data();
    void greyTones();
    void greyPixelKeepsBackground();
    void hint_data();
    void hint();
    void optionsByte();
};

Q_DECLARE_METATYPE(lw::FlatButtonLayoutInput)
Q_DECLARE_METATYPE(lw::GreyTone)

void TestFlatButtonRules::layout_data() {
    QTest::addColumn<FlatButtonLayoutInput>("in");
    QTest::addColumn<int>("gx");
    QTest::addColumn<int>("gy");
    QTest::addColumn<int>("tx");
    QTest::addColumn<int>("ty");
    QTest::addColumn<int>("tw");
    QTest::addColumn<int>("th");

    // The program's Exit button: 58 x 25, glyph 20 x 25 left of a caption 30 x 13.
    FlatButtonLayoutInput exit;
    exit.width = 58;
    exit.height = 25;
    exit.hasBitmap = true;
    exit.bitmapWidth = 20;
    exit.bitmapHeight = 25;
    exit.captionShown = true;
    exit.measuredWidth = 30;
    exit.measuredHeight = 13;
    exit.layout = blBitmapLeft;
    exit.alignment = taCenter;
    QTest::newRow("exit button") << exit << 3 << 0 << 25 << 6 << 30 << 13;

    // 20 + 40 + 2 exceeds 54: the caption gives way, cut to 32.
    FlatButtonLayoutInput wide = exit;
    wide.measuredWidth = 40;
    QTest::newRow("caption shortened beside glyph") << wide << 2 << 0 << 24 << 6 << 32 << 13;

    FlatButtonLayoutInput leftJustified = exit;
    leftJustified.alignment = taLeftJustify;
    QTest::newRow("bitmap left, left justified") << leftJustified << 3 << 0 << 25 << 6 << 30 << 13;

    FlatButtonLayoutInput rightJustified = exit;
    rightJustified.alignment = taRightJustify;
    QTest::newRow("bitmap left, right justified") << rightJustified << 3 << 0 << 25 << 6 << 30 << 13;

    FlatButtonLayoutInput right = exit;
    right.layout = blBitmapRight;
    QTest::newRow("bitmap right, centred") << right << 35 << 0 << 3 << 6 << 30 << 13;
    right.alignment = taRightJustify;
    QTest::newRow("bitmap right, right justified") << right << 35 << 0 << 3 << 6 << 30 << 13;
    right.alignment = taLeftJustify;
    QTest::newRow("bitmap right, left justified") << right << 35 << 0 << 3 << 6 << 30 << 13;

    // The editor's Close button is one pixel lower than its glyph: half(-1) is 0, not -1.
    FlatButtonLayoutInput close = exit;
    close.width = 57;
    close.height = 24;
    QTest::newRow("close button, glyph taller than button") << close << 2 << 0 << 24 << 5 << 30 << 13;

    // Glyph above or below a caption in a 50 x 40 button.
    FlatButtonLayoutInput top;
    top.width = 50;
    top.height = 40;
    top.hasBitmap = true;
    top.bitmapWidth = 16;
    top.bitmapHeight = 16;
    top.captionShown = true;
    top.measuredWidth = 20;
    top.measuredHeight = 13;
    QTest::newRow("bitmap top, centred") << top << 17 << 4 << 15 << 22 << 20 << 13;
    FlatButtonLayoutInput bottom = top;
    bottom.layout = blBitmapBottom;
    QTest::newRow("bitmap bottom, centred") << bottom << 17 << 19 << 15 << 4 << 20 << 13;
    bottom.alignment = taRightJustify;
    QTest::newRow("bitmap bottom, right justified") << bottom << 31 << 19 << 27 << 4 << 20 << 13;
    bottom.alignment = taLeftJustify;
    QTest::newRow("bitmap bottom, left justified") << bottom << 3 << 19 << 3 << 4 << 20 << 13;

    // No caption shown (boIconOnly or empty): sp is 0 and the glyph is centred vertically.
    FlatButtonLayoutInput iconOnly = top;
    iconOnly.captionShown = false;
    QTest::newRow("no caption, bitmap top") << iconOnly << 17 << 12 << 25 << 28 << 0 << 0;

    // The popup mark widens the glyph box by 10.
    FlatButtonLayoutInput marked = top;
    marked.popupMarkShown = true;
    QTest::newRow("bitmap top with popup mark") << marked << 12 << 4 << 15 << 22 << 20 << 13;

    // No glyph: the caption is centred together with a 10-pixel strip for the mark.
    FlatButtonLayoutInput textOnly;
    textOnly.width = 60;
    textOnly.height = 20;
    textOnly.captionShown = true;
    textOnly.measuredWidth = 30;
    textOnly.measuredHeight = 13;
    QTest::newRow("caption only") << textOnly << 0 << 0 << 15 << 3 << 30 << 13;
    FlatButtonLayoutInput textMark = textOnly;
    textMark.popupMarkShown = true;
    QTest::newRow("caption with popup mark") << textMark << 0 << 0 << 10 << 3 << 30 << 13;
    textMark.alignment = taRightJustify;
    QTest::newRow("caption with popup mark, right") << textMark << 0 << 0 << 17 << 3 << 30 << 13;
    textMark.alignment = taLeftJustify;
    QTest::newRow("caption with popup mark, left") << textMark << 0 << 0 << 3 << 3 << 30 << 13;
    // The mark needs 14 pixels: a long caption is cut to W - 14.
    FlatButtonLayoutInput longMark = textMark;
    longMark.alignment = taCenter;
    longMark.measuredWidth = 200;
    QTest::newRow("long caption with popup mark") << longMark << 0 << 0 << -3 << 3 << 46 << 13;

    // Wider than the button, centred, no glyph: cut to W - 4 and starting at 2.
    FlatButtonLayoutInput tooWide = textOnly;
    tooWide.measuredWidth = 300;
    QTest::newRow("caption wider than button") << tooWide << 0 << 0 << 2 << 3 << 56 << 13;

    // A wrapped caption stays 5 pixels clear of the right edge.
    FlatButtonLayoutInput wrapped = tooWide;
    wrapped.wordWrap = true;
    wrapped.measuredWidth = 56;
    wrapped.measuredHeight = 39;
    QTest::newRow("word wrap limit") << wrapped << 0 << 0 << 2 << -9 << 53 << 39;
    FlatButtonLayoutInput wrappedFits = wrapped;
    wrappedFits.alignment = taLeftJustify;
    QTest::newRow("word wrap limit, left") << wrappedFits << 0 << 0 << 3 << -9 << 52 << 39;
}

void TestFlatButtonRules::layout() {
    QFETCH(FlatButtonLayoutInput, in);
    QFETCH(int, gx);
    QFETCH(int, gy);
    QFETCH(int, tx);
    QFETCH(int, ty);
    QFETCH(int, tw);
    QFETCH(int, th);
    const FlatButtonGeometry g = layOutFlatButton(in);
    QCOMPARE(g.glyphX, gx);
    QCOMPARE(g.glyphY, gy);
    QCOMPARE(g.textX, tx);
    QCOMPARE(g.textY, ty);
    QCOMPARE(g.tw, tw);
    QCOMPARE(g.th, th);
    QCOMPARE(g.sp, in.captionShown ? 2 : 0);
    QCOMPARE(g.captionRect, QRect(tx, ty, tw, th));
}

void TestFlatButtonRules::halfTruncatesTowardZero() {
    QCOMPARE(half(7), 3);
    QCOMPARE(half(-5), -2);
    QCOMPARE(half(-1), 0);
}

void TestFlatButtonRules::greyTones_data() {
    QTest::addColumn<TFlatButtonShadingType>("shading");
    QTest::addColumn<int>("sum");
    QTest::addColumn<GreyTone>("tone");
    const struct {
        const char* name;
        TFlatButtonShadingType shading;
        int t1, t2, t3;
    } rows[] = {{"light", stLight, 205, 127, 68},
                {"medium", stMedium, 553, 231, 57},
                {"dark", stDark, 335, 274, 175}};
    for (const auto& row : rows) {
        // Each threshold itself falls to the darker tone; one above it to the lighter.
        QTest::addRow("%s T1", row.name) << row.shading << row.t1 << GreyTone::Highlight;
        QTest::addRow("%s T1+1", row.name) << row.shading << row.t1 + 1 << GreyTone::White;
        QTest::addRow("%s T2", row.name) << row.shading << row.t2 << GreyTone::Shadow;
        QTest::addRow("%s T2+1", row.name) << row.shading << row.t2 + 1 << GreyTone::Highlight;
        QTest::addRow("%s T3", row.name) << row.shading << row.t3 << GreyTone::Black;
        QTest::addRow("%s T3+1", row.name) << row.shading << row.t3 + 1 << GreyTone::Shadow;
        QTest::addRow("%s 0", row.name) << row.shading << 0 << GreyTone::Black;
        QTest::addRow("%s 765", row.name) << row.shading << 765 << GreyTone::White;
    }
}

void TestFlatButtonRules::greyTones() {
    QFETCH(TFlatButtonShadingType, shading);
    QFETCH(int, sum);
    QFETCH(GreyTone, tone);
    QCOMPARE(greyToneForSum(sum, shading), tone);

    // The same through a whole pixel whose channels add up to sum.
    const int r = std::min(255, sum);
    const int g = std::min(255, sum - r);
    const int b = sum - r - g;
    const quint32 colour = quint32(r << 16 | g << 8 | b);
    const quint32 highlight = 0xE0E0E1, shadow = 0x606061;
    const quint32 expected = tone == GreyTone::White       ? 0xFFFFFF
                             : tone == GreyTone::Highlight ? highlight
                             : tone == GreyTone::Shadow    ? shadow
                                                           : 0x000000;
    QCOMPARE(greyPixel(colour, 0x123456, shading, highlight, shadow), expected);
}

void TestFlatButtonRules::greyPixelKeepsBackground() {
    // The background colour stays, whatever tone its sum would give; the alpha byte is ignored.
    QCOMPARE(greyPixel(0xFF008080, 0x00008080, stMedium, 0xE0E0E0, 0x808080), quint32(0x008080));
    // A pixel that differs from the background only by one unit is shaded.
    QCOMPARE(greyPixel(0x008081, 0x008080, stMedium, 0xE0E0E0, 0x808080), quint32(0xE0E0E0));
    QCOMPARE(greyPixel(0x000011, 0x000010, stMedium, 0xE0E0E0, 0x808080), quint32(0x000000));
}

void TestFlatButtonRules::hint_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::newRow("doubled and single marks") << "Save && E&xit"
                                              << "Save & Exit";
    QTest::newRow("mark at the end stays") << "Exit&"
                                           << "Exit&";
    QTest::newRow("triple mark") << "&&&x"
                                 << "&x";
    QTest::newRow("doubled at the end") << "a&&"
                                        << "a&";
    QTest::newRow("mark alone") << "&"
                                << "&";
    QTest::newRow("no marks") << "  Exit"
                              << "  Exit";
    QTest::newRow("empty") << ""
                           << "";
}

void TestFlatButtonRules::hint() {
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    QCOMPARE(hintFromCaption(caption), hint);
}

void TestFlatButtonRules::optionsByte() {
    QCOMPARE(defaultFlatButtonOptions.toByte(), quint8(13));
    QVERIFY(defaultFlatButtonOptions.contains(boMonoDisplay));
    QVERIFY(!defaultFlatButtonOptions.contains(boIconOnly));
    const TFlatButtonOptions iconOnly = defaultFlatButtonOptions.with(boIconOnly);
    QCOMPARE(iconOnly.toByte(), quint8(15));
    QCOMPARE(iconOnly.without(boMonoDisplay).toByte(), quint8(14));
    QCOMPARE(TFlatButtonOptions::fromByte(0xF8).toByte(), quint8(8)); // only the four option bits
    // The stored ordinals follow the member order.
    const QMetaEnum layouts = QMetaEnum::fromType<TFlatButtonLayout>();
    QCOMPARE(layouts.keyCount(), 4);
    QCOMPARE(QByteArray(layouts.valueToKey(2)), QByteArray("blBitmapLeft"));
    QCOMPARE(int(taCenter), 2);
    QCOMPARE(int(bsRaised), 1);
    QCOMPARE(int(stDark), 2);
}

QTEST_GUILESS_MAIN(TestFlatButtonRules)
#include "tst_flatbtn_rules.moc"
