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

} // namespace

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
    void pressMoveRelease_data();
    void pressMoveRelease();
    void pointerEntersAndLeaves();
    void dropDownMenu();
    void popupMenu();
    void disabling();
    void pressBringsFormToFront();
    void iconOnlyHint();
    void accelerator_data();
    void accelerator();
    void greyImageInDesigner();
    void storedGreyImage();

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
    QCOMPARE(button.property("Options").value<TFlatButtonOptions>().toByte(), quint8(13));
}

namespace {

// What a row of the repaint table does to the button before the property is written.
enum Setup { Plain, IconOnly, NoPopupMark, Disabled, Grouped, GroupedDown, Designer };

} // namespace

void TestFlatButton::repaintRules_data() {
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("repaints");
    const QImage image(4, 4, QImage::Format_RGB32);
    auto row = [](const char* name, Setup setup, const char* property, const QVariant& value, bool repaints) {
        QTest::newRow(name) << int(setup) << QByteArray(property) << value << repaints;
    };
    row("Alignment unchanged", Plain, "Alignment", QVariant::fromValue(taCenter), true);
    row("BevelStyle unchanged", Plain, "BevelStyle", QVariant::fromValue(bsRaised), true);
    row("Layout unchanged", Plain, "Layout", QVariant::fromValue(blBitmapTop), false);
    row("Layout changed", Plain, "Layout", QVariant::fromValue(blBitmapLeft), true);
    row("ShowDownPattern unchanged", Plain, "ShowDownPattern", true, false);
    row("WordWrap changed", Plain, "WordWrap", true, true);
    row("UnselectedFontColor unchanged", Plain, "UnselectedFontColor", QVariant::fromValue(clWindowText),
        false);
    row("AllowAllUp", Grouped, "AllowAllUp", true, false);
    row("Caption", Plain, "Caption", "Go", true);
    row("Caption with boIconOnly", IconOnly, "Caption", "Go", false);
    row("Bitmap", Plain, "Bitmap", image, true);
    row("DisabledBitmap, enabled", Plain, "DisabledBitmap", image, false);
    row("DisabledBitmap, disabled", Disabled, "DisabledBitmap", image, true);
    row("DropDownMenu with boPopupMark", Plain, "DropDownMenu", QVariant(), true);
    row("DropDownMenu without boPopupMark", NoPopupMark, "DropDownMenu", QVariant(), false);
    row("Down without a group", Plain, "Down", true, false);
    row("Down in a group", Grouped, "Down", true, true);
    row("GroupIndex changed", Plain, "GroupIndex", 2, false);
    row("GroupIndex to 0 while down", GroupedDown, "GroupIndex", 0, true);
    row("Enabled unchanged", Plain, "Enabled", true, false);
    row("Enabled changed", Plain, "Enabled", false, true);
    row("Options", Plain, "Options", QVariant::fromValue(defaultFlatButtonOptions), true);
    row("ShadingType at run time", Plain, "ShadingType", QVariant::fromValue(stDark), false);
    row("ShadingType in the designer", Designer, "ShadingType", QVariant::fromValue(stDark), true);
}

void TestFlatButton::repaintRules() {
    QFETCH(int, setup);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(bool, repaints);
    auto* button = new TFlatButton(m_window.get());
    auto* menu = new QMenu(m_window.get());
    button->setBitmap(QImage(4, 4, QImage::Format_RGB32));
    switch (Setup(setup)) {
    case IconOnly:
        button->setOptions(defaultFlatButtonOptions.with(boIconOnly));
        break;
    case NoPopupMark:
        button->setOptions({boShowBevel});
        break;
    case Disabled:
        button->setButtonEnabled(false);
        break;
    case GroupedDown:
        button->setGroupIndex(3);
        button->setDown(true);
        break;
    case Grouped:
        button->setGroupIndex(3);
        break;
    case Designer:
        button->setDesigning(true);
        break;
    case Plain:
        break;
    }
    if (property == "DropDownMenu")
        value = QVariant::fromValue(menu);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    PaintCounter counter(button);
    QVERIFY(button->setProperty(property.constData(), value));
    // Repaint means at once: the paint happens inside the writer.
    QCOMPARE(counter.count > 0, repaints);
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

    // Setting Down directly releases the other members as well; without a group Down stays off.
    group[0]->setDown(true);
    group[1]->setDown(true);
    QCOMPARE(downs(), (QList<bool>{false, true, false, true, true}));
    group[1]->setGroupIndex(0);
    QVERIFY(!group[1]->down());
    group[1]->setDown(true);
    QVERIFY(!group[1]->down());
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

    // Once the menu is gone the request goes on to the parents.
    delete menu;
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

void TestFlatButton::iconOnlyHint() {
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
    // Removing boIconOnly clears a derived hint...
    derived.setOptions(defaultFlatButtonOptions);
    QCOMPARE(derived.hint(), QString());

    // ...but keeps one set to something else.
    TFlatButton own(m_window.get());
    own.setCaption(QStringLiteral("&Open"));
    own.setHint(QStringLiteral("Open a report definition"));
    own.setShowHint(true);
    own.setOptions(defaultFlatButtonOptions.with(boIconOnly));
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

QTEST_MAIN(TestFlatButton)
#include "tst_flatbtn.moc"
