// The blank builder's run, step by step; every way out posts one completion message.
#include "tools/blank/blankbuilder.h"

#include "platform/profile.h"
#include "data/catalogue.h"
#include "tools/blank/blanklayout.h"
#include "tools/blank/blankscan.h"
#include "tools/blank/waitwindow.h"
#include "tools/common/toolkit.h"
#include "ui/messages.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include <memory>

namespace lw::blank {

namespace {

// Message catalogue entries the blank builder shows.
constexpr int MsgFileNotFound = 1;
constexpr int MsgAttention = 5;
constexpr int MsgError = 6;
constexpr int MsgEnterDatabasePath = 7;
constexpr int MsgDatabaseNotDefined = 8;
constexpr int MsgReportError = 10;
constexpr int MsgReadingCells = 15;
constexpr int MsgNoEntries = 16;
constexpr int MsgExcelCannotStart = 23;
constexpr int MsgScanAgain = 24;

constexpr int DefaultPatienceSeconds = 30 * 60;
constexpr int NamesShown = 5;

QString shownNames(const QStringList& names) {
    QStringList shown = names.mid(0, NamesShown);
    if (names.size() > NamesShown)
        shown.append(QStringLiteral("and %1 more").arg(names.size() - NamesShown));
    return shown.join(QStringLiteral(", "));
}

// A small window that says the blank is being read, while it is.
class ReadingCells {
public:
    explicit ReadingCells(const QString& path) {
        testLog(messageText(MsgReadingCells), path);
        if (batchMode() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
            return;
        m_window = std::make_unique<QLabel>(QDir::toNativeSeparators(path));
        m_window->setObjectName(QStringLiteral("ReadingCells"));
        m_window->setWindowTitle(messageText(MsgReadingCells));
        m_window->setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint);
        m_window->setMargin(16);
        m_window->show();
        QCoreApplication::processEvents();
    }

private:
    std::unique_ptr<QLabel> m_window;
};

} // namespace

BlankBuilder::BlankBuilder(const QString& definitionPath, bool edit)
    : m_definitionPath(definitionPath), m_edit(edit) {}

int BlankBuilder::patienceSeconds() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("LEDGERWICK_BLANK_PATIENCE", &ok);
    return ok && seconds > 0 ? seconds : DefaultPatienceSeconds;
}

bool BlankBuilder::run() {
    bool ok = false;
    try {
        ok = steps();
    } catch (const std::exception& e) {
        notice(MsgReportError, QString::fromUtf8(e.what()));
    } catch (...) {
        notice(MsgReportError, QStringLiteral("Unknown failure"));
    }
    postCompletion(ok ? 1029 : 1025);
    return ok;
}

bool BlankBuilder::stopRequested() {
    return TerminationWatch::requested();
}

bool BlankBuilder::steps() {
    return readDefinitionAndFields() && !stopRequested() && makeOrKeepBlank() && !stopRequested() &&
           editAndScan() && !stopRequested() && storeWorkbookPath();
}

bool BlankBuilder::readDefinitionAndFields() {
    if (!QFileInfo(m_definitionPath).isFile()) {
        notice(MsgFileNotFound, m_definitionPath);
        return false;
    }
    m_definition = readDefinition(m_definitionPath);
    // The same checks as the main program's command, with its texts.
    if (m_definition.path.isEmpty() || m_definition.path.contains(QStringLiteral("FALSE"))) {
        notice(MsgError, messageText(MsgEnterDatabasePath));
        return false;
    }
    const QString table = m_definition.alias ? m_definition.db : trimBlanks(m_definition.db);
    if (table.isEmpty()) {
        notice(MsgError, messageText(MsgDatabaseNotDefined));
        return false;
    }
    m_workbook = workbookPathOf(m_definitionPath, m_definition);
    if (m_workbook.isEmpty()) {
        notice(MsgError, QString());
        return false;
    }
    // "New blanks as .xlsx": a definition without a workbook path of its own gets an .xlsx blank,
    // unless the user's .xls blank is already there.
    if (m_definition.excel.trimmed().isEmpty() && newBlanksAsXlsx() &&
        m_workbook.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive)) {
        const QFileInfo xls(m_workbook);
        if (!xls.exists() && !xls.isSymLink())
            m_workbook += QLatin1Char('x');
    }

    const int caption = sourceCaption(m_definition.alias);
    try {
        std::unique_ptr<data::DataSource> source = data::DataSource::open({m_definition.alias, m_definition.path});
        m_fields = source->fields(table);
    } catch (const data::DataError& e) {
        notice(caption, e.text());
        return false;
    }
    if (m_fields.empty()) {
        notice(caption, QStringLiteral("The table %1 has no fields").arg(table));
        return false;
    }
    m_fieldNames.clear();
    for (const data::Field& field : m_fields)
        m_fieldNames.append(field.name);
    return true;
}

bool BlankBuilder::makeOrKeepBlank() {
    const QFileInfo info(m_workbook);
    if (info.exists() || info.isSymLink()) {
        if (info.isDir()) {
            notice(MsgReportError, QStringLiteral("The workbook path %1 is a directory").arg(m_workbook));
            return false;
        }
        return true; // the user's own work: kept as it is
    }
    try {
        const QStringList warnings =
            writeBlank(m_workbook, m_definition.name, m_definition.view == 1, m_fields);
        for (const QString& warning : warnings)
            notice(MsgAttention, warning);
    } catch (const xls::Error& e) {
        notice(MsgReportError,
               QStringLiteral("The blank %1 cannot be written: %2").arg(m_workbook, QString::fromUtf8(e.what())));
        return false;
    }
    return true;
}

bool BlankBuilder::scan(int* problemCaption, QString* problemText) {
    const ReadingCells reading(m_workbook);
    xls::Workbook workbook;
    try {
        if (m_workbook.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
            workbook = xlsx::readPackage(m_workbook).book;
        else
            workbook = xls::readWorkbook(m_workbook);
    } catch (const xls::Error& e) {
        *problemCaption = MsgScanAgain;
        *problemText = QString::fromUtf8(e.what());
        return false;
    }
    const ScanResult found = scanBlank(workbook, m_fieldNames);
    if (found.markers.empty()) {
        *problemCaption = MsgNoEntries;
        *problemText = m_workbook;
        return false;
    }
    const QStringList unknown = found.unknown();
    if (!unknown.isEmpty()) {
        *problemCaption = MsgScanAgain;
        *problemText = QStringLiteral("Unknown markers: %1").arg(shownNames(unknown));
        return false;
    }
    return true;
}

bool BlankBuilder::editAndScan() {
    int caption = 0;
    QString text;
    if (!m_edit) {
        if (scan(&caption, &text))
            return true;
        notice(caption, text);
        return false;
    }
    for (;;) {
        const qint64 pid = openInSpreadsheet(m_workbook);
        if (pid == 0) {
            const QString program = spreadsheetProgram();
            notice(MsgExcelCannotStart,
                   QStringLiteral("%1 %2").arg(program.isEmpty() ? QStringLiteral("xdg-open") : program, m_workbook));
            return false;
        }
        WaitWindow window(m_workbook, m_definition.name, pid, patienceSeconds());
        if (window.exec() != QDialog::Accepted || stopRequested())
            return false;
        if (scan(&caption, &text))
            return true;
        // OK opens the blank again for the user to mend it; NO gives up.
        if (notice(caption, text, 2) != 1)
            return false;
    }
}

bool BlankBuilder::storeWorkbookPath() {
    try {
        Profile(m_definitionPath).writeString(QStringLiteral("REPORT"), QStringLiteral("Excel"), m_workbook);
    } catch (const ProfileWriteError& e) {
        notice(MsgReportError, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

} // namespace lw::blank
