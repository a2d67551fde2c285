// The report generator's work without windows: read the definition and the blank, query the data,
// fill the report sheets record by record into a streaming workbook writer, and finish the file.
#pragma once

#include "data/tabledata.h"
#include "report/definition.h"
#include "tools/report/template.h"
#include "workbook/xls.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

namespace lw::data {
class DataSource;
struct Field;
} // namespace lw::data

namespace lw::report {

class RecordSourceHolder;
class XlsxReport;

// A failure the user is told about: the catalogue's caption (by number) and the text.
class ReportFailure : public std::runtime_error {
public:
    ReportFailure(int caption, const QString& text);
    int caption() const { return m_caption; }
    QString text() const { return QString::fromUtf8(what()); }

private:
    int m_caption;
};

// The user pressed Cancel.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

// Shared between the work and the progress window (another thread).
struct Progress {
    std::atomic<qint64> written{0}; // records written so far
    std::atomic<qint64> total{-1};  // records the report takes, -1 while not known
    std::atomic<qint64> counted{0}; // records counted so far while counting
    std::atomic<bool> cancel{false};
};

enum class Layout { Columnar, FormOneSheet, FormSheets };

// What --check tells.
struct CheckResult {
    qint64 records = 0;
    qint64 reportSheets = 0; // sheets filled from the records
    qint64 otherSheets = 0;  // the blank's other sheets, copied
    QString tooLarge;        // why the report cannot be made whole (past a limit of the format), or empty
};

// Catalogue numbers of the captions the generator uses.
enum Caption : int {
    CaptionAttention = 5,
    CaptionReportError = 10,
    CaptionBlankNotFound = 12,
    CaptionNoEntries = 16,
    CaptionNoData = 17,
    CaptionAlreadyStarted = 20,
    CaptionDatabasePath = 21,
    CaptionAlias = 22,
    CaptionCannotLaunch = 23,
    CaptionCloseExcel = 25,
};

// The text of " No data ": the table, or the record range itself when From comes after To (and
// To is not 0, "to the last record"), which no table can fill.
QString noDataText(const ReportDefinition& definition);

class Generator {
public:
    explicit Generator(const QString& definitionPath);
    ~Generator();

    // Reads the definition and works out the blank's and the report's paths. The blank must exist.
    void locate();
    // Reads the blank, opens the data source, reads the table's fields, finds the markers.
    // With allowUnknown (--check) unknown markers are listed, not refused.
    void prepare(bool allowUnknown = false);
    // Counts the records of the query (a pass of its own) into progress.counted / total.
    qint64 countRecords(Progress& progress);
    CheckResult check(Progress& progress);
    // Queries and writes every sheet; the workbook is complete but not yet in place.
    void fill(Progress& progress);
    // Puts the report in place atomically.
    void finish();
    // Drops the unfinished report (no file left; the old report untouched).
    void abandon();
    // Closes the data source; the thread that opened it calls this when its work ends.
    void closeData();

    const ReportDefinition& definition() const { return m_def; }
    QString definitionPath() const { return m_definitionPath; }
    QString blankPath() const { return m_blankPath; }
    QString reportPath() const { return m_reportPath; }
    Layout layout() const;
    const Template& blankTemplate() const { return m_template; }
    const xls::Workbook& blank() const { return m_blank; }
    QStringList dropped() const;     // what the blank holds that the report cannot carry
    QStringList warnings() const { return m_warnings; }

    // The day written for ${DATE}; today unless set (tests).
    void setToday(const QDate& day) { m_today = day; }

    // The flag that stops the work (Cancel, a request to end): watched by the running query as well
    // as between records and while the file is written.
    void setCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }
    bool cancelRequested() const;

    // "<blank without .xls>_report.xls" ("_report.xlsx" for an .xlsx blank).
    static QString reportPathFor(const QString& blankPath);
    // Whether a workbook path names an .xlsx workbook (its extension decides the format).
    static bool isXlsxPath(const QString& path);

    // Runs the query and calls each with every record and its number; no record is " No data ".
    // The query's warnings are told afterwards. Returns the number of records.
    qint64 eachRecord(Progress& progress, const std::function<void(const data::Record&, qint64)>& each);

private:
    friend class XlsxReport;
    struct Writing;
    void warn(const QString& text);
    [[noreturn]] void dataFailure(const std::exception& e);
    std::unique_ptr<RecordSourceHolder> openQuery();
    // How many records the report sheets can take before the workbook would pass the format's
    // 65,535 sheets (the blank's other sheets counted).
    qint64 recordsThatFit() const;
    // The failure of a report that passes a limit of the format, saying how many records fit.
    ReportFailure tooLarge(const QString& limit, qint64 fit) const;
    // At least how many bytes one record adds to the workbook stream (its cells' records).
    qint64 bytesPerRecord() const;

    // Whether formulas written before the footer need to know where the rows end up (references
    // to the footer or to other sheets, totals over the band above it): the records are counted first.
    bool needsRecordCount() const;

    // Queries the records and calls writeOne for each, with w.record and w.number naming it;
    // no record is a failure. Then tells the query's warnings and whether the count still holds.
    qint64 writeRecords(Writing& w, Progress& progress, const std::function<void(qint64)>& writeOne);
    void writeColumnar(Writing& w, Progress& progress);
    void writeFormOneSheet(Writing& w, Progress& progress);
    void writeFormSheets(Writing& w, Progress& progress);
    void copyOtherSheet(Writing& w, int sheetIndex);

    QString m_definitionPath;
    ReportDefinition m_def;
    QString m_blankPath;
    QString m_reportPath;
    xls::Workbook m_blank;
    Template m_template;
    QStringList m_fieldNames;
    std::unique_ptr<data::DataSource> m_source;
    std::unique_ptr<xls::WorkbookWriter> m_writer;
    std::unique_ptr<XlsxReport> m_xlsx; // an .xlsx blank: its package and the report written from it
    QStringList m_warnings;
    QSet<QString> m_warned;
    QDate m_today;
    const std::atomic<bool>* m_cancel = nullptr;
};

} // namespace lw::report
