// The workbook writer's memory budget for its shared string table, settable for tests (a private
// header: the program keeps the defaults).
#pragma once

#include <QtGlobal>

namespace lw::xls::detail {

// Once the table holds `bytes` of encoded text or `count` texts, a new text of at most 255
// characters is written in its own cell record (LABEL) instead of joining the table; texts already
// in the table keep referring to it.
struct StringTableBudget {
    qsizetype bytes = 16 << 20;
    quint32 count = 1u << 19;
};

StringTableBudget stringTableBudget();
// Applies to writers made afterwards.
void setStringTableBudget(const StringTableBudget& budget);

} // namespace lw::xls::detail
