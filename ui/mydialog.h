// The message dialog TFormDlg, its shared instance and pending request, and MyFormDialog,
// the operation that every question and notice goes through.
#pragma once

#include "ui/dialoglayout.h"

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QString>

class QLabel;

namespace lw {

// A push button of the message dialog: its picture 2 pixels from the left edge and its caption
// centred in the space between the picture and the right edge. It carries a tag (its position
// in the row of buttons) and a help context for the help key.
class TMsgButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(int tag READ tag WRITE setTag)
    Q_PROPERTY(int helpContext READ helpContext WRITE setHelpContext)
public:
    TMsgButton(const QIcon& glyph, const QString& caption, QWidget* parent = nullptr);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    int helpContext() const { return m_helpContext; }
    void setHelpContext(int context) { m_helpContext = context; }

    // Where the picture goes: 2 pixels from the left edge, centred vertically.
    QRect glyphRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_tag = 0;
    int m_helpContext = 0;
};

// The dialog window "FormDlg". Its layout runs once each time it is shown, from the pending
// request; it stays on top, has no title-bar buttons and only grows to the right.
class TFormDlg : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int helpContext READ helpContext)
public:
    static constexpr int designedLeft = 280;
    static constexpr int designedTop = 201;
    static constexpr int designedWidth = 310; // client area
    static constexpr int designedHeight = 74;

    explicit TFormDlg(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    TMsgButton* OKBtn = nullptr;
    TMsgButton* CancelBtn = nullptr;
    TMsgButton* HelpBtn = nullptr;

    int helpContext() const { return m_helpContext; }

    // The width of the window frame around the client area (0 where the platform draws none
    // or has not told us yet).
    int frameExtraWidth() const;

public slots:
    // Activation: lays the dialog out from the pending request the first time it becomes
    // active after being shown; later activations only refit it to a frame that the window
    // manager has added since.
    void FormActivate();
    // Opens the help file at the pending help context; the dialog stays open.
    void HelpBtnClick();
    // Any way of closing other than OK or NO gives result 2.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void layOut();
    void applyGeometry(const MessageLayout& layout);

    MessageLayoutInput m_layoutInput;
    bool m_laidOut = false;
    int m_laidOutFrame = 0;
    int m_helpContext = 0;
};

// The font a desktop's title bar most likely shows the caption in: the application's title-bar
// font (its general font unless the desktop names another) in bold.
QFont titleBarFont();
// The room a title bar takes beside its caption: the window icon at the left and up to three
// buttons at the right, each about as wide as the bar is high, and the bar's margins.
int titleBarRoom();

// The request that MyFormDialog hands to the dialog: written before the dialog is shown, read
// by its layout and by HelpBtnClick; the layout rewrites the button count in place.
struct MessageRequest {
    QString caption;
    QString message;
    qint32 buttons = 0;
    qint32 helpContext = 0;
};

// The shared dialog reference: the one dialog instance, or empty.
extern QPointer<TFormDlg> FormDlg;
// The pending request.
extern MessageRequest formDlgRequest;

// Creates the dialog (owned by the application) when there is none yet; MyFormDialog calls it for
// every message that is not asked for while another is open.
void createFormDlg();

// Shows the message dialog with the caption text in its title bar and the message text in its
// body, with the given button count and help context (0: no HELP button).
// Returns 1 for OK (or Enter) and 2 for every other way of closing. The instance is destroyed
// after use; the next call creates a fresh one.
int MyFormDialog(const QString& caption, const QString& message, int buttons, int helpContext);

} // namespace lw
