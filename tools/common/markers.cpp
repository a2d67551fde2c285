// Markers in a blank's text cells: cutting a text into literal parts and ${NAME} markers.
#include "tools/common/markers.h"

#include <utility>

namespace lw {

std::vector<MarkerPart> splitMarkers(const QString& text)
{
    std::vector<MarkerPart> parts;
    QString literal;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u'$' && i + 2 < n && text.at(i + 1) == u'$' && text.at(i + 2) == u'{') {
            literal += QStringLiteral("${");
            i += 3;
            continue;
        }
        if (c == u'$' && i + 1 < n && text.at(i + 1) == u'{') {
            const qsizetype close = text.indexOf(u'}', i + 2);
            if (close >= 0) {
                if (!literal.isEmpty())
                    parts.push_back({false, std::exchange(literal, QString())});
                parts.push_back({true, text.mid(i + 2, close - i - 2)});
                i = close + 1;
                continue;
            }
        }
        literal += c;
        ++i;
    }
    if (!literal.isEmpty())
        parts.push_back({false, literal});
    return parts;
}

bool hasMarker(const QString& text)
{
    if (!text.contains(QStringLiteral("${")))
        return false;
    for (const MarkerPart& p : splitMarkers(text))
        if (p.isMarker)
            return true;
    return false;
}

int fieldIndex(const QString& name, const QStringList& fieldNames)
{
    for (qsizetype i = 0; i < fieldNames.size(); ++i)
        if (fieldNames.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

MarkerKind markerKind(const QString& name, const QStringList& fieldNames)
{
    if (fieldIndex(name, fieldNames) >= 0)
        return MarkerKind::Field;
    if (name == QStringLiteral("#"))
        return MarkerKind::Number;
    if (name.compare(QStringLiteral("REPORT"), Qt::CaseInsensitive) == 0)
        return MarkerKind::Report;
    if (name.compare(QStringLiteral("DATE"), Qt::CaseInsensitive) == 0)
        return MarkerKind::Date;
    return MarkerKind::Unknown;
}

QString soleMarker(const QString& text)
{
    const std::vector<MarkerPart> parts = splitMarkers(text);
    if (parts.size() == 1 && parts.front().isMarker)
        return parts.front().text;
    return {};
}

} // namespace lw
