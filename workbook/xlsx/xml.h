// The streaming XML parser under the .xlsx reader: expat with names as namespace and local name
// (whatever prefix a part uses), DTDs and entity declarations refused, positions in the part's bytes
// for the parts copied around, and prefixed parts rewritten without their prefix.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstring>

namespace lw::xlsx::xml {

// The namespaces the reader tells apart, whatever prefix a producer binds them to.
enum class Ns : unsigned char {
    None,          // an unqualified name
    Main,          // SpreadsheetML (transitional)
    StrictMain,    // SpreadsheetML of Strict Open XML
    Relationships, // officeDocument relationships (r:id), transitional or strict
    Package,       // package relationships (the .rels parts)
    ContentTypes,  // [Content_Types].xml
    Other
};

class Handler {
public:
    virtual ~Handler() = default;
    // Local names (no prefix); atts as expat gives them: name, value, ..., nullptr, names local too.
    // ns() tells the element's namespace during start() and end().
    virtual void start(const char* name, const char** atts) = 0;
    virtual void end(const char* name) = 0;
    virtual void text(const char* data, int length) { (void)data, (void)length; }

    // During a call: where the event starts in the part's bytes, and how many bytes it takes
    // (0 for the end of an empty element).
    qint64 position() const;
    int eventLength() const;
    Ns ns() const { return m_ns; }
    // The element is SpreadsheetML's `local` (transitional namespace, any prefix or none).
    bool isMain(const char* name, const char* local) const {
        return m_ns == Ns::Main && std::strcmp(name, local) == 0;
    }

private:
    friend struct Events;
    void* m_parser = nullptr;
    Ns m_ns = Ns::None;
};

// An attribute's value by local name, nullptr when absent.
const char* attribute(const char** atts, const char* name);
QString attributeText(const char** atts, const char* name);

// The text of an attribute or element found by pattern in a part's bytes, its five predefined
// entities replaced (parts read as text, not through the parser).
QString unescapeEntities(const QString& text);

// Parses a whole part; throws xlsx::Error naming the part when it is not well-formed XML or
// holds a document type declaration (no entity can be declared, so none can be expanded).
void parse(const QByteArray& data, Handler& handler, const QString& partName);

// Whether the part's root element is written with a prefix (<x:worksheet xmlns:x="...">).
bool hasPrefixedRoot(const QByteArray& data);
// The part with the elements of namespace `uri` written without a prefix, the root declaring it as
// the default namespace: the same XML for every reader, in the form that the report writer's edits
// of the parts' text expect. The part itself, unchanged, when another default namespace is declared
// in it, its root is of another namespace, or it is no well-formed XML (parse() then says why).
QByteArray withoutPrefix(const QByteArray& data, const char* uri, const QString& partName);

extern const char* const MainUri;

} // namespace lw::xlsx::xml
