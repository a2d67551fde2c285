// Tests of the flat button's painting: buttons rendered into images and checked pixel by pixel.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace lw;

namespace {

// Colours no drawing routine makes by itself, so every pixel tells where it came from.
const QRgb kBackground = qRgb(10, 200, 30);
const QRgb kFace = qRgb(200, 200, 200);
const QRgb kLight = qRgb(250, 250, 240);
const QRgb kDark = qRgb(100, 100, 110);
const QRgb kText = qRgb(20, 20, 120);
const QRgb kGlyph = qRgb(200, 40, 40);
const QRgb kKey = qRgb(0, 128, 128);

QRgb at(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & RGB_MASK) | 0xFF000000;
}

// A solid glyph whose top-left pixel carries the transparent colour.
QImage solidGlyph(int width, int height, QRgb colour = kGlyph) {
    QImage glyph(width, height, QImage::Format_RGB32);
    glyph.fill(colour);
    glyph.setPixel(0, 0, kKey);
    return glyph;
}

QImage render(TFlatButton* button) {
    QImage image(button->size(), QImage::Format_RGB32);
    image.fill(kBackground);
    button->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

void hover(TFlatButton* button) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(button, &enter);
}

void press(TFlatButton* button) {
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
}

// The bounding box of pixels that are none of the given colours, inside the bevel.
QRect boxOfOthers(const QImage& image, const QList<QRgb>& known) {
    QRect box;
    for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
            if (!known.contains(at(image, x, y)))
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

QRect boxOf(const QImage& image, QRgb colour) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (at(image, x, y) == colour)
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

int countOf(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += at(image, x, y) == colour;
    return count;
}

QSize measured(const TFlatButton* button, const QString& caption) {
    const QRect r =
        QFontMetrics(button->font())
            .boundingRect(QRect(0, 0, button->width() - 4, 0), Qt::AlignLeft | Qt::TextShowMnemonic, caption);
    return r.size();
}

// Where the paint should put glyph and caption, from the button's state and measured caption.
FlatButtonGeometry geometryOf(const TFlatButton& button) {
    FlatButtonLayoutInput in;
    in.width = button.width();
    in.height = button.height();
    in.hasBitmap = !button.bitmap().isNull();
    in.bitmapWidth = button.bitmap().width();
    in.bitmapHeight = button.bitmap().height();
    in.captionShown = !button.caption().isEmpty();
    const QSize text = measured(&button, button.caption());
    in.measuredWidth = text.width();
    in.measuredHeight = text.height();
    in.layout = button.buttonLayout();
    in.alignment = button.alignment();
    return layOutFlatButton(in);
}

} // namespace

class TestFlatButtonPaint : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void bevel_data();
    void bevel();
    void glyphAndCaptionPositions_data();
    void glyphAndCaptionPositions();
    void captionCutBesideGlyph();
    void popupMark_data();
    void popupMark();
    void downDisabledWithPattern();
    void embossedCaption();
    void wordWrapKeepsClearOfRightEdge();
    void designerFrameAndHiddenButton();
    void restingLookChoosesImage();
    void greyImageNearestColour();
    void downPatternSharedAndFreed();
    void programButtons_data();
    void programButtons();

private:
    QWidget m_parent;
};

void TestFlatButtonPaint::initTestCase() {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(kFace));
    palette.setColor(QPalette::Light, QColor(kLight));
    palette.setColor(QPalette::Dark, QColor(kDark));
    palette.setColor(QPalette::WindowText, QColor(kText));
    QApplication::setPalette(palette);
    // Crisp glyphs of text, so that the colours of captions are exact.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::NoAntialias);
    m_parent.setFont(font);
    m_parent.resize(300, 300);
}

void TestFlatButtonPaint::bevel_data() {
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<TBevelStyle>("style");
    QTest::addColumn<bool>("showBevel");
    QTest::addColumn<QRgb>("first");
    QTest::addColumn<QRgb>("second");
    QTest::newRow("raised form, bsRaised") << false << bsRaised << true << kLight << kDark;
    QTest::newRow("raised form, bsLowered") << false << bsLowered << true << kDark << kLight;
    QTest::newRow("pressed form, bsRaised") << true << bsRaised << true << kDark << kLight;
    QTest::newRow("pressed form, bsLowered") << true << bsLowered << true << kLight << kDark;
    QTest::newRow("hover without boShowBevel") << false << bsRaised << false << kBackground << kBackground;
    QTest::newRow("pressed without boShowBevel") << true << bsRaised << false << kBackground << kBackground;
}

void TestFlatButtonPaint::bevel() {
    QFETCH(bool, pressed);
    QFETCH(TBevelStyle, style);
    QFETCH(bool, showBevel);
    QFETCH(QRgb, first);
    QFETCH(QRgb, second);
    TFlatButton button(&m_parent);
    button.resize(30, 20);
    button.setBevelStyle(style);
    if (!showBevel)
        button.setOptions(defaultFlatButtonOptions.without(boShowBevel));
    if (pressed)
        press(&button);
    else
        hover(&button);
    const QImage image = render(&button);
    // First colour: the whole left column and the top row but its last pixel; second colour:
    // the whole right column and the bottom row but its first pixel; nothing inside.
    QCOMPARE(countOf(image.copy(0, 0, 1, 20), first), 20);
    QCOMPARE(countOf(image.copy(0, 0, 29, 1), first), 29);
    QCOMPARE(countOf(image.copy(29, 0, 1, 20), second), 20);
    QCOMPARE(countOf(image.copy(1, 19, 29, 1), second), 29);
    QCOMPARE(boxOfOthers(image, {kBackground}), QRect());
}

void TestFlatButtonPaint::glyphAndCaptionPositions_data() {
    QTest::addColumn<TBevelStyle>("style");
    QTest::newRow("bsRaised") << bsRaised;
    QTest::newRow("bsLowered") << bsLowered;
}

void TestFlatButtonPaint::glyphAndCaptionPositions() {
    QFETCH(TBevelStyle, style);
    // The Exit button's geometry: 58 x 25, glyph 20 x 25 left of the caption.
    TFlatButton button(&m_parent);
    button.resize(58, 25);
    button.setButtonLayout(blBitmapLeft);
    button.setBevelStyle(style);
    button.setBitmap(solidGlyph(20, 25));
    button.setCaption(QStringLiteral("Exit"));
    const FlatButtonGeometry g = geometryOf(button);

    hover(&button);
    const QImage over = render(&button);
    // The glyph at (GX, GY), its top-left pixel transparent.
    QCOMPARE(at(over, g.glyphX, g.glyphY + 1), kGlyph);
    QCOMPARE(at(over, g.glyphX + 19, g.glyphY + 23), kGlyph);
    QCOMPARE(at(over, g.glyphX - 1, 10), kBackground);
    QCOMPARE(at(over, g.glyphX + 20, 10), kBackground);
    // The caption lies in R, moved by one only for bsLowered.
    const int shift = style == bsLowered ? 1 : 0;
    const QRect caption = boxOf(over, kText);
    QVERIFY(!caption.isEmpty());
    QVERIFY(QRect(g.captionRect).translated(shift, shift).contains(caption));
    QVERIFY(caption.left() <= g.textX + shift + 2);

    press(&button);
    const QImage down = render(&button);
    // Pressed: the glyph one pixel down-right; the caption is moved in the pressed look with
    // bsRaised and in the hover look with bsLowered.
    QCOMPARE(at(down, g.glyphX + 1, g.glyphY + 1), kBackground); // the transparent corner
    QCOMPARE(at(down, g.glyphX + 2, g.glyphY + 1), kGlyph);
    QCOMPARE(at(down, g.glyphX, 10), kBackground);
    QCOMPARE(at(down, g.glyphX + 20, 10), kGlyph);
    QCOMPARE(boxOf(down, kText), caption.translated(1 - 2 * shift, 1 - 2 * shift));
}

void TestFlatButtonPaint::captionCutBesideGlyph() {
    // A caption that needs more than the 32 pixels left beside the glyph is cut at R's edge.
    TFlatButton button(&m_parent);
    button.resize(58, 25);
    button.setButtonLayout(blBitmapLeft);
    button.setBitmap(solidGlyph(20, 25));
    const QString caption = QStringLiteral("Exit the program");
    button.setCaption(caption);
    QVERIFY(measured(&button, caption).width() > 32);
    hover(&button);
    const QImage withEllipsis = render(&button);
    const QRect text = boxOf(withEllipsis, kText);
    QVERIFY(!text.isEmpty());
    // GX = half(58 - 54) = 2, TX = 24, tw = 32: nothing at or beyond x = 56.
    QCOMPARE(at(withEllipsis, 2, 10), kGlyph);
    QVERIFY(text.left() >= 24);
    QVERIFY(text.right() <= 55);

    TFlatButton::setEllipsisFlag(false);
    const QImage clipped = render(&button);
    TFlatButton::setEllipsisFlag(true);
    QVERIFY(boxOf(clipped, kText).right() <= 55);
    QVERIFY(clipped != withEllipsis); // the ellipsis replaces the end of the text
}

void TestFlatButtonPaint::popupMark_data() {
    QTest::addColumn<bool>("withGlyph");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QPoint>("origin");
    // No glyph, no caption, 30 x 20: a = 10, TX = 10, TY = 10; the mark 3 right of the caption's
    // end (4 when pressed, and one lower).
    QTest::newRow("caption strip at rest") << false << false << QPoint(13, 10);
    QTest::newRow("caption strip pressed") << false << true << QPoint(14, 11);
    // Glyph 16 x 16 in 40 x 20: gw = 26, GX = 7, GY = 2; mark at GX + 16 + 3, GY + 8.
    QTest::newRow("beside glyph at rest") << true << false << QPoint(26, 10);
    QTest::newRow("beside glyph pressed") << true << true << QPoint(27, 11);
}

void TestFlatButtonPaint::popupMark() {
    QFETCH(bool, withGlyph);
    QFETCH(bool, pressed);
    QFETCH(QPoint, origin);
    QMenu menu;
    TFlatButton button(&m_parent);
    button.resize(withGlyph ? 40 : 30, 20);
    button.setOptions({boPopupMark});
    button.setDropDownMenu(&menu);
    const QRgb unselected = qRgb(255, 0, 0);
    const QRgb font = qRgb(0, 0, 255);
    button.setUnselectedFontColor(QColor(unselected));
    button.setFontColor(QColor(font));
    if (withGlyph)
        button.setBitmap(solidGlyph(16, 16));
    if (pressed) {
        // The pressed look without the menu opening: a down button of a group.
        button.setGroupIndex(1);
        button.setShowDownPattern(false);
        button.setDown(true);
    }
    const QImage image = render(&button);
    const QRgb colour = pressed ? font : unselected;
    const int X = origin.x(), Y = origin.y();
    QCOMPARE(countOf(image.copy(X, Y - 1, 7, 1), colour), 7);
    QCOMPARE(countOf(image.copy(X + 1, Y, 5, 1), colour), 5);
    QCOMPARE(countOf(image.copy(X + 2, Y + 1, 3, 1), colour), 3);
    QCOMPARE(at(image, X + 3, Y + 2), colour);
    QCOMPARE(countOf(image, colour), 16);

    // A disabled button draws no mark.
    button.setButtonEnabled(false);
    const QImage disabled = render(&button);
    QCOMPARE(countOf(disabled, unselected), 0);
    QCOMPARE(countOf(disabled, font), 0);
}

void TestFlatButtonPaint::downDisabledWithPattern() {
    // A glyph with a black 2 x 2 block at (2, 2) in red, transparent top-left.
    QImage glyph = solidGlyph(8, 8);
    for (int y = 2; y < 4; ++y)
        for (int x = 2; x < 4; ++x)
            glyph.setPixel(x, y, qRgb(0, 0, 0));
    TFlatButton button(&m_parent);
    button.resize(30, 30);
    button.setBitmap(glyph);
    button.setGroupIndex(1);
    button.setDown(true);
    button.setButtonEnabled(false);
    QVERIFY(button.down());
    const QImage image = render(&button);
    // Checkerboard: highlight where x + y is even, face where odd.
    QCOMPARE(at(image, 5, 5), kLight);
    QCOMPARE(at(image, 5, 6), kFace);
    QCOMPARE(at(image, 28, 27), kFace);
    // Pressed bevel of bsRaised: shadow top-left, highlight bottom-right.
    QCOMPARE(at(image, 0, 0), kDark);
    QCOMPARE(at(image, 0, 29), kDark);
    QCOMPARE(at(image, 29, 0), kLight);
    QCOMPARE(at(image, 29, 29), kLight);
    // The glyph at GX = GY = 11: only its black pixels show, shadow over highlight one lower.
    QCOMPARE(at(image, 13, 13), kDark);
    QCOMPARE(at(image, 14, 14), kDark);
    QCOMPARE(at(image, 15, 15), kLight);
    QCOMPARE(at(image, 15, 14), kLight);
    QCOMPARE(at(image, 14, 15), kLight);
    // Red glyph pixels are not drawn: the pattern shows through.
    QCOMPARE(at(image, 16, 17), kFace);
    QCOMPARE(at(image, 16, 16), kLight);
}

void TestFlatButtonPaint::embossedCaption() {
    TFlatButton button(&m_parent);
    button.resize(60, 20);
    button.setCaption(QStringLiteral("Hello"));
    button.setButtonEnabled(false);
    const QImage image = render(&button);
    int shadows = 0;
    // The caption in shadow colour, and the highlight one pixel right and down of it wherever
    // the shadow does not cover it.
    for (int y = 0; y < image.height() - 1; ++y) {
        for (int x = 0; x < image.width() - 1; ++x) {
            const QRgb c = at(image, x, y);
            if (c == kDark) {
                ++shadows;
                const QRgb below = at(image, x + 1, y + 1);
                QVERIFY2(below == kDark || below == kLight,
                         qPrintable(QStringLiteral("at %1,%2").arg(x).arg(y)));
            }
            if (at(image, x + 1, y + 1) == kLight)
                QCOMPARE(c, kDark);
        }
    }
    QVERIFY(shadows > 10);
    QCOMPARE(countOf(image, kText), 0);
}

void TestFlatButtonPaint::wordWrapKeepsClearOfRightEdge() {
    TFlatButton button(&m_parent);
    button.resize(60, 60);
    button.setAlignment(taLeftJustify);
    button.setWordWrap(true);
    button.setCaption(QStringLiteral("one two three four five six"));
    hover(&button);
    const QImage image = render(&button);
    const QRect text = boxOf(image, kText);
    const int lineHeight = QFontMetrics(button.font()).height();
    QVERIFY2(text.height() > 2 * lineHeight, "the caption breaks into at least three lines");
    QVERIFY(text.right() <= 60 - 6);
    QVERIFY(text.left() >= 3);
}

void TestFlatButtonPaint::designerFrameAndHiddenButton() {
    TFlatButton running(&m_parent);
    running.resize(20, 10);
    running.setBitmap(solidGlyph(8, 8));
    running.hide();
    QCOMPARE(countOf(render(&running), kBackground), 200);

    TFlatButton designed(&m_parent, true, false);
    designed.resize(20, 10);
    designed.setCaption(QString());
    designed.hide();
    const QImage image = render(&designed);
    const QRgb black = qRgb(0, 0, 0);
    QCOMPARE(at(image, 0, 0), black);
    QCOMPARE(at(image, 19, 0), black);
    QCOMPARE(at(image, 0, 9), black);
    QCOMPARE(at(image, 19, 9), black);
    QCOMPARE(countOf(image, black), 2 * 20 + 2 * 8);
}

void TestFlatButtonPaint::restingLookChoosesImage() {
    TFlatButton button(&m_parent);
    button.resize(30, 30);
    button.setBitmap(solidGlyph(8, 8));
    // At rest with boMonoDisplay and neither NoFocusBitmap nor grey image: no glyph at all.
    QCOMPARE(countOf(render(&button), kGlyph), 0);
    // The grey image reaches a running button through the stored "IBitmap"; kGlyph sums to 280,
    // the highlight tone with stMedium.
    TFlatButton designer(&m_parent, true, false);
    designer.setBitmap(solidGlyph(8, 8));
    button.setIBitmap(designer.IBitmap());
    QCOMPARE(countOf(render(&button), kLight), 63);
    // A NoFocusBitmap of another size goes to the origin Bitmap gives (GX = GY = 11).
    button.setNoFocusBitmap(solidGlyph(4, 4, kFace));
    QCOMPARE(boxOf(render(&button), kFace), QRect(11, 11, 4, 4));
    hover(&button);
    QCOMPARE(countOf(render(&button), kGlyph), 63);
}

void TestFlatButtonPaint::greyImageNearestColour() {
    // A 16-colour glyph keeps its colour table: tones become the nearest entries.
    const QImage glyph = programButtonGlyph();
    QVERIFY(glyph.colorCount() <= 16);
    const QImage grey = deriveGreyImage(glyph, stMedium);
    QCOMPARE(grey.format(), QImage::Format_Indexed8);
    QCOMPARE(grey.colorTable(), glyph.colorTable());
    // The maroon door (sum 128): the shadow tone (100, 100, 110), nearest entry grey.
    QCOMPARE(at(glyph, 15, 4), qRgb(128, 0, 0));
    QCOMPARE(at(grey, 15, 4), qRgb(128, 128, 128));
    // The red arrow (sum 255): the highlight tone (250, 250, 240), nearest entry white.
    QCOMPARE(at(glyph, 1, 12), qRgb(255, 0, 0));
    QCOMPARE(at(grey, 1, 12), qRgb(255, 255, 255));
    // The black frame stays black.
    QCOMPARE(at(grey, 9, 2), qRgb(0, 0, 0));
    QCOMPARE(at(grey, 0, 0), at(glyph, 0, 0));
    QVERIFY(deriveGreyImage(QImage(), stMedium).isNull());
}

void TestFlatButtonPaint::downPatternSharedAndFreed() {
    auto button = std::make_unique<TFlatButton>(&m_parent);
    button->resize(16, 16);
    button->setGroupIndex(1);
    button->setDown(true);
    button->setOptions({});
    delete new TFlatButton(&m_parent); // start with no pattern
    QVERIFY(!TFlatButton::downPatternExists());
    QCOMPARE(at(render(button.get()), 2, 2), kLight);
    QVERIFY(TFlatButton::downPatternExists());

    // Made once: a palette change shows only when the pattern is made again.
    QPalette palette = QApplication::palette();
    const QRgb newFace = qRgb(180, 170, 160);
    palette.setColor(QPalette::Button, QColor(newFace));
    QApplication::setPalette(palette);
    QCOMPARE(at(render(button.get()), 2, 3), kFace);
    delete new TFlatButton(&m_parent); // the destruction of any button frees it
    QVERIFY(!TFlatButton::downPatternExists());
    QCOMPARE(at(render(button.get()), 2, 3), newFace);
    palette.setColor(QPalette::Button, QColor(kFace));
    QApplication::setPalette(palette);
    button.reset();
    QVERIFY(!TFlatButton::downPatternExists());
}

void TestFlatButtonPaint::programButtons_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::newRow("main window Exit") << "  Exit" << QSize(58, 25);
    QTest::newRow("editor Close") << "Close" << QSize(57, 24);
}

void TestFlatButtonPaint::programButtons() {
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    TFlatButton button(&m_parent);
    setupProgramButton(&button, caption);
    button.resize(size);
    QCOMPARE(button.buttonLayout(), blBitmapLeft);
    QCOMPARE(button.options().toByte(), quint8(13));
    QCOMPARE(button.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(button.font().pixelSize(), 11);
    QVERIFY(!button.parentFont());
    QCOMPARE(button.bitmap().size(), QSize(20, 25));
    QCOMPARE(button.noFocusBitmap().size(), QSize(20, 24));
    QVERIFY(button.bitmap().colorCount() <= 16 && button.noFocusBitmap().colorCount() <= 16);
    const FlatButtonGeometry g = geometryOf(button);

    // The arrow's tip (glyph pixel 1, 12): black at rest, red under the pointer and pressed.
    const QImage resting = render(&button);
    QCOMPARE(at(resting, g.glyphX + 1, 12), qRgb(0, 0, 0));
    QCOMPARE(countOf(resting, qRgb(255, 0, 0)), 0);
    // The caption (in the program's own font, smoothed) right of the glyph, inside R.
    const QRect captionBox = boxOfOthers(
        resting.copy(g.glyphX + 20, 0, size.width() - g.glyphX - 20, size.height()), {kBackground});
    QVERIFY(!captionBox.isEmpty());
    QVERIFY(captionBox.left() + g.glyphX + 20 >= g.textX);
    QVERIFY(captionBox.right() + g.glyphX + 20 < g.textX + g.tw);
    hover(&button);
    const QImage over = render(&button);
    QCOMPARE(at(over, g.glyphX + 1, 12), qRgb(255, 0, 0));
    QCOMPARE(at(over, 0, 0), kLight);
    press(&button);
    const QImage down = render(&button);
    QCOMPARE(at(down, g.glyphX + 2, 13), qRgb(255, 0, 0));
    QCOMPARE(at(down, 0, 0), kDark);
}

QTEST_MAIN(TestFlatButtonPaint)
#include "tst_flatbtn_paint.moc"
