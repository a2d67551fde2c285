// TMainForm: the main window's components, its creation and close, the Windows menu and the
// arrangement commands, the tiled background; and the program's start-up sequence.
#include "app/mainform.h"

#include "app/aboutbox.h"
#include "app/menuitem.h"
#include "platform/errorbox.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "data/catalogue.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "tools/sibling.h"
#include "ui/flatbtn.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QIconEngine>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

// The pictures live in a static library, so their resource is registered by hand.
static void registerMainFormPictures() {
    Q_INIT_RESOURCE(mainform);
}

namespace lw {

QPointer<TMainForm> MainForm;

namespace {

// Designed inner area: inside the frame and below the menu bar.
constexpr int kDesignedInnerWidth = 551;
constexpr int kDesignedInnerHeight = 343;
constexpr int kToolBarHeight = 27;
// The editor window's designed outer size: cascading never makes one smaller.
constexpr int kDesignedEditorWidth = 521;
constexpr int kDesignedEditorHeight = 308;

// Hands every event of the client area's viewport to the main window's ClientAreaProc.
class ClientAreaHook : public QObject {
public:
    ClientAreaHook(TMainForm& form, QWidget* viewport) : QObject(&form), m_form(form), m_viewport(viewport) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_viewport)
            return false;
        return m_form.ClientAreaProc(event);
    }

private:
    TMainForm& m_form;
    QWidget* m_viewport;
};

// Ctrl+Tab and Ctrl+Shift+Tab in an editor window go to the next or previous editor window, parked
// ones included, which Qt's own handling in the client area would not see; releasing Ctrl ends
// the round. Installed on the application, so that it comes before the client area's handling.
class WindowCycleKeys : public QObject {
public:
    WindowCycleKeys(TMainForm& form, QWidget* area) : QObject(&form), m_form(form), m_area(area) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::KeyRelease) {
            if (key->key() == Qt::Key_Control)
                m_form.endWindowCycle();
            return false;
        }
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
            return false;
        const Qt::KeyboardModifiers modifiers = key->modifiers();
        if (!(modifiers & Qt::ControlModifier) || (modifiers & (Qt::AltModifier | Qt::MetaModifier)))
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !m_area->isAncestorOf(widget))
            return false;
        m_form.cycleEditorWindows(key->key() == Qt::Key_Tab ? 1 : -1);
        return true;
    }

private:
    TMainForm& m_form;
    QWidget* m_area;
};

// Stands for the icon read from a picture file, reading it on the first request that needs its
// pixels or sizes; every answer is then the read icon's own.
class FileIconOnDemand : public QIconEngine {
public:
    explicit FileIconOnDemand(const QString& fileName) : m_fileName(fileName) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return icon().isNull(); }
    // Pixmaps added later go to the read icon, after its own pictures, as they would have.
    void addPixmap(const QPixmap& pixmap, QIcon::Mode mode, QIcon::State state) override {
        icon().addPixmap(pixmap, mode, state);
    }
    void addFile(const QString& fileName, const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        icon().addFile(fileName, size, mode, state);
    }
    QString key() const override { return QStringLiteral("FileIconOnDemand"); }
    QIconEngine* clone() const override {
        auto* copy = new FileIconOnDemand(m_fileName);
        copy->m_icon = m_icon;
        copy->m_read = m_read;
        return copy;
    }

private:
    QIcon& icon() {
        if (!std::exchange(m_read, true))
            m_icon = QIcon(m_fileName);
        return m_icon;
    }

    QString m_fileName;
    QIcon m_icon;
    bool m_read = false;
};

QIcon glyph(const QString& name) {
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/mainform/%1.png").arg(name)), QIcon::Normal);
    icon.addPixmap(QPixmap(QStringLiteral(":/mainform/%1_disabled.png").arg(name)), QIcon::Disabled);
    return icon;
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), m_settings(*this) {
    registerMainFormPictures();
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Ledgerwick Builder 2.5"));
    setFont(designedFont(QStringLiteral("System"), 13));

    buildMenus();

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("InnerArea"));
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);
    buildToolBar();
    column->addWidget(Panel1);

    // The client area: its own background is the window's grey, seen only without the tile hook.
    m_clientArea = new QMdiArea(central);
    m_clientArea->setObjectName(QStringLiteral("ClientArea"));
    m_clientArea->setBackground(QColor(128, 128, 128));
    m_clientArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_clientArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_clientArea->setFrameShape(QFrame::NoFrame);
    // When the active editor window goes, the one active before it takes over.
    m_clientArea->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    column->addWidget(m_clientArea, 1);
    connect(m_clientArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* sub) {
        // The window order (childWindows()): the most recently active first, then the windows
        // never active, in creation order, as createEditorWindow() added them at the end.
        if (sub) {
            m_windows.removeIf([sub](const QPointer<QMdiSubWindow>& p) { return !p || p == sub; });
            m_windows.prepend(sub);
            // Qt is done with the change of the active window by now: the frames it covers go at
            // once, before the rest of the command lays out and paints the main window.
            parkFramesCoveredBy(sub);
            parkCoveredWindows();
        }
    });
    qApp->installEventFilter(new WindowCycleKeys(*this, m_clientArea));

    m_tile = QPixmap(QStringLiteral(":/mainform/tile.png"));
    img = new QLabel(this);
    img->setObjectName(QStringLiteral("img"));
    img->setPixmap(m_tile);
    img->setGeometry(0, 0, m_tile.width(), m_tile.height());
    img->hide(); // only its picture is used, by ClientAreaProc
    m_components.append(img);

    resize(kDesignedInnerWidth, kDesignedInnerHeight + MainMenu1->sizeHint().height());
    move(137, 146);

    // The completion messages of the blank builder arrive through the sibling tools' port.
    guarded([this] { m_tools = new SiblingTools(*this, this); });

    MainForm = this;
    FormCreate();
}

TMainForm::~TMainForm() {
    // The editor windows go first, while this object is still a complete ReportFrame.
    const QList<QPointer<QMdiSubWindow>> subs = m_windows;
    for (const QPointer<QMdiSubWindow>& sub : subs)
        delete sub.data();
    delete m_parkingLot;
}

QMenu* TMainForm::addMenu(QMenu*& member, const char* name, const QString& caption) {
    member = MainMenu1->addMenu(caption);
    member->setObjectName(QString::fromLatin1(name));
    m_components.append(member);
    return member;
}

TMenuItem* TMainForm::addItem(QMenu* menu, TMenuItem*& member, const char* name, const QString& caption,
                              int tag, int groupIndex) {
    member = new TMenuItem(QString::fromLatin1(name), caption, this);
    member->setTag(tag);
    member->setGroupIndex(groupIndex);
    menu->addAction(member);
    m_components.append(member);
    return member;
}

void TMainForm::buildMenus() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setNativeMenuBar(false);
    setMenuBar(MainMenu1);
    m_components.append(MainMenu1);

    addMenu(N1, "N1", QStringLiteral("File"));
    addItem(N1, N2, "N2", QStringLiteral("New"));
    addItem(N1, N3, "N3", QStringLiteral("Open ..."));
    addItem(N1, N4, "N4", QStringLiteral("Close"));
    addItem(N1, N5, "N5", QStringLiteral("-"));
    addItem(N1, N6, "N6", QStringLiteral("Save"));
    addItem(N1, N7, "N7", QStringLiteral("Save as ..."));
    addItem(N1, N10, "N10", QStringLiteral("-"));
    addItem(N1, N11, "N11", QStringLiteral("1"), 1, 1);
    addItem(N1, N21, "N21", QStringLiteral("2"), 2, 1);
    addItem(N1, N31, "N31", QStringLiteral("3"), 3, 1);
    addItem(N1, N41, "N41", QStringLiteral("4"), 4, 1);
    addItem(N1, NLine, "NLine", QStringLiteral("-"), 0, 1);
    addItem(N1, N13, "N13", QStringLiteral("Exit"), 0, 1);
    for (TMenuItem* item : {N11, N21, N31, N41, NLine})
        item->setVisible(false);

    addMenu(EXCEL1, "EXCEL1", QStringLiteral("Report"));
    addItem(EXCEL1, N12, "N12", QStringLiteral("Blank Builder"));
    addItem(EXCEL1, N16, "N16", QStringLiteral("Generate Report"));
    N12->setEnabled(false);
    N16->setEnabled(false);

    addMenu(N17, "N17", QStringLiteral("Options"));
    addItem(N17, Show, "Show", QStringLiteral("Show prepared report"));
    Show->setCheckable(true);
    Show->setChecked(true);
    addItem(N17, NewXlsx, "NewXlsx", QStringLiteral("New blanks as .xlsx"));
    NewXlsx->setCheckable(true);

    addMenu(N14, "N14", QStringLiteral("Windows"));
    addItem(N14, Cascade1, "Cascade1", QStringLiteral("Cascade"));
    addItem(N14, TileHorisontal, "TileHorisontal", QStringLiteral("TileHorisontal"));
    addItem(N14, TileVertical, "TileVertical", QStringLiteral("TileVertical"));
    addItem(N14, Arrange, "Arrange", QStringLiteral("Arrange"));
    addItem(N14, N18, "N18", QStringLiteral("-"));
    addItem(N14, N15, "N15", QStringLiteral("1"), 0, 2);
    addItem(N14, N22, "N22", QStringLiteral("2"), 0, 2);
    addItem(N14, N32, "N32", QStringLiteral("3"), 0, 2);
    addItem(N14, N42, "N42", QStringLiteral("4"), 0, 2);
    addItem(N14, N51, "N51", QStringLiteral("5"), 0, 2);
    addItem(N14, N61, "N61", QStringLiteral("6"), 0, 2);
    addItem(N14, N71, "N71", QStringLiteral("7"), 0, 2);
    addItem(N14, N81, "N81", QStringLiteral("8"), 0, 2);
    addItem(N14, N91, "N91", QStringLiteral("9"), 0, 2);
    for (TMenuItem* item : {N15, N22, N32, N42, N51, N61, N71, N81, N91}) {
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { N51Click(item); });
    }

    addMenu(N8, "N8", QStringLiteral("?"));
    addItem(N8, About1, "About1", QStringLiteral("About"));

    // Desktop conventions: F10 opens the menu bar's first menu; New, Open and Save have their
    // usual shortcuts, shown beside them in the menu.
    N2->setShortcut(QKeySequence::New);
    N3->setShortcut(QKeySequence::Open);
    N6->setShortcut(QKeySequence::Save);
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    menuKey->setObjectName(QStringLiteral("MenuBarKey"));
    connect(menuKey, &QShortcut::activated, this, [this] { MainMenu1->setActiveAction(N1->menuAction()); });

    connect(N1, &QMenu::aboutToShow, this, &TMainForm::N1Click);
    connect(EXCEL1, &QMenu::aboutToShow, this, &TMainForm::N1Click);
    connect(N14, &QMenu::aboutToShow, this, &TMainForm::N14Click);
    connect(N2, &QAction::triggered, this, &TMainForm::N2Click);
    connect(N3, &QAction::triggered, this, &TMainForm::N3Click);
    connect(N4, &QAction::triggered, this, &TMainForm::N4Click);
    connect(N6, &QAction::triggered, this, &TMainForm::N6Click);
    connect(N7, &QAction::triggered, this, &TMainForm::N7Click);
    for (TMenuItem* item : {N11, N21, N31, N41})
        connect(item, &QAction::triggered, this, [this, item] { N11Click(item); });
    connect(N13, &QAction::triggered, this, &TMainForm::N13Click);
    connect(N12, &QAction::triggered, this, &TMainForm::N12Click);
    connect(N16, &QAction::triggered, this, &TMainForm::N16Click);
    connect(Show, &QAction::triggered, this, &TMainForm::ShowClick);
    connect(NewXlsx, &QAction::triggered, this, [this] { guarded([this] { storeFormatOption(NewXlsx->isChecked()); }); });
    connect(Cascade1, &QAction::triggered, this, &TMainForm::Cascade1Click);
    connect(TileHorisontal, &QAction::triggered, this, &TMainForm::TileHorisontalClick);
    connect(TileVertical, &QAction::triggered, this, &TMainForm::TileVerticalClick);
    connect(Arrange, &QAction::triggered, this, &TMainForm::ArrangeClick);
    connect(About1, &QAction::triggered, this, &TMainForm::About1Click);
}

void TMainForm::buildToolBar() {
    Panel1 = new QFrame(centralWidget());
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setFixedHeight(kToolBarHeight);
    m_components.append(Panel1);

    struct Button {
        QToolButton*& member;
        const char* name;
        int left;
        const char* hint;
        const char* picture;
        bool enabled;
        void (TMainForm::*handler)();
    };
    const Button buttons[] = {
        {SB2, "SB2", 3, "New", "new", true, &TMainForm::N2Click},
        {SB3, "SB3", 23, "Open", "open", true, &TMainForm::N3Click},
        {SB6, "SB6", 44, "Save", "save", false, &TMainForm::N6Click},
        {SB12, "SB12", 79, "Blank Build", "blank", false, &TMainForm::N12Click},
        {SB16, "SB16", 99, "Generate report", "generate", false, &TMainForm::N16Click},
    };
    for (const Button& b : buttons) {
        auto* button = new QToolButton(Panel1);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setGeometry(b.left, 4, 20, 20);
        button->setIcon(glyph(QString::fromLatin1(b.picture)));
        button->setIconSize(QSize(16, 16));
        button->setToolTip(QString::fromLatin1(b.hint));
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(b.enabled);
        connect(button, &QToolButton::clicked, this, b.handler);
        b.member = button;
        m_components.append(button);
    }

    // Panel2 stands at the right end of the tool bar, inside its one-pixel bevel (the frame's).
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch(1);
    Panel2 = new QFrame(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameShape(QFrame::NoFrame);
    Panel2->setFixedWidth(70);
    row->addWidget(Panel2);
    m_components.append(Panel2);

    FlatButton1 = new TFlatButton(Panel2);
    FlatButton1->setObjectName(QStringLiteral("FlatButton1"));
    setupProgramButton(FlatButton1, QStringLiteral("  Exit"));
    FlatButton1->setGeometry(10, 2, 58, 25);
    connect(FlatButton1, &TFlatButton::clicked, this, &TMainForm::FlatButton1Click);
    m_components.append(FlatButton1);
}

namespace {

// The file-name completion list of a file dialog is a window of its own: Enter accepts the
// dialog and leaves the list on screen, taking the keys typed next. It goes with the dialog.
void closeCompletionWithDialog(QFileDialog* dialog) {
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
            if (QAbstractItemView* list = completer->popup(); list && list->isVisible())
                list->hide();
        }
    });
}

} // namespace

// The file dialogs are made on first use: building them (icons, a scan of the current directory)
// is the largest part of the window's creation, and many runs never open a file.
QFileDialog* TMainForm::openDialog() {
    if (!OpenDialog1) {
        OpenDialog1 = new QFileDialog(this);
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog1->setFileMode(QFileDialog::ExistingFile);
        closeCompletionWithDialog(OpenDialog1);
        m_components.append(OpenDialog1);
    }
    return OpenDialog1;
}

QFileDialog* TMainForm::saveDialog() {
    if (!SaveDialog1) {
        SaveDialog1 = new QFileDialog(this);
        SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
        SaveDialog1->setWindowTitle(QStringLiteral("Save Report"));
        SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog1->setFileMode(QFileDialog::AnyFile);
        SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
        closeCompletionWithDialog(SaveDialog1);
        m_components.append(SaveDialog1);
    }
    return SaveDialog1;
}

TMenuItem* TMainForm::findMenuItem(int groupIndex, int tag) const {
    for (QObject* component : m_components) {
        auto* item = qobject_cast<TMenuItem*>(component);
        if (item && item->groupIndex() == groupIndex && item->tag() == tag)
            return item;
    }
    return nullptr;
}

// ---- Creation, activation, first show and close ----

void TMainForm::FormCreate() {
    // A failure skips the remaining steps; the window is created and shown all the same.
    guarded([this] {
        listAliases(m_aliasList);
        setHelpFile(QStringLiteral("Ledgwk.hlp"));

        QWidget* viewport = m_clientArea->viewport();
        SavedClientProc = viewport;
        ClientProcInstance = new ClientAreaHook(*this, viewport);
        viewport->installEventFilter(ClientProcInstance);
        viewport->update();

        m_settings.load();
        m_startDirectory = currentDirectory();
    });
}

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
        // By the first activation the window manager has framed the window: its title bar is known.
        if (!std::exchange(m_titleBarChecked, true))
            QMetaObject::invokeMethod(this, [this] { keepTitleBarOnScreen(); }, Qt::QueuedConnection);
    }
    return QMainWindow::event(e);
}

void TMainForm::keepTitleBarOnScreen() {
    if (isMaximized() || isMinimized() || isFullScreen() || !isVisible())
        return;
    QList<QRect> areas;
    for (const QScreen* s : QGuiApplication::screens())
        areas.append(s->availableGeometry());
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    // Before the window manager has framed it the window has no title bar of its own yet: count
    // the height a title bar has in this style.
    int title = inner.top() - frame.top();
    if (title <= 0)
        title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QPoint place = titleBarOnScreen(frame, title, areas);
    // The size stays as stored: a window taller than the screen loses its bottom edge, not its title.
    if (place != frame.topLeft())
        move(place);
}

void TMainForm::FormActivate() {
    // The box is destroyed once the activation has been delivered: Qt may still be sending the
    // box (the window active before) its own deactivation events while this runs.
    QMetaObject::invokeMethod(
        this, [] { destroyAboutBox(); }, Qt::QueuedConnection);
}

void TMainForm::showEvent(QShowEvent* e) {
    if (!m_firstShown && !e->spontaneous()) {
        m_firstShown = true;
        // Centred with the size the window has now; the stored left and top give way.
        const QScreen* where = screen();
        if (where) {
            const QRect screenRect = where->geometry();
            move(screenRect.topLeft() + centredPosition(screenRect.size(), frameGeometry().size()));
        }
        keepTitleBarOnScreen();
    }
    QMainWindow::showEvent(e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
    // While the blank builder works on the active definition the window waits for its answer,
    // minimised and disabled; quitting now would leave the builder posting to nobody. The end of
    // the desktop session is not refused.
    if (m_tools && m_tools->isWaitingForBlankBuilder() && !qApp->isSavingSession()) {
        e->ignore();
        if (!isMinimized())
            showMinimized();
        return;
    }
    FormClose(e);
}

void TMainForm::FormClose(QCloseEvent* e) {
    bool closed = false;
    guarded([this, &closed] {
        // The window goes when the close is accepted; being the program's last window, its
        // going ends the message loop, and the start-up code then frees it.
        if (m_settings.loaded())
            m_settings.save();

        // The least recently active editor window first, the active one last. A window whose
        // own close handling refuses (its save failed or was cancelled) stops the close here.
        const QList<QMdiSubWindow*> order = childWindows();
        QList<QPointer<QMdiSubWindow>> pending(order.crbegin(), order.crend());
        for (const QPointer<QMdiSubWindow>& sub : pending) {
            if (sub && !sub->isHidden() && !sub->close())
                return;
        }
        m_aliasList.clear();
        closed = true;
    });
    e->setAccepted(closed);
}

// ---- The File and Report menus ----

void TMainForm::N1Click() {
    guarded([this] {
        const bool any = !editorWindows().isEmpty();
        N4->setEnabled(any);
        N6->setEnabled(any);
        N7->setEnabled(any);
    });
}

void TMainForm::N2Click() {
    guarded([this] { newDocument(*this); });
}

void TMainForm::N3Click() {
    guarded([this] { openDocument(*this); });
}

void TMainForm::N4Click() {
    guarded([this] { closeDocument(*this); });
}

void TMainForm::N6Click() {
    guarded([this] {
        if (TForm1* window = activeEditorWindow())
            saveDocument(*this, window);
    });
}

void TMainForm::N7Click() {
    guarded([this] {
        if (TForm1* window = activeEditorWindow())
            saveDocumentAs(*this, window);
    });
}

void TMainForm::N11Click(TMenuItem* item) {
    guarded([this, item] { m_settings.openRecentFile(item->tag()); });
}

void TMainForm::N12Click() {
    guarded([this] {
        if (m_tools)
            m_tools->blankBuilder();
    });
}

void TMainForm::N16Click() {
    guarded([this] {
        if (m_tools)
            m_tools->generateReport();
    });
}

void TMainForm::N13Click() {
    guarded([this] { close(); });
}

void TMainForm::FlatButton1Click() {
    guarded([this] { close(); });
}

void TMainForm::setReportCommandsEnabled(bool enabled) {
    for (QToolButton* button : {SB6, SB12, SB16})
        button->setEnabled(enabled);
    N12->setEnabled(enabled);
    N16->setEnabled(enabled);
    // Close, Save and Save as are set again whenever the File menu opens (N1Click); they follow
    // here too, so that their shortcut keys work while the menu is closed.
    N4->setEnabled(enabled);
    N6->setEnabled(enabled);
    N7->setEnabled(enabled);
}

// ---- Options and About ----

void TMainForm::ShowClick() {
    // The item is checkable, so the check mark is already inverted when this runs.
    guarded([this] { storeShowOption(Show->isChecked()); });
}

void TMainForm::About1Click() {
    // Every failure of creating or showing the box is swallowed inside showNewAboutBox().
    showNewAboutBox();
}

// ---- Editor windows and the Windows menu ----

TForm1* TMainForm::createEditorWindow() {
    auto* form = new TForm1(*this);
    QMdiSubWindow* sub = m_clientArea->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    m_windows.removeIf([](const QPointer<QMdiSubWindow>& p) { return !p; });
    m_windows.append(sub);
    // A change of state may cover or uncover the others.
    connect(sub, &QMdiSubWindow::windowStateChanged, this, &TMainForm::parkCoveredWindows);
    sub->showMaximized();
    return form;
}

bool TMainForm::isParked(const QMdiSubWindow* sub) const {
    return sub && m_parkingLot && sub->parentWidget() == m_parkingLot;
}

void TMainForm::parkCoveredWindows() {
    // Qt is often in the middle of handing the maximised state or the activation from one window
    // to another when this is called: the frames are only looked at, and moved, once the events
    // of the change have been delivered.
    if (!m_parkingPending) {
        m_parkingPending = true;
        QMetaObject::invokeMethod(this, &TMainForm::settleParking, Qt::QueuedConnection);
    }
}

void TMainForm::settleParking() {
    m_parkingPending = false;
    // The window that was current has closed: the one active before it takes over, maximised as
    // it was. Qt's client area would pick among the windows it holds, which are not all of them.
    if (m_currentSeen && (m_lastCurrent.isNull() || m_lastCurrent->isHidden())) {
        const QList<QMdiSubWindow*> order = childWindows();
        if (!order.isEmpty() && m_clientArea->activeSubWindow() != order.first()) {
            activateEditorWindow(order.first());
            if (m_lastMaximized && !order.first()->isMaximized())
                order.first()->showMaximized();
        }
    }
    const QList<QMdiSubWindow*> subs = m_clientArea->subWindowList();
    const bool covered = std::any_of(subs.cbegin(), subs.cend(), [](QMdiSubWindow* sub) {
        return sub->isMaximized() && !sub->isHidden();
    });
    QMdiSubWindow* current = m_clientArea->currentSubWindow();
    // The current window (the active one, or the one active before a dialog took the focus)
    // stays in the client area.
    if (covered)
        parkAllBut(current);
    else
        unparkAll();
    m_currentSeen = current != nullptr;
    if (current) {
        m_lastCurrent = current;
        m_lastMaximized = current->isMaximized();
    }
}

void TMainForm::parkFramesCoveredBy(QMdiSubWindow* active) {
    if (active->isMaximized() && !active->isHidden())
        parkAllBut(active);
}

void TMainForm::parkAllBut(const QMdiSubWindow* keep) {
    // A maximised frame stays, and a frame that is closing is left to go.
    const QList<QMdiSubWindow*> subs = m_clientArea->subWindowList();
    for (QMdiSubWindow* sub : subs) {
        if (sub != keep && !sub->isMaximized() && !sub->isHidden() && qobject_cast<TForm1*>(sub->widget()))
            parkFrame(sub);
    }
}

void TMainForm::parkFrame(QMdiSubWindow* sub) {
    if (!m_parkingLot) {
        // It looks as the client area does, so that the frames see no change of font or colours
        // (a frame keeps the title font it had while it was away).
        m_parkingLot = new QWidget;
        m_parkingLot->setObjectName(QStringLiteral("ParkedWindows"));
        m_parkingLot->setFont(m_clientArea->viewport()->font());
        m_parkingLot->setPalette(m_clientArea->viewport()->palette());
    }
    // Moved straight from the client area's viewport, never without a parent: a frame left without
    // one switches itself to moving and sizing by outline for good. The client area lets go of a
    // frame that leaves its viewport (signals, event filter, lists); the frame keeps its place,
    // size, state, caption and controls, and stays shown inside the hidden holder.
    const QRect place = sub->geometry();
    sub->setParent(m_parkingLot, sub->windowFlags());
    sub->setGeometry(place);
    sub->show();
    // Every frame follows each change of the focus in the program, to become active when one of
    // its controls takes it; a parked frame cannot take the focus, so it stops following until it
    // is back (only where the frame follows through the connection Qt makes, which is checked).
    if (QObject::disconnect(qApp, SIGNAL(focusChanged(QWidget*, QWidget*)), sub,
                            SLOT(_q_processFocusChanged(QWidget*, QWidget*))))
        m_focusDetached.insert(sub);
}

void TMainForm::unparkFrame(QMdiSubWindow* sub) {
    if (!isParked(sub))
        return;
    // Adding a frame to the client area places it anew: it gets its own place back.
    if (m_focusDetached.remove(sub))
        connect(qApp, SIGNAL(focusChanged(QWidget*, QWidget*)), sub, SLOT(_q_processFocusChanged(QWidget*, QWidget*)),
                Qt::UniqueConnection);
    const QRect place = sub->geometry();
    m_clientArea->addSubWindow(sub, sub->windowFlags());
    sub->setGeometry(place);
    sub->show();
}

void TMainForm::unparkAll() {
    if (!m_parkingLot || m_parkingLot->children().isEmpty())
        return;
    // The least recently active first, each over the ones before. A frame that is shown makes
    // itself the active one: the client area's signal is held meanwhile, so that the order of the
    // windows stays as it was, and the current window is made active and put on top again.
    const QList<QMdiSubWindow*> order = childWindows();
    QMdiSubWindow* current = m_clientArea->currentSubWindow();
    if (!current && !order.isEmpty())
        current = order.first();
    {
        const QSignalBlocker quiet(m_clientArea);
        for (auto it = order.crbegin(); it != order.crend(); ++it)
            unparkFrame(*it);
    }
    if (current) {
        current->raise();
        m_clientArea->setActiveSubWindow(current);
    }
}

void TMainForm::activateEditorWindow(QMdiSubWindow* sub) {
    if (!sub)
        return;
    unparkFrame(sub);
    sub->show();
    sub->raise();
    m_clientArea->setActiveSubWindow(sub);
}

void TMainForm::cycleEditorWindows(int step) {
    // A round whose window is no longer the active one (another was chosen meanwhile, or the
    // release of Ctrl went elsewhere) starts again from the order of now.
    if (!m_cycle.isEmpty() && m_cycle[m_cyclePlace] != m_clientArea->activeSubWindow())
        m_cycle.clear();
    if (m_cycle.isEmpty()) {
        for (QMdiSubWindow* sub : childWindows())
            m_cycle.append(sub);
        m_cyclePlace = 0;
    }
    const qsizetype count = m_cycle.size();
    if (count < 2)
        return;
    // Windows closed during the round are passed over.
    for (qsizetype tries = 0; tries < count; ++tries) {
        m_cyclePlace = (m_cyclePlace + step + count) % count;
        QMdiSubWindow* sub = m_cycle[m_cyclePlace];
        if (sub && !sub->isHidden()) {
            activateEditorWindow(sub);
            return;
        }
    }
}

QList<QMdiSubWindow*> TMainForm::childWindows() const {
    QList<QMdiSubWindow*> result;
    for (const QPointer<QMdiSubWindow>& sub : m_windows) {
        if (sub && !sub->isHidden() && qobject_cast<TForm1*>(sub->widget()))
            result.append(sub);
    }
    return result;
}

QList<TForm1*> TMainForm::editorWindows() const {
    QList<TForm1*> result;
    for (QMdiSubWindow* sub : childWindows())
        result.append(static_cast<TForm1*>(sub->widget()));
    return result;
}

TForm1* TMainForm::activeEditorWindow() const {
    const QList<TForm1*> windows = editorWindows();
    return windows.isEmpty() ? nullptr : windows.first();
}

void TMainForm::setLastDialogDirectory(const QString& directory) {
    m_settings.setLastDialogDirectory(directory);
}

void TMainForm::addToRecentFiles(const QString& path) {
    m_settings.addToRecentFiles(path);
}

void TMainForm::N14Click() {
    guarded([this] { MakeWin(); });
}

void TMainForm::MakeWin() {
    // The window-list items in design order. All are hidden first, so the first hidden one at
    // step i is always item i: window i goes to the i-th item.
    QList<TMenuItem*> listItems;
    for (QObject* component : m_components) {
        auto* item = qobject_cast<TMenuItem*>(component);
        if (item && item->groupIndex() == 2) {
            item->setVisible(false);
            listItems.append(item);
        }
    }
    const QList<TForm1*> windows = editorWindows();
    for (qsizetype i = 0; i < windows.size() && i < 9 && i < listItems.size(); ++i) {
        listItems[i]->setVisible(true);
        listItems[i]->setTag(int(i));
        listItems[i]->setCaption(fileNamePart(windows[i]->definitionPath()));
    }
}

void TMainForm::N51Click(TMenuItem* item) {
    guarded([this, item] {
        const QList<QMdiSubWindow*> order = childWindows();
        const int i = item->tag();
        if (i < 0 || i >= order.size())
            return;
        activateEditorWindow(order[i]);
    });
}

void TMainForm::Cascade1Click() {
    guarded([this] { cascadeEditorWindows(); });
}

// Qt's own cascade sizes every window from its size hint; a desktop's cascade gives each window
// most of the client area instead, and an editor window never gets less than its designed size.
void TMainForm::cascadeEditorWindows() {
    unparkAll(); // every window is seen again
    // The least recently active window first, so that the active one ends on top, last.
    QList<QMdiSubWindow*> open;
    const QList<QMdiSubWindow*> order = childWindows();
    for (auto it = order.crbegin(); it != order.crend(); ++it) {
        if (!(*it)->isMinimized())
            open.append(*it);
    }
    if (open.isEmpty())
        return;
    QMdiSubWindow* active = m_clientArea->activeSubWindow();
    for (QMdiSubWindow* sub : open) {
        if (sub->isMaximized())
            sub->showNormal();
    }
    // Each window steps by the height of a title bar and its frame; the smallest size is the
    // designed window around the editor's designed client area.
    QMdiSubWindow* first = open.first();
    QStyleOptionTitleBar title;
    title.initFrom(first);
    title.titleBarFlags = first->windowFlags();
    title.titleBarState = 1;
    const int spacing = first->style()->pixelMetric(QStyle::PM_TitleBarHeight, &title, first) +
                        first->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, first);
    const QSize minimum = first->sizeHint().expandedTo(QSize(kDesignedEditorWidth, kDesignedEditorHeight));
    const QList<QRect> places =
        cascadeRects(m_clientArea->viewport()->rect(), int(open.size()), spacing, minimum);
    for (int i = 0; i < open.size(); ++i) {
        open[i]->setGeometry(places[i]);
        open[i]->raise();
    }
    settleParking();
    if (active && !active->isMinimized())
        m_clientArea->setActiveSubWindow(active);
}

void TMainForm::TileHorisontalClick() {
    guarded([this] {
        m_tileMode = TileMode::Horizontal;
        tileEditorWindows();
    });
}

void TMainForm::TileVerticalClick() {
    guarded([this] {
        m_tileMode = TileMode::Vertical;
        tileEditorWindows();
    });
}

namespace {

QSize iconSizeOf(const QList<QMdiSubWindow*>& minimised) {
    QSize size(0, 0);
    for (QMdiSubWindow* sub : minimised)
        size = size.expandedTo(sub->size());
    return size;
}

void placeIcons(const QRect& area, const QList<QMdiSubWindow*>& minimised) {
    const QList<QRect> places = arrangeIconRects(area, iconSizeOf(minimised), int(minimised.size()));
    for (int i = 0; i < minimised.size(); ++i)
        minimised[i]->move(places[i].topLeft());
}

} // namespace

void TMainForm::tileEditorWindows() {
    unparkAll(); // every window is seen again
    QList<QMdiSubWindow*> open;
    QList<QMdiSubWindow*> minimised;
    for (QMdiSubWindow* sub : childWindows())
        (sub->isMinimized() ? minimised : open).append(sub);

    QRect area = m_clientArea->viewport()->rect();
    if (!minimised.isEmpty()) {
        // The icons keep their rows along the bottom; the windows share what is above them.
        placeIcons(area, minimised);
        area = areaAboveIcons(area, iconSizeOf(minimised), int(minimised.size()));
    }
    const QList<QRect> places = tileRects(area, int(open.size()), m_tileMode);
    for (int i = 0; i < open.size() && i < places.size(); ++i) {
        if (open[i]->isMaximized())
            open[i]->showNormal();
        open[i]->setGeometry(places[i]);
    }
    settleParking();
}

void TMainForm::ArrangeClick() {
    guarded([this] {
        QList<QMdiSubWindow*> minimised;
        for (QMdiSubWindow* sub : childWindows()) {
            if (sub->isMinimized())
                minimised.append(sub);
        }
        placeIcons(m_clientArea->viewport()->rect(), minimised);
    });
}

// ---- The tiled background ----

bool TMainForm::ClientAreaProc(QEvent* e) {
    if (e->type() != QEvent::Paint || !SavedClientProc)
        return false;
    // Rows and columns come from the whole inner area (tool bar strip included), so the tiles,
    // anchored at the client area's top-left corner, always cover it.
    QPainter painter(SavedClientProc);
    const TileCounts counts = backgroundTileCounts(centralWidget()->size(), m_tile.size());
    if (m_tile.hasAlphaChannel()) {
        // A picture with transparent parts is laid over whatever the row would hold: tile by tile.
        for (int r = 0; r < counts.rows; ++r) {
            for (int c = 0; c < counts.columns; ++c)
                painter.drawPixmap(c * m_tile.width(), r * m_tile.height(), m_tile);
        }
        return true;
    }
    // An opaque tile is copied as it is, so a row of tiles made once draws the same pixels as its
    // tiles one by one, with one drawing call per row instead of one per tile.
    const int rowWidth = counts.columns * m_tile.width();
    if (m_tileRow.width() != rowWidth || m_tileRow.height() != m_tile.height()) {
        m_tileRow = QPixmap(rowWidth, m_tile.height());
        QPainter row(&m_tileRow);
        for (int c = 0; c < counts.columns; ++c)
            row.drawPixmap(c * m_tile.width(), 0, m_tile);
    }
    for (int r = 0; r < counts.rows; ++r)
        painter.drawPixmap(0, r * m_tile.height(), m_tileRow);
    return true;
}

// ---- Start-up ----

QIcon programIcon() {
    registerMainFormPictures();
    return QIcon(new FileIconOnDemand(QStringLiteral(":/mainform/ledgerwick.png")));
}

TMainForm* startProgram() {
    setApplicationTitle(QStringLiteral("Ledgerwick"));
    // The program's own icon for every window (the editor windows' title bars included).
    QApplication::setWindowIcon(programIcon());
    setHelpFile(QStringLiteral("ledgwick.hlp"));
    auto* form = new TMainForm;
    // The message dialog is made by the first message that needs it (MyFormDialog), as every later
    // one is: each is destroyed after its one use, so a dialog made here would only serve the
    // first message, at the price of a longer start.
    if (TAboutBox* box = createAboutBox())
        box->exec();
    return form;
}

} // namespace lw
