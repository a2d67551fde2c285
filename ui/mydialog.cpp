// The message dialog TFormDlg, its shared instance and pending request, and MyFormDialog,
// the operation that every question and notice goes through.
#include "ui/mydialog.h"

#include "platform/errorbox.h"
#include "platform/help.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

namespace lw {

QPointer<TFormDlg> FormDlg;
MessageRequest formDlgRequest;

namespace {

constexpr int glyphMargin = 2;

QFont dialogFont(bool bold) {
    QFont font = designedFont(QStringLiteral("MS Sans Serif"), 11, QFont::SansSerif);
    font.setBold(bold);
    return font;
}

// The label sizes itself to its text on one line: the text's advance in the label's font.
void setLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(text), metrics.height());
}

} // namespace

QFont titleBarFont() {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    return font;
}

int titleBarRoom() {
    // A title bar is about its font's height plus a margin above and below; the icon and the
    // buttons are square in it, with a few pixels between them and at either end.
    const int bar = QFontMetrics(titleBarFont()).height() + 8;
    return 4 * (bar + 2) + 2 * 6;
}

// ---------------------------------------------------------------------------------------------

TMsgButton::TMsgButton(const QIcon& glyph, const QString& caption, QWidget* parent)
    : QPushButton(glyph, caption, parent) {
    setIconSize(QSize(16, 16));
}

QRect TMsgButton::glyphRect() const {
    const QSize size = iconSize();
    return QRect(QPoint(glyphMargin, (height() - size.height()) / 2), size);
}

void TMsgButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    const QIcon glyph = option.icon;
    // The style draws the bevel, the default frame and the focus mark; picture and caption
    // are placed by hand.
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);

    QPoint shift;
    if (option.state & (QStyle::State_Sunken | QStyle::State_On))
        shift = QPoint(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                       style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));

    const QRect glyphArea = glyphRect();
    glyph.paint(&painter, glyphArea.translated(shift), Qt::AlignCenter,
                isEnabled() ? QIcon::Normal : QIcon::Disabled);

    const QRect captionArea =
        QRect(QPoint(glyphArea.right() + 1, 0), QPoint(width() - 1, height() - 1)).translated(shift);
    painter.drawItemText(captionArea, Qt::AlignCenter, palette(), isEnabled(), caption, QPalette::ButtonText);
}

// ---------------------------------------------------------------------------------------------

TFormDlg::TFormDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("FormDlg"));
    setWindowTitle(QStringLiteral("Dialog"));
    setFont(dialogFont(true));
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setFixedSize(designedWidth, designedHeight);
    move(designedLeft, designedTop);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText); // file paths are shown as they are, never as markup
    Label1->setWordWrap(false);
    Label1->move(8, 17);
    // The placeholder is measured, and the buttons get their pictures, when the dialog is first
    // laid out: the start-up creates the dialog without showing it, and loading its fonts and
    // pictures then would only lengthen the start.
    Label1->setText(QStringLiteral("Label1"));

    OKBtn = new TMsgButton(QIcon(), QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setTag(0);
    OKBtn->setGeometry(76, 44, 70, 25);
    OKBtn->setFont(dialogFont(false));
    OKBtn->setDefault(true);

    CancelBtn = new TMsgButton(QIcon(), QStringLiteral("NO"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setTag(1);
    CancelBtn->setGeometry(151, 44, 70, 25);
    CancelBtn->setFont(dialogFont(false));

    HelpBtn = new TMsgButton(QIcon(), QStringLiteral("HELP"), this);
    HelpBtn->setObjectName(QStringLiteral("HelpBtn"));
    HelpBtn->setTag(2);
    HelpBtn->setGeometry(233, 50, 85, 27);

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, HelpBtn);

    connect(OKBtn, &QPushButton::clicked, this, [this] { guarded([this] { done(1); }); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { guarded([this] { done(2); }); });
    connect(HelpBtn, &QPushButton::clicked, this, &TFormDlg::HelpBtnClick);
}

int TFormDlg::frameExtraWidth() const {
    return std::max(0, frameGeometry().width() - geometry().width());
}

void TFormDlg::FormActivate() {
    guarded([this] {
        if (!m_laidOut) {
            layOut();
            return;
        }
        // Before the window is first mapped the window manager's frame may still be unknown;
        // once it is, the outer width of the layout is measured again around it.
        if (frameExtraWidth() != m_laidOutFrame) {
            m_layoutInput.outerWidth = designedWidth + frameExtraWidth();
            applyGeometry(layOutMessageDialog(m_layoutInput));
        }
    });
}

void TFormDlg::layOut() {
    MessageRequest& request = formDlgRequest;
    if (OKBtn->icon().isNull()) {
        QStyle* st = style();
        OKBtn->setIcon(st->standardIcon(QStyle::SP_DialogOkButton));
        CancelBtn->setIcon(st->standardIcon(QStyle::SP_DialogCancelButton));
        HelpBtn->setIcon(st->standardIcon(QStyle::SP_DialogHelpButton));
    }
    const QFontMetrics metrics(Label1->font());

    m_layoutInput = MessageLayoutInput{};
    m_layoutInput.buttons = request.buttons;
    m_layoutInput.helpContext = request.helpContext;
    m_layoutInput.labelLeft = Label1->x();
    m_layoutInput.okWidth = OKBtn->width();
    m_layoutInput.cancelWidth = CancelBtn->width();
    m_layoutInput.helpWidth = HelpBtn->width();
    m_layoutInput.outerWidth = width() + frameExtraWidth();

    setLabelText(Label1, request.caption);
    setWindowTitle(request.caption);
    // The caption shows in the window manager's title bar, not in the label: it is measured in
    // the title bar's font, with room for the bar's icon and buttons, so that it shows whole.
    m_layoutInput.captionWidth = QFontMetrics(titleBarFont()).horizontalAdvance(request.caption);
    m_layoutInput.captionRoom = titleBarRoom();
    setLabelText(Label1, request.message);
    m_layoutInput.messageWidth = Label1->width();

    const MessageLayout layout = layOutMessageDialog(m_layoutInput);
    request.buttons = layout.count;
    CancelBtn->setVisible(layout.cancelShown);
    HelpBtn->setVisible(layout.helpShown);
    HelpBtn->setTag(layout.helpTag);
    if (layout.helpShown) {
        m_helpContext = request.helpContext;
        OKBtn->setHelpContext(request.helpContext);
        HelpBtn->setHelpContext(request.helpContext);
    }
    applyGeometry(layout);
    m_laidOut = true;
    OKBtn->setFocus();
}

void TFormDlg::applyGeometry(const MessageLayout& layout) {
    const int frame = frameExtraWidth();
    setFixedWidth(layout.outerWidth - frame);
    OKBtn->move(layout.okLeft, OKBtn->y());
    CancelBtn->move(layout.cancelLeft, CancelBtn->y());
    HelpBtn->move(layout.helpLeft, HelpBtn->y());
    m_laidOutFrame = frame;
}

void TFormDlg::HelpBtnClick() {
    guarded([] {
        if (formDlgRequest.helpContext > 0)
            showHelpContext(formDlgRequest.helpContext);
    });
}

void TFormDlg::reject() {
    guarded([this] { done(2); });
}

bool TFormDlg::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

void TFormDlg::showEvent(QShowEvent* event) {
    // Laying out before the window appears keeps the designed layout from flashing up.
    FormActivate();
    QDialog::showEvent(event);
}

void TFormDlg::hideEvent(QHideEvent* event) {
    // The next showing lays the dialog out again; a window-system hide (minimising) does not
    // count, since the layout has already rewritten the request it started from.
    if (!event->spontaneous())
        m_laidOut = false;
    QDialog::hideEvent(event);
}

void TFormDlg::keyPressEvent(QKeyEvent* event) {
    bool handled = false;
    guarded([&] {
        if (event->modifiers() & ~Qt::KeypadModifier)
            return;
        if (event->key() == Qt::Key_Escape) {
            // Esc means NO while NO is shown, and nothing with OK alone.
            if (!CancelBtn->isHidden())
                CancelBtn->click();
            handled = true;
        } else if (event->key() == Qt::Key_F1) {
            // The help key asks for the context of the focused control, else the dialog's.
            int context = 0;
            for (QWidget* w = focusWidget(); w && w != this && context == 0; w = w->parentWidget())
                context = w->property("helpContext").toInt();
            if (context == 0)
                context = m_helpContext;
            if (context != 0)
                showHelpContext(context);
            handled = true;
        }
    });
    if (handled)
        event->accept();
    else
        QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------

void createFormDlg() {
    if (!FormDlg)
        FormDlg = new TFormDlg(nullptr);
}

int MyFormDialog(const QString& caption, const QString& message, int buttons, int helpContext) {
    // The dialog is modal, so a second message can only be asked for by something that the
    // open dialog's event loop delivers (a timer, a message from another program). Such a
    // call gets a dialog of its own and leaves the open one and its request untouched.
    const bool nested = FormDlg && FormDlg->isVisible();
    const MessageRequest outer = formDlgRequest;

    QPointer<TFormDlg> dialog;
    if (nested) {
        dialog = new TFormDlg(nullptr);
    } else {
        createFormDlg();
        dialog = FormDlg;
    }

    formDlgRequest = MessageRequest{caption, message, buttons, helpContext};
    const int result = dialog->exec();
    delete dialog.data();

    if (nested)
        formDlgRequest = outer;
    else
        FormDlg = nullptr;
    return result == 1 ? 1 : 2;
}

} // namespace lw
