// TMainForm: the multiple-document main window with its menus, tool bar, window list, tiled
// background and the frame services the editor windows use; and the program's start-up sequence.
#pragma once

#include "app/mdigeometry.h"
#include "app/settings.h"
#include "report/frame.h"

#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QStringList>

class QFileDialog;
class QFrame;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QMenuBar;
class QToolButton;

namespace lw {

class SiblingTools;
class TFlatButton;
class TMenuItem;

// Constructing a TMainForm builds its components and runs FormCreate; it shows nothing, neither
// itself nor an about box, so tests build it directly. The program's start-up is startProgram().
class TMainForm : public QMainWindow, public ReportFrame {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Components, in design order; each has the objectName() of its member name.
    QMenuBar* MainMenu1 = nullptr;
    QMenu* N1 = nullptr; // "File"
    TMenuItem* N2 = nullptr;
    TMenuItem* N3 = nullptr;
    TMenuItem* N4 = nullptr;
    TMenuItem* N5 = nullptr;
    TMenuItem* N6 = nullptr;
    TMenuItem* N7 = nullptr;
    TMenuItem* N10 = nullptr;
    TMenuItem* N11 = nullptr;
    TMenuItem* N21 = nullptr;
    TMenuItem* N31 = nullptr;
    TMenuItem* N41 = nullptr;
    TMenuItem* NLine = nullptr;
    TMenuItem* N13 = nullptr;
    QMenu* EXCEL1 = nullptr; // "Report"
    TMenuItem* N12 = nullptr;
    TMenuItem* N16 = nullptr;
    QMenu* N17 = nullptr; // "Options"
    TMenuItem* Show = nullptr;
    TMenuItem* NewXlsx = nullptr; // "New blanks as .xlsx" ("EXCEL" "Format")
    QMenu* N14 = nullptr; // "Windows"
    TMenuItem* Cascade1 = nullptr;
    TMenuItem* TileHorisontal = nullptr;
    TMenuItem* TileVertical = nullptr;
    TMenuItem* Arrange = nullptr;
    TMenuItem* N18 = nullptr;
    TMenuItem* N15 = nullptr;
    TMenuItem* N22 = nullptr;
    TMenuItem* N32 = nullptr;
    TMenuItem* N42 = nullptr;
    TMenuItem* N51 = nullptr;
    TMenuItem* N61 = nullptr;
    TMenuItem* N71 = nullptr;
    TMenuItem* N81 = nullptr;
    TMenuItem* N91 = nullptr;
    QMenu* N8 = nullptr; // "?"
    TMenuItem* About1 = nullptr;
    QFrame* Panel1 = nullptr; // tool bar
    QToolButton* SB2 = nullptr;
    QToolButton* SB3 = nullptr;
    QToolButton* SB6 = nullptr;
    QToolButton* SB12 = nullptr;
    QToolButton* SB16 = nullptr;
    QFrame* Panel2 = nullptr;
    TFlatButton* FlatButton1 = nullptr; // Exit
    QFileDialog* OpenDialog1 = nullptr; // made on first use: openDialog()
    QFileDialog* SaveDialog1 = nullptr; // made on first use: saveDialog()
    QLabel* img = nullptr;              // background tile

    // The components above in design order: the walk that finds menu items by group and tag.
    const QList<QObject*>& components() const { return m_components; }
    // The first menu item with this group index and tag, in design order, or nullptr.
    TMenuItem* findMenuItem(int groupIndex, int tag) const;

    // The multiple-document client area that holds the editor windows.
    QMdiArea* clientArea() const { return m_clientArea; }
    // The editor windows' frames in the order of child windows (the active one first).
    QList<QMdiSubWindow*> childWindows() const;
    // Brings the editor window's frame to the front and makes it the active one, from wherever it
    // is (a covered frame is put back into the client area first).
    void activateEditorWindow(QMdiSubWindow* sub);
    // Whether the frame is covered by a maximised window and kept outside the client area.
    bool isParked(const QMdiSubWindow* sub) const;
    // Ctrl+Tab and Ctrl+Shift+Tab: the next or previous editor window in the order the windows had
    // when the Ctrl key went down (the most recently active first); its release ends the round.
    void cycleEditorWindows(int step);
    void endWindowCycle() { m_cycle.clear(); }

    TileMode tileMode() const { return m_tileMode; }
    const QPixmap& backgroundTile() const { return m_tile; }
    Settings& settings() { return m_settings; }
    SiblingTools* siblingTools() const { return m_tools; }

    // ReportFrame
    QWidget* frameWidget() override { return this; }
    void setReportCommandsEnabled(bool enabled) override;
    TForm1* createEditorWindow() override;
    QList<TForm1*> editorWindows() const override;
    TForm1* activeEditorWindow() const override;
    QStringList aliasList() const override { return m_aliasList; }
    QFileDialog* openDialog() override;
    QFileDialog* saveDialog() override;
    QString lastDialogDirectory() const override { return m_settings.lastDialogDirectory(); }
    void setLastDialogDirectory(const QString& directory) override;
    void addToRecentFiles(const QString& path) override;
    QString startDirectory() const override { return m_startDirectory; }

    // Handlers, bound as designed. Each runs its body through the handler guard.
    void FormCreate();
    void FormActivate();
    void FormClose(QCloseEvent* event);
    void N1Click();                 // File or Report menu opens: Close, Save, Save as
    void N2Click();                 // New
    void N3Click();                 // Open
    void N4Click();                 // Close
    void N6Click();                 // Save
    void N7Click();                 // Save as
    void N11Click(TMenuItem* item); // a recent-files item
    void N12Click();                // Blank Builder
    void N13Click();                // Exit
    void N16Click();                // Generate Report
    void N14Click();                // Windows menu opens
    void MakeWin();
    void N51Click(TMenuItem* item); // a window-list item
    void Cascade1Click();
    void TileHorisontalClick();
    void TileVerticalClick();
    void ArrangeClick();
    void ShowClick();
    void About1Click();
    void FlatButton1Click();

    // The client area's event hook: paints the background tiles for every paint of the client
    // area and returns true; every other event goes on to the client area's own handling (false).
    bool ClientAreaProc(QEvent* event);
    // Whether the hook is installed (FormCreate step 3); a creation that failed earlier leaves
    // the plain grey background.
    bool clientAreaHooked() const { return ClientProcInstance != nullptr; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Moves the window so that its whole title bar is on a screen: a stored position or size must
    // not leave it where the user cannot grab it.
    void keepTitleBarOnScreen();
    void buildMenus();
    void buildToolBar();
    TMenuItem* addItem(QMenu* menu, TMenuItem*& member, const char* name, const QString& caption, int tag = 0,
                       int groupIndex = 0);
    QMenu* addMenu(QMenu*& member, const char* name, const QString& caption);
    void tileEditorWindows();
    void cascadeEditorWindows();
    // The frames that a maximised window covers are kept outside the client area (parked), in a
    // hidden window of their own: Qt's client area does work in proportion to all its windows
    // whenever one is raised or activated, and walks all widgets of the main window when the
    // maximised window changes. parkCoveredWindows() asks for settleParking(), which runs once the
    // events of a change have been delivered: it parks covered frames, brings them all back when
    // nothing covers them any more, and hands over to the window active before one that closed.
    void parkCoveredWindows();
    void settleParking();
    void parkFramesCoveredBy(QMdiSubWindow* active);
    void parkAllBut(const QMdiSubWindow* keep);
    void parkFrame(QMdiSubWindow* sub);
    void unparkFrame(QMdiSubWindow* sub);
    void unparkAll();

    // The event filter installed on the client area's viewport, bound to this window.
    QObject* ClientProcInstance = nullptr;
    // The widget whose own event handling receives every event the hook passes on.
    QPointer<QWidget> SavedClientProc;

    QList<QObject*> m_components;
    QMdiArea* m_clientArea = nullptr;
    QPixmap m_tile;
    // One row of background tiles as wide as the last paint needed (ClientAreaProc).
    QPixmap m_tileRow;
    Settings m_settings;
    SiblingTools* m_tools = nullptr;
    QStringList m_aliasList;
    QString m_startDirectory;
    TileMode m_tileMode = TileMode::Horizontal;
    // Every editor window's frame, in the client area or parked: the most recently active first,
    // then those never active, in creation order (childWindows()).
    QList<QPointer<QMdiSubWindow>> m_windows;
    // The hidden window that holds the parked frames; made on first use, deleted with us.
    QWidget* m_parkingLot = nullptr;
    // The parked frames that no longer follow the focus (parkFrame()); they follow again when back.
    QSet<const QMdiSubWindow*> m_focusDetached;
    // The current frame as settleParking() last saw it, and whether it was maximised then.
    QPointer<QMdiSubWindow> m_lastCurrent;
    bool m_lastMaximized = false;
    bool m_currentSeen = false; // m_lastCurrent was set by the last settleParking()
    // The round of Ctrl+Tab: the windows in their order when it began, and the place in it.
    QList<QPointer<QMdiSubWindow>> m_cycle;
    qsizetype m_cyclePlace = 0;
    bool m_firstShown = false;
    bool m_titleBarChecked = false; // once the window manager's frame is known
    bool m_parkingPending = false;
};

// The application-wide reference to the main window (the one created last that still exists).
extern QPointer<TMainForm> MainForm;

// Start-up steps 2 to 6: the application title and help file, the main window (FormCreate runs),
// then the about box shown modally; the message dialog is made by the first message. The caller
// then shows the window and runs the message loop, and owns the returned window.
TMainForm* startProgram();

// The program's own icon, which every window shows (the editor windows' title bars included). Its
// picture is read the first time something draws it or asks for its sizes or pixels, not before:
// a start-up whose window system shows no icons never decodes it.
QIcon programIcon();

} // namespace lw
