// Formulas as token lists: moving references with a copied row and widening the range of a total
// to cover every copy of a band, every other token kept byte for byte.
#include "workbook/biff.h"
#include "workbook/xls.h"

#include <algorithm>

namespace lw::xls {

using namespace biff;

namespace {

struct Token {
    int pos;
    int size;
    quint8 id;
};

// The tokens of a formula; false when one is unknown or runs past the end.
bool parse(const QByteArray& tokens, std::vector<Token>& out) {
    out.clear();
    for (int pos = 0; pos < tokens.size();) {
        const int size = tokenSize(tokens, pos);
        if (size < 0)
            return false;
        out.push_back({pos, size, quint8(tokens[pos])});
        pos += size;
    }
    return true;
}

bool isClassed(quint8 id, quint8 base) {
    return id >= 0x20 && baseToken(id) == base;
}

bool isOperand(quint8 id) {
    if (id < 0x20)
        return id == ptgStr || id == 0x16 || (id >= 0x1C && id <= 0x1F);
    switch (baseToken(id)) {
    case ptgArray:
    case ptgName:
    case ptgRef:
    case ptgArea:
    case ptgRefErr:
    case ptgAreaErr:
    case ptgRefN:
    case ptgAreaN:
    case ptgNameX:
    case ptgRef3d:
    case ptgArea3d:
    case ptgRefErr3d:
    case ptgAreaErr3d:
        return true;
    default:
        return false;
    }
}

// The token that takes the value of token `index` as its argument: the index of a tFuncVar or of a
// tAttr(sum), -1 when the value goes to anything else (an operator, a fixed-argument function, the
// formula's result) or the formula cannot be followed.
int consumerOf(const QByteArray& tokens, const std::vector<Token>& list, std::size_t index) {
    int depth = 0; // how many values lie above ours on the stack
    for (std::size_t j = index + 1; j < list.size(); ++j) {
        const quint8 id = list[j].id;
        const char* p = tokens.constData() + list[j].pos;
        if (isOperand(id)) {
            ++depth;
        } else if (id >= 0x03 && id <= 0x11) { // binary operators
            if (depth <= 1)
                return -1;
            --depth;
        } else if (id >= 0x12 && id <= 0x15) { // unary operators, parentheses
            if (depth == 0)
                return -1;
        } else if (id == ptgAttr) {
            const quint8 kind = quint8(p[1]);
            if ((kind & 0x10) && depth == 0)
                return int(j);
        } else if (isClassed(id, ptgFuncVar)) {
            const int argc = quint8(p[1]) & 0x7F;
            if (depth < argc)
                return int(j);
            depth = depth - argc + 1;
        } else if (isClassed(id, ptgFunc)) {
            const int argc = fixedArgumentCount(biff::u16(p + 1));
            if (argc < 0 || depth < argc)
                return -1;
            depth = depth - argc + 1;
        } else {
            return -1; // memory tokens, shared or array parts: not followed
        }
    }
    return -1;
}

// Jumps of IF, CHOOSE and their GOTOs that pass position `at` grow by `delta` bytes.
void fixJumps(QByteArray& tokens, int at, int delta) {
    std::vector<Token> list;
    if (!parse(tokens, list))
        return;
    for (const Token& t : list) {
        if (t.id != ptgAttr || t.pos >= at)
            continue;
        char* p = tokens.data() + t.pos;
        const quint8 kind = quint8(p[1]);
        const int after = t.pos + 4;
        if (kind & 0x02) { // IF: skips to the false branch
            const int offset = biff::u16(p + 2);
            if (at >= after && at < after + offset)
                put16(p + 2, quint16(offset + delta));
        } else if (kind & 0x08) { // GOTO: skips to the end of the IF or CHOOSE, less one
            const int offset = biff::u16(p + 2);
            if (at >= after && at < after + offset + 1)
                put16(p + 2, quint16(offset + delta));
        } else if (kind & 0x04) { // CHOOSE: a table of jumps from the table's start
            const int count = biff::u16(p + 2);
            for (int i = 0; i <= count; ++i) {
                char* e = p + 4 + 2 * i;
                const int offset = biff::u16(e);
                if (at >= after && at < after + offset)
                    put16(e, quint16(offset + delta));
            }
        }
    }
}

} // namespace

Formula::Formula(QByteArray tokens, QByteArray extra)
    : m_tokens(std::move(tokens)), m_extra(std::move(extra)) {}

bool Formula::moveRows(int rowOffset) {
    std::vector<Token> list;
    parse(m_tokens, list); // tokens after an unknown one are left alone
    bool inside = true;
    for (const Token& t : list) {
        char* p = m_tokens.data() + t.pos;
        const quint8 cls = t.id & 0x60;
        if (isClassed(t.id, ptgRef) || isClassed(t.id, ptgRef3d)) {
            const bool is3d = isClassed(t.id, ptgRef3d);
            char* rp = p + (is3d ? 3 : 1);
            const quint16 col = biff::u16(rp + 2);
            if (!(col & 0x8000))
                continue;
            const qint64 row = qint64(biff::u16(rp)) + rowOffset;
            if (row < 0 || row >= maxRows) {
                *p = char(withClass(is3d ? ptgRefErr3d : ptgRefErr, cls));
                inside = false;
            } else {
                put16(rp, quint16(row));
            }
        } else if (isClassed(t.id, ptgArea) || isClassed(t.id, ptgArea3d)) {
            const bool is3d = isClassed(t.id, ptgArea3d);
            char* rp = p + (is3d ? 3 : 1);
            qint64 r1 = biff::u16(rp), r2 = biff::u16(rp + 2);
            quint16 c1 = biff::u16(rp + 4), c2 = biff::u16(rp + 6);
            if (c1 & 0x8000)
                r1 += rowOffset;
            if (c2 & 0x8000)
                r2 += rowOffset;
            if (r1 < 0 || r1 >= maxRows || r2 < 0 || r2 >= maxRows) {
                *p = char(withClass(is3d ? ptgAreaErr3d : ptgAreaErr, cls));
                inside = false;
                continue;
            }
            if (r1 > r2) { // an area with one absolute end can turn over: keep it first-to-last
                std::swap(r1, r2);
                const quint16 f1 = c1 & 0x8000, f2 = c2 & 0x8000;
                c1 = quint16((c1 & 0x7FFF) | f2);
                c2 = quint16((c2 & 0x7FFF) | f1);
            }
            put16(rp, quint16(r1));
            put16(rp + 2, quint16(r2));
            put16(rp + 4, c1);
            put16(rp + 6, c2);
        }
    }
    return inside;
}

namespace {

// Subexpression lengths of tMemArea, tMemErr, tMemNoMem and tMemFunc whose subexpression holds
// position `at` grow by `delta` bytes.
void fixMemLengths(QByteArray& tokens, int at, int delta) {
    std::vector<Token> list;
    if (!parse(tokens, list))
        return;
    for (const Token& t : list) {
        if (t.id < 0x20 || t.pos >= at)
            continue;
        const quint8 base = baseToken(t.id);
        if (base != ptgMemArea && base != ptgMemErr && base != ptgMemNoMem && base != ptgMemFunc)
            continue;
        char* cce = tokens.data() + t.pos + (base == ptgMemFunc ? 1 : 5);
        const int length = biff::u16(cce);
        const int after = t.pos + t.size;
        if (at >= after && at < after + length)
            put16(cce, quint16(length + delta));
    }
}

} // namespace

bool Formula::relocate(const Relocation& where) {
    QByteArray tokens = m_tokens;
    std::vector<Token> list;
    parse(tokens, list); // tokens after an unknown one are left alone
    bool inside = true;
    // Right to left, so that the tokens before each change keep their places.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const Token t = *it;
        const quint8 base = t.id >= 0x20 ? baseToken(t.id) : 0;
        const bool isArea = base == ptgArea || base == ptgArea3d;
        const bool is3d = base == ptgRef3d || base == ptgArea3d;
        if (!isArea && base != ptgRef && base != ptgRef3d)
            continue;
        const quint8 cls = t.id & 0x60;
        const int rows = t.pos + (is3d ? 3 : 1); // the row fields, then the column fields
        const char* rp = tokens.constData() + rows;
        const RowSpan from{is3d ? int(biff::u16(rp - 2)) : -1, biff::u16(rp),
                           biff::u16(rp + (isArea ? 2 : 0))};
        const QByteArray cols = tokens.mid(rows + (isArea ? 4 : 2), isArea ? 4 : 2);
        const std::optional<RowSpan> to = where(from, isArea);
        const bool gone = !to || to->first < 0 || to->last >= maxRows || to->first > to->last ||
                          to->sheet < -1 || to->sheet > 0xFFFF;
        if (gone) {
            inside = false;
            const quint8 err = isArea ? (is3d ? ptgAreaErr3d : ptgAreaErr) : (is3d ? ptgRefErr3d : ptgRefErr);
            tokens[t.pos] = char(withClass(err, cls));
            continue;
        }
        QByteArray replacement;
        Out o(replacement);
        const bool to3d = to->sheet >= 0;
        if (isArea) {
            if (to3d)
                o.u8(withClass(ptgArea3d, cls)).u16(quint16(to->sheet));
            else
                o.u8(withClass(ptgArea, cls));
            o.u16(quint16(to->first)).u16(quint16(to->last)).bytes(cols);
        } else {
            if (to3d)
                o.u8(withClass(ptgRef3d, cls)).u16(quint16(to->sheet));
            else
                o.u8(withClass(ptgRef, cls));
            o.u16(quint16(to->first)).bytes(cols);
        }
        const int delta = int(replacement.size()) - t.size;
        tokens.replace(t.pos, t.size, replacement);
        if (delta != 0) {
            fixJumps(tokens, t.pos, delta);
            fixMemLengths(tokens, t.pos, delta);
        }
    }
    m_tokens = tokens;
    return inside;
}

bool Formula::insertRows(int at, int count, int sheet) {
    return relocate([=](const RowSpan& r, bool) -> std::optional<RowSpan> {
        if (r.sheet != sheet)
            return r;
        RowSpan moved = r;
        if (moved.first >= at)
            moved.first += count;
        if (moved.last >= at)
            moved.last += count;
        return moved;
    });
}

bool Formula::hasAreaOverRows(int first, int last) const {
    std::vector<Token> list;
    parse(m_tokens, list);
    for (const Token& t : list) {
        if (isClassed(t.id, ptgArea)) {
            const char* p = m_tokens.constData() + t.pos + 1;
            if (biff::u16(p) == first && biff::u16(p + 2) == last)
                return true;
        }
    }
    return false;
}

bool Formula::spreadArea(int first, int last, const std::vector<RowSpan>& pieces) {
    if (pieces.empty())
        return false;
    for (const RowSpan& s : pieces) {
        if (s.first < 0 || s.last >= maxRows || s.first > s.last || s.sheet < -1 || s.sheet > 0xFFFF)
            return false;
    }
    QByteArray tokens = m_tokens;
    std::vector<Token> list;
    if (!parse(tokens, list))
        return false;
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!isClassed(list[i].id, ptgArea))
            continue;
        const char* p = tokens.constData() + list[i].pos + 1;
        if (biff::u16(p) == first && biff::u16(p + 2) == last)
            matches.push_back(i);
    }
    if (matches.empty())
        return false;
    // Right to left, so that the tokens before each match keep their places.
    for (auto m = matches.rbegin(); m != matches.rend(); ++m) {
        if (!parse(tokens, list))
            return false;
        const Token area = list[*m];
        const quint8 cls = area.id & 0x60;
        const QByteArray cols = tokens.mid(area.pos + 5, 4);
        if (pieces.size() == 1 && pieces[0].sheet == -1) {
            put16(tokens.data() + area.pos + 1, quint16(pieces[0].first));
            put16(tokens.data() + area.pos + 3, quint16(pieces[0].last));
            continue;
        }
        QByteArray replacement;
        Out o(replacement);
        for (const RowSpan& s : pieces) {
            if (s.sheet < 0)
                o.u8(withClass(ptgArea, cls));
            else
                o.u8(withClass(ptgArea3d, cls)).u16(quint16(s.sheet));
            o.u16(quint16(s.first)).u16(quint16(s.last)).bytes(cols);
        }
        if (pieces.size() > 1) {
            const int consumer = consumerOf(tokens, list, *m);
            if (consumer < 0)
                return false;
            char* c = tokens.data() + list[std::size_t(consumer)].pos;
            if (list[std::size_t(consumer)].id == ptgAttr) {
                // SUM of one argument, written as tAttr(sum): becomes a SUM with several.
                if (int(pieces.size()) > 30)
                    return false;
                c[0] = char(withClass(ptgFuncVar, 0x40));
                c[1] = char(pieces.size());
                put16(c + 2, 0x0004);
            } else {
                const int argc = (quint8(c[1]) & 0x7F) + int(pieces.size()) - 1;
                if (argc > 30)
                    return false;
                c[1] = char((quint8(c[1]) & 0x80) | argc);
            }
        }
        const int delta = int(replacement.size()) - area.size;
        tokens.replace(area.pos, area.size, replacement);
        if (delta != 0)
            fixJumps(tokens, area.pos, delta);
    }
    m_tokens = tokens;
    return true;
}

std::vector<int> Formula::sheetsReferenced() const {
    std::vector<Token> list;
    parse(m_tokens, list);
    std::vector<int> sheets;
    for (const Token& t : list) {
        if (isClassed(t.id, ptgRef3d) || isClassed(t.id, ptgArea3d) || isClassed(t.id, ptgRefErr3d) ||
            isClassed(t.id, ptgAreaErr3d))
            sheets.push_back(biff::u16(m_tokens.constData() + t.pos + 1));
    }
    std::sort(sheets.begin(), sheets.end());
    sheets.erase(std::unique(sheets.begin(), sheets.end()), sheets.end());
    return sheets;
}

bool Formula::mapSheets(const std::function<int(int)>& map) {
    std::vector<Token> list;
    parse(m_tokens, list);
    QByteArray tokens = m_tokens;
    for (const Token& t : list) {
        if (!(isClassed(t.id, ptgRef3d) || isClassed(t.id, ptgArea3d) || isClassed(t.id, ptgRefErr3d) ||
              isClassed(t.id, ptgAreaErr3d)))
            continue;
        const int sheet = map(biff::u16(tokens.constData() + t.pos + 1));
        if (sheet < 0 || sheet > 0xFFFF)
            return false;
        put16(tokens.data() + t.pos + 1, quint16(sheet));
    }
    m_tokens = tokens;
    return true;
}

} // namespace lw::xls
