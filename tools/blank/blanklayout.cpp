// A new blank: the cells, formats and widths of a columnar or form layout for a table's fields.
#include "tools/blank/blanklayout.h"

#include "tools/common/markers.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <algorithm>

namespace lw::blank {

namespace {

constexpr quint16 TitleHeight = 280; // twips: 14 points against the body's 10
constexpr quint16 TitleRowHeight = 360;
constexpr int MinCharacters = 6;
constexpr int MaxCharacters = 60;

QString joined(const QStringList& names, int most) {
    QStringList shown = names.mid(0, most);
    if (names.size() > most)
        shown.append(QStringLiteral("... (%1 in all)").arg(names.size()));
    return shown.join(QStringLiteral(", "));
}

quint16 widthUnits(int characters) {
    // Column widths count 1/256 of the width of the zero character, plus a little padding.
    return quint16(std::clamp(characters, MinCharacters, MaxCharacters) * 256 + 180);
}

template <class Writer>
void writeTitle(Writer& writer, quint16 format, const QString& reportName) {
    if (reportName.isEmpty())
        return;
    xls::RowFormat row;
    row.row = 0;
    row.height = TitleRowHeight;
    row.customHeight = true;
    writer.setRow(row);
    writer.writeText(0, 0, format, literalText(reportName).left(xls::maxCellText));
}

} // namespace

QString markerFor(const QString& fieldName) {
    if (fieldName.isEmpty() || fieldName.contains(QLatin1Char('}')))
        return {};
    return QStringLiteral("${") + fieldName + QLatin1Char('}');
}

QString markerFor(const std::vector<data::Field>& fields, std::size_t index) {
    if (index >= fields.size() || markerFor(fields[index].name).isEmpty())
        return {};
    QStringList names;
    for (std::size_t i = 0; i <= index; ++i)
        names.append(fields[i].name);
    return QStringLiteral("${") + fieldMarkerName(int(index), names) + QLatin1Char('}');
}

QString literalText(const QString& text) {
    QString out = text;
    return out.replace(QStringLiteral("${"), QStringLiteral("$${"));
}

QString sheetNameFor(const QString& reportName) {
    QString name;
    for (const QChar c : reportName)
        name += QStringLiteral("[]:*?/\\").contains(c) || c.category() == QChar::Other_Control ? QLatin1Char('_') : c;
    name = name.trimmed();
    while (name.startsWith(QLatin1Char('\'')))
        name.remove(0, 1);
    name = name.left(xls::maxSheetName);
    while (name.endsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty() || !xls::sheetNameProblem(name).isEmpty())
        return QStringLiteral("Report");
    return name;
}

QString numberFormatFor(const data::Field& field) {
    switch (field.type) {
    case data::FieldType::Integer:
        return QStringLiteral("0");
    case data::FieldType::Double:
        return QStringLiteral("General");
    case data::FieldType::Decimal:
        return field.decimals > 0 ? QStringLiteral("0.") + QString(std::min(field.decimals, 15), QLatin1Char('0'))
                                  : QStringLiteral("0");
    case data::FieldType::Date:
        return QStringLiteral("yyyy-mm-dd");
    case data::FieldType::Time:
        return QStringLiteral("hh:mm:ss");
    case data::FieldType::Timestamp:
        return QStringLiteral("yyyy-mm-dd hh:mm:ss");
    case data::FieldType::Text:
        return QStringLiteral("@");
    case data::FieldType::Logical:
    case data::FieldType::Binary:
        break;
    }
    return QStringLiteral("General");
}

int columnCharacters(const data::Field& field) {
    int values = 0;
    switch (field.type) {
    case data::FieldType::Text:
        values = field.size > 0 ? field.size : 20;
        break;
    case data::FieldType::Integer:
        values = field.size > 0 ? field.size + 1 : 11;
        break;
    case data::FieldType::Double:
        values = 14;
        break;
    case data::FieldType::Decimal:
        values = field.size > 0 ? field.size + 2 : 14;
        break;
    case data::FieldType::Date:
        values = 10;
        break;
    case data::FieldType::Time:
        values = 8;
        break;
    case data::FieldType::Timestamp:
        values = 19;
        break;
    case data::FieldType::Logical:
        values = 5;
        break;
    case data::FieldType::Binary:
        values = 10;
        break;
    }
    // The blank shows the marker "${NAME}" where the values will go: it must be readable too.
    return std::clamp(std::max(values, int(field.name.size()) + 3) + 1, MinCharacters, MaxCharacters);
}

namespace {

// The layout through either format's writer (the same calls).
template <class Writer>
QStringList writeBlankWith(Writer& writer, const QString& reportName, bool columnar,
                           const std::vector<data::Field>& fields) {
    QStringList warnings;
    QStringList noMarker;
    for (const data::Field& field : fields)
        if (markerFor(field.name).isEmpty())
            noMarker.append(field.name.isEmpty() ? QStringLiteral("(no name)") : field.name);
    if (!noMarker.isEmpty())
        warnings.append(QStringLiteral("These fields cannot have a marker (a name holding \"}\"): %1")
                            .arg(joined(noMarker, 5)));

    xls::CellFormat titleFormat;
    titleFormat.font.bold = true;
    titleFormat.font.height = TitleHeight;
    const quint16 title = writer.addFormat(titleFormat);
    xls::CellFormat captionFormat;
    captionFormat.font.bold = true;
    captionFormat.border = columnar;
    captionFormat.align = columnar ? xls::HAlign::Center : xls::HAlign::General;
    captionFormat.wrap = columnar;
    const quint16 caption = writer.addFormat(captionFormat);
    std::vector<quint16> markerFormats;
    for (const data::Field& field : fields) {
        xls::CellFormat format;
        format.numberFormat = numberFormatFor(field);
        format.border = columnar;
        format.align = columnar || field.type == data::FieldType::Text ? xls::HAlign::General : xls::HAlign::Left;
        markerFormats.push_back(writer.addFormat(format));
    }

    writer.beginSheet(sheetNameFor(reportName));
    if (columnar) {
        const int columns = int(std::min<std::size_t>(fields.size(), xls::maxColumns));
        if (fields.size() > std::size_t(columns))
            warnings.append(QStringLiteral("The table has %1 fields and a sheet holds %2 columns: the fields "
                                           "past the %2th are not in the blank")
                                .arg(fields.size())
                                .arg(columns));
        for (int c = 0; c < columns; ++c)
            writer.setColumnWidth(c, c, widthUnits(columnCharacters(fields[std::size_t(c)])));
        writeTitle(writer, title, reportName);
        for (int c = 0; c < columns; ++c)
            writer.writeText(2, c, caption, literalText(fields[std::size_t(c)].name));
        for (int c = 0; c < columns; ++c) {
            const QString marker = markerFor(fields, std::size_t(c));
            if (marker.isEmpty())
                writer.writeBlank(3, c, markerFormats[std::size_t(c)]);
            else
                writer.writeText(3, c, markerFormats[std::size_t(c)], marker);
        }
        if (columns > 0)
            writer.setPrintTitleRows(2, 2);
    } else {
        int nameCharacters = MinCharacters;
        int valueCharacters = MinCharacters;
        for (const data::Field& field : fields) {
            nameCharacters = std::max(nameCharacters, int(std::min<qsizetype>(field.name.size(), MaxCharacters)) + 3); // bold
            valueCharacters = std::max(valueCharacters, columnCharacters(field));
        }
        writer.setColumnWidth(0, 0, widthUnits(nameCharacters));
        writer.setColumnWidth(1, 1, widthUnits(valueCharacters));
        writeTitle(writer, title, reportName);
        const int rows = int(std::min<std::size_t>(fields.size(), std::size_t(xls::maxRows - 2)));
        for (int i = 0; i < rows; ++i) {
            const data::Field& field = fields[std::size_t(i)];
            writer.writeText(2 + i, 0, caption, literalText(field.name));
            const QString marker = markerFor(fields, std::size_t(i));
            if (!marker.isEmpty())
                writer.writeText(2 + i, 1, markerFormats[std::size_t(i)], marker);
        }
    }
    writer.endSheet();
    writer.finish();
    return warnings;
}

} // namespace

QStringList writeBlank(const QString& path, const QString& reportName, bool columnar,
                       const std::vector<data::Field>& fields) {
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) {
        xlsx::NewWorkbookWriter writer(path);
        return writeBlankWith(writer, reportName, columnar, fields);
    }
    xls::WorkbookWriter writer(path);
    return writeBlankWith(writer, reportName, columnar, fields);
}

} // namespace lw::blank
