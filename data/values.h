// Typed values from the text and numbers engines deliver: exact decimal text, ISO dates and
// times, without going through Qt's general (and slow) parsers.
#pragma once

#include "data/tabledata.h"

namespace lw::data {

// A Decimal value of d with the given digits after the point ("-0.50"), number set.
void setDecimal(Value& out, double d, int decimals);
// A Decimal value of the exact text of an engine ("1234.50"); false (out untouched) when the
// text is not a plain decimal number.
bool setDecimalText(Value& out, const char* text, qsizetype length);
// A Date, Time or Timestamp value of ISO text: "YYYY-MM-DD", "HH:MM[:SS[.fff]]",
// "YYYY-MM-DD HH:MM[:SS[.fff]]" (or with "T"), a zone after the time ignored. want says which
// of them the column is; a date alone in a Timestamp column is a Date, a time alone a Time. False when it is not one.
bool setIsoValue(Value& out, const char* text, qsizetype length, FieldType want);

// A Text value of UTF-8 bytes, reusing out's storage for plain ASCII text.
void setUtf8Text(Value& out, const char* text, qsizetype length);

} // namespace lw::data
