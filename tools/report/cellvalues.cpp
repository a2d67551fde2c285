// The report generator's record values turned into what a cell holds, shared by the .xls and .xlsx
// report writers.
#include "tools/report/cellvalues.h"

#include "workbook/xls.h"

namespace lw::report {

bool dateSerial(const QDate& date, bool date1904, double& serial) {
    if (!date.isValid())
        return false;
    // The day numbers of the dates the counts start from, made once (a QDate made from its parts
    // for every value was a tenth of a large report's time).
    static const qint64 jan1904 = QDate(1904, 1, 1).toJulianDay();
    static const qint64 jan1900 = QDate(1900, 1, 1).toJulianDay();
    static const qint64 mar1900 = QDate(1900, 3, 1).toJulianDay();
    static const qint64 dec1899 = QDate(1899, 12, 31).toJulianDay();
    const qint64 day = date.toJulianDay();
    if (date1904) {
        const qint64 d = day - jan1904;
        serial = double(d);
        return d >= 0;
    }
    if (day < jan1900)
        return false;
    // Day 60 is the format's 29 February 1900, which never was: dates before March count from 31 Dec 1899.
    serial = day < mar1900 ? double(day - dec1899) : double(day - (dec1899 - 1));
    return true;
}

double timeFraction(const QTime& time) {
    return time.isValid() ? time.msecsSinceStartOfDay() / 86400000.0 : 0.0;
}

QString valueText(const data::Value& v) {
    switch (v.kind) {
    case data::Value::Kind::Null:
        return {};
    case data::Value::Kind::Integer:
        return QString::number(v.integer);
    case data::Value::Kind::Double:
        return QString::number(v.number, 'g', 15);
    case data::Value::Kind::Decimal:
    case data::Value::Kind::Text:
        return v.text;
    case data::Value::Kind::Date:
        return v.date.toString(Qt::ISODate);
    case data::Value::Kind::Time:
        return v.time.toString(QStringLiteral("HH:mm:ss"));
    case data::Value::Kind::Timestamp:
        return v.date.toString(Qt::ISODate) + u' ' + v.time.toString(QStringLiteral("HH:mm:ss"));
    case data::Value::Kind::Logical:
        return v.logical ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    return {};
}

QString cutText(const QString& text, bool& cut) {
    cut = text.size() > xls::maxCellText;
    if (!cut)
        return text;
    qsizetype n = xls::maxCellText;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

QString markerText(const std::vector<TextPart>& parts, const data::Record* record, qint64 number,
                   const QString& reportName, const QString& todayText,
                   const std::function<QString(int field)>& markerName) {
    QString text;
    for (const TextPart& p : parts) {
        switch (p.kind) {
        case TextPart::Kind::Literal:
            text += p.literal;
            break;
        case TextPart::Kind::Field:
            if (record && p.field >= 0 && std::size_t(p.field) < record->size())
                text += valueText((*record)[std::size_t(p.field)]);
            else
                text += QStringLiteral("${") + markerName(p.field) + u'}';
            break;
        case TextPart::Kind::Number:
            text += QString::number(number);
            break;
        case TextPart::Kind::Report:
            text += reportName;
            break;
        case TextPart::Kind::Date:
            text += todayText;
            break;
        }
    }
    return text;
}

QString uniqueSheetName(QSet<QString>& used, const QString& wanted) {
    QString name = wanted;
    for (qint64 k = 2; used.contains(name.toLower()); ++k)
        name = numberedSheetName(wanted, k);
    used.insert(name.toLower());
    return name;
}

} // namespace lw::report
