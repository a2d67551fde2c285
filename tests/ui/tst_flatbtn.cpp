// Tests of the flat button's behaviour: property writers, groups, hints, mouse, menus,
// accelerators and the stored grey image.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include "support/testsupport.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace lw;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

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

// What a row of the repaint table does to the button before the property is written.
enum Setup { Plain, IconOnly, Disabled, Grouped, GroupedDown, Designer };

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

    void repaintRules_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("repaints");
        const QImage image(4, 4, QImage::Format_RGB32);
        auto row = [](const char* name, Setup setup, const char* property, const QVariant& value,
                      bool repaints) {
            QTest::newRow(name) << int(setup) << QByteArray(property) << value << repaints;
        };
        row("Alignment unchanged", Plain, "Alignment", QVariant::fromValue(taCenter), true);
        row("Layout unchanged", Plain, "Layout", QVariant::fromValue(blBitmapTop), false);
        row("Caption with boIconOnly", IconOnly, "Caption", "Go", false);
        row("DisabledBitmap, enabled", Plain, "DisabledBitmap", image, false);
        row("DisabledBitmap, disabled", Disabled, "DisabledBitmap", image, true);
        row("Down without a group", Plain, "Down", true, false);
        row("Down in a group", Grouped, "Down", true, true);
        row("GroupIndex to 0 while down", GroupedDown, "GroupIndex", 0, true);
        row("ShadingType at run time", Plain, "ShadingType", QVariant::fromValue(stDark), false);
        row("ShadingType in the designer", Designer, "ShadingType", QVariant::fromValue(stDark), true);
    }
    // Repaint means at once: the paint happens inside the writer.
    void repaintRules() {
        QFETCH(int, setup);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        TFlatButton* button = shownButton();
        QVERIFY(button);
        button->setBitmap(QImage(4, 4, QImage::Format_RGB32));
        if (setup == IconOnly)
            button->setOptions(defaultFlatButtonOptions.with(boIconOnly));
        button->setButtonEnabled(setup != Disabled);
        button->setGroupIndex(setup == Grouped || setup == GroupedDown ? 3 : 0);
        button->setDown(setup == GroupedDown);
        button->setDesigning(setup == Designer);
        PaintCounter counter(button);
        QVERIFY(button->setProperty(property.constData(), value));
        QTEST(counter.count > 0, "repaints");
    }

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
        QCOMPARE(downs(), (B{false, true, false, true, true}));
        click(b[2]);
        QCOMPARE(downs(), (B{false, false, true, true, true}));
        click(b[2]); // without AllowAllUp it stays down, and clicks
        QCOMPARE(downs(), (B{false, false, true, true, true}));
        QCOMPARE(clicks.count(), 2);

        // AllowAllUp set on one member spreads through the group on the same parent only.
        b[0]->setAllowAllUp(true);
        QCOMPARE((B{b[1]->allowAllUp(), b[2]->allowAllUp(), b[3]->allowAllUp(), b[4]->allowAllUp()}),
                 (B{true, true, false, false}));
        click(b[2]);
        QCOMPARE(downs(), (B{false, false, false, true, true}));

        // Setting Down directly releases the other members; GroupIndex 0 releases and ignores Down.
        b[0]->setDown(true);
        b[1]->setDown(true);
        QCOMPARE(downs(), (B{false, true, false, true, true}));
        b[1]->setGroupIndex(0);
        QVERIFY(!b[1]->down());
        b[1]->setDown(true);
        QVERIFY(!b[1]->down());
    }

    void pressMoveRelease_data() {
        QTest::addColumn<QList<QPoint>>("moves");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("exits");
        QTest::newRow("release inside") << QList<QPoint>{} << 1 << 0;
        QTest::newRow("out and released outside") << QList<QPoint>{QPoint(80, 5)} << 0 << 1;
        QTest::newRow("onto the left column") << QList<QPoint>{QPoint(0, 5)} << 0 << 1; // inside is strict
        QTest::newRow("out and back in") << QList<QPoint>{QPoint(80, 5), QPoint(10, 10)} << 1 << 1;
    }
    void pressMoveRelease() {
        QFETCH(QList<QPoint>, moves);
        QFETCH(int, clicks);
        TFlatButton* button = shownButton();
        QVERIFY(button);
        QSignalSpy clicked(button, &TFlatButton::clicked);
        QSignalSpy exited(button, &TFlatButton::OnExit);
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(button->isPressed() && button->isHovered());
        for (const QPoint& p : moves)
            QTest::mouseMove(button, p);
        QTest::mouseRelease(button, Qt::LeftButton, {}, moves.isEmpty() ? QPoint(6, 6) : moves.last());
        QCOMPARE(clicked.count(), clicks);
        QTEST(int(exited.count()), "exits");
        QVERIFY(!button->isPressed());
        QVERIFY(clicks == 1 || !button->isHovered()); // drawn flat
    }

    // The drop-down menu opens under the left edge on a press, with no click; the right button opens
    // the popup menu where it was pressed. Either way the button ends flat; a menu destroyed first is
    // forgotten.
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

    // Disabling clears pressed and hover at once; the disabled button still gets the mouse and
    // ignores it; a down button of a group stays down.
    void disabling() {
        TFlatButton* plain = shownButton();
        QVERIFY(plain);
        auto* grouped = new TFlatButton(m_window.get());
        grouped->setGroupIndex(1);
        grouped->setDown(true);
        grouped->show();
        QSignalSpy clicked(plain, &TFlatButton::clicked);
        QTest::mousePress(plain, Qt::LeftButton, {}, QPoint(5, 5));
        plain->setButtonEnabled(false);
        QVERIFY(!plain->isPressed() && !plain->isHovered());
        QTest::mouseRelease(plain, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(plain->isEnabled());
        click(plain);
        QVERIFY(!plain->isPressed());
        QCOMPARE(clicked.count(), 0);
        plain->setButtonEnabled(true);
        click(plain);
        QCOMPARE(clicked.count(), 1);
        grouped->setButtonEnabled(false);
        click(grouped);
        QVERIFY(grouped->down());
    }

    void iconOnlyHint() {
        TFlatButton derived(m_window.get());
        derived.setCaption(QStringLiteral("Save && E&xit"));
        derived.setOptions(defaultFlatButtonOptions.with(boIconOnly));
        QCOMPARE(derived.hint(), QStringLiteral("Save & Exit"));
        QVERIFY(derived.showHint());
        // A new caption renews the hint and leaves ShowHint as it is.
        derived.setShowHint(false);
        derived.setCaption(QStringLiteral("Exit&"));
        QCOMPARE(derived.hint(), QStringLiteral("Exit&"));
        QVERIFY(!derived.showHint());
        QCOMPARE(hintFromCaption(QStringLiteral("&&&x")), QStringLiteral("&x"));
        QCOMPARE(hintFromCaption(QStringLiteral("a&&")), QStringLiteral("a&"));
        // Removing boIconOnly clears a derived hint but keeps one set to something else.
        derived.setOptions(defaultFlatButtonOptions);
        QCOMPARE(derived.hint(), QString());
        derived.setOptions(defaultFlatButtonOptions.with(boIconOnly));
        derived.setHint(QStringLiteral("Leave"));
        derived.setOptions(defaultFlatButtonOptions);
        QCOMPARE(derived.hint(), QStringLiteral("Leave"));
    }

    void accelerator_data() {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled: the key goes on to another control") << false;
    }
    void accelerator() {
        QFETCH(bool, enabled);
        TFlatButton* button = shownButton();
        QVERIFY(button);
        button->setCaption(QStringLiteral("E&xit"));
        button->setButtonEnabled(enabled);
        auto* edit = new QLineEdit(m_window.get());
        edit->move(0, 100);
        edit->show();
        auto* other = new QAction(m_window.get()); // takes Alt+X when the button does not
        other->setShortcut(enabled ? QKeySequence() : QKeySequence(Qt::ALT | Qt::Key_X));
        m_window->addAction(other);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        edit->setFocus();
        QSignalSpy clicked(button, &TFlatButton::clicked);
        QSignalSpy triggered(other, &QAction::triggered);
        QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicked.count(), enabled ? 1 : 0);
        QCOMPARE(triggered.count(), enabled ? 0 : 1);
        QCOMPARE(edit->text(), QString());
        QVERIFY(!button->isHovered() && !button->isPressed()); // the pointer is elsewhere: flat
        if (enabled) {
            // The accelerator follows the caption.
            button->setCaption(QStringLiteral("&Quit"));
            QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
            QCOMPARE(clicked.count(), 1);
            QTest::keyClick(edit, Qt::Key_Q, Qt::AltModifier);
            QCOMPARE(clicked.count(), 2);
        }
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
        QVERIFY(designed.greyBitmap() != deriveGreyImage(glyph, stMedium));
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
