// Tests of the flat button's behaviour: groups, mouse, menus, accelerators and the stored grey image.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <tuple>

using namespace lw;

namespace {

void click(TFlatButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
}

// Closes the next pop-up menu once it shows, after triggering its first item; records where it stood.
void closeNextPopup(QPoint* topLeft) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            *topLeft = menu->geometry().topLeft();
            menu->actions().first()->trigger();
            menu->close();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

} // namespace

class TestFlatButton : public QObject {
    Q_OBJECT
    std::unique_ptr<QWidget> m_window;

    // A button on the test window, shown and exposed, with the pointer parked away from it.
    TFlatButton* shownButton() {
        auto* button = new TFlatButton(m_window.get());
        button->move(30, 40);
        m_window->setGeometry(0, 0, 400, 300);
        m_window->show();
        QCursor::setPos(m_window->mapToGlobal(QPoint(350, 280)));
        return QTest::qWaitForWindowExposed(m_window.get()) ? button : nullptr;
    }

private slots:
    void init() { m_window = std::make_unique<QWidget>(); }
    void cleanup() { m_window.reset(); }

    // Three of group 1 and one of group 2 on one panel, one of group 1 on another panel.
    void exclusiveGroups() {
        QWidget* panel = new QWidget(m_window.get());
        QList<TFlatButton*> b;
        for (int i = 0; i < 5; ++i) {
            b << new TFlatButton(i < 4 ? panel : new QWidget(m_window.get()));
            b[i]->move(60 * i, 0);
            b[i]->setGroupIndex(i == 3 ? 2 : 1);
        }
        b[3]->setDown(true);
        b[4]->setDown(true);
        m_window->show();
        QSignalSpy clicks(b[2], &TFlatButton::clicked);
        using B = QList<bool>;
        auto downs = [&] { return B{b[0]->down(), b[1]->down(), b[2]->down(), b[3]->down(), b[4]->down()}; };
        click(b[1]);
        click(b[2]);
        QCOMPARE(downs(), (B{false, false, true, true, true}));
        click(b[2]); // without AllowAllUp it stays down, and clicks
        QCOMPARE(downs(), (B{false, false, true, true, true}));
        QCOMPARE(clicks.count(), 2);
    }

    // Pressed and moved out, a release outside is no click; moved back in first, it is one. Either
    // way the button leaves once and ends flat.
    void pressMoveRelease() {
        TFlatButton* button = shownButton();
        QVERIFY(button);
        QSignalSpy clicked(button, &TFlatButton::clicked);
        QSignalSpy exited(button, &TFlatButton::OnExit);
        for (const QPoint end : {QPoint(80, 5), QPoint(10, 10)}) {
            QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
            QVERIFY(button->isPressed() && button->isHovered());
            QTest::mouseMove(button, QPoint(80, 5));
            QTest::mouseMove(button, end);
            QTest::mouseRelease(button, Qt::LeftButton, {}, end);
            QVERIFY(!button->isPressed());
            QVERIFY(clicked.count() == 1 || !button->isHovered());
        }
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(exited.count(), 2);
    }

    // The drop-down menu opens under the left edge on a press, with no click; the right button opens
    // the popup menu where it was pressed. Either way the button ends flat; a menu destroyed first is
    // forgotten, never used.
    void menus() {
        TFlatButton* button = shownButton();
        QVERIFY(button);
        auto* dropDown = new QMenu(m_window.get());
        QSignalSpy chosen(dropDown->addAction(QStringLiteral("Item")), &QAction::triggered);
        auto* popup = new QMenu(m_window.get());
        popup->addAction(QStringLiteral("Item"));
        button->setDropDownMenu(dropDown);
        button->setPopupMenu(popup);
        QSignalSpy clicked(button, &TFlatButton::clicked);
        const QPoint local(5, 5);

        QPoint shownAt;
        closeNextPopup(&shownAt);
        QTest::mousePress(button, Qt::LeftButton, {}, local);
        QCOMPARE(shownAt, button->mapToGlobal(QPoint(0, button->height())));
        QCOMPARE(chosen.count(), 1);
        QVERIFY(!button->isPressed() && !button->isHovered());
        QTest::mouseRelease(button, Qt::LeftButton, {}, local);
        QCOMPARE(clicked.count(), 0);
        delete dropDown;
        QCOMPARE(button->dropDownMenu(), nullptr);
        click(button);
        QCOMPARE(clicked.count(), 1);

        QTest::mousePress(button, Qt::LeftButton, {}, local);
        closeNextPopup(&shownAt);
        QContextMenuEvent request(QContextMenuEvent::Mouse, local, button->mapToGlobal(local));
        QApplication::sendEvent(button, &request);
        QVERIFY(request.isAccepted());
        QCOMPARE(shownAt, button->mapToGlobal(local));
        QVERIFY(!button->isPressed() && !button->isHovered());
        delete popup; // the request then goes on to the parents
        QContextMenuEvent after(QContextMenuEvent::Mouse, local, button->mapToGlobal(local));
        QApplication::sendEvent(button, &after);
        QVERIFY(!after.isAccepted());
    }

    // Alt and the marked letter click the button from another control, which does not get the key.
    void accelerator() {
        TFlatButton* button = shownButton();
        QVERIFY(button);
        button->setCaption(QStringLiteral("E&xit"));
        auto* edit = new QLineEdit(m_window.get());
        edit->move(0, 100);
        edit->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        edit->setFocus();
        QSignalSpy clicked(button, &TFlatButton::clicked);
        QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(edit->text(), QString());
        QVERIFY(!button->isHovered() && !button->isPressed()); // the pointer is elsewhere: flat
    }

    // The two glyphs as designed: 16-colour pictures of 20 x 25 (colour) and 20 x 24 (at rest),
    // teal background; the arrow red in colour and black at rest, the doorway navy or grey, the
    // leaf maroon or silver, its knob yellow or white, the floor grey or silver.
    void glyphPixels_data() {
        QTest::addColumn<bool>("resting");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRgb>("colour");
        const QList<std::tuple<const char*, QPoint, QRgb, QRgb>> points = {
            {"background", {0, 0}, 0x008080, 0x008080},   {"frame", {9, 2}, 0x000000, 0x000000},
            {"arrow tip", {1, 12}, 0xFF0000, 0x000000},    {"arrow head", {5, 8}, 0xFF0000, 0x000000},
            {"doorway", {10, 3}, 0x000080, 0x808080},      {"leaf", {16, 12}, 0x800000, 0xC0C0C0},
            {"knob", {15, 12}, 0xFFFF00, 0xFFFFFF},        {"floor", {6, 22}, 0x808080, 0xC0C0C0},
            {"right of the floor", {19, 22}, 0x808080, 0xC0C0C0}, {"last row", {19, 23}, 0x008080, 0x008080},
        };
        for (const auto& [name, at, colour, resting] : points) {
            QTest::addRow("colour, %s", name) << false << at << QRgb(0xFF000000u | colour);
            QTest::addRow("at rest, %s", name) << true << at << QRgb(0xFF000000u | resting);
        }
    }
    void glyphPixels() {
        QFETCH(bool, resting);
        QFETCH(QPoint, at);
        QFETCH(QRgb, colour);
        const QImage glyph = resting ? programButtonNoFocusGlyph() : programButtonGlyph();
        QCOMPARE(glyph.size(), resting ? QSize(20, 24) : QSize(20, 25));
        QCOMPARE(glyph.format(), QImage::Format_Indexed8);
        QCOMPARE(glyph.colorCount(), 16);
        QCOMPARE(glyph.pixel(at), colour);
    }

    // In the designer the grey image follows Bitmap and ShadingType; its stored form "IBitmap" is a
    // complete bitmap file (20 x 25, 16 colours: 418 bytes, 4 bits a pixel) that a running button,
    // which never computes one, reads back. Bytes that are no bitmap give an empty grey image.
    void greyImage() {
        const QImage glyph = programButtonGlyph();
        TFlatButton designed(m_window.get(), true, false);
        designed.setBitmap(glyph);
        designed.setShadingType(stLight);
        QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stLight));
        const QByteArray stored = designed.IBitmap();
        QCOMPARE(stored.size(), 418);
        QCOMPARE(stored.left(2) + char(stored.at(28)), QByteArray("BM\x04"));
        TFlatButton running(m_window.get());
        running.setBitmap(glyph);
        QCOMPARE(running.IBitmap(), QByteArray());
        running.setIBitmap(stored);
        QCOMPARE(running.IBitmap(), stored);
        running.setIBitmap(QByteArray("BM") + QByteArray(60, '\xff'));
        QVERIFY(running.greyBitmap().isNull());
    }
};

QTEST_MAIN(TestFlatButton)
#include "tst_flatbtn.moc"
