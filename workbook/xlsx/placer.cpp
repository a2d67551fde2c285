// Placing a blank sheet's drawings, charts, comments (and their VML shapes) and tables on written
// sheets: each part cut once around what changes from copy to copy (rows, ids, relationship ids),
// its copies streamed through the writer.
#include "workbook/xlsx/placer.h"
#include "workbook/xlsx/xml.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <optional>

namespace lw::xlsx {

namespace {

bool ofType(const Relationship& r, const char* suffix) {
    return r.type.endsWith(QLatin1String(suffix));
}

// Where the relationships of a part are: "xl/drawings/drawing1.xml" -> "xl/drawings/_rels/drawing1.xml.rels".
QString relsPartOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(u'/');
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

QByteArray relsXml(const std::vector<Relationship>& rels) {
    QByteArray x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const Relationship& r : rels)
        x += "<Relationship Id=\"" + escapeXml(r.id) + "\" Type=\"" + escapeXml(r.type) + "\" Target=\"" +
             escapeXml(r.target) + '"' + (r.external ? " TargetMode=\"External\"" : "") + "/>";
    return x + "</Relationships>";
}

// One tag of an XML text: its place and kind, its qualified name.
struct Tag {
    qsizetype at = 0;
    qsizetype end = 0; // one past its '>'
    enum class Kind { Open, Close, Empty, Other } kind = Kind::Other;
    QByteArray name;
    QByteArray local() const {
        const qsizetype colon = name.indexOf(':');
        return colon < 0 ? name : name.mid(colon + 1);
    }
};

// The next tag from pos (comments, CDATA, declarations and processing instructions are Other);
// false at the end of the text. A '>' inside an attribute's quotes does not end the tag.
bool nextTag(const QByteArray& x, qsizetype& pos, Tag& t) {
    const qsizetype at = x.indexOf('<', pos);
    if (at < 0)
        return false;
    t.at = at;
    t.name.clear();
    const auto skipTo = [&](const char* end) {
        const qsizetype e = x.indexOf(end, at + 1);
        t.end = e < 0 ? x.size() : e + qsizetype(std::strlen(end));
        t.kind = Tag::Kind::Other;
        pos = t.end;
        return true;
    };
    const QByteArrayView rest = QByteArrayView(x).sliced(at);
    if (rest.startsWith("<!--"))
        return skipTo("-->");
    if (rest.startsWith("<![CDATA["))
        return skipTo("]]>");
    if (rest.size() > 1 && (rest[1] == '?' || rest[1] == '!'))
        return skipTo(">");
    qsizetype i = at + 1;
    char quote = 0;
    for (; i < x.size(); ++i) {
        const char c = x[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    t.end = std::min(i + 1, x.size());
    const bool close = rest.size() > 1 && rest[1] == '/';
    qsizetype n = at + (close ? 2 : 1), e = n;
    while (e < t.end && x[e] != ' ' && x[e] != '>' && x[e] != '/' && x[e] != '\n' && x[e] != '\r' && x[e] != '\t')
        ++e;
    t.name = x.mid(n, e - n);
    t.kind = close ? Tag::Kind::Close : (t.end >= 2 && x[t.end - 2] == '/' ? Tag::Kind::Empty : Tag::Kind::Open);
    pos = t.end;
    return true;
}

// What changes from copy to copy in a part's text.
struct Hole {
    enum class Kind {
        Row,      // a row number, moved by the copy's shift
        ShapeId,  // a drawing shape's id, unique in its drawing
        ChartRel, // the relationship id of a chart: each copy gets a chart of its own
        VmlId,    // a VML shape's number, unique in the workbook
    } kind = Kind::Row;
    qsizetype at = 0, end = 0; // in the source text, while cutting
    int value = 0;
    QString text; // ChartRel: the blank's id
};

// A text cut around its holes: pieces[i] comes before holes[i], one more piece ends it.
struct Cut {
    std::vector<QByteArray> pieces;
    std::vector<Hole> holes;
    int row = -1; // the row it is anchored at, -1 none (placed once)
};

Cut cutText(const QByteArray& text, qsizetype from, qsizetype to, std::vector<Hole> holes, int row) {
    std::sort(holes.begin(), holes.end(), [](const Hole& a, const Hole& b) { return a.at < b.at; });
    Cut c;
    c.row = row;
    qsizetype pos = from;
    for (Hole& h : holes) {
        if (h.at < pos || h.end > to)
            continue; // overlapping: left as it is
        c.pieces.push_back(text.mid(pos, h.at - pos));
        pos = h.end;
        c.holes.push_back(std::move(h));
    }
    c.pieces.push_back(text.mid(pos, to - pos));
    return c;
}

// The numbers of a match's group as holes (offsets: the text read as Latin-1, byte for byte).
void holesOf(const QString& latin, qsizetype base, const QRegularExpression& re, int group, Hole::Kind kind,
             std::vector<Hole>& out) {
    for (auto it = re.globalMatch(latin); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        bool ok = false;
        const int v = m.captured(group).toInt(&ok);
        if (ok)
            out.push_back({kind, base + m.capturedStart(group), base + m.capturedEnd(group), v, {}});
    }
}

struct Part {
    QString part;        // its name in the blank
    QString relId;       // the sheet's relationship to it
    QString type;        // the relationship's type
    QString contentType; // its override in the blank, empty: by its extension
    std::vector<Relationship> rels; // its own, targets absolute ("/xl/media/image1.png") or external
};

struct ChartSource : Part {
    QByteArray xml;
    std::vector<QString> copiedRels; // its style and colour parts, copied with it (by relationship id)
};

struct DrawingSource : Part {
    QByteArray head, tail;
    std::vector<Cut> units; // the anchors (or the alternate contents holding them)
    QHash<QString, int> chartOf; // relationship id -> charts
};

struct CommentsSource : Part {
    QByteArray head, tail;
    std::vector<Cut> comments; // row: the comment's cell's
};

struct VmlSource : Part {
    QByteArray headBefore, headAfter; // around the value of o:idmap's data
    QString idmap;                    // that value
    bool hasIdmap = false;
    QByteArray middle; // what lies between the shapes (shape types): written before them
    QByteArray tail;
    std::vector<Cut> notes;            // the comments' shapes
    std::vector<QByteArray> others;    // other shapes (form controls): the first sheet only
};

struct TableSource : Part {
    QByteArray xml;
    int first = 0, last = 0;
    bool header = true;
    bool placedOnce = false;
};

} // namespace

struct PartPlacer::Impl {
    const Package& blank;
    const int source;
    ReportWriter& out;
    QString sourceName;
    QHash<QString, QString> contentTypes; // part name -> its override
    std::optional<DrawingSource> drawing;
    std::vector<ChartSource> charts;
    std::optional<CommentsSource> comments;
    std::optional<VmlSource> vml;
    std::vector<TableSource> tables;
    QSet<QString> handledRels; // the sheet's relationship ids placed here
    QString drawingId, legacyId; // the ids the sheet's <drawing> and <legacyDrawing> name
    QStringList firstOnly;
    QStringList problems;
    int nextVmlBlock = 1;
    int* sharedVmlBlock = nullptr;
    int nextTableId = 0;
    const xls::RowMap* map = nullptr;
    QString sheetName;
    Relocation elsewhere;

    Impl(const Package& b, int s, ReportWriter& w) : blank(b), source(s), out(w) {}

    QByteArray bytesOf(const QString& part) const {
        const auto it = blank.parts.find(part);
        return it == blank.parts.end() ? QByteArray() : it->second;
    }

    Part partOf(const Relationship& r, const QString& from) const {
        Part p;
        p.part = partName(from, r.target);
        p.relId = r.id;
        p.type = r.type;
        p.contentType = contentTypes.value(p.part);
        for (Relationship own : relationshipsOf(blank, p.part)) {
            if (!own.external)
                own.target = u'/' + partName(p.part, own.target);
            p.rels.push_back(own);
        }
        return p;
    }

    void drop(const QString& part) {
        out.dropPart(part);
        out.dropPart(relsPartOf(part));
    }

    void readContentTypes() {
        static const QRegularExpression overrideTag(QStringLiteral("<(?:\\w+:)?Override\\b[^>]*>"));
        static const QRegularExpression name(QStringLiteral("\\sPartName=\"([^\"]*)\""));
        static const QRegularExpression type(QStringLiteral("\\sContentType=\"([^\"]*)\""));
        const QString x = QString::fromUtf8(bytesOf(QStringLiteral("[Content_Types].xml")));
        for (auto it = overrideTag.globalMatch(x); it.hasNext();) {
            const QString tag = it.next().captured(0);
            const auto n = name.match(tag), t = type.match(tag);
            if (n.hasMatch() && t.hasMatch())
                contentTypes.insert(xml::unescapeEntities(n.captured(1)).mid(n.captured(1).startsWith(u'/') ? 1 : 0),
                                    xml::unescapeEntities(t.captured(1)));
        }
    }

    void readDrawing(const Relationship& r, const QString& sheetPart) {
        DrawingSource d;
        static_cast<Part&>(d) = partOf(r, sheetPart);
        const QByteArray x = bytesOf(d.part);
        if (x.isEmpty())
            return;
        for (const Relationship& c : d.rels) {
            if (c.external || !(ofType(c, "/chart") || ofType(c, "/chartEx")))
                continue;
            ChartSource chart;
            static_cast<Part&>(chart) = partOf(c, d.part);
            chart.xml = bytesOf(chart.part);
            if (chart.xml.isEmpty())
                continue;
            for (const Relationship& cr : chart.rels)
                if (!cr.external && (ofType(cr, "/chartStyle") || ofType(cr, "/chartColorStyle")))
                    chart.copiedRels.push_back(cr.id);
            d.chartOf.insert(c.id, int(charts.size()));
            charts.push_back(std::move(chart));
        }
        static const QRegularExpression shapeId(QStringLiteral("\\sid=\"(\\d+)\""));
        static const QRegularExpression relAttr(QStringLiteral("\\s[A-Za-z_][\\w.-]*:(?:id|embed|link)=\"([^\"]*)\""));
        qsizetype pos = 0, unitStart = -1, firstUnit = -1, lastEnd = -1, rowStart = -1;
        int depth = 0, fromRow = -1;
        bool inFrom = false, inFromTo = false;
        std::vector<Hole> holes;
        Tag t;
        while (nextTag(x, pos, t)) {
            if (t.kind == Tag::Kind::Other)
                continue;
            if (t.kind == Tag::Kind::Close) {
                --depth;
                const QByteArray local = t.local();
                if (unitStart >= 0) {
                    if (local == "row" && rowStart >= 0) {
                        bool ok = false;
                        const int v = x.mid(rowStart, t.at - rowStart).trimmed().toInt(&ok);
                        if (ok) {
                            holes.push_back({Hole::Kind::Row, rowStart, t.at, v, {}});
                            if (inFrom && fromRow < 0)
                                fromRow = v;
                        }
                        rowStart = -1;
                    } else if (local == "from" || local == "to") {
                        inFrom = inFromTo = false;
                    }
                    if (depth == 1) {
                        d.units.push_back(cutText(x, unitStart, t.end, std::move(holes), fromRow));
                        holes.clear();
                        lastEnd = t.end;
                        unitStart = -1;
                        fromRow = -1;
                    }
                }
                continue;
            }
            if (depth == 1 && unitStart < 0) {
                unitStart = t.at;
                if (firstUnit < 0)
                    firstUnit = t.at;
            }
            if (unitStart >= 0) {
                const QByteArray local = t.local();
                if (local == "from" || local == "to") {
                    inFromTo = t.kind == Tag::Kind::Open;
                    inFrom = inFromTo && local == "from";
                } else if (local == "row" && inFromTo && t.kind == Tag::Kind::Open) {
                    rowStart = t.end;
                }
                const QString tag = QString::fromLatin1(x.mid(t.at, t.end - t.at));
                if (local == "cNvPr")
                    holesOf(tag, t.at, shapeId, 1, Hole::Kind::ShapeId, holes);
                for (auto it = relAttr.globalMatch(tag); it.hasNext();) {
                    const QRegularExpressionMatch m = it.next();
                    if (d.chartOf.contains(m.captured(1)))
                        holes.push_back({Hole::Kind::ChartRel, t.at + m.capturedStart(1), t.at + m.capturedEnd(1), 0,
                                         m.captured(1)});
                }
                if (depth == 1 && t.kind == Tag::Kind::Empty) {
                    d.units.push_back(cutText(x, unitStart, t.end, std::move(holes), -1));
                    holes.clear();
                    lastEnd = t.end;
                    unitStart = -1;
                }
            }
            if (t.kind == Tag::Kind::Open)
                ++depth;
        }
        if (firstUnit < 0)
            return; // nothing drawn
        d.head = x.left(firstUnit);
        d.tail = x.mid(lastEnd);
        drop(d.part);
        for (const ChartSource& c : charts) {
            drop(c.part);
            for (const Relationship& cr : c.rels)
                if (c.copiedRels.end() != std::find(c.copiedRels.begin(), c.copiedRels.end(), cr.id))
                    drop(cr.target.mid(1));
        }
        handledRels.insert(d.relId);
        drawing = std::move(d);
    }

    void readComments(const Relationship& r, const QString& sheetPart) {
        CommentsSource c;
        static_cast<Part&>(c) = partOf(r, sheetPart);
        const QByteArray x = bytesOf(c.part);
        static const QRegularExpression ref(QStringLiteral("\\sref=\"\\$?[A-Za-z]{1,3}\\$?(\\d+)\""));
        qsizetype pos = 0, start = -1, first = -1, lastEnd = -1;
        std::vector<Hole> holes;
        int row = -1;
        Tag t;
        while (nextTag(x, pos, t)) {
            if (t.kind == Tag::Kind::Other || t.local() != "comment")
                continue;
            if (t.kind != Tag::Kind::Close) {
                start = t.at;
                if (first < 0)
                    first = t.at;
                holesOf(QString::fromLatin1(x.mid(t.at, t.end - t.at)), t.at, ref, 1, Hole::Kind::Row, holes);
                row = holes.empty() ? -1 : holes.back().value - 1;
                for (Hole& h : holes)
                    h.value -= 1; // 1-based in the text: written back + 1
            }
            if (t.kind != Tag::Kind::Open && start >= 0) {
                if (row >= 0)
                    c.comments.push_back(cutText(x, start, t.end, std::move(holes), row));
                holes.clear();
                lastEnd = t.end;
                start = -1;
            }
        }
        if (first < 0)
            return;
        c.head = x.left(first);
        c.tail = x.mid(lastEnd);
        drop(c.part);
        handledRels.insert(c.relId);
        comments = std::move(c);
    }

    void readVml(const Relationship& r, const QString& sheetPart) {
        // VML as spreadsheet programs write it need not be well-formed XML (<br> unclosed): read as text.
        VmlSource v;
        static_cast<Part&>(v) = partOf(r, sheetPart);
        const QByteArray x = bytesOf(v.part);
        // Writers give the VML namespaces prefixes of their choice (v:, ns0: ...).
        static const QRegularExpression idRe(QStringLiteral("\\s(?:id|[\\w.-]+:spid)=\"_x0000_s(\\d+)\""));
        static const QRegularExpression rowRe(QStringLiteral("<(?:[\\w.-]+:)?Row>\\s*(\\d+)\\s*</(?:[\\w.-]+:)?Row>"));
        static const QRegularExpression anchorRe(QStringLiteral(
            "<(?:[\\w.-]+:)?Anchor>\\s*\\d+\\s*,\\s*\\d+\\s*,\\s*(\\d+)\\s*,\\s*\\d+\\s*,\\s*\\d+\\s*,\\s*\\d+\\s*,\\s*(\\d+)"));
        static const QRegularExpression shapeStart(QStringLiteral("<((?:[\\w.-]+:)?)shape[\\s>/]"));
        const QString latinAll = QString::fromLatin1(x);
        qsizetype first = -1, lastEnd = -1;
        for (auto it = shapeStart.globalMatch(latinAll); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const qsizetype at = m.capturedStart();
            if (at < lastEnd)
                continue; // inside the last shape
            const QByteArray closing = "</" + m.captured(1).toLatin1() + "shape>";
            const qsizetype close = x.indexOf(closing, at);
            const qsizetype end = close < 0 ? x.size() : close + closing.size();
            if (first < 0)
                first = at;
            else if (at > lastEnd)
                v.middle += x.mid(lastEnd, at - lastEnd).trimmed();
            lastEnd = end;
            const QByteArray shape = x.mid(at, end - at);
            if (!shape.contains("ObjectType=\"Note\"")) {
                v.others.push_back(shape);
                continue;
            }
            const QString latin = QString::fromLatin1(shape);
            std::vector<Hole> holes;
            holesOf(latin, at, idRe, 1, Hole::Kind::VmlId, holes);
            holesOf(latin, at, rowRe, 1, Hole::Kind::Row, holes);
            holesOf(latin, at, anchorRe, 1, Hole::Kind::Row, holes);
            holesOf(latin, at, anchorRe, 2, Hole::Kind::Row, holes);
            const auto row = rowRe.match(latin);
            const auto anchor = anchorRe.match(latin);
            const int placedAt = row.hasMatch() ? row.captured(1).toInt() : anchor.hasMatch() ? anchor.captured(1).toInt() : -1;
            v.notes.push_back(cutText(x, at, end, std::move(holes), placedAt));
        }
        if (first < 0)
            return;
        const QByteArray head = x.left(first);
        static const QRegularExpression idmap(QStringLiteral("<(?:[\\w.-]+:)?idmap\\b[^>]*\\sdata=\"([^\"]*)\""));
        const auto m = idmap.match(QString::fromLatin1(head));
        if (m.hasMatch()) {
            v.hasIdmap = true;
            v.idmap = m.captured(1);
            v.headBefore = head.left(m.capturedStart(1));
            v.headAfter = head.mid(m.capturedEnd(1));
        } else {
            v.headBefore = head;
        }
        v.tail = x.mid(lastEnd);
        drop(v.part);
        handledRels.insert(v.relId);
        vml = std::move(v);
    }

    void readTable(const Relationship& r, const QString& sheetPart) {
        TableSource t;
        static_cast<Part&>(t) = partOf(r, sheetPart);
        t.xml = bytesOf(t.part);
        static const QRegularExpression tableTag(QStringLiteral("<(?:\\w+:)?table\\b[^>]*>"));
        static const QRegularExpression refAttr(QStringLiteral("\\sref=\"([^\"]*)\""));
        const QString x = QString::fromUtf8(t.xml);
        const auto tag = tableTag.match(x);
        if (!tag.hasMatch())
            return;
        const auto ref = refAttr.match(tag.captured(0));
        if (!ref.hasMatch())
            return;
        const std::vector<FormulaToken> tokens = tokenizeFormula(ref.captured(1));
        if (tokens.size() != 1 || tokens[0].kind != FormulaToken::Kind::Reference || !tokens[0].ref.hasRows())
            return;
        t.first = tokens[0].ref.row1;
        t.last = tokens[0].ref.kind == Reference::Kind::Cell ? tokens[0].ref.row1 : tokens[0].ref.row2;
        t.header = !tag.captured(0).contains(QLatin1String("headerRowCount=\"0\""));
        drop(t.part);
        handledRels.insert(t.relId);
        tables.push_back(std::move(t));
    }

    // Blocks of VML shape numbers already used anywhere in the blank: copies take later ones.
    void readVmlBlocks() {
        static const QRegularExpression data(QStringLiteral("<(?:[\\w.-]+:)?idmap\\b[^>]*\\sdata=\"([^\"]*)\""));
        static const QRegularExpression id(QStringLiteral("_x0000_s(\\d+)"));
        int used = 0;
        for (const auto& [name, bytes] : blank.parts) {
            if (!name.endsWith(QLatin1String(".vml"), Qt::CaseInsensitive))
                continue;
            const QString x = QString::fromLatin1(bytes);
            for (auto it = data.globalMatch(x); it.hasNext();)
                for (const QString& n : it.next().captured(1).split(u',', Qt::SkipEmptyParts))
                    used = std::max(used, n.trimmed().toInt());
            for (auto it = id.globalMatch(x); it.hasNext();)
                used = std::max(used, it.next().captured(1).toInt() / 1024);
        }
        nextVmlBlock = used + 1;
    }

    // ---- Placing ---------------------------------------------------------------------------

    QString freshId(QSet<QString>& ids, int& n) {
        QString id;
        do
            id = QStringLiteral("rIdLw%1").arg(++n);
        while (ids.contains(id));
        ids.insert(id);
        return id;
    }

    void writeRels(const QString& part, const std::vector<Relationship>& rels) {
        if (rels.empty())
            return;
        out.beginPart(relsPartOf(part), QString());
        out.writePart(relsXml(rels));
        out.endPart();
    }

    // A range's rows on the written sheet for the copy that moved by `shift`: where the range was
    // copied, the copy that moved with it; nothing when its rows are not there.
    std::optional<xls::RowPiece> pick(int first, int last, int shift) const {
        const std::vector<xls::RowPiece> pieces = map->range(first, last);
        if (pieces.empty())
            return std::nullopt;
        for (const xls::RowPiece& p : pieces)
            if (pieces.size() > 1 && p.shift == shift)
                return p;
        return pieces.front();
    }

    QString placeChart(const ChartSource& c, int shift) {
        static const QRegularExpression f(QStringLiteral("(<((?:\\w+:)?)f(?:\\s[^>]*)?>)([^<]*)(</\\2f>)"));
        const QString x = QString::fromUtf8(c.xml);
        QString moved;
        qsizetype last = 0;
        for (auto it = f.globalMatch(x); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            moved += x.mid(last, m.capturedStart() - last);
            last = m.capturedEnd();
            bool ok = true;
            const QString formula = relocateFormula(
                xml::unescapeEntities(m.captured(3)),
                [&](const RowSpan& r, bool) -> std::optional<RowSpan> {
                    if (!r.sheet.isEmpty() && r.sheet.compare(sourceName, Qt::CaseInsensitive) != 0)
                        return elsewhere ? elsewhere(r, true) : r; // a series is an area, even of one cell
                    const auto p = pick(r.first, r.last, shift);
                    if (!p)
                        return std::nullopt;
                    return RowSpan{sheetName, p->first, p->last};
                },
                &ok);
            if (!ok) {
                const QString problem = QStringLiteral("A chart on sheet %1 refers to cells that are not in the report: #REF!.").arg(sheetName);
                if (!problems.contains(problem))
                    problems << problem;
            }
            moved += m.captured(1) + QString::fromUtf8(escapeXml(formula)) + m.captured(4);
        }
        moved += x.mid(last);
        const QString name = out.beginPart(c.part, c.contentType);
        out.writePart(moved.toUtf8());
        out.endPart();
        std::vector<Relationship> rels;
        for (Relationship r : c.rels) {
            if (c.copiedRels.end() != std::find(c.copiedRels.begin(), c.copiedRels.end(), r.id)) {
                const QString part = r.target.mid(1);
                const QString copy = out.beginPart(part, contentTypes.value(part));
                out.writePart(bytesOf(part));
                out.endPart();
                r.target = u'/' + copy;
            }
            rels.push_back(r);
        }
        writeRels(name, rels);
        return name;
    }

    std::optional<QString> placeDrawing() {
        const DrawingSource& d = *drawing;
        QString name;
        int shapeIds = 1, relIds = 0;
        QSet<QString> ids;
        for (const Relationship& r : d.rels)
            ids.insert(r.id);
        struct ChartCopy {
            int chart;
            int shift;
            QString relId;
        };
        std::vector<ChartCopy> copies;
        QByteArray text;
        for (const Cut& u : d.units) {
            const std::vector<int> shifts = u.row < 0 ? std::vector<int>{0} : map->shifts(u.row);
            for (int s : shifts) {
                if (name.isEmpty()) {
                    name = out.beginPart(d.part, d.contentType);
                    out.writePart(d.head);
                }
                QHash<int, int> shapes;
                QHash<QString, QString> rels;
                text.clear();
                for (std::size_t i = 0; i < u.holes.size(); ++i) {
                    text += u.pieces[i];
                    const Hole& h = u.holes[i];
                    switch (h.kind) {
                    case Hole::Kind::Row:
                        text += QByteArray::number(std::min(h.value + s, maxRows - 1));
                        break;
                    case Hole::Kind::ShapeId: {
                        auto it = shapes.find(h.value);
                        if (it == shapes.end())
                            it = shapes.insert(h.value, ++shapeIds);
                        text += QByteArray::number(*it);
                        break;
                    }
                    case Hole::Kind::ChartRel: {
                        auto it = rels.find(h.text);
                        if (it == rels.end()) {
                            it = rels.insert(h.text, freshId(ids, relIds));
                            copies.push_back({d.chartOf.value(h.text), s, *it});
                        }
                        text += it->toUtf8();
                        break;
                    }
                    case Hole::Kind::VmlId:
                        text += QByteArray::number(h.value);
                        break;
                    }
                }
                text += u.pieces.back();
                out.writePart(text);
            }
        }
        if (name.isEmpty())
            return std::nullopt;
        out.writePart(d.tail);
        out.endPart();
        std::vector<Relationship> rels;
        for (const Relationship& r : d.rels)
            if (!d.chartOf.contains(r.id))
                rels.push_back(r);
        for (const ChartCopy& c : copies) {
            const ChartSource& chart = charts[std::size_t(c.chart)];
            rels.push_back({c.relId, chart.type, u'/' + placeChart(chart, c.shift), false});
        }
        writeRels(name, rels);
        return name;
    }

    std::optional<QString> placeComments() {
        const CommentsSource& c = *comments;
        QString name;
        QByteArray text;
        for (const Cut& u : c.comments) {
            for (int s : map->shifts(u.row)) {
                if (name.isEmpty()) {
                    name = out.beginPart(c.part, c.contentType);
                    out.writePart(c.head);
                }
                text.clear();
                for (std::size_t i = 0; i < u.holes.size(); ++i)
                    text += u.pieces[i] + QByteArray::number(std::min(u.holes[i].value + s, maxRows - 1) + 1);
                text += u.pieces.back();
                out.writePart(text);
            }
        }
        if (name.isEmpty())
            return std::nullopt;
        out.writePart(c.tail);
        out.endPart();
        writeRels(name, c.rels);
        return name;
    }

    std::optional<QString> placeVml(bool first) {
        const VmlSource& v = *vml;
        qint64 notes = 0;
        for (const Cut& u : v.notes)
            notes += qint64(map->shifts(u.row).size());
        const bool others = first && !v.others.empty();
        if (notes == 0 && !others)
            return std::nullopt;
        // Each block of 1,024 shape numbers is listed in the idmap; numbers 1..1023 of a block are used.
        const int blocks = int((notes + 1022) / 1023);
        if (sharedVmlBlock)
            nextVmlBlock = std::max(nextVmlBlock, *sharedVmlBlock);
        const int firstBlock = nextVmlBlock;
        nextVmlBlock += blocks;
        if (sharedVmlBlock)
            *sharedVmlBlock = nextVmlBlock;
        QStringList data;
        if (others && !v.idmap.isEmpty())
            data << v.idmap;
        for (int b = 0; b < blocks; ++b)
            data << QString::number(firstBlock + b);
        const QString name = out.beginPart(v.part, v.contentType);
        out.writePart(v.headBefore);
        if (v.hasIdmap)
            out.writePart(data.join(u',').toUtf8() + v.headAfter);
        out.writePart(v.middle);
        qint64 k = 0;
        QByteArray text;
        for (const Cut& u : v.notes) {
            for (int s : map->shifts(u.row)) {
                const qint64 number = qint64(firstBlock + k / 1023) * 1024 + 1 + k % 1023;
                ++k;
                text.clear();
                for (std::size_t i = 0; i < u.holes.size(); ++i) {
                    text += u.pieces[i];
                    const Hole& h = u.holes[i];
                    text += h.kind == Hole::Kind::VmlId ? QByteArray::number(number)
                                                        : QByteArray::number(std::min(h.value + s, maxRows - 1));
                }
                text += u.pieces.back();
                out.writePart(text);
            }
        }
        if (others)
            for (const QByteArray& o : v.others)
                out.writePart(o);
        out.writePart(v.tail);
        out.endPart();
        writeRels(name, v.rels);
        return name;
    }

    // The copies of a table on the written sheet: its range placed, one table per piece.
    std::vector<QString> placeTable(TableSource& t) {
        static const QRegularExpression tableTag(QStringLiteral("<(?:\\w+:)?table\\b[^>]*>"));
        static const QRegularExpression idAttr(QStringLiteral("(\\sid=\")(\\d+)(\")"));
        static const QRegularExpression nameAttr(QStringLiteral("(\\s(?:name|displayName)=\")([^\"]*)(\")"));
        std::vector<QString> names;
        for (const xls::RowPiece& p : map->range(t.first, t.last)) {
            if (t.header && p.last <= p.first)
                continue; // the header row alone is no table
            QString x = QString::fromUtf8(relocateSheetTail(
                t.xml,
                [&](const RowSpan& r) {
                    std::vector<RowSpan> v;
                    if (const auto q = pick(r.first, r.last, p.shift))
                        v.push_back({r.sheet, q->first, q->last});
                    return v;
                },
                [](const RowSpan& r, bool) { return std::optional<RowSpan>(r); }));
            if (t.placedOnce) {
                // Ids and names are the workbook's: a further copy gets its own.
                const int id = ++nextTableId;
                const QRegularExpressionMatch m = tableTag.match(x);
                if (m.hasMatch()) {
                    QString tag = m.captured(0);
                    tag.replace(idAttr, QStringLiteral("\\1%1\\3").arg(id));
                    tag.replace(nameAttr, QStringLiteral("\\1\\2_%1\\3").arg(id));
                    x.replace(m.capturedStart(), m.capturedLength(), tag);
                }
            }
            t.placedOnce = true;
            const QString name = out.beginPart(t.part, t.contentType);
            out.writePart(x.toUtf8());
            out.endPart();
            writeRels(name, t.rels);
            names.push_back(name);
        }
        return names;
    }
};

PartPlacer::PartPlacer(const Package& blank, int source, ReportWriter& out, int* vmlBlocks)
    : d(std::make_unique<Impl>(blank, source, out)) {
    d->sharedVmlBlock = vmlBlocks;
    if (source < 0 || std::size_t(source) >= blank.sheets.size())
        return;
    const SheetExtra& sheet = blank.sheets[std::size_t(source)];
    d->sourceName = blank.book.sheets[std::size_t(source)].name;
    d->readContentTypes();
    d->readVmlBlocks();
    static const QRegularExpression tableId(QStringLiteral("<(?:\\w+:)?table\\b[^>]*?\\sid=\"(\\d+)\""));
    for (const auto& [name, data] : blank.parts)
        if (name.startsWith(QLatin1String("xl/tables/")))
            if (const auto m = tableId.match(QString::fromUtf8(data)); m.hasMatch())
                d->nextTableId = std::max(d->nextTableId, m.captured(1).toInt());
    // The sheet's elements name the drawing and the comments' shapes by relationship id.
    static const QRegularExpression drawingEl(QStringLiteral("<(?:\\w+:)?drawing\\b[^>]*\\s[\\w.-]+:id=\"([^\"]+)\""));
    static const QRegularExpression legacyEl(QStringLiteral("<(?:\\w+:)?legacyDrawing\\b[^>]*\\s[\\w.-]+:id=\"([^\"]+)\""));
    const QString tail = QString::fromUtf8(sheet.tail);
    const QString drawingId = drawingEl.match(tail).captured(1);
    const QString legacyId = legacyEl.match(tail).captured(1);
    d->drawingId = drawingId;
    d->legacyId = legacyId;
    bool hasComments = false;
    for (const Relationship& r : sheet.rels)
        hasComments = hasComments || (!r.external && ofType(r, "/comments"));
    for (const Relationship& r : sheet.rels) {
        if (r.external)
            continue;
        if (ofType(r, "/drawing") && r.id == drawingId && !d->drawing)
            d->readDrawing(r, sheet.part);
        else if (ofType(r, "/comments") && !d->comments)
            d->readComments(r, sheet.part);
        else if (ofType(r, "/vmlDrawing") && r.id == legacyId && hasComments && !d->vml)
            d->readVml(r, sheet.part);
        else if (ofType(r, "/table"))
            d->readTable(r, sheet.part);
    }
    // What stays with the first sheet made from it.
    for (const Relationship& r : sheet.rels) {
        if (d->handledRels.contains(r.id) || r.external || ofType(r, "/printerSettings") || ofType(r, "/hyperlink"))
            continue;
        const QString kind = ofType(r, "/control") || ofType(r, "/ctrlProp")    ? QStringLiteral("form controls")
                             : ofType(r, "/oleObject") || ofType(r, "/package") ? QStringLiteral("embedded objects")
                             : ofType(r, "/image")                              ? QStringLiteral("background picture")
                             : ofType(r, "/vmlDrawing") && r.id == legacyId     ? QStringLiteral("form controls")
                             : ofType(r, "/vmlDrawing")                         ? QStringLiteral("header and footer pictures")
                             : ofType(r, "/pivotTable")                         ? QStringLiteral("pivot tables")
                                                                                : r.type.section(u'/', -1);
        if (!d->firstOnly.contains(kind))
            d->firstOnly << kind;
    }
    if (d->vml && !d->vml->others.empty() && !d->firstOnly.contains(QStringLiteral("form controls")))
        d->firstOnly << QStringLiteral("form controls");
}

PartPlacer::~PartPlacer() = default;

bool PartPlacer::active() const {
    return d->drawing || d->comments || d->vml || !d->tables.empty();
}

void PartPlacer::place(const xls::RowMap& map, const QString& name, bool first, const Relocation& elsewhere) {
    if (d->source < 0 || std::size_t(d->source) >= d->blank.sheets.size())
        return;
    const SheetExtra& sheet = d->blank.sheets[std::size_t(d->source)];
    d->map = &map;
    d->sheetName = name;
    d->elsewhere = elsewhere;
    ReportWriter::SheetParts parts;
    QSet<QString> ids;
    for (const Relationship& r : sheet.rels)
        ids.insert(r.id);
    int fresh = 0;
    const auto placed = [&](const Relationship& r, const QString& part) {
        parts.rels.push_back({r.id, r.type, u'/' + part, false});
    };
    for (const Relationship& r : sheet.rels) {
        if (d->drawing && r.id == d->drawing->relId) {
            if (const auto part = d->placeDrawing()) {
                placed(r, *part);
                parts.drawing = r.id;
            }
        } else if (d->comments && r.id == d->comments->relId) {
            if (const auto part = d->placeComments())
                placed(r, *part);
        } else if (d->vml && r.id == d->vml->relId) {
            if (const auto part = d->placeVml(first)) {
                placed(r, *part);
                parts.legacyDrawing = r.id;
            }
        } else if (d->handledRels.contains(r.id)) {
            for (TableSource& t : d->tables) {
                if (t.relId != r.id)
                    continue;
                bool own = true;
                for (const QString& part : d->placeTable(t)) {
                    const QString id = own ? r.id : d->freshId(ids, fresh);
                    own = false;
                    parts.rels.push_back({id, r.type, u'/' + part, false});
                    parts.tables << id;
                }
            }
        } else if (first || r.external || ofType(r, "/printerSettings") || ofType(r, "/hyperlink")) {
            parts.rels.push_back({r.id, r.type, r.external ? r.target : u'/' + partName(sheet.part, r.target), r.external});
            // What could not be read for copying stays with the first sheet as it was.
            if (first && !r.external && r.id == d->drawingId)
                parts.drawing = r.id;
            else if (first && !r.external && r.id == d->legacyId)
                parts.legacyDrawing = r.id;
            else if (first && !r.external && ofType(r, "/table"))
                parts.tables << r.id;
        }
    }
    d->map = nullptr;
    d->elsewhere = nullptr;
    d->out.setSheetParts(std::move(parts));
}

QStringList PartPlacer::problems() const {
    return d->problems;
}

QStringList PartPlacer::firstOnly() const {
    return d->firstOnly;
}

} // namespace lw::xlsx
