// What the blank builder and the report generator share: notices (a message dialog, or standard
// error in batch mode), the completion message to the main window, the spreadsheet program.
#pragma once

#include <QString>
#include <QStringList>

namespace lw {

// Notices: with windows, MyFormDialog with the catalogue's caption (by number) and the text;
// in batch mode "<caption>: <text>" on standard error (a question then counts as NO, result 2).
void setBatchMode(bool batch);
bool batchMode();
int notice(int captionNumber, const QString& text, int buttons = 1);

// The completion message to the main window that started the tool (LEDGERWICK_WINDOW through the
// message port's client). Exactly one is sent per process: later calls do nothing. Without a main
// window to tell, says so on standard error. Returns whether it was delivered.
bool postCompletion(int message); // 1029 success, 1025 otherwise
bool completionPosted();

// The settings file of the main program (l_wick.ini) and its "EXCEL" keys.
QString spreadsheetProgram();  // "EXCEL" "Program"; empty: the desktop's handler (xdg-open)
bool showPreparedReport();     // "EXCEL" "Show" = 1

// Whether a spreadsheet program holds the workbook: LibreOffice's ".~lock.<name>#" beside it
// (or an Excel "~$<name>" owner file).
bool workbookIsOpen(const QString& workbookPath);

// Starts the spreadsheet program on a workbook, detached, the path as one argument. Returns the
// process id, or 0 when it could not be started.
qint64 openInSpreadsheet(const QString& workbookPath);

} // namespace lw
