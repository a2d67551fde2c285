// Tests of the flat button's painting: buttons rendered into images and checked pixel by pixel.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QTest>

#include <memory>

using namespace lw;

namespace {

// Colours no drawing routine makes by itself, so every pixel tells where it came from.
const QRgb kBackground = qRgb(10, 200, 30), kFace = qRgb(200, 200, 200), kLight = qRgb(250, 250, 240);
const QRgb kDark = qRgb(100, 100, 110), kText = qRgb(20, 20, 120), kGlyph = qRgb(200, 40, 40);

QRgb at(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & RGB_MASK) | 0xFF000000;
}

// A solid glyph whose top-left pixel carries the transparent colour.
QImage solidGlyph(int width, int height, QRgb colour = kGlyph) {
    QImage glyph(width, height, QImage::Format_RGB32);
    glyph.fill(colour);
    glyph.setPixel(0, 0, qRgb(0, 128, 128));
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
        for (auto [role, colour] : {std::pair{QPalette::Button, kFace},
                                    {QPalette::Light, kLight},
                                    {QPalette::Dark, kDark},
                                    {QPalette::WindowText, kText}})
            palette.setColor(role, QColor(colour));
        QApplication::setPalette(palette);
        // Crisp glyphs of text, so that the colours of captions are exact.
        QFont font = QApplication::font();
        font.setPixelSize(11);
        font.setStyleStrategy(QFont::NoAntialias);
        m_parent.setFont(font);
        m_parent.resize(300, 300);
    }

    // The Exit button's geometry: 58 x 25, glyph 20 x 25 left of the caption. Pressed, the glyph
    // moves one pixel down-right; with bsLowered the caption is moved in the hover look instead, and
    // the bevel's colours swap.
    void glyphAndCaptionPositions() {
        auto button = make(58, 25, solidGlyph(20, 25));
        button->setButtonLayout(blBitmapLeft);
        button->setBevelStyle(bsLowered);
        button->setCaption(QStringLiteral("Exit"));
        const FlatButtonGeometry g = geometryOf(*button);
        hover(button.get());
        const QImage over = render(button.get());
        QCOMPARE(at(over, g.glyphX, g.glyphY + 1), kGlyph);
        QCOMPARE(at(over, g.glyphX + 19, g.glyphY + 23), kGlyph);
        QCOMPARE(at(over, g.glyphX - 1, 10), kBackground);
        QCOMPARE(at(over, g.glyphX + 20, 10), kBackground);
        const QRect caption = boxOf(over, kText);
        QVERIFY(!caption.isEmpty());
        QVERIFY(QRect(g.captionRect).translated(1, 1).contains(caption));
        QVERIFY(caption.left() <= g.textX + 3);
        QCOMPARE(at(over, 0, 12), kDark); // bsLowered turns the raised form's bevel round
        QCOMPARE(at(over, 57, 12), kLight);

        press(button.get());
        const QImage down = render(button.get());
        QCOMPARE(at(down, g.glyphX + 1, g.glyphY + 1), kBackground); // the transparent corner
        QCOMPARE(at(down, g.glyphX + 2, g.glyphY + 1), kGlyph);
        QCOMPARE(at(down, g.glyphX, 10), kBackground);
        QCOMPARE(at(down, g.glyphX + 20, 10), kGlyph);
        QCOMPARE(boxOf(down, kText), caption.translated(-1, -1));
        QCOMPARE(at(down, 0, 12), kLight);
        QCOMPARE(at(down, 57, 12), kDark);
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
        hover(button.get());
        QCOMPARE(countOf(render(button.get()), kGlyph), 63);
    }
};

QTEST_MAIN(TestFlatButtonPaint)
#include "tst_flatbtn_paint.moc"
