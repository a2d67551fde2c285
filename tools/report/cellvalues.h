// The report generator's record values turned into what a cell holds, the same for .xls and .xlsx
// reports: date serials, time fractions, values as text, texts cut to a cell's limit, marker texts.
#pragma once

#include "data/tabledata.h"
#include "tools/report/template.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <QTime>

#include <functional>
#include <vector>

namespace lw::report {

// The largest magnitude up to which every integer is exact as a double (2^53).
inline constexpr double maxExactInteger = 9007199254740992.0;

// Serial day number of a date in the workbook's date system; false when the system cannot show it.
bool dateSerial(const QDate& date, bool date1904, double& serial);

// The time of day as a fraction of a day; 0 for an invalid time.
double timeFraction(const QTime& time);

// A value as text, as it stands in a cell with markers inside a text.
QString valueText(const data::Value& v);

// A text cut to a cell's limit, never through a surrogate pair; cut tells whether it was.
QString cutText(const QString& text, bool& cut);

// A cell's text with its markers replaced: fields from the record (a field the record does not
// hold stays as the marker markerName gives), the record's number, the report's name, the day.
QString markerText(const std::vector<TextPart>& parts, const data::Record* record, qint64 number,
                   const QString& reportName, const QString& todayText,
                   const std::function<QString(int field)>& markerName);

// wanted, or wanted numbered " (2)", " (3)", ... until no sheet in used has it (letter case aside);
// the name returned is added to used (which holds lower-case names).
QString uniqueSheetName(QSet<QString>& used, const QString& wanted);

} // namespace lw::report
