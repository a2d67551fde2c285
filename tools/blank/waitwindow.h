// The window that waits while the user arranges the blank in the spreadsheet program: OK when it
// is saved and closed, NO to give up; it asks again after a long silence.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QDialog>
#include <QString>

class QLabel;
class QTimer;

namespace lw {

class TMsgButton;

namespace blank {

class WaitWindow : public QDialog {
    Q_OBJECT
public:
    // pid: the spreadsheet program started on the blank (0 when unknown). After patienceSeconds
    // without a sign of the user's work (the blank saved, the lock file come or gone) it asks
    // whether to go on waiting.
    WaitWindow(const QString& workbookPath, const QString& reportName, qint64 pid, int patienceSeconds,
               QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    TMsgButton* OKBtn = nullptr;
    TMsgButton* CancelBtn = nullptr;

    // Whether the spreadsheet program still holds the blank: its lock file beside the blank, or
    // the started program still running.
    bool spreadsheetHolds() const;

    // Who holds the blank, in words: the lock file's owner, or the started program; empty when
    // nobody does.
    QString holder() const;

    // A file of the blank's name in another format (.ods, .xlsx, .xls, .csv) beside it or in the
    // spreadsheet program's default folder that appeared or changed since the window last looked,
    // while the blank itself did not change: the user's work went there. Empty otherwise.
    QString savedElsewhere() const;

    // OK: the user says the blank is saved and closed. While the spreadsheet program still holds
    // it, " Close MS Excel" with who holds it, and the window stays; when the work was saved in
    // another format instead, the user is told how to save it and the window stays.
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Mark {
        bool exists = false;
        qint64 modified = 0;
        qint64 size = 0;
        bool operator==(const Mark&) const = default;
    };
    static Mark markOf(const QString& path);
    QString signature() const;
    void look();
    // The blank and the files of its name in other formats as they are now: what OK compares with.
    void takeBaseline();
    // An ordinary window in the bottom-right corner of the screen, away from the middle where the
    // spreadsheet program puts its own dialogs.
    void placeInCorner();

    QString m_path;
    qint64 m_pid = 0;
    int m_patience = 0;
    QTimer* m_timer = nullptr;
    QString m_lastSignature;
    QDateTime m_lastChange;
    bool m_asking = false;
    QByteArray m_blankDigest;
    QStringList m_otherFormats;
    QList<Mark> m_otherMarks;
};

// The files where a spreadsheet program may have saved the blank in another format: the same name
// with .ods, .xlsx, .xls or .csv (its own extension left out) beside it and in the default folders
// (the documents folder and the home folder).
QStringList otherFormatFiles(const QString& workbookPath);

// "Excel 97-2003" for a .xls blank, "Excel 2007-365" for a .xlsx one.
QString workbookFormatName(const QString& workbookPath);

// The owner a lock file names, in words: LibreOffice's ".~lock.<name>#" ("<name>,<login>,<host>,
// <time>,<profile>;") or Excel's "~$<name>" (a length byte, then the user's name).
QString lockOwner(const QString& workbookPath);

} // namespace blank
} // namespace lw
