// The results of totals under a band (SUM, COUNT, COUNTA, AVERAGE, MIN, MAX of the band's cells,
// and + - * / of those and of constants), computed from the values written, so that a reader that
// does not recalculate shows the right total.
#pragma once

#include "workbook/xls.h"

#include <functional>
#include <limits>
#include <optional>

namespace lw::xls {

// What a column of the band's copies held.
struct ColumnTally {
    double sum = 0;
    qint64 numbers = 0;  // cells holding numbers (COUNT)
    qint64 nonEmpty = 0; // cells holding anything (COUNTA)
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    bool unknown = false; // a cell whose value is not known here (a formula's): no total is computed

    void add(const Value& v);
};

// The result of a formula whose areas over rows first..last (on its own sheet) mean every copy of
// the band, with the tally of each column; nothing when the formula holds anything else, or a
// column it totals is unknown.
// A name (by its index in Workbook::names) counts as such an area when nameColumns gives its
// columns.
std::optional<Value>
computeTotal(const Formula& formula, int first, int last,
             const std::function<const ColumnTally*(int column)>& tally,
             const std::function<std::optional<std::pair<int, int>>(int name)>& nameColumns = {});

} // namespace lw::xls
