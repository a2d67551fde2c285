// What the blank builder and the report generator share: notices (a message dialog, or standard
// error in batch mode), the completion message to the main window, the spreadsheet program.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace lw {

struct ReportDefinition;

// Notices: with windows, MyFormDialog with the catalogue's caption (by number) and the text;
// in batch mode "<caption>: <text>" on standard error, the caption without its surrounding blanks
// (a question then counts as NO, result 2).
void setBatchMode(bool batch);
bool batchMode();
int notice(int captionNumber, const QString& text, int buttons = 1);

// The completion message to the main window that started the tool (LEDGERWICK_WINDOW through the
// message port's client). Exactly one is sent per process: later calls do nothing. Without a main
// window to tell, says so on standard error. Returns whether it was delivered.
bool postCompletion(int message); // 1029 success, 1025 otherwise
bool completionPosted();

// The definition named on a tool's command line, as an absolute path: a bare file name means the
// file in the current directory (the profile store would look for it in the configuration
// directory). Enclosing double quotes, as some launchers leave them, are removed.
QString definitionArgument(QString argument);

// The "EXCEL" keys of the main program's settings file (settingsFileName()).
QString spreadsheetProgram();  // "EXCEL" "Program"; empty: the desktop's handler (xdg-open)
bool showPreparedReport();     // "EXCEL" "Show" = 1
bool newBlanksAsXlsx();        // "EXCEL" "Format" = "xlsx" (the default "xls")
int queryTimeoutSeconds();     // "EXCEL" "QueryTimeout": seconds a query may run, 600 unless set, 0 no limit

// Whether a spreadsheet program holds the workbook: LibreOffice's ".~lock.<name>#" beside it
// (or an Excel "~$<name>" owner file).
bool workbookIsOpen(const QString& workbookPath);

// Starts the spreadsheet program on a workbook, detached, the absolute path as one argument. Returns the
// process id, or 0 when it could not be started.
qint64 openInSpreadsheet(const QString& workbookPath);

// The workbook of a definition, one rule for both tools: "REPORT" "Excel" when it is not empty,
// else the definition's path with its last three characters replaced by ".xls". Always absolute:
// a relative "Excel" path is taken from the definition's folder.
QString workbookPathOf(const QString& definitionPath, const ReportDefinition& definition);

// What a notice names when a data source cannot be used: the catalogue's caption number
// (21 " DataBase path " for a directory, 22 " Alias" for an alias).
int sourceCaption(bool alias);

// Tests of the tools as separate processes, switched on by the environment and inert otherwise:
// with LEDGERWICK_TEST_LOG set, every notice and window the tool shows is appended to that file as
// one line "<title>|<text>"; with LEDGERWICK_TEST_ANSWERS set ("ok,no,done,..."), each modal window
// is answered with the next answer: "ok" and "no" press OK or NO at once, "done" presses OK once
// ready() holds (the user closed the spreadsheet program first), "stay" leaves that window open.
// No answer left: the window stays.
void testLog(const QString& title, const QString& text);
void startTestAnswers(std::function<bool()> ready = {});

// After a fatal signal (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL) the completion message 1025 is
// still sent, with plain system calls, when none was sent before; the signal then takes its usual
// course. Call first thing in main (before the application object, whose failure aborts).
void armCompletionOnCrash();

// Ending on a signal. While it lives, SIGTERM, SIGINT and SIGHUP are turned into terminationRequested()
// on the event loop (a self-pipe read by a socket notifier), and requested() turns true at once so that
// long work without an event loop can look and stop between steps. Arms the crash message as well.
class TerminationWatch : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatch(QObject* parent = nullptr);
    ~TerminationWatch() override;
    static bool requested();

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();
};

} // namespace lw
