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

namespace lw {

class ReportFrame;
class TFlatButton;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Modification state codes.
    enum : int { StateSaved = 0, StateNew = 3, StateEdited = 5, StateRangeEdited = 6 };

    explicit TForm1(ReportFrame& frame, QWidget* parent = nullptr);

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

    // Controls, each with the objectName() of its member name. (The editor-window code completes
    // this list with the panels and row captions.)
    QLineEdit* Edit1 = nullptr;     // report name
    QRadioButton* RB1 = nullptr;    // "Form Report"
    QRadioButton* RB2 = nullptr;    // "Columnar Report"
    QRadioButton* RB3 = nullptr;    // "Single"
    QRadioButton* RB4 = nullptr;    // "Several"
    QRadioButton* RB5 = nullptr;    // "Path": directory mode
    QRadioButton* RB6 = nullptr;    // "DataBase Name (Alias) ": alias mode
    QLabel* Label2 = nullptr;       // directory label
    QComboBox* ComboBox1 = nullptr; // alias combo box
    QLineEdit* Edit2 = nullptr;     // table file edit
    QPushButton* Button2 = nullptr; // browse button
    QComboBox* ComboBox2 = nullptr; // table combo box
    QLabel* Label3 = nullptr;       // workbook label
    QLineEdit* Edit3 = nullptr;     // record from
    QLineEdit* Edit4 = nullptr;     // record to
    QCheckBox* CheckBox1 = nullptr; // query switch
    QLabel* Label13 = nullptr;      // query label
    QLineEdit* Edit5 = nullptr;     // query condition
    TFlatButton* FlatButton1 = nullptr; // close button

private:
    ReportFrame& m_frame;
    int m_modificationState = 0;
    QString m_definitionPath;
    QString m_workbookPath;
    bool m_workbookForm = false;
    bool m_tableWarningShown = false;
};

} // namespace lw
