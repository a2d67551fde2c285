// The settings file "l_wick.ini": window bounds, the last dialog directory, the "Show prepared
// report" option and the four-entry recent-files list shown at the foot of the File menu.
#pragma once

#include "platform/profile.h"

#include <QString>

#include <array>

namespace lw {

class TMainForm;

// Stores the "Show prepared report" option at once ("EXCEL"/"Show", "1" or "0").
// A refused write throws ProfileWriteError.
void storeShowOption(bool on);
// Stores the "New blanks as .xlsx" option at once ("EXCEL"/"Format", "xlsx" or "xls").
void storeFormatOption(bool xlsx);

// The application's remembered values and their menu items; one instance, owned by the main window.
class Settings {
public:
    static constexpr int RecentCount = 4;

    explicit Settings(TMainForm& form);

    // Load settings: bounds, option, recent files with their menu items, last dialog directory.
    void load();
    // Whether load() has run to its end. Settings that were never loaded are never saved, so a
    // start that failed early cannot overwrite the user's stored values with the designed ones.
    bool loaded() const { return m_loaded; }

    // Save settings: bounds, last dialog directory, recent files, in that order. A refused write
    // throws ProfileWriteError and leaves the file as it was.
    void save();

    // Add to recent files: a new path goes to the top and the oldest drops off; a path already
    // in the list (compared exactly) leaves list and menu as they are.
    void addToRecentFiles(const QString& path);

    // Open recent file: loads entry tag - 1 through the load step; the list is not changed.
    void openRecentFile(int tag);

    const std::array<QString, RecentCount>& recentFiles() const { return m_recentFiles; }

    // The directory part, with its trailing separator, of the file last chosen in a file dialog.
    QString lastDialogDirectory() const { return m_lastDialogDirectory; }
    void setLastDialogDirectory(const QString& directory) { m_lastDialogDirectory = directory; }

private:
    TMainForm& m_form;
    std::array<QString, RecentCount> m_recentFiles;
    QString m_lastDialogDirectory;
    bool m_loaded = false;
};

} // namespace lw
