// TForm1: the report editor window's controls and layout, its handlers, the key filters
// of its fields and its close handling.
#include "report/mdi1.h"

#include "platform/errorbox.h"
#include "platform/paths.h"
#include "data/catalogue.h"
#include "report/documents.h"
#include "report/frame.h"
#include "ui/flatbtn.h"
#include "ui/fonts.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QPainter>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <utility>

namespace lw {

namespace {

constexpr char16_t kEscape = 27;
constexpr char16_t kBackspace = 8;

// The characters a key press types into a field; empty for keys that type nothing (arrows,
// Delete, modifiers), for Tab, which only moves the focus, and for shortcuts such as Ctrl+A, Ctrl+C
// or Ctrl+V: with Ctrl held (and not Alt, which with Ctrl can make AltGr's characters) a key is a
// command to the field, never a character typed, and a line edit inserts no text for it. What a
// paste brings in is checked by the field's validator instead.
QString typedText(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if ((modifiers & (Qt::ControlModifier | Qt::MetaModifier)) && !(modifiers & Qt::AltModifier))
        return {};
    QString text = event->text();
    text.remove(QChar(0x7f));
    return text;
}

// A row caption: a fixed 136 x 18 label, grey background, white text.
QLabel* rowCaption(QWidget* panel, const char* name, const QString& text, int left, int top,
                   int width = 136) {
    auto* label = new QLabel(text, panel);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(left, top, width, 18);
    label->setAutoFillBackground(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 128));
    pal.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(pal);
    return label;
}

// A label that sizes itself to its text (the placeholder until the window is filled).
QLabel* textLabel(QWidget* panel, const char* name, int left, int top) {
    auto* label = new QLabel(QLatin1String(name), panel);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* flatEdit(QWidget* panel, const char* name, const QRect& geometry) {
    auto* edit = new QLineEdit(QLatin1String(name), panel);
    edit->setObjectName(QLatin1String(name));
    edit->setFrame(false);
    edit->setGeometry(geometry);
    return edit;
}

QRadioButton* radio(QWidget* panel, const char* name, const QString& text, const QRect& geometry) {
    auto* button = new QRadioButton(text, panel);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QComboBox* comboBox(QWidget* panel, const char* name, const QRect& geometry) {
    auto* box = new DropDownComboBox(panel);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // An alias or table name from a file is shown whole, however long.
    box->lineEdit()->setMaxLength(TForm1::kNoLengthLimit);
    box->setEditText(QLatin1String(name));
    box->setGeometry(geometry);
    return box;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DropDownComboBox

void DropDownComboBox::showPopup() {
    emit popupAboutToShow();
    QComboBox::showPopup();
}

// ---------------------------------------------------------------------------------------------
// CaptionPanel

CaptionPanel::CaptionPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void CaptionPanel::setCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void CaptionPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    QRect area = contentsRect();
    // The caption lies under the opaque row caption label at the panel's left edge. A font wider
    // than the designed one must not let its end show past that label, between it and the controls.
    const QPoint start(area.left() + 5, area.center().y()); // within the caption's leading blank
    for (const QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->isVisible() && label->geometry().contains(start)) {
            area.setRight(label->geometry().right());
            break;
        }
    }
    painter.setClipRect(area);
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_caption);
}

void CaptionPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    emit resized();
}

// ---------------------------------------------------------------------------------------------
// TForm1: construction

TForm1::TForm1(ReportFrame& frame, QWidget* parent) : QWidget(parent), m_frame(frame) {
    setObjectName(QStringLiteral("Form1"));
    setFont(designedFont(QStringLiteral("MS Sans Serif"), 11));
    // Black text on enabled controls; disabled ones keep the style's greyed text.
    QPalette pal = palette();
    pal.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    setPalette(pal);
    createControls();
    connectHandlers();
    resize(sizeHint());
    placeRows();
}

QSize TForm1::sizeHint() const {
    return {kDesignedWidth, kDesignedHeight};
}

QSize TForm1::minimumSizeHint() const {
    // Any size will do: what does not fit is cut off at the right and bottom edges.
    return {0, 0};
}

void TForm1::placeRows() {
    // The rows keep their designed heights and places whatever the window's size: a window
    // smaller than designed cuts them off at its right and bottom edges, as fixed panels are
    // cut, rather than squeezing them into each other. The last row takes what is left below.
    const int width = std::max(this->width(), kDesignedWidth);
    int top = 0;
    for (CaptionPanel* row : {Panel1, Panel2, Panel3, Panel4, Panel7, Panel5}) {
        row->setGeometry(0, top, width, row->height());
        top += row->height();
    }
    Panel6->setGeometry(0, top, width, std::max(height(), kDesignedHeight) - top);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeRows();
}

void TForm1::createControls() {
    // The rows are placed by placeRows(), top to bottom in the order made here.
    auto panel = [this](const char* name, int height) {
        auto* p = new CaptionPanel(this);
        p->setObjectName(QLatin1String(name));
        if (height > 0)
            p->setFixedHeight(height);
        return p;
    };
    // Shown top to bottom; the database row stands fifth.
    Panel1 = panel("Panel1", 33);
    Panel2 = panel("Panel2", 30);
    Panel3 = panel("Panel3", 30);
    Panel4 = panel("Panel4", 30);
    Panel7 = panel("Panel7", 60);
    Panel5 = panel("Panel5", 32);
    Panel6 = panel("Panel6", 0);
    Panel3->setCaption(QStringLiteral(" Формировать отчеты на"));
    Panel4->setCaption(QStringLiteral(" Вид пути"));

    // Row 1: report name and the close button on a panel at the right edge.
    Label8 = rowCaption(Panel1, "Label8", QStringLiteral(" Report name"), 5, 7);
    Edit1 = flatEdit(Panel1, "Edit1", QRect(152, 7, 273, 19));
    Edit1->setMaxLength(kNameLength);
    auto* right = new QHBoxLayout(Panel1);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addStretch(1);
    Panel8 = new QFrame(Panel1);
    Panel8->setObjectName(QStringLiteral("Panel8"));
    Panel8->setFrameStyle(QFrame::NoFrame);
    Panel8->setFixedWidth(76);
    right->addWidget(Panel8);
    FlatButton1 = new TFlatButton(Panel8);
    FlatButton1->setObjectName(QStringLiteral("FlatButton1"));
    setupProgramButton(FlatButton1, QStringLiteral("Close"));
    FlatButton1->setGeometry(19, 3, 57, 24);

    // Row 2: report type.
    Label1 = rowCaption(Panel2, "Label1", QStringLiteral(" Report type"), 5, 8);
    RB1 = radio(Panel2, "RB1", QStringLiteral("Form Report"), QRect(151, 8, 97, 17));
    RB2 = radio(Panel2, "RB2", QStringLiteral("Columnar Report"), QRect(264, 8, 137, 17));
    RB2->setProperty("Tag", 1);
    RB1->setChecked(true);

    // Row 3: number of sheets.
    Label4 = rowCaption(Panel3, "Label4", QStringLiteral(" Number of sheets"), 3, 7);
    RB3 = radio(Panel3, "RB3", QStringLiteral("Single"), QRect(150, 8, 113, 17));
    RB4 = radio(Panel3, "RB4", QStringLiteral("Several"), QRect(264, 8, 129, 17));
    RB4->setProperty("Tag", 1);
    RB3->setChecked(true);

    // Row 4: data-source mode.
    Label5 = rowCaption(Panel4, "Label5", QStringLiteral(" Open Table by ..."), 3, 7);
    RB5 = radio(Panel4, "RB5", QStringLiteral("Path"), QRect(150, 8, 113, 17));
    RB6 = radio(Panel4, "RB6", QStringLiteral("DataBase Name (Alias) "), QRect(264, 8, 177, 17));
    RB5->setChecked(true);

    // Row 5: database (directory or alias) and table; the mode decides which of each pair shows.
    Label7 = rowCaption(Panel7, "Label7", QStringLiteral(" DataBase Name (Alias)"), 4, 10);
    Label6 = rowCaption(Panel7, "Label6", QStringLiteral(" Table Name"), 4, 35);
    Label2 = textLabel(Panel7, "Label2", 152, 9);
    ComboBox1 = comboBox(Panel7, "ComboBox1", QRect(150, 7, 145, 21));
    ComboBox1->setFrame(false);
    // Aliases are picked from the list only: nothing can be typed, pasted or deleted.
    ComboBox1->lineEdit()->setReadOnly(true);
    ComboBox1->hide();
    Edit2 = flatEdit(Panel7, "Edit2", QRect(149, 34, 240, 19));
    Edit2->setMaxLength(kNoLengthLimit);
    Button2 = new QPushButton(QStringLiteral("..."), Panel7);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(393, 34, 24, 19);
    ComboBox2 = comboBox(Panel7, "ComboBox2", QRect(149, 34, 241, 21));
    ComboBox2->hide();

    // Row 6: workbook file.
    Label9 = rowCaption(Panel5, "Label9", QStringLiteral(" MS Excel file Name"), 3, 7);
    Label3 = textLabel(Panel5, "Label3", 152, 9);

    // Row 7: record range and query.
    Label10 = rowCaption(Panel6, "Label10", QStringLiteral(" Record from"), 3, 7);
    Edit3 = flatEdit(Panel6, "Edit3", QRect(150, 6, 35, 19));
    Label12 = rowCaption(Panel6, "Label12", QStringLiteral(" to  "), 194, 7, 15);
    Edit4 = flatEdit(Panel6, "Edit4", QRect(215, 6, 35, 19));
    // Pasted or dropped text must be digits too, as typing allows nothing else.
    for (QLineEdit* edit : {Edit3, Edit4}) {
        edit->setMaxLength(kRecordLength);
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    Label11 = rowCaption(Panel6, "Label11", QStringLiteral(" SQL"), 4, 31);
    CheckBox1 = new QCheckBox(Panel6);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(150, 32, 17, 17);
    CheckBox1->setEnabled(false);
    Label13 = textLabel(Panel6, "Label13", 177, 35);
    Label13->setEnabled(false);
    Edit5 = flatEdit(Panel6, "Edit5", QRect(229, 30, 271, 19));
    Edit5->setMaxLength(kNoLengthLimit);
    Edit5->setEnabled(false);

    // Keyboard order: the panels 1 to 6, then the database row; within each, the designed order.
    const QList<QWidget*> order = {Edit1, RB1,       RB2,   RB3,       RB4,   RB5,     RB6,      Edit3,
                                   Edit4, CheckBox1, Edit5, ComboBox1, Edit2, Button2, ComboBox2};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    for (QObject* field :
         {static_cast<QObject*>(ComboBox1), static_cast<QObject*>(ComboBox1->lineEdit()),
          static_cast<QObject*>(Edit2), static_cast<QObject*>(Edit3), static_cast<QObject*>(Edit4)})
        field->installEventFilter(this);
}

void TForm1::connectHandlers() {
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Edit2, &QLineEdit::textChanged, this, [this] { Edit2Change(Edit2); });
    // The table combo box reacts to the user's typing and picking only, not to the program.
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, [this] { Edit2Change(ComboBox2); });
    connect(ComboBox2, &QComboBox::textActivated, this, [this] { Edit2Change(ComboBox2); });
    connect(ComboBox1, &QComboBox::textActivated, this, [this] { ComboBox1Change(); });
    connect(static_cast<DropDownComboBox*>(ComboBox2), &DropDownComboBox::popupAboutToShow, this,
            [this] { ComboBox2DropDown(); });
    // Radio buttons run their handler when they become checked.
    auto onChecked = [this](QRadioButton* button, void (TForm1::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool on) {
            if (on)
                (this->*handler)();
        });
    };
    onChecked(RB1, &TForm1::RB1Click);
    onChecked(RB2, &TForm1::RB2Click);
    onChecked(RB3, &TForm1::RB3Click);
    onChecked(RB4, &TForm1::RB3Click);
    onChecked(RB5, &TForm1::RB5Click);
    onChecked(RB6, &TForm1::RB6Click);
    connect(Edit3, &QLineEdit::textChanged, this, [this] { Edit3Change(); });
    connect(Edit4, &QLineEdit::textChanged, this, [this] { Edit3Change(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    // An edited condition is unsaved work like the switch that turns it on.
    connect(Edit5, &QLineEdit::textChanged, this, [this] { Edit5Change(); });
    connect(Panel6, &CaptionPanel::resized, this, [this] { Panel6Resize(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(FlatButton1, &TFlatButton::clicked, this, [this] { FlatButton1Click(); });
}

// ---------------------------------------------------------------------------------------------
// Small helpers

void TForm1::markEdited(int code) {
    if (m_modificationState == StateSaved)
        m_modificationState = code;
}

void TForm1::setDirectoryLabel(const QString& text) {
    Label2->setText(text);
    Label2->adjustSize();
}

void TForm1::setWorkbookLabel(const QString& text) {
    // Save sets the same name again each time: the label keeps its text and the size made for it.
    if (Label3->text() == text)
        return;
    Label3->setText(text);
    Label3->adjustSize();
}

void TForm1::setQueryLabel(const QString& text) {
    Label13->setText(text);
    Label13->adjustSize();
}

void TForm1::placeConditionEdit() {
    Edit5->move(Label13->x() + Label13->width() + 5, Edit5->y());
}

void TForm1::setTextWhole(QLineEdit* edit, const QString& text, int designedLimit) {
    // The length limit stops typing only: a line edit would cut a longer text given to it, and the
    // next Save would write the cut text back. A stored value stays whole.
    edit->setMaxLength(qMax<int>(designedLimit, int(text.size())));
    edit->setText(text);
}

QMdiSubWindow* TForm1::hostSubWindow() const {
    return qobject_cast<QMdiSubWindow*>(parentWidget());
}

bool TForm1::closeWindow() {
    if (QMdiSubWindow* sub = hostSubWindow())
        return sub->close();
    return close();
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TForm1::Edit1Change() {
    guarded([&] { markEdited(StateEdited); });
}

void TForm1::Edit2Change(QObject* sender) {
    guarded([&] {
        markEdited(StateEdited);
        const QString table = sender == Edit2 ? Edit2->text() : ComboBox2->currentText();
        setQueryLabel(QStringLiteral("Select * from ") + table);
        placeConditionEdit();
        CheckBox1->setEnabled(true);
        Label13->setEnabled(true);
    });
}

void TForm1::RB1Click() {
    guarded([&] {
        markEdited(StateEdited);
        RB4->setEnabled(true);
    });
}

void TForm1::RB2Click() {
    guarded([&] {
        markEdited(StateEdited);
        RB3->setChecked(true);
        RB4->setEnabled(false);
    });
}

void TForm1::RB3Click() {
    guarded([&] { markEdited(StateEdited); });
}

void TForm1::RB5Click() {
    guarded([&] {
        markEdited(StateEdited);
        ComboBox1->hide();
        ComboBox2->hide();
        Edit2->show();
        Button2->show();
        Label2->show();
        if (Label2->text().isEmpty() && !ComboBox1->currentText().isEmpty())
            setDirectoryLabel(normalisePath(ComboBox1->currentText()));
    });
}

void TForm1::RB6Click() {
    guarded([&] {
        markEdited(StateEdited);
        ComboBox1->show();
        ComboBox2->show();
        Edit2->hide();
        Button2->hide();
        Label2->hide();
    });
}

void TForm1::ComboBox1Change() {
    guarded([&] {
        const QString alias = ComboBox1->currentText();
        if (alias.isEmpty())
            return;
        const QString text = ComboBox2->currentText();
        QStringList tables;
        try {
            listTables(alias, tables);
        } catch (...) {
            // Nothing is reported: the table choice is simply empty.
            ComboBox2->clear();
            ComboBox2->setEditText(QString());
            return;
        }
        ComboBox2->clear();
        ComboBox2->addItems(tables);
        ComboBox2->setCurrentIndex(-1);
        ComboBox2->setEditText(text);
    });
}

void TForm1::ComboBox2DropDown() {
    guarded([&] {
        // A definition opened in alias mode shows its alias and table but has no list yet: the
        // list is read when the user first opens it, so that Open never waits for a server.
        const QString alias = ComboBox1->currentText();
        if (ComboBox2->count() > 0 || alias.isEmpty())
            return;
        QStringList tables;
        try {
            listTables(alias, tables);
        } catch (...) {
            // Nothing is reported, and the table name shown stays: the list is simply empty.
            return;
        }
        const QString text = ComboBox2->currentText();
        ComboBox2->addItems(tables);
        ComboBox2->setCurrentIndex(-1);
        ComboBox2->setEditText(text);
    });
}

void TForm1::ComboBox1KeyPress(QChar& key) {
    key = QChar(kEscape);
}

void TForm1::Edit2KeyPress(QChar& /*key*/) {
    guarded([&] {
        if (!m_tableWarningShown)
            MyFormDialog(messageText(5), messageText(9), 0, 0);
        m_tableWarningShown = true;
    });
}

void TForm1::Edit3KeyPress(QChar& key) {
    const char16_t code = key.unicode();
    if (code != kBackspace && (code < u'0' || code > u'9'))
        key = QChar(kEscape);
}

void TForm1::Edit3Change() {
    guarded([&] { markEdited(StateRangeEdited); });
}

void TForm1::CheckBox1Click() {
    guarded([&] {
        markEdited(StateRangeEdited);
        const bool on = CheckBox1->isChecked();
        Label13->setEnabled(on);
        Edit5->setEnabled(on);
    });
}

void TForm1::Edit5Change() {
    guarded([&] { markEdited(StateRangeEdited); });
}

void TForm1::Panel6Resize() {
    guarded([&] { Edit5->resize(Panel6->width() - Edit5->x() - 90, Edit5->height()); });
}

void TForm1::Button2Click() {
    guarded([&] {
        const QString start =
            Label2->text().isEmpty() ? m_frame.lastDialogDirectory() : normalisePath(Label2->text());
        QFileDialog* dialog = m_frame.openDialog();
        dialog->setNameFilters({QStringLiteral("*.DB"), QStringLiteral("*.DBF")});
        dialog->setDirectory(start);
        dialog->selectFile(Edit2->text());
        if (dialog->exec() != QDialog::Accepted)
            return;
        const QString chosen = dialog->selectedFiles().value(0);
        if (chosen.isEmpty())
            return;
        Edit2->setText(fileNamePart(chosen));
        setDirectoryLabel(directoryPart(chosen));
    });
}

void TForm1::FlatButton1Click() {
    guarded([&] { closeWindow(); });
}

bool TForm1::FormClose() {
    if (m_modificationState != StateSaved) {
        const int answer =
            MyFormDialog(messageText(4), QStringLiteral("<< ") + Edit1->text() + QStringLiteral(" >>"), 2, 0);
        // Cancelling the Save-as dialog keeps the window and its definition; a failing save
        // throws and keeps it too.
        if (answer == 1 && !saveDocument(m_frame, this))
            return false;
    }
    if (m_frame.editorWindows().size() <= 1)
        m_frame.setReportCommandsEnabled(false);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Events

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        if (QMdiSubWindow* sub = hostSubWindow()) {
            // The sub-window forwards its close to us; we learn of it first so that the close
            // handling runs once, and the sub-window goes away with us.
            sub->installEventFilter(this);
            sub->setAttribute(Qt::WA_DeleteOnClose);
        }
    }
    return QWidget::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == hostSubWindow()) {
        m_hostClosing = true;
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const QString text = typedText(static_cast<QKeyEvent*>(event));
    if (text.isEmpty())
        return false;
    void (TForm1::*handler)(QChar&) = nullptr;
    if (watched == ComboBox1 || watched == ComboBox1->lineEdit())
        handler = &TForm1::ComboBox1KeyPress;
    else if (watched == Edit2)
        handler = &TForm1::Edit2KeyPress;
    else if (watched == Edit3 || watched == Edit4)
        handler = &TForm1::Edit3KeyPress;
    if (!handler)
        return false;
    bool refused = false;
    for (QChar ch : text) {
        QChar key = ch;
        (this->*handler)(key);
        if (key.unicode() == kEscape)
            refused = true;
    }
    return refused;
}

void TForm1::closeEvent(QCloseEvent* event) {
    const bool viaHost = std::exchange(m_hostClosing, false);
    if (m_closeAccepted) {
        event->accept();
        return;
    }
    bool mayClose = false;
    guarded([&] { mayClose = FormClose(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    m_closeAccepted = true;
    event->accept();
    // Closed directly rather than through its sub-window: take the sub-window along.
    if (!viaHost) {
        if (QMdiSubWindow* sub = hostSubWindow())
            sub->close();
    }
}

} // namespace lw
