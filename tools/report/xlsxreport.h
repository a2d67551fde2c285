// The report generator's .xlsx path: the blank read as a package, the report sheets written row by
// row through the .xlsx report writer (columnar bands, one-sheet forms, a sheet per record), the
// ranges, names and formulas around the rows moved as a spreadsheet program would move them.
#pragma once

#include "tools/report/generator.h"
#include "workbook/xlsx/xlsx.h"

#include <memory>

namespace lw::report {

class XlsxReport {
public:
    static constexpr int maxRows = xlsx::maxRows;
    // The rows a report sheet takes before the report goes on in a further sheet: maxRows, or
    // fewer for tests (LEDGERWICK_TEST_XLSX_ROWS).
    static int rowLimit();

    explicit XlsxReport(Generator& generator);
    ~XlsxReport();

    // Reads the blank; its model for the generator's analysis. Throws xls::Error.
    const xls::Workbook& read(const QString& path);
    // Writes every sheet of the report (ReportFailure, Cancelled).
    void fill(Progress& progress);
    void finish();
    void abandon();

private:
    struct Fill;
    Generator& g;
    xlsx::Package m_package;
    std::unique_ptr<xlsx::ReportWriter> m_out;
};

} // namespace lw::report
