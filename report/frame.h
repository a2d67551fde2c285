// What the editor windows and the document commands need of the application frame.
// The main window implements it; tests use a small fake of their own.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace lw {

class TForm1;

class ReportFrame {
public:
    virtual ~ReportFrame() = default;

    // The frame's own window: parent of dialogs; minimised, disabled and restored by the tool commands.
    virtual QWidget* frameWidget() = 0;

    // The five report commands (Save, Blank Build and Generate report buttons, the two Report items).
    virtual void setReportCommandsEnabled(bool enabled) = 0;

    // Creates an editor window as a child of the frame and shows it maximised.
    virtual TForm1* createEditorWindow() = 0;

    // The editor windows in the order of their most recent activation, the active one first;
    // windows never activated follow in creation order.
    virtual QList<TForm1*> editorWindows() const = 0;

    // The active editor window, or nullptr when none exists.
    virtual TForm1* activeEditorWindow() const = 0;

    // The alias list fetched once at start-up.
    virtual QStringList aliasList() const = 0;

    // The shared file dialogs (OpenDialog1 is used by Open and by the browse button).
    virtual QFileDialog* openDialog() = 0;
    virtual QFileDialog* saveDialog() = 0;

    // The last dialog directory (with its trailing separator, or empty).
    virtual QString lastDialogDirectory() const = 0;
    virtual void setLastDialogDirectory(const QString& directory) = 0;

    // Adds a definition path to the recent-files list.
    virtual void addToRecentFiles(const QString& path) = 0;

    // The directory that was current at the end of the frame's creation.
    virtual QString startDirectory() const = 0;
};

} // namespace lw
