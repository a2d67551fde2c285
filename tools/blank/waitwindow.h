// The window that waits while the user arranges the blank in the spreadsheet program: OK when it
// is saved and closed, NO to give up; it asks again after a long silence.
#pragma once

#include <QDateTime>
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

    // OK: the user says the blank is saved and closed. While the spreadsheet program still holds
    // it, " Close MS Excel" and the window stays.
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString signature() const;
    void look();

    QString m_path;
    qint64 m_pid = 0;
    int m_patience = 0;
    QTimer* m_timer = nullptr;
    QString m_lastSignature;
    QDateTime m_lastChange;
    bool m_asking = false;
};

} // namespace blank
} // namespace lw
