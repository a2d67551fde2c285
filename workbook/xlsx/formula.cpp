// Formulas of .xlsx workbooks as text: a tokenizer that finds the A1 references (cells, areas, whole
// columns and rows, sheet-qualified) and leaves strings, names and functions alone, and the moves
// and widenings the .xls side does on tokens.
#include "workbook/xlsx/xlsx.h"

#include <algorithm>

namespace lw::xlsx {

namespace {

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'\\';
}

bool isAsciiLetter(QChar c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Column letters at i ("$" before them allowed); -1 when none or past XFD.
int parseColumn(const QString& s, int& i, bool& absolute) {
    int j = i;
    absolute = j < s.size() && s[j] == u'$';
    if (absolute)
        ++j;
    int col = 0, n = 0;
    while (j < s.size() && isAsciiLetter(s[j]) && n < 4) {
        col = col * 26 + (s[j].toUpper().unicode() - u'A' + 1);
        ++j;
        ++n;
    }
    if (n == 0 || n > 3 || col > maxColumns)
        return -1;
    i = j;
    return col - 1;
}

int parseRow(const QString& s, int& i, bool& absolute) {
    int j = i;
    absolute = j < s.size() && s[j] == u'$';
    if (absolute)
        ++j;
    qint64 row = 0;
    int n = 0;
    while (j < s.size() && isDigit(s[j]) && n < 8) {
        row = row * 10 + (s[j].unicode() - u'0');
        ++j;
        ++n;
    }
    if (n == 0 || row < 1 || row > maxRows || (j < s.size() && isDigit(s[j])))
        return -1;
    i = j;
    return int(row - 1);
}

// A reference ends where no name can go on: a letter, digit, "_", ".", "(" or "[" after it would make
// it a name, a function or something else.
bool endsReference(const QString& s, int i) {
    if (i >= s.size())
        return true;
    const QChar c = s[i];
    return !(isNameChar(c) || c == u'(' || c == u'[' || c == u'!' || c == u'$' || c == u'\'');
}

// A cell, area, whole-column or whole-row reference at i; the end, or -1.
int parseReference(const QString& s, int i, Reference& ref) {
    // Cell, maybe the first corner of an area.
    int j = i;
    bool ac = false, ar = false;
    const int col = parseColumn(s, j, ac);
    if (col >= 0) {
        int k = j;
        const int row = parseRow(s, k, ar);
        if (row >= 0) {
            ref.kind = Reference::Kind::Cell;
            ref.col1 = ref.col2 = col;
            ref.row1 = ref.row2 = row;
            ref.absCol1 = ref.absCol2 = ac;
            ref.absRow1 = ref.absRow2 = ar;
            if (k < s.size() && s[k] == u':') {
                int m = k + 1;
                bool ac2 = false, ar2 = false;
                const int col2 = parseColumn(s, m, ac2);
                const int row2 = col2 >= 0 ? parseRow(s, m, ar2) : -1;
                if (col2 >= 0 && row2 >= 0 && endsReference(s, m)) {
                    ref.kind = Reference::Kind::Area;
                    ref.col2 = col2;
                    ref.row2 = row2;
                    ref.absCol2 = ac2;
                    ref.absRow2 = ar2;
                    return m;
                }
            }
            return endsReference(s, k) ? k : -1;
        }
        // Whole columns A:C.
        if (j < s.size() && s[j] == u':') {
            int m = j + 1;
            bool ac2 = false;
            const int col2 = parseColumn(s, m, ac2);
            if (col2 >= 0 && endsReference(s, m) && !(m < s.size() && isDigit(s[m]))) {
                ref.kind = Reference::Kind::Columns;
                ref.col1 = col;
                ref.col2 = col2;
                ref.absCol1 = ac;
                ref.absCol2 = ac2;
                return m;
            }
        }
        return -1;
    }
    // Whole rows 1:3.
    j = i;
    const int row = parseRow(s, j, ar);
    if (row >= 0 && j < s.size() && s[j] == u':') {
        int m = j + 1;
        bool ar2 = false;
        const int row2 = parseRow(s, m, ar2);
        if (row2 >= 0 && endsReference(s, m)) {
            ref.kind = Reference::Kind::Rows;
            ref.row1 = row;
            ref.row2 = row2;
            ref.absRow1 = ar;
            ref.absRow2 = ar2;
            return m;
        }
    }
    return -1;
}

int readName(const QString& s, int i) {
    while (i < s.size() && isNameChar(s[i]))
        ++i;
    return i;
}

QString columnLetters(int column) {
    QString letters;
    int c = column + 1;
    while (c > 0) {
        letters.prepend(QChar(u'A' + (c - 1) % 26));
        c = (c - 1) / 26;
    }
    return letters;
}

bool looksLikeReference(const QString& name) {
    Reference r;
    if (parseReference(name, 0, r) == name.size())
        return true;
    // R1C1-like names need quotes too.
    static const QString rc = QStringLiteral("RC");
    return name.size() > 0 && rc.contains(name[0].toUpper()) &&
           std::all_of(name.begin() + 1, name.end(), [](QChar c) { return c.isDigit() || c == u'R' ||
                                                                           c == u'C' || c == u'r' || c == u'c'; });
}

void append(std::vector<FormulaToken>& out, FormulaToken::Kind kind, const QString& text) {
    if (kind == FormulaToken::Kind::Other && !out.empty() && out.back().kind == FormulaToken::Kind::Other) {
        out.back().text += text;
        return;
    }
    FormulaToken t;
    t.kind = kind;
    t.text = text;
    out.push_back(std::move(t));
}

} // namespace

QString quoteSheetName(const QString& name) {
    bool plain = !name.isEmpty() && (name[0].isLetter() || name[0] == u'_') && !looksLikeReference(name);
    for (QChar c : name)
        plain = plain && isNameChar(c) && c != u'\\';
    if (plain)
        return name;
    QString quoted = name;
    quoted.replace(u'\'', QStringLiteral("''"));
    return u'\'' + quoted + u'\'';
}

QString referenceText(const Reference& r) {
    QString out;
    if (!r.sheet.isEmpty()) {
        if (r.lastSheet.isEmpty()) {
            out = quoteSheetName(r.sheet);
        } else {
            const QString both = r.sheet + u':' + r.lastSheet;
            const bool plain = quoteSheetName(r.sheet) == r.sheet && quoteSheetName(r.lastSheet) == r.lastSheet;
            out = plain ? both : quoteSheetName(both);
            if (!plain && !out.startsWith(u'\''))
                out = u'\'' + out + u'\'';
        }
        out += u'!';
    }
    const auto col = [](bool abs, int c) { return (abs ? QStringLiteral("$") : QString()) + columnLetters(c); };
    const auto row = [](bool abs, int r) {
        return (abs ? QStringLiteral("$") : QString()) + QString::number(r + 1);
    };
    switch (r.kind) {
    case Reference::Kind::Cell:
        return out + col(r.absCol1, r.col1) + row(r.absRow1, r.row1);
    case Reference::Kind::Area:
        return out + col(r.absCol1, r.col1) + row(r.absRow1, r.row1) + u':' + col(r.absCol2, r.col2) +
               row(r.absRow2, r.row2);
    case Reference::Kind::Columns:
        return out + col(r.absCol1, r.col1) + u':' + col(r.absCol2, r.col2);
    case Reference::Kind::Rows:
        return out + row(r.absRow1, r.row1) + u':' + row(r.absRow2, r.row2);
    }
    return out;
}

std::vector<FormulaToken> tokenizeFormula(const QString& s) {
    std::vector<FormulaToken> out;
    int i = 0;
    const int n = int(s.size());
    while (i < n) {
        const QChar c = s[i];
        if (c == u'"') { // a string literal, "" inside it a quote
            int j = i + 1;
            while (j < n) {
                if (s[j] == u'"') {
                    if (j + 1 < n && s[j + 1] == u'"') {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            append(out, FormulaToken::Kind::String, s.mid(i, j - i));
            i = j;
            continue;
        }
        if (c == u'[') { // structured references, other workbooks: never ours to move
            int depth = 0, j = i;
            for (; j < n; ++j) {
                if (s[j] == u'[')
                    ++depth;
                else if (s[j] == u']' && --depth == 0) {
                    ++j;
                    break;
                }
            }
            // [1]Sheet!A1 names another workbook: its reference goes with it.
            if (j < n && (s[j] == u'\'' || isNameChar(s[j]))) {
                int k = j;
                if (s[k] == u'\'') {
                    for (++k; k < n; ++k) {
                        if (s[k] == u'\'') {
                            if (k + 1 < n && s[k + 1] == u'\'') {
                                ++k;
                                continue;
                            }
                            ++k;
                            break;
                        }
                    }
                } else {
                    k = readName(s, k);
                }
                if (k < n && s[k] == u'!') {
                    ++k;
                    while (k < n && (isNameChar(s[k]) || s[k] == u'$' || s[k] == u':'))
                        ++k;
                    j = k;
                }
            }
            append(out, FormulaToken::Kind::Other, s.mid(i, j - i));
            i = j;
            continue;
        }
        if (c == u'#') { // an error value: #REF!, #N/A, #DIV/0!
            int j = i + 1;
            while (j < n && (s[j].isLetterOrNumber() || s[j] == u'/'))
                ++j;
            if (j < n && (s[j] == u'!' || s[j] == u'?'))
                ++j;
            append(out, FormulaToken::Kind::Other, s.mid(i, j - i));
            i = j;
            continue;
        }
        const bool nameStart = i == 0 || !(isNameChar(s[i - 1]) || s[i - 1] == u'$');
        if (c == u'\'' && nameStart) { // 'My Sheet'!A1, 'Jan:Mar'!A1
            int j = i + 1;
            QString name;
            bool closed = false;
            while (j < n) {
                if (s[j] == u'\'') {
                    if (j + 1 < n && s[j + 1] == u'\'') {
                        name += u'\'';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                name += s[j++];
            }
            Reference r;
            const int end = closed && j < n && s[j] == u'!' ? parseReference(s, j + 1, r) : -1;
            if (end >= 0 && !name.startsWith(u'[')) {
                const int colon = name.indexOf(u':');
                r.sheet = colon >= 0 ? name.left(colon) : name;
                r.lastSheet = colon >= 0 ? name.mid(colon + 1) : QString();
                FormulaToken t;
                t.kind = FormulaToken::Kind::Reference;
                t.text = s.mid(i, end - i);
                t.ref = r;
                out.push_back(std::move(t));
                i = end;
            } else {
                append(out, FormulaToken::Kind::Other, s.mid(i, j - i));
                i = j;
            }
            continue;
        }
        if ((isNameChar(c) || c == u'$') && nameStart) {
            const int nameEnd = readName(s, i);
            // Sheet1!A1 or Sheet1:Sheet3!A1
            int bang = -1;
            QString first, last;
            if (nameEnd > i && nameEnd < n && s[nameEnd] == u'!') {
                bang = nameEnd;
                first = s.mid(i, nameEnd - i);
            } else if (nameEnd > i && nameEnd < n && s[nameEnd] == u':') {
                const int e2 = readName(s, nameEnd + 1);
                if (e2 > nameEnd + 1 && e2 < n && s[e2] == u'!') {
                    bang = e2;
                    first = s.mid(i, nameEnd - i);
                    last = s.mid(nameEnd + 1, e2 - nameEnd - 1);
                }
            }
            Reference r;
            if (bang >= 0) {
                const int end = parseReference(s, bang + 1, r);
                if (end >= 0) {
                    r.sheet = first;
                    r.lastSheet = last;
                    FormulaToken t;
                    t.kind = FormulaToken::Kind::Reference;
                    t.text = s.mid(i, end - i);
                    t.ref = r;
                    out.push_back(std::move(t));
                    i = end;
                    continue;
                }
                append(out, FormulaToken::Kind::Other, s.mid(i, bang + 1 - i));
                i = bang + 1;
                continue;
            }
            const int end = parseReference(s, i, r);
            if (end >= 0) {
                FormulaToken t;
                t.kind = FormulaToken::Kind::Reference;
                t.text = s.mid(i, end - i);
                t.ref = r;
                out.push_back(std::move(t));
                i = end;
                continue;
            }
            // A name, a function, a number (1.5E+3 taken whole so that E3 is not a cell).
            int j = std::max(nameEnd, i + 1);
            if (isDigit(c)) {
                while (j < n && (isDigit(s[j]) || s[j] == u'.'))
                    ++j;
                if (j < n && (s[j] == u'E' || s[j] == u'e')) {
                    int k = j + 1;
                    if (k < n && (s[k] == u'+' || s[k] == u'-'))
                        ++k;
                    if (k < n && isDigit(s[k])) {
                        while (k < n && isDigit(s[k]))
                            ++k;
                        j = k;
                    }
                }
            }
            append(out, FormulaToken::Kind::Other, s.mid(i, j - i));
            i = j;
            continue;
        }
        append(out, FormulaToken::Kind::Other, QString(c));
        ++i;
    }
    return out;
}

namespace {

QString refError(const Reference& r) {
    QString prefix;
    if (!r.sheet.isEmpty()) {
        Reference bare = r;
        bare.kind = Reference::Kind::Cell;
        const QString text = referenceText(bare);
        prefix = text.left(text.lastIndexOf(u'!') + 1);
    }
    return prefix + QStringLiteral("#REF!");
}

QString join(const std::vector<FormulaToken>& tokens) {
    QString out;
    for (const FormulaToken& t : tokens)
        out += t.text;
    return out;
}

} // namespace

QString moveFormulaRows(const QString& formula, int rowOffset, bool* ok) {
    std::vector<FormulaToken> tokens = tokenizeFormula(formula);
    bool inside = true;
    for (FormulaToken& t : tokens) {
        if (t.kind != FormulaToken::Kind::Reference || !t.ref.hasRows())
            continue;
        Reference& r = t.ref;
        qint64 r1 = r.row1, r2 = r.row2;
        if (!r.absRow1)
            r1 += rowOffset;
        if (!r.absRow2)
            r2 += rowOffset;
        if (r1 < 0 || r1 >= maxRows || r2 < 0 || r2 >= maxRows) {
            t.text = refError(r);
            inside = false;
            continue;
        }
        if (r1 > r2) { // an area with one absolute end can turn over: keep it first-to-last
            std::swap(r1, r2);
            std::swap(r.absRow1, r.absRow2);
        }
        r.row1 = int(r1);
        r.row2 = int(r2);
        t.text = referenceText(r);
    }
    if (ok)
        *ok = inside;
    return join(tokens);
}

QString relocateFormula(const QString& formula, const Relocation& where, bool* ok) {
    std::vector<FormulaToken> tokens = tokenizeFormula(formula);
    bool inside = true;
    for (FormulaToken& t : tokens) {
        if (t.kind != FormulaToken::Kind::Reference || !t.ref.hasRows() || !t.ref.lastSheet.isEmpty())
            continue;
        Reference& r = t.ref;
        const bool area = r.kind != Reference::Kind::Cell;
        const std::optional<RowSpan> to = where(RowSpan{r.sheet, r.row1, r.row2}, area);
        if (!to || to->first < 0 || to->last >= maxRows || to->first > to->last) {
            t.text = refError(r);
            inside = false;
            continue;
        }
        r.sheet = to->sheet;
        r.row1 = to->first;
        r.row2 = area ? to->last : to->first;
        if (!area && to->last != to->first) { // a cell that now stands for several rows: an area
            r.kind = Reference::Kind::Area;
            r.row2 = to->last;
        }
        t.text = referenceText(r);
    }
    if (ok)
        *ok = inside;
    return join(tokens);
}

bool formulaHasAreaOverRows(const QString& formula, int first, int last) {
    for (const FormulaToken& t : tokenizeFormula(formula))
        if (t.kind == FormulaToken::Kind::Reference && t.ref.sheet.isEmpty() &&
            (t.ref.kind == Reference::Kind::Area || t.ref.kind == Reference::Kind::Rows) &&
            t.ref.row1 == first && t.ref.row2 == last)
            return true;
    return false;
}

std::optional<QString> spreadFormulaArea(const QString& formula, int first, int last,
                                         const std::vector<RowSpan>& pieces) {
    if (pieces.empty() || pieces.size() > 255)
        return std::nullopt;
    std::vector<FormulaToken> tokens = tokenizeFormula(formula);
    bool any = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        FormulaToken& t = tokens[i];
        if (t.kind != FormulaToken::Kind::Reference || !t.ref.sheet.isEmpty() ||
            !(t.ref.kind == Reference::Kind::Area || t.ref.kind == Reference::Kind::Rows) ||
            t.ref.row1 != first || t.ref.row2 != last)
            continue;
        if (pieces.size() > 1) {
            // Only a function's argument can become several.
            const QString before = i > 0 ? tokens[i - 1].text.trimmed() : QString();
            const QString after = i + 1 < tokens.size() ? tokens[i + 1].text.trimmed() : QString();
            if (!(before.endsWith(u'(') || before.endsWith(u',')) ||
                !(after.startsWith(u')') || after.startsWith(u',')))
                return std::nullopt;
        }
        QStringList texts;
        for (const RowSpan& p : pieces) {
            if (p.first < 0 || p.last >= maxRows || p.first > p.last)
                return std::nullopt;
            Reference r = t.ref;
            r.sheet = p.sheet;
            r.row1 = p.first;
            r.row2 = p.last;
            texts << referenceText(r);
        }
        t.text = texts.join(u',');
        any = true;
    }
    if (!any)
        return std::nullopt;
    return join(tokens);
}

QString cellName(int row, int column) {
    return columnLetters(column) + QString::number(row + 1);
}

bool parseCellName(const QString& text, int& row, int& column) {
    int i = 0;
    bool a = false, b = false;
    const int c = parseColumn(text, i, a);
    if (c < 0 || a)
        return false;
    const int r = parseRow(text, i, b);
    if (r < 0 || b || i != text.size())
        return false;
    row = r;
    column = c;
    return true;
}

} // namespace lw::xlsx

namespace lw::xlsx {

QString moveFormulaCells(const QString& formula, int rowOffset, int columnOffset, bool* ok) {
    std::vector<FormulaToken> tokens = tokenizeFormula(formula);
    bool inside = true;
    for (FormulaToken& t : tokens) {
        if (t.kind != FormulaToken::Kind::Reference)
            continue;
        Reference& r = t.ref;
        qint64 r1 = r.row1, r2 = r.row2, c1 = r.col1, c2 = r.col2;
        if (r.hasRows()) {
            r1 += r.absRow1 ? 0 : rowOffset;
            r2 += r.absRow2 ? 0 : rowOffset;
        }
        if (r.kind != Reference::Kind::Rows) {
            c1 += r.absCol1 ? 0 : columnOffset;
            c2 += r.absCol2 ? 0 : columnOffset;
        }
        if (r1 < 0 || r2 < 0 || r1 >= maxRows || r2 >= maxRows || c1 < 0 || c2 < 0 || c1 >= maxColumns ||
            c2 >= maxColumns) {
            t.text = refError(r);
            inside = false;
            continue;
        }
        r.row1 = int(std::min(r1, r2));
        r.row2 = int(std::max(r1, r2));
        r.col1 = int(std::min(c1, c2));
        r.col2 = int(std::max(c1, c2));
        t.text = referenceText(r);
    }
    if (ok)
        *ok = inside;
    return join(tokens);
}

} // namespace lw::xlsx
