// Typed values of the texts database drivers deliver (PostgreSQL's text results, SQLite's and
// ODBC's texts): numbers, dates, times and logicals parsed on the bytes, without QString or QLocale.
#pragma once

#include "data/tabledata.h"

#include <QStringView>

namespace lw::data {

// The value of a driver's text in a column of the given type, into out (its text storage reused):
//   Integer    decimal digits with an optional sign, within 64 bits (std::from_chars)
//   Double     a floating-point number, "NaN", "Infinity" and "-Infinity" included
//   Decimal    a plain decimal number kept as its exact text, its number beside it
//   Date       "YYYY-MM-DD"
//   Time       "HH:MM[:SS[.f...]]", a zone after it ("+05:30") dropped
//   Timestamp  a date, " " or "T", a time as above (a zone dropped: the wall clock as the server
//              shows it); a date alone is a Date
//   Logical    t/f, true/false, yes/no, on/off, 1/0 (any case)
//   Text       UTF-8, decoded once
// A text that its column's type does not take becomes a Text value of itself, so nothing is lost:
// "infinity" dates, dates before the year 1 ("0044-03-15 BC") or after 9999, "24:00:00".
void setTextValue(Value& out, const char* text, qsizetype length, FieldType type);

// The same for the UTF-16 text of Qt's drivers; a text that is not a value of the type is kept
// as it is (shared, not copied).
void setTextValue(Value& out, const QString& text, FieldType type);

// The parsers themselves: true when the whole text is one such value.
bool parseIntegerText(const char* text, qsizetype length, qint64& out);
bool parseDoubleText(const char* text, qsizetype length, double& out);
bool parseDateText(const char* text, qsizetype length, QDate& out);
bool parseTimeText(const char* text, qsizetype length, QTime& out);
bool parseTimestampText(const char* text, qsizetype length, QDate& date, QTime& time);
bool parseLogicalText(const char* text, qsizetype length, bool& out);

} // namespace lw::data
