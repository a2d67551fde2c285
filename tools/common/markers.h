// Markers in a blank's text cells: ${NAME} for a field or one of #, REPORT, DATE; $${ for a literal "${".
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace lw {

struct MarkerPart {
    bool isMarker = false; // else literal text
    QString text;          // the literal text, or the marker's name as written (without ${ and })
};

// A text cut into literal text and markers. "$${" gives a literal "${"; a "${" without its "}"
// is literal text. Names are taken as written, up to the first "}" (blanks and any characters).
std::vector<MarkerPart> splitMarkers(const QString& text);

// Whether the text holds at least one marker.
bool hasMarker(const QString& text);

// What a marker's name stands for. A field of the table wins over the special names (a table may
// well have a field called DATE); names compare case-insensitively; "#" is the record number.
enum class MarkerKind { Field, Number, Report, Date, Unknown };
MarkerKind markerKind(const QString& name, const QStringList& fieldNames);
// The index of the field a name stands for (case-insensitive), -1 when none. Where a table has
// several fields of one name, "NAME" and "NAME:1" are the first of them, "NAME:2" the second, and
// so on; an index past the fields of that name stands for none. A field whose own name is the whole
// text (one holding ":") wins over that reading.
int fieldIndex(const QString& name, const QStringList& fieldNames);
// The marker name that stands for the field at index: its name, with ":k" added for the k-th field
// of a name the table repeats (k from 2). Empty for an index out of range.
QString fieldMarkerName(int index, const QStringList& fieldNames);

// The name of a single marker when the whole text is exactly one marker, else empty.
QString soleMarker(const QString& text);

} // namespace lw
