// A new blank: the cells, formats and widths of a columnar or form layout for a table's fields,
// written as an Excel 97-2003 workbook.
#pragma once

#include "data/tabledata.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lw::blank {

// The marker that stands for a field, "${NAME}"; empty when the name cannot be one (it holds "}",
// which ends a marker, or is empty).
QString markerFor(const QString& fieldName);
// The marker of the field at index among fields: "${NAME}", or "${NAME:k}" for the k-th field of a
// name the table repeats (dBASE cuts names at 10 characters, so two fields may end up alike).
QString markerFor(const std::vector<data::Field>& fields, std::size_t index);

// A literal text as a cell holds it without being read as markers: every "${" written "$${".
QString literalText(const QString& text);

// The sheet's name: the report name with the characters a sheet name refuses replaced by "_",
// cut to 31 characters; "Report" when nothing usable is left.
QString sheetNameFor(const QString& reportName);

// The number format of a field's marker cell, by its type.
QString numberFormatFor(const data::Field& field);

// The width of a field's column in characters: room for its values and its marker.
int columnCharacters(const data::Field& field);

// Writes a new blank at path (an .xlsx workbook when the path ends in ".xlsx", else Excel 97-2003): columnar (row 1 the report name, row 3 the field names, row 4 the
// markers, row 3 repeated when printed) or form (the report name, then one row per field: its name
// in column A, its marker in column B). Written atomically. Throws xls::Error when it cannot be
// written. Returns what the user should know: fields that got no marker, columns that did not fit.
QStringList writeBlank(const QString& path, const QString& reportName, bool columnar,
                       const std::vector<data::Field>& fields);

} // namespace lw::blank
