// TForm1: the report editor window, one multiple-document child per open report definition.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <limits>

class QCloseEvent;
class QKeyEvent;
class QMdiSubWindow;

namespace lw {

class ReportFrame;
class TFlatButton;

// A combo box that says when its drop-down list is about to open, by mouse or by key.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void popupAboutToShow();
};

// A panel of the editor window: a raised frame that may draw a caption of its own, left-aligned
// and vertically centred, and reports its size changes.
class CaptionPanel : public QFrame {
    Q_OBJECT
public:
    explicit CaptionPanel(QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_caption;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Modification state codes.
    enum : int { StateSaved = 0, StateNew = 3, StateEdited = 5, StateRangeEdited = 6 };

    explicit TForm1(ReportFrame& frame, QWidget* parent = nullptr);

    // The designed client area: 513 wide, the seven rows' designed heights high.
    static constexpr int kDesignedWidth = 513;
    static constexpr int kDesignedHeight = 281;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Private state, in its designed order.
    int modificationState() const { return m_modificationState; }
    void setModificationState(int state) { m_modificationState = state; }
    QString definitionPath() const { return m_definitionPath; }
    void setDefinitionPath(const QString& path) { m_definitionPath = path; }
    QString workbookPath() const { return m_workbookPath; }
    void setWorkbookPath(const QString& path) { m_workbookPath = path; }
    bool workbookForm() const { return m_workbookForm; }
    void setWorkbookForm(bool on) { m_workbookForm = on; }
    bool tableWarningShown() const { return m_tableWarningShown; }

    // Alias mode: the "DataBase Name (Alias) " radio button is checked.
    bool aliasMode() const { return RB6->isChecked(); }

    // The three labels that size themselves to their text: set them through these.
    void setDirectoryLabel(const QString& text); // Label2
    void setWorkbookLabel(const QString& text);  // Label3
    void setQueryLabel(const QString& text);     // Label13
    // Moves the query condition edit to 5 pixels right of the query label.
    void placeConditionEdit();
    // Puts a text into an edit without cutting it to the edit's designed length limit (a stored
    // name or record number longer than the limit is kept whole).
    void setTextWhole(QLineEdit* edit, const QString& text, int designedLimit);
    static constexpr int kNameLength = 225;
    static constexpr int kRecordLength = 4;
    static constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

    // Closes the window as its close button does, through the sub-window that hosts it.
    // Returns false when the close was refused (the Save-as dialog cancelled, or the save failed).
    bool closeWindow();

    // Event handlers. Each is an entry point of its own and runs its body guarded.
    void Edit1Change();
    void Edit2Change(QObject* sender);
    void RB1Click();
    void RB2Click();
    void RB3Click();
    void RB5Click();
    void RB6Click();
    void ComboBox1Change();
    // The table combo box's list opens: an empty list is filled from the alias first.
    void ComboBox2DropDown();
    // Key handlers: a character set to Escape (27) is refused.
    void ComboBox1KeyPress(QChar& key);
    void Edit2KeyPress(QChar& key);
    void Edit3KeyPress(QChar& key);
    void Edit3Change();
    void CheckBox1Click();
    void Edit5Change();
    void Panel6Resize();
    void Button2Click();
    void FlatButton1Click();
    // The close handling: the save question and the report commands. Returns whether the window
    // may close; a failed save throws (the caller's guard shows it) and so keeps the window too.
    bool FormClose();

    // Panels, in their designed order.
    CaptionPanel* Panel1 = nullptr; // report name; close button
    CaptionPanel* Panel2 = nullptr; // report type
    CaptionPanel* Panel3 = nullptr; // number of sheets (own caption)
    CaptionPanel* Panel4 = nullptr; // data-source mode (own caption)
    CaptionPanel* Panel7 = nullptr; // database and table
    CaptionPanel* Panel5 = nullptr; // workbook file
    CaptionPanel* Panel6 = nullptr; // record range and query
    QFrame* Panel8 = nullptr;       // right edge of Panel1, holds the close button

    // Row captions.
    QLabel* Label8 = nullptr;  // " Report name"
    QLabel* Label1 = nullptr;  // " Report type"
    QLabel* Label4 = nullptr;  // " Number of sheets"
    QLabel* Label5 = nullptr;  // " Open Table by ..."
    QLabel* Label7 = nullptr;  // " DataBase Name (Alias)"
    QLabel* Label6 = nullptr;  // " Table Name"
    QLabel* Label9 = nullptr;  // " MS Excel file Name"
    QLabel* Label10 = nullptr; // " Record from"
    QLabel* Label12 = nullptr; // " to  "
    QLabel* Label11 = nullptr; // " SQL"

    // Controls, each with the objectName() of its member name.
    QLineEdit* Edit1 = nullptr;         // report name
    QRadioButton* RB1 = nullptr;        // "Form Report"
    QRadioButton* RB2 = nullptr;        // "Columnar Report"
    QRadioButton* RB3 = nullptr;        // "Single"
    QRadioButton* RB4 = nullptr;        // "Several"
    QRadioButton* RB5 = nullptr;        // "Path": directory mode
    QRadioButton* RB6 = nullptr;        // "DataBase Name (Alias) ": alias mode
    QLabel* Label2 = nullptr;           // directory label
    QComboBox* ComboBox1 = nullptr;     // alias combo box
    QLineEdit* Edit2 = nullptr;         // table file edit
    QPushButton* Button2 = nullptr;     // browse button
    QComboBox* ComboBox2 = nullptr;     // table combo box
    QLabel* Label3 = nullptr;           // workbook label
    QLineEdit* Edit3 = nullptr;         // record from
    QLineEdit* Edit4 = nullptr;         // record to
    QCheckBox* CheckBox1 = nullptr;     // query switch
    QLabel* Label13 = nullptr;          // query label
    QLineEdit* Edit5 = nullptr;         // query condition
    TFlatButton* FlatButton1 = nullptr; // close button

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeRows();
    void createControls();
    void connectHandlers();
    void markEdited(int code);
    QMdiSubWindow* hostSubWindow() const;

    ReportFrame& m_frame;
    int m_modificationState = 0;
    QString m_definitionPath;
    QString m_workbookPath;
    bool m_workbookForm = false;
    bool m_tableWarningShown = false;

    bool m_closeAccepted = false; // the close handling has run and agreed
    bool m_hostClosing = false;   // the hosting sub-window is delivering its close to us
};

} // namespace lw
