// Tests of the flat button's behaviour: property writers, groups, hints, mouse, menus,
// accelerators and the stored grey image.
#include "ui/flatbtn.h"
#include "ui/flatbtn_glyphs.h"

#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
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

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

void click(TFlatButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
}

// Closes the next pop-up menu once it shows, after running action on it; records where it stood.
void closeNextPopup(QPoint* topLeft, std::function<void(QMenu*)> action = {}) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        *topLeft = menu->geometry().topLeft();
        if (action)
            action(menu);
        menu->close();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

using Action = void (*)(TFlatButton&);

} // namespace

Q_DECLARE_METATYPE(Action)

class TestFlatButton : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void construction_data();
    void construction();
    void repaintRules_data();
    void repaintRules();
    void exclusiveGroups();
    void downNeedsGroup();
    void pressMoveRelease_data();
    void pressMoveRelease();
    void pointerEntersAndLeaves();
    void doubleClickIsSecondPress();
    void dropDownMenu();
    void popupMenu();
    void disabling();
    void pressBringsFormToFront();
    void iconOnlyHint_data();
    void iconOnlyHint();
    void removingIconOnly();
    void accelerator_data();
    void accelerator();
    void greyImageInDesigner();
    void storedGreyImage();
    void storedProperties();

private:
    std::unique_ptr<QWidget> m_window;
};

void TestFlatButton::init() {
    m_window = std::make_unique<QWidget>();
    m_window->resize(400, 300);
    m_window->move(0, 0);
}

void TestFlatButton::cleanup() {
    m_window.reset();
    QCursor::setPos(799, 799);
}

void TestFlatButton::construction_data() {
    QTest::addColumn<bool>("designing");
    QTest::addColumn<bool>("ownerLoading");
    QTest::addColumn<QString>("caption");
    QTest::newRow("run time") << false << false << "";
    QTest::newRow("placed in the designer") << true << false << "FlatButton";
    QTest::newRow("read with its window in the designer") << true << true << "";
}

void TestFlatButton::construction() {
    QFETCH(bool, designing);
    QFETCH(bool, ownerLoading);
    QFETCH(QString, caption);
    TFlatButton button(m_window.get(), designing, ownerLoading);
    QCOMPARE(button.caption(), caption);
    QCOMPARE(button.isLoading(), ownerLoading);
    QCOMPARE(button.size(), QSize(50, 40));
    QCOMPARE(button.focusPolicy(), Qt::NoFocus);
    QVERIFY(!button.testAttribute(Qt::WA_NativeWindow));
    QCOMPARE(button.property("Options").value<TFlatButtonOptions>().toByte(), quint8(13));
    QCOMPARE(button.property("Layout").value<TFlatButtonLayout>(), blBitmapTop);
    QCOMPARE(button.property("Alignment").value<TAlignment>(), taCenter);
    QCOMPARE(button.property("BevelStyle").value<TBevelStyle>(), bsRaised);
    QCOMPARE(button.property("ShadingType").value<TFlatButtonShadingType>(), stMedium);
    QCOMPARE(button.property("Enabled").toBool(), true);
    QCOMPARE(button.property("ShowDownPattern").toBool(), true);
    QCOMPARE(button.property("UnselectedFontColor").value<TColor>(), clWindowText);
    QVERIFY(!button.isPressed() && !button.isHovered());
    QVERIFY(TFlatButton::ellipsisFlag());
}

void TestFlatButton::repaintRules_data() {
    QTest::addColumn<Action>("setup");
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("repaints");
    const Action none = [](TFlatButton&) {};
    QTest::newRow("Alignment unchanged")
        << none << Action([](TFlatButton& b) { b.setProperty("Alignment", QVariant::fromValue(taCenter)); })
        << true;
    QTest::newRow("BevelStyle unchanged")
        << none << Action([](TFlatButton& b) { b.setProperty("BevelStyle", QVariant::fromValue(bsRaised)); })
        << true;
    QTest::newRow("Layout unchanged")
        << none << Action([](TFlatButton& b) { b.setProperty("Layout", QVariant::fromValue(blBitmapTop)); })
        << false;
    QTest::newRow("Layout changed") << none << Action([](TFlatButton& b) {
        b.setProperty("Layout", QVariant::fromValue(blBitmapLeft));
    }) << true;
    QTest::newRow("ShowDownPattern unchanged")
        << none << Action([](TFlatButton& b) { b.setProperty("ShowDownPattern", true); }) << false;
    QTest::newRow("ShowDownPattern changed")
        << none << Action([](TFlatButton& b) { b.setProperty("ShowDownPattern", false); }) << true;
    QTest::newRow("UnselectedFontColor unchanged") << none << Action([](TFlatButton& b) {
        b.setProperty("UnselectedFontColor", QVariant::fromValue(clWindowText));
    }) << false;
    QTest::newRow("UnselectedFontColor changed") << none << Action([](TFlatButton& b) {
        b.setProperty("UnselectedFontColor", QVariant::fromValue(TColor(QColor(Qt::red))));
    }) << true;
    QTest::newRow("WordWrap changed")
        << none << Action([](TFlatButton& b) { b.setProperty("WordWrap", true); }) << true;
    QTest::newRow("AllowAllUp") << none << Action([](TFlatButton& b) { b.setProperty("AllowAllUp", true); })
                                << false;
    QTest::newRow("Caption") << none << Action([](TFlatButton& b) { b.setProperty("Caption", "Go"); })
                             << true;
    QTest::newRow("Caption with boIconOnly")
        << Action([](TFlatButton& b) { b.setOptions(defaultFlatButtonOptions.with(boIconOnly)); })
        << Action([](TFlatButton& b) { b.setProperty("Caption", "Go"); }) << false;
    QTest::newRow("Bitmap") << none << Action([](TFlatButton& b) {
        b.setProperty("Bitmap", QImage(4, 4, QImage::Format_RGB32));
    }) << true;
    QTest::newRow("NoFocusBitmap") << none << Action([](TFlatButton& b) {
        b.setProperty("NoFocusBitmap", QImage(4, 4, QImage::Format_RGB32));
    }) << true;
    QTest::newRow("DisabledBitmap, enabled") << none << Action([](TFlatButton& b) {
        b.setProperty("DisabledBitmap", QImage(4, 4, QImage::Format_RGB32));
    }) << false;
    QTest::newRow("DisabledBitmap, disabled")
        << Action([](TFlatButton& b) { b.setButtonEnabled(false); })
        << Action([](TFlatButton& b) { b.setProperty("DisabledBitmap", QImage(4, 4, QImage::Format_RGB32)); })
        << true;
    QTest::newRow("DropDownMenu with boPopupMark") << none << Action([](TFlatButton& b) {
        b.setProperty("DropDownMenu", QVariant::fromValue(b.findChild<QMenu*>()));
    }) << true;
    QTest::newRow("DropDownMenu without boPopupMark")
        << Action([](TFlatButton& b) { b.setOptions({boShowBevel}); }) << Action([](TFlatButton& b) {
               b.setProperty("DropDownMenu", QVariant::fromValue(b.findChild<QMenu*>()));
           })
        << false;
    QTest::newRow("Down without a group")
        << none << Action([](TFlatButton& b) { b.setProperty("Down", true); }) << false;
    QTest::newRow("Down in a group") << Action([](TFlatButton& b) { b.setGroupIndex(3); })
                                     << Action([](TFlatButton& b) { b.setProperty("Down", true); }) << true;
    QTest::newRow("GroupIndex changed")
        << none << Action([](TFlatButton& b) { b.setProperty("GroupIndex", 2); }) << false;
    QTest::newRow("GroupIndex to 0 while down") << Action([](TFlatButton& b) {
        b.setGroupIndex(3);
        b.setDown(true);
    }) << Action([](TFlatButton& b) { b.setProperty("GroupIndex", 0); })
                                                << true;
    QTest::newRow("Enabled unchanged")
        << none << Action([](TFlatButton& b) { b.setProperty("Enabled", true); }) << false;
    QTest::newRow("Enabled changed") << none
                                     << Action([](TFlatButton& b) { b.setProperty("Enabled", false); })
                                     << true;
    QTest::newRow("Options") << none << Action([](TFlatButton& b) {
        b.setProperty("Options", QVariant::fromValue(defaultFlatButtonOptions));
    }) << true;
    QTest::newRow("ShadingType at run time")
        << Action([](TFlatButton& b) { b.setBitmap(QImage(4, 4, QImage::Format_RGB32)); })
        << Action([](TFlatButton& b) { b.setProperty("ShadingType", QVariant::fromValue(stDark)); }) << false;
    QTest::newRow("ShadingType in the designer") << Action([](TFlatButton& b) {
        b.setDesigning(true);
        b.setBitmap(QImage(4, 4, QImage::Format_RGB32));
    }) << Action([](TFlatButton& b) { b.setProperty("ShadingType", QVariant::fromValue(stDark)); })
                                                 << true;
}

void TestFlatButton::repaintRules() {
    QFETCH(Action, setup);
    QFETCH(Action, action);
    QFETCH(bool, repaints);
    auto* button = new TFlatButton(m_window.get());
    new QMenu(button);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    setup(*button);
    QCoreApplication::processEvents();
    PaintCounter counter(button);
    action(*button);
    // Repaint means at once: the paint happened inside the writer.
    if (repaints)
        QVERIFY(counter.count >= 1);
    else
        QCOMPARE(counter.count, 0);
}

void TestFlatButton::exclusiveGroups() {
    QWidget* panel = new QWidget(m_window.get());
    QWidget* otherPanel = new QWidget(m_window.get());
    otherPanel->move(0, 100);
    QList<TFlatButton*> group;
    for (int i = 0; i < 3; ++i) {
        auto* button = new TFlatButton(panel);
        button->move(60 * i, 0);
        button->setGroupIndex(1);
        group << button;
    }
    auto* secondGroup = new TFlatButton(panel);
    secondGroup->move(200, 0);
    secondGroup->setGroupIndex(2);
    secondGroup->setDown(true);
    auto* elsewhere = new TFlatButton(otherPanel);
    elsewhere->setGroupIndex(1);
    elsewhere->setDown(true);
    m_window->show();
    QSignalSpy clicks(group[2], &TFlatButton::clicked);

    auto downs = [&] {
        return QList<bool>{group[0]->down(), group[1]->down(), group[2]->down(), secondGroup->down(),
                           elsewhere->down()};
    };
    click(group[1]);
    QCOMPARE(downs(), (QList<bool>{false, true, false, true, true}));
    click(group[2]);
    QCOMPARE(downs(), (QList<bool>{false, false, true, true, true}));
    QCOMPARE(clicks.count(), 1);
    // Without AllowAllUp a second click leaves it down.
    click(group[2]);
    QCOMPARE(downs(), (QList<bool>{false, false, true, true, true}));
    QCOMPARE(clicks.count(), 2);

    // AllowAllUp set on one member spreads through the group on the same parent only.
    group[0]->setAllowAllUp(true);
    QVERIFY(group[1]->allowAllUp() && group[2]->allowAllUp());
    QVERIFY(!secondGroup->allowAllUp());
    QVERIFY(!elsewhere->allowAllUp());
    click(group[2]);
    QCOMPARE(downs(), (QList<bool>{false, false, false, true, true}));

    // Setting Down directly releases the other members as well.
    group[0]->setDown(true);
    group[1]->setDown(true);
    QCOMPARE(downs(), (QList<bool>{false, true, false, true, true}));
}

void TestFlatButton::downNeedsGroup() {
    TFlatButton button(m_window.get());
    button.setDown(true);
    QVERIFY(!button.down());
    button.setGroupIndex(4);
    button.setDown(true);
    QVERIFY(button.down());
    button.setGroupIndex(0);
    QVERIFY(!button.down());
}

void TestFlatButton::pressMoveRelease_data() {
    QTest::addColumn<QList<QPoint>>("moves");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("exits");
    QTest::newRow("release inside") << QList<QPoint>{} << QPoint(6, 6) << 1 << 0;
    QTest::newRow("out and released outside") << QList<QPoint>{QPoint(80, 5)} << QPoint(80, 5) << 0 << 1;
    QTest::newRow("onto the left column") << QList<QPoint>{QPoint(0, 5)} << QPoint(0, 5) << 0 << 1;
    QTest::newRow("onto the top row") << QList<QPoint>{QPoint(5, 0)} << QPoint(5, 0) << 0 << 1;
    QTest::newRow("out and back in") << QList<QPoint>{QPoint(80, 5), QPoint(10, 10)} << QPoint(10, 10) << 1
                                     << 1;
}

void TestFlatButton::pressMoveRelease() {
    QFETCH(QList<QPoint>, moves);
    QFETCH(QPoint, release);
    QFETCH(int, clicks);
    QFETCH(int, exits);
    auto* button = new TFlatButton(m_window.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QSignalSpy clicked(button, &TFlatButton::clicked);
    QSignalSpy exited(button, &TFlatButton::OnExit);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(button->isPressed() && button->isHovered());
    for (const QPoint& p : moves)
        QTest::mouseMove(button, p);
    QTest::mouseRelease(button, Qt::LeftButton, {}, release);
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(exited.count(), exits);
    QVERIFY(!button->isPressed());
    if (clicks == 0)
        QVERIFY(!button->isHovered()); // drawn flat
}

void TestFlatButton::pointerEntersAndLeaves() {
    auto* button = new TFlatButton(m_window.get());
    button->move(20, 20);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCursor::setPos(m_window->mapToGlobal(QPoint(300, 250)));
    QCoreApplication::processEvents();
    QSignalSpy entered(button, &TFlatButton::OnEnter);
    QSignalSpy exited(button, &TFlatButton::OnExit);
    PaintCounter paints(button);
    QTest::mouseMove(button, QPoint(10, 10));
    QVERIFY(lw::test::waitFor([&] { return entered.count() == 1; }));
    QVERIFY(button->isHovered());
    QVERIFY(paints.count >= 1);
    QTest::mouseMove(m_window.get(), QPoint(300, 250));
    QVERIFY(lw::test::waitFor([&] { return exited.count() == 1; }));
    QVERIFY(!button->isHovered());
    QCOMPARE(entered.count(), 1);
}

void TestFlatButton::doubleClickIsSecondPress() {
    auto* button = new TFlatButton(m_window.get());
    m_window->show();
    QSignalSpy clicked(button, &TFlatButton::clicked);
    click(button);
    QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 2);
}

void TestFlatButton::dropDownMenu() {
    auto* button = new TFlatButton(m_window.get());
    button->move(30, 40);
    auto* menu = new QMenu(m_window.get());
    QAction* item = menu->addAction(QStringLiteral("Item"));
    button->setDropDownMenu(menu);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCursor::setPos(m_window->mapToGlobal(QPoint(350, 280)));
    QSignalSpy clicked(button, &TFlatButton::clicked);
    QSignalSpy chosen(item, &QAction::triggered);

    QPoint shownAt;
    closeNextPopup(&shownAt, [item](QMenu*) { item->trigger(); });
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    // The menu opened under the button's left edge and, closed, left the button flat.
    QCOMPARE(shownAt, button->mapToGlobal(QPoint(0, button->height())));
    QCOMPARE(chosen.count(), 1);
    QVERIFY(!button->isPressed());
    QVERIFY(!button->isHovered());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 0);

    // When the menu goes first, the button forgets it and clicks like any other.
    delete menu;
    QCOMPARE(button->dropDownMenu(), nullptr);
    click(button);
    QCOMPARE(clicked.count(), 1);
}

void TestFlatButton::popupMenu() {
    auto* button = new TFlatButton(m_window.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCursor::setPos(m_window->mapToGlobal(QPoint(350, 280)));
    const QPoint local(5, 5);
    // Without a menu of its own the request goes on to the parents.
    QContextMenuEvent plain(QContextMenuEvent::Mouse, local, button->mapToGlobal(local));
    QApplication::sendEvent(button, &plain);
    QVERIFY(!plain.isAccepted());

    auto* menu = new QMenu(m_window.get());
    menu->addAction(QStringLiteral("Item"));
    button->setPopupMenu(menu);
    QTest::mousePress(button, Qt::LeftButton, {}, local);
    QVERIFY(button->isPressed());
    QPoint shownAt;
    closeNextPopup(&shownAt);
    QContextMenuEvent request(QContextMenuEvent::Mouse, local, button->mapToGlobal(local));
    QApplication::sendEvent(button, &request);
    QVERIFY(request.isAccepted());
    QCOMPARE(shownAt, button->mapToGlobal(local));
    QVERIFY(!button->isPressed());
    QVERIFY(!button->isHovered());

    delete menu;
    QCOMPARE(button->popupMenu(), nullptr);
    QContextMenuEvent after(QContextMenuEvent::Mouse, local, button->mapToGlobal(local));
    QApplication::sendEvent(button, &after);
    QVERIFY(!after.isAccepted());
}

void TestFlatButton::disabling() {
    auto* plain = new TFlatButton(m_window.get());
    auto* grouped = new TFlatButton(m_window.get());
    grouped->move(100, 0);
    grouped->setGroupIndex(1);
    grouped->setDown(true);
    m_window->show();
    QSignalSpy clicked(plain, &TFlatButton::clicked);

    QTest::mousePress(plain, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(plain->isPressed() && plain->isHovered());
    plain->setButtonEnabled(false);
    QVERIFY(!plain->isPressed());
    QVERIFY(!plain->isHovered());
    QTest::mouseRelease(plain, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 0);
    // A disabled button still gets the mouse and ignores it.
    QVERIFY(plain->isEnabled());
    click(plain);
    QVERIFY(!plain->isPressed());
    QCOMPARE(clicked.count(), 0);
    plain->setButtonEnabled(true);
    click(plain);
    QCOMPARE(clicked.count(), 1);

    grouped->setButtonEnabled(false);
    QVERIFY(grouped->down());
    click(grouped);
    QVERIFY(grouped->down());
}

void TestFlatButton::pressBringsFormToFront() {
    QMdiArea area;
    area.resize(500, 400);
    auto* first = new QWidget;
    auto* second = new QWidget;
    auto* button = new TFlatButton(first);
    QMdiSubWindow* firstSub = area.addSubWindow(first);
    QMdiSubWindow* secondSub = area.addSubWindow(second);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    area.setActiveSubWindow(secondSub);
    QCOMPARE(area.activeSubWindow(), secondSub);
    // Even a disabled button brings its form to the front.
    button->setButtonEnabled(false);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(area.activeSubWindow(), firstSub);
}

void TestFlatButton::iconOnlyHint_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::newRow("doubled and single marks") << "Save && E&xit"
                                              << "Save & Exit";
    QTest::newRow("mark at the end") << "Exit&"
                                     << "Exit&";
}

void TestFlatButton::iconOnlyHint() {
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    TFlatButton button(m_window.get());
    button.setCaption(caption);
    QVERIFY(button.hint().isEmpty());
    button.setOptions(defaultFlatButtonOptions.with(boIconOnly));
    QCOMPARE(button.hint(), hint);
    QVERIFY(button.showHint());
    // A new caption renews the hint and leaves ShowHint as it is.
    button.setShowHint(false);
    button.setCaption(caption + QStringLiteral("&2"));
    QCOMPARE(button.hint(), hint + QStringLiteral("2"));
    QVERIFY(!button.showHint());
}

void TestFlatButton::removingIconOnly() {
    TFlatButton derived(m_window.get());
    derived.setCaption(QStringLiteral("&Open"));
    derived.setOptions(defaultFlatButtonOptions.with(boIconOnly));
    QCOMPARE(derived.hint(), QStringLiteral("Open"));
    derived.setOptions(defaultFlatButtonOptions);
    QCOMPARE(derived.hint(), QString());
    QVERIFY(!derived.showHint());

    TFlatButton own(m_window.get());
    own.setCaption(QStringLiteral("&Open"));
    own.setHint(QStringLiteral("Open a report definition"));
    own.setShowHint(true);
    own.setOptions(defaultFlatButtonOptions.with(boIconOnly));
    QCOMPARE(own.hint(), QStringLiteral("Open a report definition"));
    own.setOptions(defaultFlatButtonOptions);
    QCOMPARE(own.hint(), QStringLiteral("Open a report definition"));
    QVERIFY(own.showHint());
}

void TestFlatButton::accelerator_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("clicks");
    QTest::newRow("enabled") << true << true << 1;
    QTest::newRow("disabled") << false << true << 0;
    QTest::newRow("hidden") << true << false << 0;
}

void TestFlatButton::accelerator() {
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(int, clicks);
    auto* edit = new QLineEdit(m_window.get());
    edit->move(0, 100);
    auto* button = new TFlatButton(m_window.get());
    button->setCaption(QStringLiteral("E&xit"));
    button->setButtonEnabled(enabled);
    button->setVisible(visible);
    // Another control that takes Alt+X when the button does not.
    QAction* other = nullptr;
    if (!enabled || !visible) {
        other = new QAction(m_window.get());
        other->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
        m_window->addAction(other);
    }
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    edit->setFocus();
    QCursor::setPos(m_window->mapToGlobal(QPoint(350, 280)));
    QSignalSpy clicked(button, &TFlatButton::clicked);
    std::unique_ptr<QSignalSpy> triggered(other ? new QSignalSpy(other, &QAction::triggered) : nullptr);

    QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
    QCOMPARE(clicked.count(), clicks);
    if (triggered)
        QCOMPARE(triggered->count(), 1);
    QCOMPARE(edit->text(), QString());
    // The pointer is elsewhere: the button ends flat.
    QVERIFY(!button->isHovered());
    QVERIFY(!button->isPressed());

    // The accelerator follows the caption.
    if (enabled && visible) {
        button->setCaption(QStringLiteral("&Quit"));
        QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicked.count(), 1);
        QTest::keyClick(edit, Qt::Key_Q, Qt::AltModifier);
        QCOMPARE(clicked.count(), 2);
    }
}

void TestFlatButton::greyImageInDesigner() {
    const QImage glyph = programButtonGlyph();
    // At run time the grey image is never computed.
    TFlatButton running(m_window.get());
    running.setBitmap(glyph);
    QVERIFY(running.greyBitmap().isNull());
    QCOMPARE(running.IBitmap(), QByteArray());

    // In the designer it follows Bitmap...
    TFlatButton designed(m_window.get(), true, false);
    designed.setBitmap(glyph);
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stMedium));
    // ...and ShadingType.
    designed.setShadingType(stLight);
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stLight));
    QVERIFY(designed.greyBitmap() != deriveGreyImage(glyph, stMedium));

    // A NoFocusBitmap takes its place: the grey image is left as it was.
    designed.setNoFocusBitmap(programButtonNoFocusGlyph());
    designed.setShadingType(stDark);
    designed.setBitmap(glyph.mirrored(true, false));
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stLight));
    // Emptying NoFocusBitmap brings it back.
    designed.setNoFocusBitmap(QImage());
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph.mirrored(true, false), stDark));

    // While its window is read, the Bitmap waits for the end of loading.
    TFlatButton loading(m_window.get(), true, true);
    loading.setBitmap(glyph);
    QVERIFY(loading.greyBitmap().isNull());
    loading.loaded();
    QVERIFY(!loading.isLoading());
    QCOMPARE(loading.greyBitmap(), deriveGreyImage(glyph, stMedium));
}

void TestFlatButton::storedGreyImage() {
    // The stored form of a 20 x 24 16-colour grey image: a 406-byte 4-bit bitmap file.
    TFlatButton designed(m_window.get(), true, false);
    designed.setBitmap(programButtonNoFocusGlyph());
    const QByteArray stored = designed.IBitmap();
    QVERIFY(stored.startsWith("BM"));
    QCOMPARE(stored.size(), 406);
    QCOMPARE(quint8(stored.at(28)), quint8(4)); // bits per pixel

    TFlatButton loaded(m_window.get());
    loaded.setIBitmap(stored);
    QCOMPARE(loaded.greyBitmap().size(), QSize(20, 24));
    QCOMPARE(loaded.greyBitmap().convertToFormat(QImage::Format_RGB32),
             designed.greyBitmap().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(loaded.IBitmap(), stored);

    // Nothing stored, or bytes that are no bitmap: an empty grey image.
    loaded.setIBitmap(QByteArray());
    QVERIFY(loaded.greyBitmap().isNull());
    loaded.setIBitmap(QByteArray("BM") + QByteArray(60, '\xff'));
    QVERIFY(loaded.greyBitmap().isNull());
    QCOMPARE(loaded.IBitmap(), QByteArray());
}

void TestFlatButton::storedProperties() {
    TFlatButton plain(m_window.get());
    QList<QByteArray> names;
    for (const auto& property : plain.storedProperties())
        names << property.first;
    QCOMPARE(names, (QList<QByteArray>{"Options", "IBitmap"}));

    // Down is stored after GroupIndex, so a stored down button comes back down.
    TFlatButton source(m_window.get(), true, false);
    source.setCaption(QStringLiteral("Go"));
    source.setGroupIndex(2);
    source.setDown(true);
    source.setButtonLayout(blBitmapRight);
    source.setBitmap(programButtonGlyph());
    names.clear();
    for (const auto& property : source.storedProperties())
        names << property.first;
    QCOMPARE(names,
             (QList<QByteArray>{"Bitmap", "Caption", "GroupIndex", "Down", "Layout", "Options", "IBitmap"}));

    TFlatButton copy(m_window.get(), true, true);
    copy.readStoredProperties(source.storedProperties());
    QVERIFY(!copy.isLoading());
    QCOMPARE(copy.caption(), QStringLiteral("Go"));
    QCOMPARE(copy.groupIndex(), 2);
    QVERIFY(copy.down());
    QCOMPARE(copy.buttonLayout(), blBitmapRight);
    QCOMPARE(copy.IBitmap(), source.IBitmap());
}

QTEST_MAIN(TestFlatButton)
#include "tst_flatbtn.moc"
