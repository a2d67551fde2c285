// Tests of the flat button's painting: buttons rendered into images and checked pixel by pixel.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QTest>

#include <functional>
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

// The bounding box of the pixels that match; the count of a colour.
QRect boxOf(const QImage& image, const std::function<bool(QRgb)>& match) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(at(image, x, y)))
                box = box.united(QRect(x, y, 1, 1));
    return box;
}
QRect boxOf(const QImage& image, QRgb colour) {
    return boxOf(image, [colour](QRgb c) { return c == colour; });
}
int countOf(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += at(image, x, y) == colour;
    return count;
}

// Where the paint should put glyph and caption, from the button's state and measured caption.
FlatButtonGeometry geometryOf(const TFlatButton& b) {
    const QImage& glyph = b.bitmap();
    const QRect text = QFontMetrics(b.font()).boundingRect(QRect(0, 0, b.width() - 4, 0),
                                                           Qt::AlignLeft | Qt::TextShowMnemonic, b.caption());
    return layOutFlatButton({b.width(), b.height(), !glyph.isNull(), glyph.width(), glyph.height(),
                             !b.caption().isEmpty(), text.width(), text.height(), false, b.buttonLayout(),
                             b.alignment()});
}

} // namespace

class TestFlatButtonPaint : public QObject {
    Q_OBJECT
    // A button w x h on the test parent, with the glyph given (none when empty).
    std::unique_ptr<TFlatButton> make(int w, int h, const QImage& glyph = {}) {
        auto button = std::make_unique<TFlatButton>(&m_parent);
        button->resize(w, h);
        if (!glyph.isNull())
            button->setBitmap(glyph);
        return button;
    }
    QWidget m_parent;

private slots:
    void initTestCase() {
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

    void bevel_data() {
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<TBevelStyle>("style");
        QTest::addColumn<bool>("showBevel");
        QTest::addColumn<QRgb>("first");
        QTest::addColumn<QRgb>("second");
        QTest::newRow("raised form, bsRaised") << false << bsRaised << true << kLight << kDark;
        QTest::newRow("raised form, bsLowered") << false << bsLowered << true << kDark << kLight;
        QTest::newRow("pressed form, bsRaised") << true << bsRaised << true << kDark << kLight;
        QTest::newRow("pressed form, bsLowered") << true << bsLowered << true << kLight << kDark;
        QTest::newRow("pressed without boShowBevel")
            << true << bsRaised << false << kBackground << kBackground;
    }
    void bevel() {
        QFETCH(bool, pressed);
        QFETCH(TBevelStyle, style);
        QFETCH(QRgb, first);
        QFETCH(QRgb, second);
        QFETCH(bool, showBevel);
        auto button = make(30, 20);
        button->setBevelStyle(style);
        if (!showBevel)
            button->setOptions(defaultFlatButtonOptions.without(boShowBevel));
        pressed ? press(button.get()) : hover(button.get());
        const QImage image = render(button.get());
        // First colour: the whole left column and the top row but its last pixel; second colour:
        // the whole right column and the bottom row but its first pixel; nothing inside.
        QCOMPARE(countOf(image.copy(0, 0, 1, 20), first), 20);
        QCOMPARE(countOf(image.copy(0, 0, 29, 1), first), 29);
        QCOMPARE(countOf(image.copy(29, 0, 1, 20), second), 20);
        QCOMPARE(countOf(image.copy(1, 19, 29, 1), second), 29);
        QCOMPARE(boxOf(image.copy(1, 1, 28, 18), [](QRgb c) { return c != kBackground; }), QRect());
    }

    void glyphAndCaptionPositions_data() {
        QTest::addColumn<TBevelStyle>("style");
        QTest::newRow("bsRaised") << bsRaised;
        QTest::newRow("bsLowered") << bsLowered;
    }
    // The Exit button's geometry: 58 x 25, glyph 20 x 25 left of the caption.
    void glyphAndCaptionPositions() {
        QFETCH(TBevelStyle, style);
        auto button = make(58, 25, solidGlyph(20, 25));
        button->setButtonLayout(blBitmapLeft);
        button->setBevelStyle(style);
        button->setCaption(QStringLiteral("Exit"));
        const FlatButtonGeometry g = geometryOf(*button);

        hover(button.get());
        const QImage over = render(button.get());
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

        // Pressed: the glyph one pixel down-right; the caption is moved in the pressed look with
        // bsRaised and in the hover look with bsLowered.
        press(button.get());
        const QImage down = render(button.get());
        QCOMPARE(at(down, g.glyphX + 1, g.glyphY + 1), kBackground); // the transparent corner
        QCOMPARE(at(down, g.glyphX + 2, g.glyphY + 1), kGlyph);
        QCOMPARE(at(down, g.glyphX, 10), kBackground);
        QCOMPARE(at(down, g.glyphX + 20, 10), kGlyph);
        QCOMPARE(boxOf(down, kText), caption.translated(1 - 2 * shift, 1 - 2 * shift));
    }

    // A caption that needs more than the 32 pixels left beside the glyph is cut at R's edge.
    void captionCutBesideGlyph() {
        auto button = make(58, 25, solidGlyph(20, 25));
        button->setButtonLayout(blBitmapLeft);
        button->setCaption(QStringLiteral("Exit the program"));
        QVERIFY(QFontMetrics(button->font()).horizontalAdvance(button->caption()) > 32);
        hover(button.get());
        const QImage withEllipsis = render(button.get());
        const QRect text = boxOf(withEllipsis, kText);
        // GX = half(58 - 54) = 2, TX = 24, tw = 32: nothing at or beyond x = 56.
        QCOMPARE(at(withEllipsis, 2, 10), kGlyph);
        QVERIFY(!text.isEmpty() && text.left() >= 24 && text.right() <= 55);

        TFlatButton::setEllipsisFlag(false);
        const QImage clipped = render(button.get());
        TFlatButton::setEllipsisFlag(true);
        QVERIFY(boxOf(clipped, kText).right() <= 55);
        QVERIFY(clipped != withEllipsis); // the ellipsis replaces the end of the text
    }

    void popupMark_data() {
        QTest::addColumn<bool>("withGlyph");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<QPoint>("origin");
        // No glyph, no caption, 30 x 20: TX = 10, TY = 10; the mark 3 right of the caption's end
        // (4 when pressed, and one lower).
        QTest::newRow("caption strip at rest") << false << false << QPoint(13, 10);
        QTest::newRow("caption strip pressed") << false << true << QPoint(14, 11);
        // Glyph 16 x 16 in 40 x 20: GX = 7, GY = 2; mark at GX + 16 + 3, GY + 8.
        QTest::newRow("beside glyph at rest") << true << false << QPoint(26, 10);
        QTest::newRow("beside glyph pressed") << true << true << QPoint(27, 11);
    }
    void popupMark() {
        QFETCH(bool, withGlyph);
        QFETCH(bool, pressed);
        QFETCH(QPoint, origin);
        QMenu menu;
        auto button = make(withGlyph ? 40 : 30, 20, withGlyph ? solidGlyph(16, 16) : QImage());
        button->setOptions({boPopupMark});
        button->setDropDownMenu(&menu);
        const QRgb unselected = qRgb(255, 0, 0), font = qRgb(0, 0, 255);
        button->setUnselectedFontColor(QColor(unselected));
        button->setFontColor(QColor(font));
        if (pressed) { // the pressed look without the menu opening: a down button of a group
            button->setGroupIndex(1);
            button->setShowDownPattern(false);
            button->setDown(true);
        }
        const QImage image = render(button.get());
        const QRgb colour = pressed ? font : unselected;
        const int X = origin.x(), Y = origin.y();
        QCOMPARE(countOf(image.copy(X, Y - 1, 7, 1), colour), 7);
        QCOMPARE(countOf(image.copy(X + 1, Y, 5, 1), colour), 5);
        QCOMPARE(countOf(image.copy(X + 2, Y + 1, 3, 1), colour), 3);
        QCOMPARE(at(image, X + 3, Y + 2), colour);
        QCOMPARE(countOf(image, colour), 16);

        button->setButtonEnabled(false); // a disabled button draws no mark
        const QImage disabled = render(button.get());
        QCOMPARE(countOf(disabled, unselected) + countOf(disabled, font), 0);
    }

    void downDisabledWithPattern() {
        // A glyph with a black 2 x 2 block at (2, 2) in red, transparent top-left.
        QImage glyph = solidGlyph(8, 8);
        for (int y = 2; y < 4; ++y)
            for (int x = 2; x < 4; ++x)
                glyph.setPixel(x, y, qRgb(0, 0, 0));
        auto button = make(30, 30, glyph);
        button->setGroupIndex(1);
        button->setDown(true);
        button->setButtonEnabled(false);
        const QImage image = render(button.get());
        // Checkerboard: highlight where x + y is even, face where odd.
        QCOMPARE(at(image, 5, 5), kLight);
        QCOMPARE(at(image, 5, 6), kFace);
        // Pressed bevel of bsRaised: shadow top-left, highlight bottom-right.
        QCOMPARE(at(image, 0, 29), kDark);
        QCOMPARE(at(image, 29, 0), kLight);
        // The glyph at GX = GY = 11: only its black pixels show, shadow over highlight one lower.
        QCOMPARE(at(image, 13, 13), kDark);
        QCOMPARE(at(image, 14, 14), kDark);
        QCOMPARE(at(image, 15, 15), kLight);
        QCOMPARE(at(image, 16, 17), kFace); // red glyph pixels are not drawn: the pattern shows
    }

    // A disabled caption: in shadow colour, with the highlight one pixel right and down of it
    // wherever the shadow does not cover it.
    void embossedCaption() {
        auto button = make(60, 20);
        button->setCaption(QStringLiteral("Hello"));
        button->setButtonEnabled(false);
        const QImage image = render(button.get());
        for (int y = 0; y < image.height() - 1; ++y) {
            for (int x = 0; x < image.width() - 1; ++x) {
                const QRgb below = at(image, x + 1, y + 1);
                if (at(image, x, y) == kDark)
                    QVERIFY2(below == kDark || below == kLight,
                             qPrintable(QStringLiteral("at %1,%2").arg(x).arg(y)));
                if (below == kLight)
                    QCOMPARE(at(image, x, y), kDark);
            }
        }
        QVERIFY(countOf(image, kDark) > 10);
        QCOMPARE(countOf(image, kText), 0);
    }

    void wordWrapKeepsClearOfRightEdge() {
        auto button = make(60, 60);
        button->setAlignment(taLeftJustify);
        button->setWordWrap(true);
        button->setCaption(QStringLiteral("one two three four five six"));
        hover(button.get());
        const QRect text = boxOf(render(button.get()), kText);
        QVERIFY2(text.height() > 2 * QFontMetrics(button->font()).height(), "at least three lines");
        QVERIFY(text.right() <= 60 - 6);
        QVERIFY(text.left() >= 3);
    }

    void imageChoice() {
        auto button = make(30, 30, solidGlyph(8, 8));
        // At rest with boMonoDisplay and neither NoFocusBitmap nor grey image: no glyph at all.
        QCOMPARE(countOf(render(button.get()), kGlyph), 0);
        // The grey image reaches a running button through the stored "IBitmap"; kGlyph sums to 280,
        // the highlight tone with stMedium.
        TFlatButton designer(&m_parent, true, false);
        designer.setBitmap(solidGlyph(8, 8));
        button->setIBitmap(designer.IBitmap());
        QCOMPARE(countOf(render(button.get()), kLight), 63);
        // A NoFocusBitmap of another size goes to the origin Bitmap gives (GX = GY = 11).
        button->setNoFocusBitmap(solidGlyph(4, 4, kFace));
        QCOMPARE(boxOf(render(button.get()), kFace), QRect(11, 11, 4, 4));
        hover(button.get());
        QCOMPARE(countOf(render(button.get()), kGlyph), 63);

        // Disabled with an empty Bitmap: the DisabledBitmap, drawn transparently, at (0, 0).
        auto disabled = make(30, 30);
        disabled->setDisabledBitmap(solidGlyph(6, 6, kFace));
        disabled->setButtonEnabled(false);
        const QImage image = render(disabled.get());
        QCOMPARE(boxOf(image, kFace), QRect(0, 0, 6, 6));
        QCOMPARE(countOf(image, kFace), 35);
    }

    void programButtons_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("size");
        QTest::newRow("main window Exit") << "  Exit" << QSize(58, 25);
        QTest::newRow("editor Close") << "Close" << QSize(57, 24);
    }
    void programButtons() {
        QFETCH(QString, caption);
        QFETCH(QSize, size);
        TFlatButton button(&m_parent);
        setupProgramButton(&button, caption);
        button.resize(size);
        const FlatButtonGeometry g = geometryOf(button);

        // The arrow's tip (glyph pixel 1, 12): black at rest, red under the pointer and pressed.
        const QImage resting = render(&button);
        QCOMPARE(at(resting, g.glyphX + 1, 12), qRgb(0, 0, 0));
        QCOMPARE(countOf(resting, qRgb(255, 0, 0)), 0);
        hover(&button);
        const QImage over = render(&button);
        QCOMPARE(at(over, g.glyphX + 1, 12), qRgb(255, 0, 0));
        QCOMPARE(at(over, 0, 0), kLight);
        press(&button);
        const QImage down = render(&button);
        QCOMPARE(at(down, g.glyphX + 2, 13), qRgb(255, 0, 0));
        QCOMPARE(at(down, 0, 0), kDark);
    }
};

QTEST_MAIN(TestFlatButtonPaint)
#include "tst_flatbtn_paint.moc"
