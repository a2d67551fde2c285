// Starting the blank builder and the report generator, and their completion messages.
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

namespace lw {

class ProcessWatch;
class ReportFrame;

// Owned by the main window: listens on the main window's message port for completion
// messages and runs the two report commands on the active editor window.
class SiblingTools : public QObject {
    Q_OBJECT
public:
    enum : int { WmUserRestore = 1025, WmUserDone = 1029 };

    explicit SiblingTools(ReportFrame& frame, QObject* parent = nullptr);
    ~SiblingTools() override;

    // The message port's address, passed to started tools as LEDGERWICK_WINDOW.
    QString portAddress() const;

    // The Blank Builder command (N12, SB12) and the Generate Report command (N16, SB16).
    void blankBuilder();
    void generateReport();

    // Handles one completion message; numbers other than 1025 and 1029 are ignored.
    void handleMessage(int number);

    // The environment started tools get: ours, with LEDGERWICK_WINDOW naming our port.
    QProcessEnvironment toolEnvironment() const;

    // Whether the main window is disabled waiting for a started blank builder.
    bool isWaitingForBlankBuilder() const;

private:
    void blankBuilderEnded(ProcessWatch* watch);
    void stopWaiting();
    void restoreFrame();

    struct Private;
    Private* d;
};

} // namespace lw
