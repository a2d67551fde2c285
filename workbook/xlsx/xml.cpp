// The expat layer of the .xlsx reader: namespaces and local names, refusal of document type
// declarations, exceptions of the handlers carried past expat's C frames, and prefixes removed.
#include "workbook/xlsx/xml.h"

#include "workbook/xlsx/xlsx.h"

#include <expat.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

namespace lw::xlsx::xml {

namespace {

constexpr std::string_view MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view StrictMainNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view RelationshipsNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view StrictRelationshipsNs = "http://purl.oclc.org/ooxml/officeDocument/relationships";
constexpr std::string_view PackageNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view ContentTypesNs = "http://schemas.openxmlformats.org/package/2006/content-types";

// Names come as "namespace|local" (or bare when unqualified).
const char* local(const char* name) {
    const char* bar = std::strrchr(name, '|');
    return bar ? bar + 1 : name;
}

// The namespace of an expanded name, and where its local name starts.
Ns classify(const char* name, const char*& localName) {
    if (std::strncmp(name, MainNs.data(), MainNs.size()) == 0 && name[MainNs.size()] == '|') {
        localName = name + MainNs.size() + 1; // SpreadsheetML's, nearly every element of a workbook
        return Ns::Main;
    }
    const char* bar = std::strrchr(name, '|');
    if (!bar) {
        localName = name;
        return Ns::None;
    }
    localName = bar + 1;
    const std::string_view uri(name, std::size_t(bar - name));
    if (uri == MainNs)
        return Ns::Main;
    if (uri == RelationshipsNs || uri == StrictRelationshipsNs)
        return Ns::Relationships;
    if (uri == PackageNs)
        return Ns::Package;
    if (uri == ContentTypesNs)
        return Ns::ContentTypes;
    if (uri == StrictMainNs)
        return Ns::StrictMain;
    return Ns::Other;
}

struct State {
    Handler* handler;
    XML_Parser parser;
    std::exception_ptr failure;
    QString problem;
    std::vector<const char*> atts;
    // Per open element: its namespace and where its local name starts in its expanded name, which
    // its end tag gives again: an end is not classified twice.
    std::vector<std::pair<Ns, int>> open;
};

void stop(State* s) {
    XML_StopParser(s->parser, XML_FALSE);
}

} // namespace

// expat's callbacks, which set what the handler tells of the current event.
struct Events {
    static void XMLCALL onStart(void* data, const char* name, const char** atts) {
        auto* s = static_cast<State*>(data);
        if (s->failure)
            return;
        s->atts.clear();
        for (int i = 0; atts[i]; i += 2) {
            s->atts.push_back(local(atts[i]));
            s->atts.push_back(atts[i + 1]);
        }
        s->atts.push_back(nullptr);
        const char* localName = nullptr;
        s->handler->m_ns = classify(name, localName);
        s->open.emplace_back(s->handler->m_ns, int(localName - name));
        try {
            s->handler->start(localName, s->atts.data());
        } catch (...) {
            s->failure = std::current_exception();
            stop(s);
        }
    }

    static void XMLCALL onEnd(void* data, const char* name) {
        auto* s = static_cast<State*>(data);
        if (s->failure)
            return;
        const char* localName = nullptr;
        if (s->open.empty()) {
            s->handler->m_ns = classify(name, localName);
        } else {
            s->handler->m_ns = s->open.back().first;
            localName = name + s->open.back().second;
            s->open.pop_back();
        }
        try {
            s->handler->end(localName);
        } catch (...) {
            s->failure = std::current_exception();
            stop(s);
        }
    }

    static void XMLCALL onText(void* data, const char* text, int length) {
        auto* s = static_cast<State*>(data);
        if (s->failure)
            return;
        try {
            s->handler->text(text, length);
        } catch (...) {
            s->failure = std::current_exception();
            stop(s);
        }
    }

    static void attach(Handler& handler, XML_Parser parser) { handler.m_parser = parser; }
};

namespace {

void XMLCALL onDoctype(void* data, const char*, const char*, const char*, int) {
    auto* s = static_cast<State*>(data);
    if (s->problem.isEmpty())
        s->problem = QStringLiteral("holds a document type declaration, which a workbook part never has");
    stop(s);
}

void XMLCALL onEntity(void* data, const char*, int, const char*, int, const char*, const char*, const char*,
                      const char*) {
    auto* s = static_cast<State*>(data);
    if (s->problem.isEmpty())
        s->problem = QStringLiteral("declares an entity, which a workbook part never does");
    stop(s);
}

} // namespace

qint64 Handler::position() const {
    return XML_GetCurrentByteIndex(static_cast<XML_Parser>(m_parser));
}

int Handler::eventLength() const {
    return XML_GetCurrentByteCount(static_cast<XML_Parser>(m_parser));
}

const char* attribute(const char** atts, const char* name) {
    for (int i = 0; atts[i]; i += 2)
        if (std::strcmp(atts[i], name) == 0)
            return atts[i + 1];
    return nullptr;
}

QString attributeText(const char** atts, const char* name) {
    const char* v = attribute(atts, name);
    return v ? QString::fromUtf8(v) : QString();
}

void parse(const QByteArray& data, Handler& handler, const QString& partName) {
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '|');
    if (!parser)
        throw Error("out of memory for the XML parser");
    State state{&handler, parser, nullptr, {}, {}, {}};
    Events::attach(handler, parser);
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, Events::onStart, Events::onEnd);
    XML_SetCharacterDataHandler(parser, Events::onText);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
    XML_SetEntityDeclHandler(parser, onEntity);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    // In pieces, so that a part of more than 2 GB could not overflow expat's int length.
    const qsizetype chunk = 1 << 24;
    XML_Status status = XML_STATUS_OK;
    qsizetype at = 0;
    do {
        const qsizetype n = std::min(chunk, data.size() - at);
        const bool last = at + n >= data.size();
        status = XML_Parse(parser, data.constData() + at, int(n), last);
        at += n;
        if (last)
            break;
    } while (status == XML_STATUS_OK);
    const QString problem = state.problem;
    const std::exception_ptr failure = state.failure;
    const QString expatError = status == XML_STATUS_OK ? QString()
                                                       : QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser)));
    // Only for the message: expat counts lines by reading the part again up to here.
    const qint64 line = status == XML_STATUS_OK ? 0 : qint64(XML_GetCurrentLineNumber(parser));
    Events::attach(handler, nullptr);
    XML_ParserFree(parser);
    if (failure)
        std::rethrow_exception(failure);
    if (!problem.isEmpty())
        throw Error(QStringLiteral("The part %1 %2.").arg(partName, problem).toStdString());
    if (status != XML_STATUS_OK)
        throw Error(QStringLiteral("The part %1 is not well-formed XML (%2, line %3).")
                        .arg(partName, expatError)
                        .arg(line)
                        .toStdString());
}

const char* const MainUri = MainNs.data();

bool hasPrefixedRoot(const QByteArray& data) {
    const qsizetype n = data.size();
    for (qsizetype i = data.indexOf('<'); i >= 0 && i + 1 < n; i = data.indexOf('<', i)) {
        if (data[i + 1] == '?' || data[i + 1] == '!') {
            // The declaration, a processing instruction or a comment before the root.
            const bool comment = data.mid(i, 4) == "<!--";
            i = comment ? data.indexOf("-->", i) : data.indexOf('>', i);
            if (i < 0)
                return false;
            i += comment ? 3 : 1;
            continue;
        }
        for (qsizetype j = i + 1; j < n; ++j) {
            const char c = data[j];
            if (c == ':')
                return true;
            if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r')
                return false;
        }
        return false;
    }
    return false;
}

namespace {

// The edits that write the elements of one namespace without their prefix, found by a parse with
// names as "uri|local|prefix".
struct Unprefix {
    XML_Parser parser = nullptr;
    std::string_view uri;
    struct Edit {
        qint64 at;
        int cut;
        QByteArray insert;
    };
    std::vector<Edit> edits;
    std::vector<int> open; // per open element: the length of the prefix removed (0: none)
    bool declaresDefault = false; // the element about to start declares the default namespace as uri
    bool refused = false;         // another default namespace, a root of another one, a DTD

    static void XMLCALL onNamespace(void* data, const char* prefix, const char* uri) {
        auto* u = static_cast<Unprefix*>(data);
        if (prefix)
            return;
        if (uri && u->uri == uri)
            u->declaresDefault = true;
        else
            u->refuse();
    }
    static void XMLCALL onStart(void* data, const char* name, const char**) {
        auto* u = static_cast<Unprefix*>(data);
        const char* bar1 = std::strchr(name, '|');
        const char* bar2 = bar1 ? std::strchr(bar1 + 1, '|') : nullptr;
        const bool ours = bar1 && std::string_view(name, std::size_t(bar1 - name)) == u->uri;
        if (u->open.empty() && !ours) {
            u->refuse();
            return;
        }
        const qint64 at = XML_GetCurrentByteIndex(u->parser);
        const int prefix = ours && bar2 ? int(std::strlen(bar2 + 1)) : 0;
        if (prefix > 0)
            u->edits.push_back({at + 1, prefix + 1, {}});
        if (u->open.empty() && !u->declaresDefault) {
            const int localLength = int(bar2 ? bar2 - bar1 - 1 : std::strlen(bar1 + 1));
            const int nameLength = (bar2 ? prefix + 1 : 0) + localLength;
            u->edits.push_back({at + 1 + nameLength, 0, " xmlns=\"" + QByteArray(u->uri.data(), qsizetype(u->uri.size())) + '"'});
        }
        u->declaresDefault = false;
        u->open.push_back(prefix);
    }
    static void XMLCALL onEnd(void* data, const char*) {
        auto* u = static_cast<Unprefix*>(data);
        const int prefix = u->open.empty() ? 0 : u->open.back();
        if (!u->open.empty())
            u->open.pop_back();
        if (prefix > 0 && XML_GetCurrentByteCount(u->parser) > 0) // not the end of an empty element
            u->edits.push_back({XML_GetCurrentByteIndex(u->parser) + 2, prefix + 1, {}});
    }
    static void XMLCALL onDoctype(void* data, const char*, const char*, const char*, int) {
        static_cast<Unprefix*>(data)->refuse();
    }
    void refuse() {
        refused = true;
        XML_StopParser(parser, XML_FALSE);
    }
};

} // namespace

QByteArray withoutPrefix(const QByteArray& data, const char* uri, const QString&) {
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '|');
    if (!parser)
        return data;
    Unprefix u;
    u.parser = parser;
    u.uri = uri;
    XML_SetReturnNSTriplet(parser, XML_TRUE);
    XML_SetUserData(parser, &u);
    XML_SetElementHandler(parser, Unprefix::onStart, Unprefix::onEnd);
    XML_SetStartNamespaceDeclHandler(parser, Unprefix::onNamespace);
    XML_SetStartDoctypeDeclHandler(parser, Unprefix::onDoctype);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    const qsizetype chunk = 1 << 24;
    bool ok = true;
    for (qsizetype at = 0; ok;) {
        const qsizetype n = std::min(chunk, data.size() - at);
        const bool last = at + n >= data.size();
        ok = XML_Parse(parser, data.constData() + at, int(n), last) == XML_STATUS_OK;
        at += n;
        if (last)
            break;
    }
    XML_ParserFree(parser);
    if (!ok || u.refused || u.edits.empty())
        return data;
    QByteArray out;
    out.reserve(data.size() + 128);
    qint64 from = 0;
    for (const Unprefix::Edit& e : u.edits) {
        if (e.at < from || e.at + e.cut > data.size())
            return data; // never so in document order; nothing is cut blindly
        out.append(data.constData() + from, qsizetype(e.at - from));
        out += e.insert;
        from = e.at + e.cut;
    }
    out.append(data.constData() + from, data.size() - qsizetype(from));
    return out;
}

} // namespace lw::xlsx::xml

namespace lw::xlsx {

QByteArray escapeXml(const QString& text) {
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size() + 16);
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                // Characters XML cannot hold, written the way the format codes them.
                char buf[8];
                std::snprintf(buf, sizeof buf, "_x%04X_", unsigned(c));
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out;
}

QString xml::unescapeEntities(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    s.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    s.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    s.replace(QStringLiteral("&apos;"), QStringLiteral("'"));
    s.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return s;
}

} // namespace lw::xlsx
