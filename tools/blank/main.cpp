// ledgerwick-blank (started by the main program as "zarmek.exe"): makes a report's blank, lets the
// user arrange it in the spreadsheet program, reads its markers back and tells the main window.
#include "platform/errorbox.h"
#include "tools/blank/blankbuilder.h"
#include "tools/blank/waitwindow.h"
#include "tools/common/toolkit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char* const Usage =
    "Usage: ledgerwick-blank [--no-edit] DEFINITION\n"
    "Makes the blank (template workbook) of the report definition DEFINITION unless one exists,\n"
    "opens it in the spreadsheet program for the user to arrange, reads its markers back, stores\n"
    "its path in the definition and tells the main window (LEDGERWICK_WINDOW): 1029 on success,\n"
    "1025 otherwise.\n"
    "  --no-edit  no spreadsheet program and no windows: make or keep the blank and check it;\n"
    "             notices go to standard error; exit status 0 on success, 1 otherwise.\n";

} // namespace

int main(int argc, char* argv[]) {
    // A start that fails before anything else (no display, say) still tells the main window.
    lw::armCompletionOnCrash();

    bool noEdit = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--no-edit") == 0)
            noEdit = true;
    std::unique_ptr<QCoreApplication> app;
    if (noEdit)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ledgerwick-blank"));
    lw::setApplicationTitle(QStringLiteral("Ledgerwick"));
    lw::setBatchMode(noEdit);

    // Ended from outside while waiting for the user: the main window is told all the same. The
    // event loop runs only in windows, never in the middle of writing a file.
    lw::TerminationWatch termination;
    QObject::connect(&termination, &lw::TerminationWatch::terminationRequested, [](int signalNumber) {
        lw::postCompletion(1025);
        QTextStream(stderr) << "ledgerwick-blank: ended by signal " << signalNumber << Qt::endl;
        std::_Exit(1);
    });

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    args.removeAll(QStringLiteral("--no-edit"));
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        const bool help = args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
        QTextStream(help ? stdout : stderr) << Usage;
        lw::postCompletion(1025);
        return help ? 0 : 1;
    }

    if (!noEdit) {
        // Tests answer the windows from outside; "done" waits for the spreadsheet program to let go.
        lw::startTestAnswers([] {
            auto* window = qobject_cast<lw::blank::WaitWindow*>(QApplication::activeModalWidget());
            return !window || !window->spreadsheetHolds();
        });
    }
    lw::blank::BlankBuilder builder(lw::definitionArgument(args.first()), !noEdit);
    return builder.run() ? 0 : 1;
}
