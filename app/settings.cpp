// The settings file "l_wick.ini" and the recent-files list with its four File-menu items.
#include "app/settings.h"

#include "app/mainform.h"
#include "app/menuitem.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "report/documents.h"

#include <QGuiApplication>
#include <QScreen>

namespace lw {

namespace {
const QString kMainForm = QStringLiteral("MainForm");
const QString kDialog = QStringLiteral("DIALOG");
const QString kMenu = QStringLiteral("MENU");
const QString kExcel = QStringLiteral("EXCEL");
// The available area of the primary screen (empty without a screen).
QSize screenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableVirtualGeometry().size() : QSize();
}

// A stored width or height as applied: a damaged file's size that is not positive keeps the
// current one, and one larger than the screen is brought down to the screen's.
int storedExtent(int stored, int current, int screen) {
    if (stored <= 0)
        return current;
    return screen > 0 ? qMin(stored, screen) : stored;
}

} // namespace

void storeShowOption(bool on) {
    Profile profile(settingsFileName());
    profile.writeBool(kExcel, QStringLiteral("Show"), on);
}

void storeFormatOption(bool xlsx) {
    Profile profile(settingsFileName());
    profile.writeString(kExcel, QStringLiteral("Format"), xlsx ? QStringLiteral("xlsx") : QStringLiteral("xls"));
}

Settings::Settings(TMainForm& form) : m_form(form) {}

void Settings::load() {
    // One read of the file for every value; each is looked up as a single read would find it.
    const QList<ProfileSection> sections = Profile(settingsFileName()).readSections({kMainForm, kExcel, kMenu, kDialog});
    const ProfileSection& mainForm = sections.at(0);
    const ProfileSection& excel = sections.at(1);
    const ProfileSection& menu = sections.at(2);
    const ProfileSection& dialog = sections.at(3);

    // Each value is applied before the next is looked up, so each default is the window's value then.
    // What save() writes is exactly what is applied here, so the size is the same from run to run.
    m_form.resize(storedExtent(mainForm.readInteger(QStringLiteral("Width"), m_form.width()), m_form.width(),
                               screenSize().width()),
                  m_form.height());
    m_form.resize(m_form.width(), storedExtent(mainForm.readInteger(QStringLiteral("Height"), m_form.height()),
                                               m_form.height(), screenSize().height()));
    m_form.move(mainForm.readInteger(QStringLiteral("Left"), m_form.x()), m_form.y());
    m_form.move(m_form.x(), mainForm.readInteger(QStringLiteral("Top"), m_form.y()));

    // An absent key leaves the option unchecked, although the item is designed checked.
    m_form.Show->setChecked(excel.readBool(QStringLiteral("Show"), false));
    m_form.NewXlsx->setChecked(excel.readString(QStringLiteral("Format"), QStringLiteral("xls"))
                                   .trimmed()
                                   .compare(QStringLiteral("xlsx"), Qt::CaseInsensitive) == 0);

    for (int k = 1; k <= RecentCount; ++k) {
        const QString path = menu.readString(QString::number(k), QString());
        m_recentFiles[k - 1] = path;
        if (path.isEmpty())
            continue;
        if (TMenuItem* item = m_form.findMenuItem(1, k)) {
            item->setCaption(fileNamePart(path));
            item->setVisible(true);
        }
        m_form.NLine->setVisible(true);
    }

    const QString directory = dialog.readString(QStringLiteral("Open"), QString());
    if (!directory.isEmpty())
        m_lastDialogDirectory = directory;
    m_loaded = true;
}

void Settings::save() {
    // One batch: a refused write leaves the whole file as it was rather than half written.
    QList<ProfileEntry> entries{
        {kMainForm, QStringLiteral("Width"), QString::number(m_form.width())},
        {kMainForm, QStringLiteral("Height"), QString::number(m_form.height())},
        {kMainForm, QStringLiteral("Left"), QString::number(m_form.x())},
        {kMainForm, QStringLiteral("Top"), QString::number(m_form.y())},
        {kDialog, QStringLiteral("Open"), m_lastDialogDirectory},
    };
    for (int k = 1; k <= RecentCount; ++k)
        entries.append({kMenu, QString::number(k), m_recentFiles[k - 1]});
    Profile(settingsFileName()).writeEntries(entries);
}

void Settings::addToRecentFiles(const QString& path) {
    for (const QString& entry : m_recentFiles) {
        if (entry == path)
            return;
    }
    for (int i = RecentCount - 1; i > 0; --i)
        m_recentFiles[i] = m_recentFiles[i - 1];

    // The items move with their entries, from the bottom up.
    for (int k = RecentCount; k >= 2; --k) {
        TMenuItem* item = m_form.findMenuItem(1, k);
        const TMenuItem* above = m_form.findMenuItem(1, k - 1);
        if (item && above) {
            item->setCaption(above->caption());
            item->setVisible(above->isVisible());
        }
    }
    if (TMenuItem* first = m_form.findMenuItem(1, 1)) {
        first->setCaption(fileNamePart(path));
        first->setVisible(true);
    }
    m_form.NLine->setVisible(true);
    m_recentFiles[0] = path;
}

void Settings::openRecentFile(int tag) {
    if (tag < 1 || tag > RecentCount)
        return;
    const QString path = m_recentFiles[tag - 1];
    // A hidden item cannot be chosen; an empty entry is never loaded all the same.
    if (path.isEmpty())
        return;
    loadDocument(m_form, path);
}

} // namespace lw
