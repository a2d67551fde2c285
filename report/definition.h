// The report definition as data: the keys of a ".pr" file, read with their defaults and
// written key by key in their fixed order, plus the small rules that derive paths and numbers.
#pragma once

#include <QString>

namespace lw {

// One report definition, field for field as it stands in the file.
struct ReportDefinition {
    QString excel;          // "REPORT" "Excel": full path of the report's workbook
    QString name;           // "REPORT" "Name"
    bool alias = false;     // "REPORT" "Alias": true for a database alias, false for a directory
    QString path;           // "REPORT" "Path": alias name or directory
    QString db;             // "REPORT" "DB": table name or table file name
    int view = 0;           // "REPORT" "View": 0 form report, 1 columnar report
    int list = 0;           // "REPORT" "List": 0 one sheet, 1 several sheets
    bool excelForm = false; // "REPORT" "EXCEL FORM": carried through unchanged
    int from = 1;           // "REPORT" "From"
    int to = 1;             // "REPORT" "To"
    bool sqlOnOff = false;  // "SQL" "OnOff"
    QString sql;            // "SQL" "SQL": the condition text
    QString select;         // "SQL" "Select": the statement head shown before the condition

    bool operator==(const ReportDefinition&) const = default;
};

// Reads every key of the definition file with one read of it; a missing file or key gives the
// default above. A file that is there but cannot be read (too large, say) throws ProfileReadError.
ReportDefinition readDefinition(const QString& fileName);

// Writes every key from "Excel" to "Select" in the file's order, replacing each in place and
// leaving other keys and sections alone. A refused write throws ProfileWriteError.
void writeDefinition(const QString& fileName, const ReportDefinition& definition);

// The workbook that belongs to a definition: its path without the last 3 characters, then ".xls".
QString workbookPathFor(const QString& definitionPath);

// The name a Save-as choice is stored under: ".pr" is appended unless the file-name part
// (upper-cased) already holds ".PR" somewhere.
QString definitionFileName(const QString& chosenName);

// A record-range edit's text as a number; an empty text (or one that is no number) gives 0.
int recordNumber(const QString& text);

} // namespace lw
