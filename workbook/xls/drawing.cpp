// Reading a sheet's OfficeArt drawing into objects and writing placed copies of them: anchors
// moved, shape ids and OBJ ids given anew per written sheet, comments following their boxes, and
// the drawing group's id clusters and picture reference counts made to match.
#include "workbook/xls/drawing.h"

#include "workbook/biff.h"

#include <map>

namespace lw::xls {

using namespace biff;

namespace {

constexpr quint16 artDgContainer = 0xF002;
constexpr quint16 artSpgrContainer = 0xF003;
constexpr quint16 artSolverContainer = 0xF005;
constexpr quint16 artFdgg = 0xF006;
constexpr quint16 artBse = 0xF007;
constexpr quint16 artBstore = 0xF001;
constexpr quint16 artFdg = 0xF008;
constexpr quint16 artFsp = 0xF00A;
constexpr quint16 artOpt = 0xF00B;
constexpr quint16 artClientAnchor = 0xF010;
constexpr quint16 artSecondaryOpt = 0xF121;
constexpr quint16 artTertiaryOpt = 0xF122;
constexpr quint16 rBrai = 0x1051;

// The header of an OfficeArt record: version and instance, type, length; where it lies.
struct Art {
    quint16 verInst = 0;
    quint16 type = 0;
    qsizetype at = 0;  // its header
    qsizetype end = 0; // past its data
    bool container() const { return (verInst & 0x0F) == 0x0F; }
    qsizetype data() const { return at + 8; }
};

bool artAt(const QByteArray& b, qsizetype pos, qsizetype limit, Art& a) {
    if (pos < 0 || pos + 8 > limit)
        return false;
    const char* p = b.constData() + pos;
    a.verInst = biff::u16(p);
    a.type = biff::u16(p + 2);
    a.at = pos;
    a.end = pos + 8 + qsizetype(biff::u32(p + 4));
    return a.end <= limit;
}

// Calls f for every record within [pos, end), containers' children included (to a sane depth).
template <typename F>
bool walk(const QByteArray& b, qsizetype pos, qsizetype end, const F& f, int depth = 0) {
    while (pos < end) {
        Art a;
        if (!artAt(b, pos, end, a))
            return false;
        f(a);
        if (a.container() && depth < 16 && !walk(b, a.data(), a.end, f, depth + 1))
            return false;
        pos = a.end;
    }
    return true;
}

QByteArray artHeader(quint16 verInst, quint16 type, quint32 length) {
    QByteArray h;
    Out(h).u16(verInst).u16(type).u32(length);
    return h;
}

} // namespace

QString readDrawing(const QByteArray& art, const std::vector<std::pair<qsizetype, Record>>& between,
                    Sheet& sheet) {
    const QString unreadable = QStringLiteral("drawings (unreadable)");
    Art dg;
    if (!artAt(art, 0, art.size(), dg) || dg.type != artDgContainer || !dg.container())
        return unreadable;
    std::vector<std::pair<qsizetype, qsizetype>> ranges; // the objects' bytes
    QString problem;
    for (qsizetype pos = dg.data(); pos < dg.end;) {
        Art c;
        if (!artAt(art, pos, dg.end, c))
            return unreadable;
        if (c.type == artSpgrContainer) {
            bool first = true;
            for (qsizetype q = c.data(); q < c.end;) {
                Art s;
                if (!artAt(art, q, c.end, s))
                    return unreadable;
                if (first)
                    sheet.drawingPatriarch = art.mid(s.at, s.end - s.at);
                else
                    ranges.emplace_back(s.at, s.end);
                first = false;
                q = s.end;
            }
        } else if (c.type == artSolverContainer) {
            problem = QStringLiteral("the rules of connector lines");
        }
        pos = c.end;
    }
    if (sheet.drawingPatriarch.isEmpty())
        return unreadable;
    std::size_t next = 0; // the first record not yet given to an object
    for (const auto& [s, e] : ranges) {
        DrawingObject o;
        qsizetype cur = s;
        while (next < between.size() && between[next].first <= s)
            ++next; // records before this object's bytes belong to none: left out
        for (; next < between.size() && between[next].first <= e; ++next) {
            const qsizetype p = between[next].first;
            if (p > cur || o.parts.empty()) {
                o.parts.push_back({art.mid(cur, p - cur), {}});
                cur = p;
            }
            o.parts.back().records.append(between[next].second);
        }
        if (cur < e)
            o.parts.push_back({art.mid(cur, e - cur), {}});
        const QByteArray whole = art.mid(s, e - s);
        walk(whole, 0, whole.size(), [&](const Art& a) {
            if (o.row < 0 && a.type == artClientAnchor && a.end - a.data() >= 16)
                o.row = biff::u16(whole.constData() + a.data() + 6);
        });
        int id = -1;
        for (const DrawingObject::Part& part : o.parts)
            for (const Record& r : part.records)
                if (o.kind < 0 && r.id == rObj && r.data.size() >= 8 &&
                    biff::u16(r.data.constData()) == 0x15) {
                    o.kind = biff::u16(r.data.constData() + 4);
                    id = biff::u16(r.data.constData() + 6);
                }
        // A comment's box goes with its cell, wherever the box itself is drawn.
        for (const Record& n : sheet.notes)
            if (o.kind == 0x19 && n.data.size() >= 8 && biff::u16(n.data.constData() + 6) == id)
                o.row = biff::u16(n.data.constData());
        sheet.objects.push_back(std::move(o));
    }
    return problem;
}

DrawingPlacer::DrawingPlacer(const Workbook& blank) : m_blank(blank) {
    const QByteArray& g = blank.drawingGroup;
    walk(g, 0, g.size(), [&](const Art& a) {
        if (a.type == artBse)
            m_pictureRefs.push_back(0);
    });
}

QByteArray DrawingPlacer::sheet(const Sheet& source, const RowMap& map, const SeriesPlacer& series) {
    struct Copy {
        const DrawingObject* object;
        int shift;
    };
    std::vector<Copy> copies;
    quint32 shapes = 1;      // the group shape that holds the others
    std::size_t objects = 0; // OBJ ids are 16 bits: a sheet holds at most 65,535 objects
    for (const DrawingObject& o : source.objects) {
        std::vector<int> shifts = o.row < 0 ? std::vector<int>{0} : map.shifts(o.row);
        if (o.kind == 0x14 && shifts.size() > 1) // a filter's drop-down: the filter is there once
            shifts.resize(1);
        if (objects + shifts.size() > 0xFFFF) {
            shifts.resize(0xFFFF - std::min<std::size_t>(objects, 0xFFFF));
            m_problem = QStringLiteral("drawn objects past the 65,535 a sheet can hold");
        }
        objects += shifts.size();
        // The object's bytes may split inside a record: its shapes are counted on the whole.
        QByteArray whole;
        for (const DrawingObject::Part& p : o.parts)
            whole += p.art;
        quint32 own = 0;
        walk(whole, 0, whole.size(), [&](const Art& a) { own += a.type == artFsp ? 1 : 0; });
        for (int s : shifts) {
            copies.push_back({&o, s});
            shapes += own;
        }
    }
    if (copies.empty())
        return {};
    const quint32 dgid = ++m_drawings;
    const quint32 firstCluster = quint32(m_clusters.size()) + 1;
    for (quint32 left = shapes; left > 0;) {
        const quint32 used = std::min<quint32>(left, 1024);
        m_clusters.emplace_back(dgid, used);
        left -= used;
    }
    quint32 index = 0;
    const auto nextSpid = [&] {
        const quint32 spid = (firstCluster + index / 1024) * 1024 + index % 1024;
        ++index;
        return spid;
    };
    // Shape ids, anchors and picture references of one object's bytes.
    const auto renumber = [&](QByteArray& b, int shift) {
        walk(b, 0, b.size(), [&](const Art& a) {
            char* p = b.data() + a.data();
            const qsizetype size = a.end - a.data();
            if (a.type == artFsp && size >= 4) {
                put32(p, nextSpid());
            } else if (a.type == artClientAnchor && size >= 16 && shift != 0) {
                put16(p + 6, quint16(std::min(maxRows - 1, biff::u16(p + 6) + shift)));
                put16(p + 14, quint16(std::min(maxRows - 1, biff::u16(p + 14) + shift)));
            } else if ((a.type == artOpt || a.type == artSecondaryOpt || a.type == artTertiaryOpt)) {
                const qsizetype count = std::min<qsizetype>(a.verInst >> 4, size / 6);
                for (qsizetype i = 0; i < count; ++i) {
                    const quint16 id = biff::u16(p + 6 * i);
                    const quint32 value = biff::u32(p + 6 * i + 2);
                    if ((id & 0x3FFF) == 0x0104 && (id & 0x4000) && value >= 1 &&
                        value <= m_pictureRefs.size())
                        ++m_pictureRefs[value - 1];
                }
            }
        });
    };

    QByteArray patriarch = source.drawingPatriarch;
    renumber(patriarch, 0);
    // Each copy's parts, its OBJ ids made this sheet's own (a comment's NOTE follows its box).
    std::vector<std::vector<DrawingObject::Part>> placed;
    std::map<std::pair<int, int>, quint16> objIds; // (old id, shift) -> new id
    quint16 nextObj = 0;
    qsizetype artBytes = patriarch.size();
    for (const Copy& c : copies) {
        std::vector<DrawingObject::Part> parts = c.object->parts;
        QByteArray whole;
        for (const DrawingObject::Part& p : parts)
            whole += p.art;
        renumber(whole, c.shift);
        qsizetype at = 0;
        int depth = 0;
        for (DrawingObject::Part& p : parts) {
            p.art = whole.mid(at, p.art.size());
            at += p.art.size();
            artBytes += p.art.size();
            for (Record& r : p.records) {
                if (r.id == rBof) {
                    ++depth;
                } else if (r.id == rEof) {
                    --depth;
                } else if (depth == 0 && r.id == rObj && r.data.size() >= 8 &&
                           biff::u16(r.data.constData()) == 0x15) {
                    const int old = biff::u16(r.data.constData() + 6);
                    ++nextObj;
                    objIds[{old, c.shift}] = nextObj;
                    put16(r.data.data() + 6, nextObj);
                } else if (depth > 0 && r.id == rBrai && r.data.size() >= 8 && series) {
                    const int cce = biff::u16(r.data.constData() + 6);
                    if (cce > 0 && 8 + cce <= r.data.size()) {
                        Formula f(r.data.mid(8, cce));
                        series(f, c.shift);
                        QByteArray d = r.data.left(8) + f.tokens() + r.data.mid(8 + cce);
                        put16(d.data() + 6, quint16(f.tokens().size()));
                        r.data = d;
                        m_charts = true;
                    }
                }
            }
        }
        placed.push_back(std::move(parts));
    }
    const quint32 lastSpid = (firstCluster + (shapes - 1) / 1024) * 1024 + (shapes - 1) % 1024;
    m_spidMax = std::max(m_spidMax, lastSpid + 1);
    m_shapes += shapes;

    QByteArray out;
    QByteArray art = artHeader(0x000F, artDgContainer, quint32(16 + 8 + artBytes));
    Out o(art);
    o.bytes(artHeader(quint16(dgid << 4), artFdg, 8)).u32(shapes).u32(lastSpid);
    o.bytes(artHeader(0x000F, artSpgrContainer, quint32(artBytes))).bytes(patriarch);
    for (const auto& parts : placed) {
        for (const DrawingObject::Part& p : parts) {
            art += p.art;
            if (!art.isEmpty())
                appendLongRecord(out, rMsoDrawing, art);
            art.clear();
            for (const Record& r : p.records)
                appendRecord(out, r.id, r.data);
        }
    }
    if (!art.isEmpty())
        appendLongRecord(out, rMsoDrawing, art);
    for (const Record& n : source.notes) {
        if (n.data.size() < 8)
            continue;
        const int row = biff::u16(n.data.constData());
        const int old = biff::u16(n.data.constData() + 6);
        for (int s : map.shifts(row)) {
            const auto it = objIds.find({old, s});
            if (it == objIds.end())
                continue;
            QByteArray d = n.data;
            put16(d.data(), quint16(row + s));
            put16(d.data() + 6, it->second);
            appendRecord(out, rNote, d);
        }
    }
    return out;
}

QByteArray DrawingPlacer::group() const {
    const QByteArray& g = m_blank.drawingGroup;
    Art dgg;
    if (m_drawings == 0 || !artAt(g, 0, g.size(), dgg) || !dgg.container())
        return {};
    QByteArray children;
    Out o(children);
    o.bytes(artHeader(0x0000, artFdgg, quint32(16 + 8 * m_clusters.size())));
    o.u32(m_spidMax).u32(quint32(m_clusters.size() + 1)).u32(m_shapes).u32(m_drawings);
    for (const auto& [dg, used] : m_clusters)
        o.u32(dg).u32(used);
    for (qsizetype pos = dgg.data(); pos < dgg.end;) {
        Art c;
        if (!artAt(g, pos, dgg.end, c))
            break;
        if (c.type != artFdgg) {
            QByteArray child = g.mid(c.at, c.end - c.at);
            if (c.type == artBstore) {
                std::size_t i = 0;
                for (qsizetype q = 8; q < child.size();) {
                    Art b;
                    if (!artAt(child, q, child.size(), b))
                        break;
                    if (b.type == artBse && b.end - b.data() >= 28 && i < m_pictureRefs.size())
                        put32(child.data() + b.data() + 24, m_pictureRefs[i]);
                    i += b.type == artBse ? 1 : 0;
                    q = b.end;
                }
            }
            children += child;
        }
        pos = c.end;
    }
    return artHeader(dgg.verInst, dgg.type, quint32(children.size())) + children;
}

} // namespace lw::xls
