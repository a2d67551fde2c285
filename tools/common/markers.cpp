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
    // "NAME:k": the k-th field called NAME.
    const qsizetype colon = name.lastIndexOf(u':');
    if (colon <= 0 || colon + 1 >= name.size())
        return -1;
    int wanted = 0;
    for (qsizetype i = colon + 1; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c < u'0' || c > u'9' || wanted > 100000)
            return -1;
        wanted = wanted * 10 + (c.unicode() - u'0');
    }
    if (wanted < 1)
        return -1;
    const QStringView base = QStringView(name).left(colon);
    for (qsizetype i = 0; i < fieldNames.size(); ++i)
        if (fieldNames.at(i).compare(base, Qt::CaseInsensitive) == 0 && --wanted == 0)
            return int(i);
    return -1;
}

QString fieldMarkerName(int index, const QStringList& fieldNames)
{
    if (index < 0 || index >= fieldNames.size())
        return {};
    const QString& name = fieldNames.at(index);
    int occurrence = 1;
    for (int i = 0; i < index; ++i)
        if (fieldNames.at(i).compare(name, Qt::CaseInsensitive) == 0)
            ++occurrence;
    return occurrence == 1 ? name : name + QStringLiteral(":%1").arg(occurrence);
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
