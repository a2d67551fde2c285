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
    // One read of the file for both sections.
    const QList<ProfileSection> sections = Profile(fileName).readSections({kReport, kSql});
    const ProfileSection& report = sections.at(0);
    const ProfileSection& sql = sections.at(1);
    ReportDefinition d;
    d.excel = report.readString(QStringLiteral("Excel"), QString());
    d.name = report.readString(QStringLiteral("Name"), QString());
    d.db = report.readString(QStringLiteral("DB"), QString());
    d.alias = report.readBool(QStringLiteral("Alias"), false);
    d.path = report.readString(QStringLiteral("Path"), QString());
    d.view = report.readInteger(QStringLiteral("View"), 0);
    d.list = report.readInteger(QStringLiteral("List"), 0);
    d.excelForm = report.readBool(QStringLiteral("EXCEL FORM"), false);
    d.from = report.readInteger(QStringLiteral("From"), 1);
    d.to = report.readInteger(QStringLiteral("To"), 1);
    d.sqlOnOff = sql.readBool(QStringLiteral("OnOff"), false);
    d.sql = sql.readString(QStringLiteral("SQL"), QString());
    d.select = sql.readString(QStringLiteral("Select"), QString());
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
