// The document commands: New, Open with the load step, Close, Save and Save as, moving a
// report definition between its file and an editor window.
#include "report/documents.h"

#include "data/catalogue.h"
#include "platform/errorbox.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "report/definition.h"
#include "report/frame.h"
#include "report/mdi1.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace lw {

namespace {

const QString kReportFilter = QStringLiteral("Files report (*.pr)");

// Puts a list into a combo box's list and leaves its text empty.
void fillList(QComboBox* box, const QStringList& items) {
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setEditText(QString());
}

// The definition as the window's controls and fields hold it.
ReportDefinition definitionOf(const TForm1& w) {
    ReportDefinition d;
    d.excel = w.workbookPath();
    d.name = w.Edit1->text();
    d.alias = w.RB6->isChecked();
    d.path = d.alias ? w.ComboBox1->currentText() : w.Label2->text();
    d.db = d.alias ? w.ComboBox2->currentText() : w.Edit2->text();
    d.view = w.RB1->isChecked() ? 0 : 1;
    d.list = w.RB3->isChecked() ? 0 : 1;
    d.excelForm = w.workbookForm();
    d.from = recordNumber(w.Edit3->text());
    d.to = recordNumber(w.Edit4->text());
    d.sqlOnOff = w.CheckBox1->isChecked();
    d.sql = w.Edit5->text();
    d.select = w.Label13->text();
    return d;
}

// Runs a file dialog from the given directory; the chosen file, or empty when cancelled.
QString chooseFile(QFileDialog* dialog, const QString& directory) {
    dialog->setNameFilters({kReportFilter});
    if (!directory.isEmpty())
        dialog->setDirectory(directory);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles().value(0);
}

// Why the file is not a report definition, or empty when it is one: a definition is text with a
// "REPORT" section. An empty file counts as an empty definition: there is nothing in it to lose.
// Files past the profile store's bound are left to the store, which refuses them with its reason.
QString notDefinitionReason(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    if (info.size() > profileMaxBytes())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read");
    const QByteArray bytes = file.readAll();
    if (bytes.contains('\0'))
        return QStringLiteral("it is not a text file");
    if (bytes.trimmed().isEmpty())
        return {};
    if (!Profile(path).readSections({QStringLiteral("REPORT")}).at(0).exists())
        return QStringLiteral("it has no [REPORT] section");
    return {};
}

} // namespace

TForm1* newDocument(ReportFrame& frame) {
    frame.setReportCommandsEnabled(true);
    const qsizetype existing = frame.editorWindows().size();
    TForm1* w = frame.createEditorWindow();
    const QString name = QStringLiteral("No Name ") + QString::number(existing + 1);
    w->setWindowTitle(name);
    w->Edit1->setText(name);
    w->setDefinitionPath(name);
    w->Edit2->clear();
    w->setDirectoryLabel(QString());
    w->setWorkbookLabel(QString());
    w->setWorkbookForm(false);
    fillList(w->ComboBox1, frame.aliasList());
    w->ComboBox2->setEditText(QString());
    w->Edit5->clear();
    w->setTextWhole(w->Edit3, QStringLiteral("1"), TForm1::kRecordLength);
    w->setTextWhole(w->Edit4, QStringLiteral("10"), TForm1::kRecordLength);
    w->CheckBox1->setEnabled(false);
    w->Label13->setEnabled(false);
    w->Edit5->setEnabled(false);
    w->setModificationState(TForm1::StateNew);
    return w;
}

void openDocument(ReportFrame& frame) {
    const QString chosen = chooseFile(frame.openDialog(), frame.lastDialogDirectory());
    if (chosen.isEmpty())
        return;
    frame.setLastDialogDirectory(directoryPart(chosen));
    bool notDefinition = false;
    loadDocument(frame, chosen, &notDefinition);
    // A file that is no definition is not one to come back to.
    if (!notDefinition)
        frame.addToRecentFiles(chosen);
}

TForm1* loadDocument(ReportFrame& frame, const QString& path, bool* notDefinition) {
    if (notDefinition)
        *notDefinition = false;
    // 1. The file must be there and readable; whether it can be written is Save's concern, so a
    // definition in a read-only folder or on a read-only disk still opens.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir() || !info.isReadable()) {
        MyFormDialog(messageText(1), path, 1, 0);
        return nullptr;
    }
    // 2. One window per file.
    for (TForm1* open : frame.editorWindows()) {
        if (open->definitionPath() == path) {
            MyFormDialog(messageText(2), path, 1, 0);
            return nullptr;
        }
    }
    // A file that is no report definition (notes, a workbook, a pipe) is refused before a window could
    // save report keys into it.
    if (const QString why = notDefinitionReason(path); !why.isEmpty()) {
        if (notDefinition)
            *notDefinition = true;
        showErrorBox(path + QStringLiteral(" is not a report definition: ") + why);
        return nullptr;
    }
    const ReportDefinition d = readDefinition(path);
    // 3, 4.
    frame.setReportCommandsEnabled(true);
    TForm1* w = frame.createEditorWindow();
    // 5. The alias names afresh from the catalogue; an engine failure ends the command here.
    QStringList aliases;
    listAliases(aliases);
    fillList(w->ComboBox1, aliases);
    w->ComboBox2->setEditText(QString());
    w->Edit5->clear();
    // 6 to 10.
    w->setWorkbookPath(d.excel);
    w->setWorkbookLabel(d.excel);
    w->setTextWhole(w->Edit1, d.name, TForm1::kNameLength);
    w->RB6->setChecked(d.alias);
    if (d.alias) {
        w->Edit2->clear();
        w->ComboBox1->show();
        w->ComboBox2->show();
        w->ComboBox2->setEditText(d.db);
        w->Edit2->hide();
        w->Button2->hide();
        w->ComboBox1->setEditText(d.path);
        w->setDirectoryLabel(QString());
    } else {
        w->Label2->show();
        w->setDirectoryLabel(d.path);
        w->ComboBox1->hide();
        w->ComboBox2->hide();
        w->Edit2->show();
        w->Edit2->setText(d.db);
        w->Button2->show();
    }
    // 11.
    if (d.view == 1)
        w->RB2->setChecked(true);
    if (d.list == 1)
        w->RB4->setChecked(true);
    // 12, 13.
    w->setWorkbookForm(d.excelForm);
    w->setTextWhole(w->Edit3, QString::number(d.from), TForm1::kRecordLength);
    w->setTextWhole(w->Edit4, QString::number(d.to), TForm1::kRecordLength);
    // 14. A loaded window always offers the query switch.
    w->CheckBox1->setChecked(d.sqlOnOff);
    w->CheckBox1->setEnabled(true);
    w->Label13->setEnabled(d.sqlOnOff);
    w->Edit5->setEnabled(d.sqlOnOff);
    // 15.
    w->Edit5->setText(d.sql);
    w->setQueryLabel(d.select);
    w->placeConditionEdit();
    // 16. The handlers above raised the state while the window filled.
    w->setModificationState(TForm1::StateSaved);
    w->setDefinitionPath(path);
    w->setWindowTitle(fileNamePart(path));
    return w;
}

void closeDocument(ReportFrame& frame) {
    if (TForm1* w = frame.activeEditorWindow())
        w->closeWindow();
}

bool saveDocument(ReportFrame& frame, TForm1* w) {
    if (!w || frame.editorWindows().isEmpty())
        return false;
    if (w->modificationState() == TForm1::StateNew)
        return saveDocumentAs(frame, w);
    const QString oldWorkbook = w->workbookPath();
    const QString workbook = workbookPathFor(w->definitionPath());
    w->setWorkbookPath(workbook);
    w->setWorkbookLabel(workbook);
    try {
        writeDefinition(w->definitionPath(), definitionOf(*w));
    } catch (...) {
        // A refused write leaves the window as it was, still marked changed.
        w->setWorkbookPath(oldWorkbook);
        w->setWorkbookLabel(oldWorkbook);
        throw;
    }
    w->setModificationState(TForm1::StateSaved);
    return true;
}

bool saveDocumentAs(ReportFrame& frame, TForm1* w) {
    if (!w || frame.editorWindows().isEmpty())
        return false;
    QFileDialog* dialog = frame.saveDialog();
    dialog->setWindowTitle(QStringLiteral("Save Report"));
    const QString chosen = chooseFile(dialog, frame.lastDialogDirectory());
    if (chosen.isEmpty())
        return false;
    frame.setLastDialogDirectory(directoryPart(chosen));
    const QString name = definitionFileName(chosen);

    const QString oldPath = w->definitionPath();
    const QString oldTitle = w->windowTitle();
    const int oldState = w->modificationState();
    w->setDefinitionPath(name);
    w->setWorkbookLabel(w->workbookPath());
    w->setWindowTitle(fileNamePart(name));
    w->setModificationState(TForm1::StateEdited);
    try {
        saveDocument(frame, w);
    } catch (...) {
        // Nothing was saved under the new name: the window keeps its old identity.
        w->setDefinitionPath(oldPath);
        w->setWindowTitle(oldTitle);
        w->setModificationState(oldState);
        throw;
    }
    frame.addToRecentFiles(name);
    return true;
}

} // namespace lw
