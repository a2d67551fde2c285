// ledgerwick-report ("VORTAL1"): fills a report workbook from a report definition's data and blank.
// With windows: a progress window and notices in the message dialog; --batch and --check without.
#include "tools/common/toolkit.h"
#include "tools/report/generator.h"
#include "tools/report/instancelock.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>

using namespace lw;
using namespace lw::report;

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitAlreadyRunning = 2;

const char* const Usage =
    "Usage: ledgerwick-report [--batch | --check] DEFINITION.pr\n"
    "Fills the report of a report definition: the records of its query, copied into its blank\n"
    "(\"REPORT\" \"Excel\"), written beside the blank as <blank>_report.xls.\n"
    "  --batch  no windows: notices on standard error; exit 0 success, 1 failure,\n"
    "           2 another report generator is running\n"
    "  --check  write nothing: print the markers, the records and the sheets the report takes\n";

// While the spreadsheet program holds the report, asks to close it: OK tries again, NO gives up.
bool reportClosed(const QString& reportPath) {
    while (workbookIsOpen(reportPath))
        if (notice(CaptionCloseExcel, reportPath, 2) != 1)
            return false;
    return true;
}

void showWarnings(const QStringList& warnings) {
    if (warnings.isEmpty())
        return;
    if (batchMode()) {
        for (const QString& w : warnings)
            notice(CaptionAttention, w);
        return;
    }
    // The message dialog shows one line: the first warnings, and how many more there are.
    constexpr int shown = 4;
    QString text = warnings.mid(0, shown).join(QStringLiteral("  "));
    if (warnings.size() > shown)
        text += QStringLiteral("  (%1 more)").arg(warnings.size() - shown);
    notice(CaptionAttention, text);
}

// The progress window: records written of how many, and Cancel.
class ProgressWindow {
public:
    ProgressWindow(const QString& title, Progress& progress) : m_progress(progress) {
        m_dialog.setObjectName(QStringLiteral("Progress"));
        m_dialog.setWindowTitle(title);
        m_dialog.setLabelText(QStringLiteral("Reading the blank and the data"));
        m_dialog.setCancelButtonText(QStringLiteral("Cancel"));
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setMinimumDuration(std::numeric_limits<int>::max()); // shown by show() below
        m_dialog.setRange(0, 0);
        m_dialog.setMinimumWidth(360);
        QObject::connect(&m_dialog, &QProgressDialog::canceled, [this] {
            m_progress.cancel = true;
            m_dialog.setLabelText(QStringLiteral("Cancelling"));
        });
        m_poll.setInterval(100);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { update(); });
        m_poll.start();
    }
    void show() { m_dialog.show(); }
    void hide() {
        m_poll.stop();
        m_dialog.hide();
    }

private:
    void update() {
        if (m_progress.cancel)
            return;
        const qint64 total = m_progress.total;
        if (total < 0) {
            const qint64 counted = m_progress.counted;
            if (counted > 0)
                m_dialog.setLabelText(QStringLiteral("Counting records: %1").arg(m_locale.toString(counted)));
            return;
        }
        const qint64 written = m_progress.written;
        m_dialog.setLabelText(QStringLiteral("Records written: %1 of %2")
                                  .arg(m_locale.toString(written), m_locale.toString(total)));
        // The bar counts in thousandths so that totals beyond the range of int fit.
        m_dialog.setRange(0, 1000);
        m_dialog.setValue(total > 0 ? int(std::min<qint64>(written, total) * 1000 / total) : 1000);
    }

    Progress& m_progress;
    QProgressDialog m_dialog;
    QTimer m_poll;
    QLocale m_locale;
};

// The end of a report that is not opened at once ("Show prepared report" off): where it is, Open
// to look at it in the spreadsheet program, Close; it closes by itself after a while.
class FinishedWindow : public QDialog {
public:
    static constexpr int closeAfterSeconds = 15;

    FinishedWindow(const QString& title, const QString& reportPath) : m_report(reportPath) {
        setObjectName(QStringLiteral("Finished"));
        setWindowTitle(title);
        auto* text = new QLabel(QStringLiteral("The report is ready:\n%1").arg(QDir::toNativeSeparators(reportPath)));
        text->setObjectName(QStringLiteral("Label1"));
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* open = new QPushButton(QStringLiteral("Open"));
        open->setObjectName(QStringLiteral("OKBtn"));
        open->setDefault(true);
        m_close = new QPushButton;
        m_close->setObjectName(QStringLiteral("CancelBtn"));
        connect(open, &QPushButton::clicked, this, [this] { openReport(); });
        connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(open);
        buttons->addWidget(m_close);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(text);
        layout->addLayout(buttons);
        setMinimumWidth(360);
        showLeft();
        connect(&m_tick, &QTimer::timeout, this, [this] {
            if (--m_left <= 0)
                reject();
            else
                showLeft();
        });
        m_tick.start(1000);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        testLog(windowTitle(), m_report);
    }

private:
    void showLeft() { m_close->setText(QStringLiteral("Close (%1)").arg(m_left)); }
    void openReport() {
        m_tick.stop();
        if (openInSpreadsheet(m_report) == 0)
            notice(CaptionCannotLaunch, m_report);
        accept();
    }

    QString m_report;
    QPushButton* m_close = nullptr;
    QTimer m_tick;
    int m_left = closeAfterSeconds;
};

// Reading, querying and writing on a worker thread, while this thread keeps the progress window
// answering (with windows); exceptions of the work are thrown again here.
void fillOnWorker(Generator& g, Progress& progress, bool withWindow) {
    std::exception_ptr failure;
    QThread* worker = QThread::create([&] {
        try {
            g.prepare();
            if (withWindow)
                g.countRecords(progress); // the window says "of how many"
            g.fill(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        g.closeData();
    });

    // Short work shows no window at all.
    std::unique_ptr<ProgressWindow> window;
    QTimer showLater;
    if (withWindow) {
        const QString name = g.definition().name;
        window = std::make_unique<ProgressWindow>(name.isEmpty() ? QStringLiteral("Report") : name, progress);
        showLater.setSingleShot(true);
        QObject::connect(&showLater, &QTimer::timeout, [&] { window->show(); });
        showLater.start(400);
    }
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    showLater.stop();
    if (window)
        window->hide();
    if (failure)
        std::rethrow_exception(failure);
}

// What the user is told when memory ran out: never the bare name of the exception.
QString outOfMemory(const Generator& g) {
    return QStringLiteral("There is not enough memory for the report of the blank %1 (a blank with fewer "
                          "cells, or fewer records, needs less).")
        .arg(g.blankPath().isEmpty() ? g.definitionPath() : g.blankPath());
}

int generate(const QString& definitionPath) {
    Generator g(definitionPath);
    Progress progress;
    g.setCancelFlag(&progress.cancel);
    // A request to end (SIGTERM, SIGINT, SIGHUP) cancels the work as the Cancel button does: the
    // running query is stopped, the report is not put in place. Should the work not have ended
    // a moment later (an engine that does not answer), the program ends anyway: nothing it leaves
    // is visible (the files being written have no name) and the old report stays as it was.
    TerminationWatch termination;
    QTimer endAnyway;
    endAnyway.setSingleShot(true);
    QObject::connect(&endAnyway, &QTimer::timeout, [] { std::_Exit(ExitFailure); });
    QObject::connect(&termination, &TerminationWatch::terminationRequested, [&] {
        progress.cancel = true;
        if (!endAnyway.isActive())
            endAnyway.start(1500);
    });
    try {
        g.locate();
        if (!reportClosed(g.reportPath()))
            return ExitFailure;
        fillOnWorker(g, progress, !batchMode());
        if (g.cancelRequested())
            throw Cancelled();
        showWarnings(g.warnings());
        if (!reportClosed(g.reportPath())) {
            g.abandon();
            return ExitFailure;
        }
        g.finish();
        if (!batchMode() && showPreparedReport()) {
            if (openInSpreadsheet(g.reportPath()) == 0)
                notice(CaptionCannotLaunch, g.reportPath());
        } else if (!batchMode()) {
            // Without it the user would get no sign of the report at all.
            const QString name = g.definition().name;
            FinishedWindow(name.isEmpty() ? QStringLiteral("Report") : name, g.reportPath()).exec();
        }
        return ExitSuccess;
    } catch (const ReportFailure& f) {
        g.abandon();
        g.closeData();
        notice(f.caption(), f.text());
    } catch (const Cancelled&) {
        g.abandon();
        g.closeData();
    } catch (const std::bad_alloc&) {
        g.abandon();
        g.closeData();
        notice(CaptionReportError, outOfMemory(g));
    } catch (const std::exception& e) {
        g.abandon();
        g.closeData();
        notice(CaptionReportError, QString::fromUtf8(e.what()));
    }
    return ExitFailure;
}

const char* layoutName(Layout layout) {
    switch (layout) {
    case Layout::Columnar:
        return "columnar";
    case Layout::FormOneSheet:
        return "form, one sheet";
    case Layout::FormSheets:
        return "form, several sheets";
    }
    return "";
}

int check(const QString& definitionPath) {
    QTextStream out(stdout);
    Generator g(definitionPath);
    try {
        g.locate();
        g.prepare(true);
        const Template& t = g.blankTemplate();
        out << "Blank: " << g.blankPath() << '\n'
            << "Report: " << g.reportPath() << '\n'
            << "Layout: " << layoutName(g.layout()) << '\n'
            << "Report sheet: " << g.blank().sheets[std::size_t(t.sheetIndex)].name << '\n';
        if (g.layout() == Layout::Columnar)
            out << "Band: rows " << t.bandFirst + 1 << " to " << t.bandLast + 1 << " (header " << t.bandFirst
                << " rows, footer " << t.footerHeight() << " rows)\n";
        out << "Markers:\n";
        for (const FoundMarker& m : t.markers)
            out << "  ${" << m.name << "} " << m.sheet << '!' << m.cell
                << (m.field ? " field" : m.known ? "" : " UNKNOWN") << '\n';
        if (!t.unknown.isEmpty())
            out << "Unknown names: " << t.unknown.join(QStringLiteral(", ")) << '\n';
        const QStringList dropped = g.dropped();
        out << "Dropped: " << (dropped.isEmpty() ? QStringLiteral("nothing") : dropped.join(QStringLiteral(", ")))
            << '\n';
        for (const QString& w : g.warnings())
            out << "Warning: " << w << '\n';
        out.flush();
        Progress progress;
        const CheckResult c = g.check(progress);
        g.closeData();
        out << "Records: " << c.records << '\n'
            << "Sheets: " << c.reportSheets + c.otherSheets << " (" << c.reportSheets << " filled from the records)\n";
        out.flush();
        if (c.records == 0) {
            notice(CaptionNoData, noDataText(g.definition()));
            return ExitFailure;
        }
        if (!c.tooLarge.isEmpty()) {
            notice(CaptionReportError, c.tooLarge);
            return ExitFailure;
        }
        return t.unknown.isEmpty() ? ExitSuccess : ExitFailure;
    } catch (const ReportFailure& f) {
        out.flush();
        g.closeData();
        notice(f.caption(), f.text());
    } catch (const std::bad_alloc&) {
        out.flush();
        g.closeData();
        notice(CaptionReportError, outOfMemory(g));
    } catch (const std::exception& e) {
        out.flush();
        g.closeData();
        notice(CaptionReportError, QString::fromUtf8(e.what()));
    }
    return ExitFailure;
}

} // namespace

int main(int argc, char* argv[]) {
    bool batch = false;
    bool checkOnly = false;
    bool help = false;
    QByteArray definition;
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") == 0)
            batch = true;
        else if (std::strcmp(argv[i], "--check") == 0)
            checkOnly = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            help = true;
        else {
            definition = argv[i];
            ++paths;
        }
    }
    if (help) {
        QTextStream(stdout) << Usage;
        return ExitSuccess;
    }

    // Tests stand in for the memory limit of a blank's model with a small one.
    if (qEnvironmentVariableIsSet("LEDGERWICK_TEST_MODEL_LIMIT"))
        xls::setMaxModelBytes(qEnvironmentVariable("LEDGERWICK_TEST_MODEL_LIMIT").toLongLong());

    const bool windows = !batch && !checkOnly;
    std::unique_ptr<QCoreApplication> app(windows ? new QApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("ledgerwick-report"));
    setBatchMode(!windows);
    startTestAnswers();

    const QString path = definitionArgument(QFile::decodeName(definition));
    if (paths != 1 || path.isEmpty() || (batch && checkOnly)) {
        QTextStream(stderr) << Usage;
        if (windows)
            notice(CaptionReportError, QStringLiteral("Start the report generator with one report definition."));
        return ExitFailure;
    }

    if (checkOnly)
        return check(path);

    InstanceLock lock;
    if (!lock.acquire()) {
        if (!lock.error().isEmpty()) {
            notice(CaptionReportError, lock.error());
            return ExitFailure;
        }
        notice(CaptionAlreadyStarted, path);
        return ExitAlreadyRunning;
    }
    return generate(path);
}
