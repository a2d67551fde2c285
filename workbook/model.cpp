// The workbook model: finding cells of a sheet, the number format of a cell format, and the rules
// for sheet names.
#include "workbook/biff.h"
#include "workbook/xls.h"

#include <algorithm>

namespace lw::xls {

const Cell* Sheet::cellAt(int row, int column) const {
    // The last cell that starts at or before the column: that cell, or a run that covers it.
    const auto it = std::upper_bound(
        cells.begin(), cells.end(), std::pair(row, column),
        [](const std::pair<int, int>& key, const Cell& c) { return key < std::pair(c.row, c.column); });
    if (it == cells.begin())
        return nullptr;
    const Cell& c = *std::prev(it);
    if (c.row != row || column < c.column || column > c.lastColumn())
        return nullptr;
    return &c;
}

int Sheet::lastRow() const {
    return cells.empty() ? -1 : cells.back().row;
}

QString Workbook::numberFormat(quint16 xf) const {
    if (xf >= xfFormatIndex.size())
        return QStringLiteral("General");
    const quint16 index = xfFormatIndex[xf];
    for (const auto& [i, code] : formatCodes) {
        if (i == index)
            return code;
    }
    const QString builtin = biff::builtinFormat(index);
    return builtin.isEmpty() ? QStringLiteral("General") : builtin;
}

bool Workbook::isDateFormat(quint16 xf) const {
    if (xf < xfFormatIndex.size()) {
        const quint16 index = xfFormatIndex[xf];
        // Built-in date and time formats whose code a FORMAT record does not restate.
        const bool listed = std::any_of(formatCodes.begin(), formatCodes.end(),
                                        [index](const auto& f) { return f.first == index; });
        if (!listed && ((index >= 14 && index <= 22) || (index >= 45 && index <= 47)))
            return true;
    }
    return biff::isDateFormatCode(numberFormat(xf));
}

QString sheetNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("a sheet name cannot be empty");
    if (name.size() > maxSheetName)
        return QStringLiteral("the sheet name \"%1\" is longer than %2 characters")
            .arg(name)
            .arg(maxSheetName);
    for (QChar c : name) {
        if (QStringLiteral("[]:*?/\\").contains(c))
            return QStringLiteral(
                       "the sheet name \"%1\" holds the character %2, which sheet names cannot hold")
                .arg(name, c);
        if (c.unicode() < 0x20)
            return QStringLiteral("the sheet name \"%1\" holds a control character").arg(name);
    }
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        return QStringLiteral("the sheet name \"%1\" starts or ends with an apostrophe").arg(name);
    return {};
}

} // namespace lw::xls
