// Placing what is anchored to rows: the row map of a written sheet, and the conditional format,
// validation, hyperlink and autofilter records and defined names rewritten by it.
#include "workbook/xls/anchors.h"

#include "workbook/biff.h"

#include <algorithm>

namespace lw::xls {

using namespace biff;

int builtinNameCode(const QString& name) {
    static const char* const names[] = {
        "Consolidate_Area", "Auto_Open",       "Auto_Close",   "Extract",        "Database",
        "Criteria",         "Print_Area",      "Print_Titles", "Recorder",       "Data_Form",
        "Auto_Activate",    "Auto_Deactivate", "Sheet_Title",  "_FilterDatabase"};
    QString rest;
    if (name.startsWith(QStringLiteral("Excel_BuiltIn_"), Qt::CaseInsensitive))
        rest = name.mid(14);
    else if (name.startsWith(QStringLiteral("_xlnm."), Qt::CaseInsensitive))
        rest = name.mid(6);
    else
        return -1;
    for (int i = 0; i < int(std::size(names)); ++i)
        if (rest.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

RowMap::RowMap(std::vector<RowSegment> segments, int rowLimit)
    : m_identity(false), m_limit(rowLimit), m_segments(std::move(segments)) {
    for (RowSegment& s : m_segments)
        if (s.whole < 0)
            s.whole = s.last;
    std::sort(m_segments.begin(), m_segments.end(),
              [](const RowSegment& a, const RowSegment& b) { return a.first < b.first; });
}

std::vector<RowPiece> RowMap::range(int first, int last) const {
    if (m_identity || (first <= 0 && last >= m_limit - 1))
        return {{first, last, 0}};
    // The segments the ends fall in; an end in a gap moves inwards to the nearest segment.
    const RowSegment* a = nullptr;
    const RowSegment* b = nullptr;
    for (const RowSegment& s : m_segments) {
        if (s.copies <= 0)
            continue;
        if (!a && s.last >= first) {
            a = &s;
            first = std::max(first, s.first);
        }
        if (s.first <= last)
            b = &s;
    }
    if (!a || !b)
        return {};
    last = std::min(last, b->last);
    if (first > last)
        return {};
    std::vector<RowPiece> out;
    const auto add = [&](qint64 f, qint64 l, int shift) {
        if (f < m_limit)
            out.push_back({int(f), int(std::min<qint64>(l, m_limit - 1)), shift});
    };
    const int shiftA = a->at - a->first;
    if (a == b && a->copies > 1 && !(first <= a->first && last >= a->whole)) {
        for (int k = 0; k < a->copies; ++k) {
            const qint64 d = qint64(shiftA) + qint64(k) * a->stride;
            add(first + d, last + d, int(d));
        }
        return out;
    }
    const qint64 lastShift = qint64(b->at - b->first) + qint64(b->copies - 1) * b->stride;
    add(first + shiftA, last + lastShift, shiftA);
    return out;
}

std::vector<int> RowMap::shifts(int row) const {
    if (m_identity)
        return {0};
    std::vector<int> out;
    for (const RowSegment& s : m_segments) {
        if (row < s.first || row > s.last)
            continue;
        for (int k = 0; k < s.copies; ++k) {
            const qint64 d = qint64(s.at - s.first) + qint64(k) * s.stride;
            if (row + d < m_limit)
                out.push_back(int(d));
        }
        break;
    }
    return out;
}

namespace {

// A cell range as the format stores it (Ref8U: rows, then columns).
struct Ref8 {
    quint16 r1, r2, c1, c2;
};

Ref8 readRef8(const char* p) {
    return {biff::u16(p), biff::u16(p + 2), biff::u16(p + 4), biff::u16(p + 6)};
}

void putRef8(Out& o, const Ref8& r) {
    o.u16(r.r1).u16(r.r2).u16(r.c1).u16(r.c2);
}

// The ranges placed, each with the shift of its first copy.
struct Placed {
    Ref8 ref;
    int shift;
};

std::vector<Placed> placeRefs(const std::vector<Ref8>& refs, const RowMap& map) {
    std::vector<Placed> out;
    for (const Ref8& r : refs)
        for (const RowPiece& p : map.range(r.r1, r.r2))
            out.push_back({{quint16(p.first), quint16(p.last), r.c1, r.c2}, p.shift});
    return out;
}

Ref8 bounds(const std::vector<Placed>& refs, std::size_t from, std::size_t to) {
    Ref8 b = refs[from].ref;
    for (std::size_t i = from + 1; i < to; ++i) {
        b.r1 = std::min(b.r1, refs[i].ref.r1);
        b.r2 = std::max(b.r2, refs[i].ref.r2);
        b.c1 = std::min(b.c1, refs[i].ref.c1);
        b.c2 = std::max(b.c2, refs[i].ref.c2);
    }
    return b;
}

// Formula tokens moved as copying their cell down by `shift` rows moves them.
QByteArray moved(const QByteArray& tokens, int shift) {
    if (shift == 0 || tokens.isEmpty())
        return tokens;
    Formula f(tokens);
    f.moveRows(shift);
    return f.tokens();
}

// At most this many ranges in one record, so that it stays within a record's 8,224 bytes.
constexpr std::size_t refsPerRecord = 1000;

class Placer {
public:
    Placer(const QList<Record>& records, const RowMap& map, QStringList* problems)
        : m_in(records), m_map(map), m_problems(problems) {
        for (const Record& r : records)
            if ((r.id == rCondFmt || r.id == rCondFmt12) && r.data.size() >= (r.id == rCondFmt ? 4 : 16))
                m_nextId = std::max(m_nextId,
                                    (biff::u16(r.data.constData() + (r.id == rCondFmt ? 2 : 14)) >> 1) + 1);
    }

    AnchoredRecords run() {
        for (qsizetype i = 0; i < m_in.size();) {
            const Record& r = m_in[i];
            try {
                switch (r.id) {
                case rCondFmt:
                case rCondFmt12:
                    i = condFmt(i);
                    continue;
                case rDval:
                    i = validation(i);
                    continue;
                case rHlink:
                    i = hyperlink(i);
                    continue;
                case rCfEx: // placed with the CONDFMT it names
                    break;
                case rFilterMode:
                case rAutoFilterInfo:
                case rAutoFilter:
                    appendRecord(m_out.filter, r.id, r.data);
                    break;
                default: // a CF, CF12, CFEX, DV or QUICKTIP without its head: nothing to attach it to
                    problem(QStringLiteral("a record of type 0x%1 out of place")
                                .arg(r.id, 4, 16, QLatin1Char('0')));
                    break;
                }
            } catch (const Error&) {
                problem(QStringLiteral("a damaged record of type 0x%1").arg(r.id, 4, 16, QLatin1Char('0')));
            }
            ++i;
        }
        return std::move(m_out);
    }

private:
    void problem(const QString& what) {
        if (m_problems && !m_problems->contains(what))
            m_problems->append(what);
    }

    static std::vector<Ref8> readRefs(Reader& rd) {
        const quint16 count = rd.u16();
        std::vector<Ref8> refs;
        for (quint16 k = 0; k < count; ++k) {
            const QByteArray b = rd.bytes(8);
            refs.push_back(readRef8(b.constData()));
        }
        return refs;
    }

    // CONDFMT (or CONDFMT12) and the CF (CF12) records of its rules; CFEX records naming it.
    qsizetype condFmt(qsizetype i) {
        const Record& head = m_in[i];
        const bool is12 = head.id == rCondFmt12;
        const quint16 ruleId = is12 ? rCf12 : rCf;
        qsizetype end = i + 1;
        while (end < m_in.size() && m_in[end].id == ruleId)
            ++end;
        const int pre = is12 ? 12 : 0; // the future record header of CONDFMT12
        Reader rd(head.data);
        rd.skip(pre);
        const quint16 ccf = rd.u16();
        const quint16 idField = rd.u16();
        rd.skip(8);
        const std::vector<Ref8> refs = readRefs(rd);
        const QByteArray rest = rd.bytes(rd.remaining());
        const int id = idField >> 1;
        std::vector<QByteArray> cfex;
        for (const Record& r : m_in)
            if (r.id == rCfEx && r.data.size() >= 18 && (biff::u16(r.data.constData() + 16)) == id)
                cfex.push_back(r.data);
        const std::vector<Placed> placed = placeRefs(refs, m_map);
        for (std::size_t from = 0; from < placed.size(); from += refsPerRecord) {
            const std::size_t to = std::min(placed.size(), from + refsPerRecord);
            const int newId = from == 0 ? id : m_nextId++;
            const Ref8 b = bounds(placed, from, to);
            QByteArray d;
            Out o(d);
            if (is12) {
                d.append(head.data.left(4));
                putRef8(o, b);
            }
            o.u16(ccf).u16(quint16((idField & 1) | (newId << 1)));
            putRef8(o, b);
            o.u16(quint16(to - from));
            for (std::size_t k = from; k < to; ++k)
                putRef8(o, placed[k].ref);
            o.bytes(rest);
            appendRecord(m_out.formats, head.id, d);
            const int shift = placed[from].shift;
            for (qsizetype k = i + 1; k < end; ++k) {
                QByteArray cf = m_in[k].data;
                if (is12) {
                    // The future record header's range, then ct, cp, cce1, cce2, the format (its
                    // size first), the two formulas and the formula of the active range.
                    if (cf.size() < 22)
                        throw Error("CF12");
                    QByteArray ref;
                    Out(ref).u16(b.r1).u16(b.r2).u16(b.c1).u16(b.c2);
                    cf.replace(4, 8, ref);
                    const int cce1 = biff::u16(cf.constData() + 14), cce2 = biff::u16(cf.constData() + 16);
                    const qint64 at = 22 + qint64(biff::u32(cf.constData() + 18));
                    if (at + cce1 + cce2 <= cf.size()) {
                        cf.replace(at, cce1, moved(cf.mid(at, cce1), shift));
                        cf.replace(at + cce1, cce2, moved(cf.mid(at + cce1, cce2), shift));
                        const qint64 active = at + cce1 + cce2;
                        if (active + 2 <= cf.size()) {
                            const int cce = biff::u16(cf.constData() + active);
                            if (active + 2 + cce <= cf.size())
                                cf.replace(active + 2, cce, moved(cf.mid(active + 2, cce), shift));
                        }
                    }
                } else {
                    if (cf.size() < 6)
                        throw Error("CF");
                    const int cce1 = biff::u16(cf.constData() + 2), cce2 = biff::u16(cf.constData() + 4);
                    const qsizetype at = cf.size() - cce1 - cce2;
                    if (at < 6)
                        throw Error("CF");
                    const QByteArray f1 = moved(cf.mid(at, cce1), shift),
                                     f2 = moved(cf.mid(at + cce1, cce2), shift);
                    cf = cf.left(at) + f1 + f2;
                }
                appendRecord(m_out.formats, m_in[k].id, cf);
            }
            for (QByteArray x : cfex) {
                QByteArray ref;
                Out(ref).u16(b.r1).u16(b.r2).u16(b.c1).u16(b.c2);
                x.replace(4, 8, ref);
                put16(x.data() + 16, quint16(newId));
                appendRecord(m_out.formats, rCfEx, x);
            }
        }
        // CFEX records go with their CONDFMT; skip the ones right after the rules.
        while (end < m_in.size() && m_in[end].id == rCfEx)
            ++end;
        return end;
    }

    // DVAL and its DV records.
    qsizetype validation(qsizetype i) {
        QByteArray dval = m_in[i].data;
        if (dval.size() < 18)
            throw Error("DVAL");
        qsizetype end = i + 1;
        QByteArray dvs;
        quint32 count = 0;
        for (; end < m_in.size() && m_in[end].id == rDv; ++end) {
            const QByteArray& dv = m_in[end].data;
            Reader rd(dv);
            rd.u32();
            for (int s = 0; s < 4; ++s) { // prompt title, error title, prompt, error
                const quint16 cch = rd.u16();
                const quint8 high = rd.u8();
                rd.skip(qsizetype(cch) * ((high & 1) ? 2 : 1));
            }
            const qsizetype f1 = dv.size() - rd.remaining();
            const quint16 cce1 = rd.u16();
            rd.u16();
            rd.skip(cce1);
            const qsizetype f2 = dv.size() - rd.remaining();
            const quint16 cce2 = rd.u16();
            rd.u16();
            rd.skip(cce2);
            const std::vector<Placed> placed = placeRefs(readRefs(rd), m_map);
            for (std::size_t from = 0; from < placed.size(); from += refsPerRecord) {
                const std::size_t to = std::min(placed.size(), from + refsPerRecord);
                const int shift = placed[from].shift;
                QByteArray d = dv.left(f1);
                d += dv.mid(f1, 4) + moved(dv.mid(f1 + 4, cce1), shift);
                d += dv.mid(f2, 4) + moved(dv.mid(f2 + 4, cce2), shift);
                Out o(d);
                o.u16(quint16(to - from));
                for (std::size_t k = from; k < to; ++k)
                    putRef8(o, placed[k].ref);
                appendRecord(dvs, rDv, d);
                ++count;
            }
        }
        if (count > 0) {
            put32(dval.data() + 14, count);
            appendRecord(m_out.formats, rDval, dval);
            m_out.formats += dvs;
        }
        return end;
    }

    // HLINK and the QUICKTIP after it: one of each per placed range.
    qsizetype hyperlink(qsizetype i) {
        const QByteArray& link = m_in[i].data;
        if (link.size() < 8)
            throw Error("HLINK");
        const bool tip = i + 1 < m_in.size() && m_in[i + 1].id == rQuickTip && m_in[i + 1].data.size() >= 10;
        for (const Placed& p : placeRefs({readRef8(link.constData())}, m_map)) {
            QByteArray ref;
            Out o(ref);
            putRef8(o, p.ref);
            QByteArray d = link;
            d.replace(0, 8, ref);
            appendRecord(m_out.formats, rHlink, d);
            if (tip) {
                QByteArray t = m_in[i + 1].data;
                t.replace(2, 8, ref);
                appendRecord(m_out.formats, rQuickTip, t);
            }
        }
        return i + (tip ? 2 : 1);
    }

    const QList<Record>& m_in;
    const RowMap& m_map;
    QStringList* m_problems;
    AnchoredRecords m_out;
    int m_nextId = 1;
};

} // namespace

namespace {

// A reference off the source sheet: without a sheet it stands as it is; to another sheet it goes to
// where that sheet was written, or nowhere when that sheet was not.
std::optional<RowSpan> placedElsewhere(const RowSpan& r, const std::function<int(int)>& sheetOf) {
    if (r.sheet < 0)
        return r;
    const int s = sheetOf(r.sheet);
    if (s < 0)
        return std::nullopt;
    return RowSpan{s, r.first, r.last};
}

} // namespace

AnchoredRecords placeAnchored(const QList<Record>& anchored, const RowMap& map, QStringList* problems) {
    return Placer(anchored, map, problems).run();
}

bool placeName(Formula& formula, int source, int target, const RowMap& map,
               const std::function<int(int)>& sheetOf) {
    return formula.relocate([&](const RowSpan& r, bool area) -> std::optional<RowSpan> {
        if (r.sheet < 0 || r.sheet != source)
            return placedElsewhere(r, sheetOf);
        if (area) {
            const std::vector<RowPiece> pieces = map.range(r.first, r.last);
            if (pieces.empty())
                return std::nullopt;
            return RowSpan{target, pieces.front().first, pieces.front().last};
        }
        const std::vector<int> shifts = map.shifts(r.first);
        if (shifts.empty())
            return std::nullopt;
        return RowSpan{target, r.first + shifts.front(), r.first + shifts.front()};
    });
}

bool placeSeries(Formula& formula, int source, int target, const RowMap& map, int shift,
                 const std::function<int(int)>& sheetOf) {
    const QByteArray& t = formula.tokens();
    if (t.size() == 7 && quint8(t[0]) >= 0x20 && baseToken(quint8(t[0])) == ptgRef3d) {
        QByteArray area;
        Out(area)
            .u8(withClass(ptgArea3d, quint8(t[0])))
            .bytes(t.mid(1, 2))
            .bytes(t.mid(3, 2))
            .bytes(t.mid(3, 2))
            .bytes(t.mid(5, 2))
            .bytes(t.mid(5, 2));
        formula = Formula(area, formula.extra());
    }
    return formula.relocate([&](const RowSpan& r, bool) -> std::optional<RowSpan> {
        if (r.sheet < 0 || r.sheet != source)
            return placedElsewhere(r, sheetOf);
        const std::vector<RowPiece> pieces = map.range(r.first, r.last);
        if (pieces.empty())
            return std::nullopt;
        RowPiece p = pieces.front();
        for (const RowPiece& q : pieces)
            if (pieces.size() > 1 && q.shift == shift)
                p = q;
        return RowSpan{target, p.first, p.last};
    });
}

bool mapNames(Formula& formula, const std::function<int(int)>& written) {
    QByteArray tokens = formula.tokens();
    bool changed = false;
    for (int pos = 0; pos < tokens.size();) {
        const int size = tokenSize(tokens, pos);
        if (size < 0)
            break;
        const quint8 t = quint8(tokens[pos]);
        if (t >= 0x20 && baseToken(t) == ptgName) {
            const int to = written(int(biff::u32(tokens.constData() + pos + 1)) - 1);
            if (to < 0)
                return false;
            put32(tokens.data() + pos + 1, quint32(to + 1));
            changed = true;
        }
        pos += size;
    }
    if (changed)
        formula = Formula(tokens, formula.extra());
    return true;
}

} // namespace lw::xls
