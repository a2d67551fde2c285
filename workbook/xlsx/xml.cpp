// The expat layer of the .xlsx reader: local names, refusal of document type declarations, and
// exceptions of the handlers carried past expat's C frames.
#include "workbook/xlsx/xml.h"

#include "workbook/xlsx/xlsx.h"

#include <expat.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace lw::xlsx::xml {

namespace {

// Names come as "namespace|local" (or bare when unqualified).
const char* local(const char* name) {
    const char* bar = std::strrchr(name, '|');
    return bar ? bar + 1 : name;
}

struct State {
    Handler* handler;
    XML_Parser parser;
    std::exception_ptr failure;
    QString problem;
    std::vector<const char*> atts;
};

void stop(State* s) {
    XML_StopParser(s->parser, XML_FALSE);
}

void XMLCALL onStart(void* data, const char* name, const char** atts) {
    auto* s = static_cast<State*>(data);
    if (s->failure)
        return;
    s->atts.clear();
    for (int i = 0; atts[i]; i += 2) {
        s->atts.push_back(local(atts[i]));
        s->atts.push_back(atts[i + 1]);
    }
    s->atts.push_back(nullptr);
    try {
        s->handler->start(local(name), s->atts.data());
    } catch (...) {
        s->failure = std::current_exception();
        stop(s);
    }
}

void XMLCALL onEnd(void* data, const char* name) {
    auto* s = static_cast<State*>(data);
    if (s->failure)
        return;
    try {
        s->handler->end(local(name));
    } catch (...) {
        s->failure = std::current_exception();
        stop(s);
    }
}

void XMLCALL onText(void* data, const char* text, int length) {
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
    State state{&handler, parser, nullptr, {}, {}};
    handler.m_parser = parser;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
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
    const qint64 line = XML_GetCurrentLineNumber(parser);
    handler.m_parser = nullptr;
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
