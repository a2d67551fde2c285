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
        count += event->type() == QEvent::Paint;
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
    void repaintRules_data();
    void repaintRules();
    void exclusiveGroups();
    void pressMoveRelease_data();
    void pressMoveRelease();
    void menus();
    void disabling();
    void pressBringsFormToFront();
    void iconOnlyHint();
    void accelerator_data();
    void accelerator();
    void designerRules();
    void storedGreyImage();

private:
    // The test window, shown and exposed, with the pointer parked away from any button.
    bool showWindow() {
        m_window->show();
        QCursor::setPos(m_window->mapToGlobal(QPoint(350, 280)));
        return QTest::qWaitForWindowExposed(m_window.get());
    }
    std::unique_ptr<QWidget> m_window;
};

void TestFlatButton::init() {
    m_window = std::make_unique<QWidget>();
    m_window->setGeometry(0, 0, 400, 300);
}

void TestFlatButton::cleanup() {
    m_window.reset();
    QCursor::setPos(799, 799);
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
    row("Layout unchanged", Plain, "Layout", QVariant::fromValue(blBitmapTop), false);
    row("Layout changed", Plain, "Layout", QVariant::fromValue(blBitmapLeft), true);
    row("Caption with boIconOnly", IconOnly, "Caption", "Go", false);
    row("DisabledBitmap, enabled", Plain, "DisabledBitmap", image, false);
    row("DisabledBitmap, disabled", Disabled, "DisabledBitmap", image, true);
    row("DropDownMenu without boPopupMark", NoPopupMark, "DropDownMenu", QVariant(), false);
    row("Down without a group", Plain, "Down", true, false);
    row("Down in a group", Grouped, "Down", true, true);
    row("GroupIndex to 0 while down", GroupedDown, "GroupIndex", 0, true);
    row("ShadingType at run time", Plain, "ShadingType", QVariant::fromValue(stDark), false);
    row("ShadingType in the designer", Designer, "ShadingType", QVariant::fromValue(stDark), true);
}

void TestFlatButton::repaintRules() {
    QFETCH(int, setup);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    auto* button = new TFlatButton(m_window.get());
    button->setBitmap(QImage(4, 4, QImage::Format_RGB32));
    if (setup == IconOnly)
        button->setOptions(defaultFlatButtonOptions.with(boIconOnly));
    if (setup == NoPopupMark)
        button->setOptions({boShowBevel});
    button->setButtonEnabled(setup != Disabled);
    if (setup == Grouped || setup == GroupedDown)
        button->setGroupIndex(3);
    button->setDown(setup == GroupedDown);
    button->setDesigning(setup == Designer);
    if (property == "DropDownMenu")
        value = QVariant::fromValue(new QMenu(m_window.get()));
    QVERIFY(showWindow());
    PaintCounter counter(button);
    QVERIFY(button->setProperty(property.constData(), value));
    // Repaint means at once: the paint happens inside the writer.
    QTEST(counter.count > 0, "repaints");
}

void TestFlatButton::exclusiveGroups() {
    QWidget* panel = new QWidget(m_window.get());
    QWidget* otherPanel = new QWidget(m_window.get());
    otherPanel->move(0, 100);
    QList<TFlatButton*> group;
    for (int i = 0; i < 3; ++i) {
        group << new TFlatButton(panel);
        group[i]->move(60 * i, 0);
        group[i]->setGroupIndex(1);
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
    using B = QList<bool>;
    auto downs = [&] {
        return B{group[0]->down(), group[1]->down(), group[2]->down(), secondGroup->down(),
                 elsewhere->down()};
    };
    click(group[1]);
    QCOMPARE(downs(), (B{false, true, false, true, true}));
    click(group[2]);
    QCOMPARE(downs(), (B{false, false, true, true, true}));
    click(group[2]); // without AllowAllUp it stays down, and clicks
    QCOMPARE(downs(), (B{false, false, true, true, true}));
    QCOMPARE(clicks.count(), 2);

    // AllowAllUp set on one member spreads through the group on the same parent only.
    group[0]->setAllowAllUp(true);
    QVERIFY(group[1]->allowAllUp() && group[2]->allowAllUp());
    QVERIFY(!secondGroup->allowAllUp() && !elsewhere->allowAllUp());
    click(group[2]);
    QCOMPARE(downs(), (B{false, false, false, true, true}));

    // Setting Down directly releases the other members; GroupIndex 0 releases and ignores Down.
    group[0]->setDown(true);
    group[1]->setDown(true);
    QCOMPARE(downs(), (B{false, true, false, true, true}));
    group[1]->setGroupIndex(0);
    QVERIFY(!group[1]->down());
    group[1]->setDown(true);
    QVERIFY(!group[1]->down());
}

void TestFlatButton::pressMoveRelease_data() {
    QTest::addColumn<QList<QPoint>>("moves");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("exits");
    QTest::newRow("release inside") << QList<QPoint>{} << 1 << 0;
    QTest::newRow("out and released outside") << QList<QPoint>{QPoint(80, 5)} << 0 << 1;
    QTest::newRow("onto the left column") << QList<QPoint>{QPoint(0, 5)} << 0 << 1; // inside is strict
    QTest::newRow("out and back in") << QList<QPoint>{QPoint(80, 5), QPoint(10, 10)} << 1 << 1;
}

void TestFlatButton::pressMoveRelease() {
    QFETCH(QList<QPoint>, moves);
    QFETCH(int, clicks);
    auto* button = new TFlatButton(m_window.get());
    QVERIFY(showWindow());
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
    if (clicks == 0)
        QVERIFY(!button->isHovered()); // drawn flat
}

// The drop-down menu opens under the left edge on a press, with no click; the right button opens
// the popup menu where it was pressed. Either way the button ends flat; a menu destroyed first is
// forgotten.
void TestFlatButton::menus() {
    auto* button = new TFlatButton(m_window.get());
    button->move(30, 40);
    auto* dropDown = new QMenu(m_window.get());
    QAction* item = dropDown->addAction(QStringLiteral("Item"));
    auto* popup = new QMenu(m_window.get());
    popup->addAction(QStringLiteral("Item"));
    button->setDropDownMenu(dropDown);
    button->setPopupMenu(popup);
    QVERIFY(showWindow());
    QSignalSpy clicked(button, &TFlatButton::clicked);
    QSignalSpy chosen(item, &QAction::triggered);
    const QPoint local(5, 5);

    QPoint shownAt;
    closeNextPopup(&shownAt, [item](QMenu*) { item->trigger(); });
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

void TestFlatButton::disabling() {
    auto* plain = new TFlatButton(m_window.get());
    auto* grouped = new TFlatButton(m_window.get());
    grouped->move(100, 0);
    grouped->setGroupIndex(1);
    grouped->setDown(true);
    m_window->show();
    QSignalSpy clicked(plain, &TFlatButton::clicked);

    QTest::mousePress(plain, Qt::LeftButton, {}, QPoint(5, 5));
    plain->setButtonEnabled(false);
    QVERIFY(!plain->isPressed() && !plain->isHovered());
    QTest::mouseRelease(plain, Qt::LeftButton, {}, QPoint(5, 5));
    // A disabled button still gets the mouse and ignores it.
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

void TestFlatButton::pressBringsFormToFront() {
    QMdiArea area;
    auto* first = new QWidget;
    auto* button = new TFlatButton(first);
    QMdiSubWindow* firstSub = area.addSubWindow(first);
    QMdiSubWindow* secondSub = area.addSubWindow(new QWidget);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    area.setActiveSubWindow(secondSub);
    button->setButtonEnabled(false); // even a disabled button does it
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(area.activeSubWindow(), firstSub);
}

void TestFlatButton::iconOnlyHint() {
    TFlatButton derived(m_window.get());
    derived.setCaption(QStringLiteral("Save && E&xit"));
    derived.setOptions(defaultFlatButtonOptions.with(boIconOnly));
    QCOMPARE(derived.hint(), QStringLiteral("Save & Exit"));
    QCOMPARE(hintFromCaption(QStringLiteral("&&&x")), QStringLiteral("&x"));
    QCOMPARE(hintFromCaption(QStringLiteral("a&&")), QStringLiteral("a&"));
    QVERIFY(derived.showHint());
    // A new caption renews the hint and leaves ShowHint as it is.
    derived.setShowHint(false);
    derived.setCaption(QStringLiteral("Exit&"));
    QCOMPARE(derived.hint(), QStringLiteral("Exit&"));
    QVERIFY(!derived.showHint());
    // Removing boIconOnly clears a derived hint but keeps one set to something else.
    derived.setOptions(defaultFlatButtonOptions);
    QCOMPARE(derived.hint(), QString());
    TFlatButton own(m_window.get());
    own.setCaption(QStringLiteral("&Open"));
    own.setHint(QStringLiteral("Open a report definition"));
    own.setOptions(defaultFlatButtonOptions.with(boIconOnly));
    own.setOptions(defaultFlatButtonOptions);
    QCOMPARE(own.hint(), QStringLiteral("Open a report definition"));
}

void TestFlatButton::accelerator_data() {
    QTest::addColumn<bool>("enabled");
    QTest::newRow("enabled") << true;
    QTest::newRow("disabled: the key goes on to another control") << false;
}

void TestFlatButton::accelerator() {
    QFETCH(bool, enabled);
    auto* edit = new QLineEdit(m_window.get());
    edit->move(0, 100);
    auto* button = new TFlatButton(m_window.get());
    button->setCaption(QStringLiteral("E&xit"));
    button->setButtonEnabled(enabled);
    auto* other = new QAction(m_window.get()); // takes Alt+X when the button does not
    other->setShortcut(enabled ? QKeySequence() : QKeySequence(Qt::ALT | Qt::Key_X));
    m_window->addAction(other);
    QVERIFY(showWindow());
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
    if (enabled) {                                         // the accelerator follows the caption
        button->setCaption(QStringLiteral("&Quit"));
        QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(clicked.count(), 1);
        QTest::keyClick(edit, Qt::Key_Q, Qt::AltModifier);
        QCOMPARE(clicked.count(), 2);
    }
}

// The rules that hold only while the button is in the designer: its caption on placing, and a
// grey image that follows Bitmap and ShadingType unless a NoFocusBitmap takes its place.
void TestFlatButton::designerRules() {
    const QImage glyph = programButtonGlyph();
    TFlatButton running(m_window.get());
    running.setBitmap(glyph);
    QCOMPARE(running.caption(), QString());
    QVERIFY(running.greyBitmap().isNull());
    QCOMPARE(running.IBitmap(), QByteArray());

    TFlatButton designed(m_window.get(), true, false);
    QCOMPARE(designed.caption(), QStringLiteral("FlatButton"));
    designed.setBitmap(glyph);
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stMedium));
    designed.setShadingType(stLight);
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stLight));
    QVERIFY(designed.greyBitmap() != deriveGreyImage(glyph, stMedium));
    designed.setNoFocusBitmap(programButtonNoFocusGlyph());
    designed.setShadingType(stDark);
    designed.setBitmap(glyph.mirrored(true, false));
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph, stLight));
    designed.setNoFocusBitmap(QImage());
    QCOMPARE(designed.greyBitmap(), deriveGreyImage(glyph.mirrored(true, false), stDark));

    // While its window is read, no designer caption, and Bitmap waits for the end of loading.
    TFlatButton loading(m_window.get(), true, true);
    QCOMPARE(loading.caption(), QString());
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
