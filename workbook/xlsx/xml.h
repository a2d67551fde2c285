// The streaming XML parser under the .xlsx reader: expat with namespaces cut to local names, DTDs
// and entity declarations refused, positions in the part's bytes for the parts copied around.
#pragma once

#include <QByteArray>
#include <QString>

namespace lw::xlsx::xml {

class Handler {
public:
    virtual ~Handler() = default;
    // Local names (no prefix); atts as expat gives them: name, value, ..., nullptr, names local too.
    virtual void start(const char* name, const char** atts) = 0;
    virtual void end(const char* name) = 0;
    virtual void text(const char* data, int length) { (void)data, (void)length; }

    // During a call: where the event starts in the part's bytes, and how many bytes it takes
    // (0 for the end of an empty element).
    qint64 position() const;
    int eventLength() const;

private:
    friend void parse(const QByteArray&, Handler&, const QString&);
    void* m_parser = nullptr;
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

} // namespace lw::xlsx::xml
