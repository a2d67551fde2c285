// The report definition file: reading its keys with defaults, writing them in order,
// and the path and number rules that Save and Save as rely on.
#include "report/definition.h"

#include "platform/paths.h"
#include "platform/profile.h"

namespace lw {

namespace {

const QString kReport = QStringLiteral("REPORT");
const QString kSql = QStringLiteral("SQL");

} // namespace

ReportDefinition readDefinition(const QString& fileName) {
    const Profile file(fileName);
    ReportDefinition d;
    d.excel = file.readString(kReport, QStringLiteral("Excel"), QString());
    d.name = file.readString(kReport, QStringLiteral("Name"), QString());
    d.db = file.readString(kReport, QStringLiteral("DB"), QString());
    d.alias = file.readBool(kReport, QStringLiteral("Alias"), false);
    d.path = file.readString(kReport, QStringLiteral("Path"), QString());
    d.view = file.readInteger(kReport, QStringLiteral("View"), 0);
    d.list = file.readInteger(kReport, QStringLiteral("List"), 0);
    d.excelForm = file.readBool(kReport, QStringLiteral("EXCEL FORM"), false);
    d.from = file.readInteger(kReport, QStringLiteral("From"), 1);
    d.to = file.readInteger(kReport, QStringLiteral("To"), 1);
    d.sqlOnOff = file.readBool(kSql, QStringLiteral("OnOff"), false);
    d.sql = file.readString(kSql, QStringLiteral("SQL"), QString());
    d.select = file.readString(kSql, QStringLiteral("Select"), QString());
    return d;
}

void writeDefinition(const QString& fileName, const ReportDefinition& d) {
    auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    // One batch, so the file holds either all the new keys or none of them.
    const QList<ProfileEntry> entries = {
        {kReport, QStringLiteral("Excel"), d.excel},
        {kReport, QStringLiteral("Name"), d.name},
        {kReport, QStringLiteral("Alias"), flag(d.alias)},
        {kReport, QStringLiteral("Path"), d.path},
        {kReport, QStringLiteral("DB"), d.db},
        {kReport, QStringLiteral("View"), QString::number(d.view)},
        {kReport, QStringLiteral("List"), QString::number(d.list)},
        {kReport, QStringLiteral("EXCEL FORM"), flag(d.excelForm)},
        {kReport, QStringLiteral("From"), QString::number(d.from)},
        {kReport, QStringLiteral("To"), QString::number(d.to)},
        {kSql, QStringLiteral("OnOff"), flag(d.sqlOnOff)},
        {kSql, QStringLiteral("SQL"), d.sql},
        {kSql, QStringLiteral("Select"), d.select},
    };
    Profile(fileName).writeEntries(entries);
}

QString workbookPathFor(const QString& definitionPath) {
    return definitionPath.left(qMax<qsizetype>(0, definitionPath.size() - 3)) + QStringLiteral(".xls");
}

QString definitionFileName(const QString& chosenName) {
    if (fileNamePart(chosenName).toUpper().contains(QStringLiteral(".PR")))
        return chosenName;
    return chosenName + QStringLiteral(".pr");
}

int recordNumber(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace lw
