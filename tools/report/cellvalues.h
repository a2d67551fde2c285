// The report generator's record values turned into what a cell holds, the same for .xls and .xlsx
// reports: date serials, time fractions, values as text, texts cut to a cell's limit, marker texts.
#pragma once

#include "data/tabledata.h"
#include "tools/report/template.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <QTime>

#include <cmath>
#include <functional>
#include <vector>

namespace lw::report {

// The largest magnitude up to which every integer is exact as a double (2^53).
inline constexpr double maxExactInteger = 9007199254740992.0;

// Serial day number of a date in the workbook's date system; false when the system cannot show it.
bool dateSerial(const QDate& date, bool date1904, double& serial);

// The time of day as a fraction of a day; 0 for an invalid time.
double timeFraction(const QTime& time);

// Writes a record's value into a cell where both formats write it alike: nulls (an empty cell that keeps
// its format), integers (as text beyond 2^53, never rounded), decimals (their number, else their text),
// dates, times and timestamps (serials in the format styleFor(xf, 0 / 1 / 2) gives; dates the workbook
// cannot show as text). False for doubles, texts and logicals, which each writer writes its own way.
template <class Out, class Xf, class StyleFor>
bool writeCommonValue(Out& out, int row, int column, Xf xf, const data::Value& v, bool date1904,
                      StyleFor styleFor);

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

template <class Out, class Xf, class StyleFor>
bool writeCommonValue(Out& out, int row, int column, Xf xf, const data::Value& v, bool date1904,
                      StyleFor styleFor) {
    double serial = 0;
    switch (v.kind) {
    case data::Value::Kind::Null:
        out.writeBlank(row, column, xf);
        return true;
    case data::Value::Kind::Integer:
        if (std::fabs(double(v.integer)) <= maxExactInteger)
            out.writeNumber(row, column, xf, double(v.integer));
        else
            out.writeText(row, column, xf, QString::number(v.integer));
        return true;
    case data::Value::Kind::Decimal:
        // The readers give a decimal's number beside its exact text.
        if (std::isfinite(v.number))
            out.writeNumber(row, column, xf, v.number);
        else
            out.writeText(row, column, xf, v.text);
        return true;
    case data::Value::Kind::Date:
        if (dateSerial(v.date, date1904, serial))
            out.writeNumber(row, column, styleFor(xf, 0), serial);
        else
            out.writeText(row, column, xf, valueText(v));
        return true;
    case data::Value::Kind::Time:
        out.writeNumber(row, column, styleFor(xf, 1), timeFraction(v.time));
        return true;
    case data::Value::Kind::Timestamp:
        if (dateSerial(v.date, date1904, serial))
            out.writeNumber(row, column, styleFor(xf, 2), serial + timeFraction(v.time));
        else
            out.writeText(row, column, xf, valueText(v));
        return true;
    case data::Value::Kind::Double:
    case data::Value::Kind::Text:
    case data::Value::Kind::Logical:
        return false;
    }
    return false;
}

} // namespace lw::report
