// The blank builder's run: read the definition and the table's fields, write or keep the blank,
// let the user arrange it in the spreadsheet program, read its markers back, store its path, tell
// the main window.
#pragma once

#include "data/tabledata.h"
#include "report/definition.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lw::blank {

class BlankBuilder {
public:
    // edit false: no spreadsheet program and no waiting (--no-edit).
    BlankBuilder(const QString& definitionPath, bool edit);

    // The whole run. Posts exactly one completion message (1029 when the workbook path was
    // stored, else 1025) and returns whether it succeeded. Exceptions that reach here are
    // shown as " Report error" and count as failure.
    bool run();

    // How long the waiting window waits in silence before it asks (seconds): half an hour unless
    // LEDGERWICK_BLANK_PATIENCE says otherwise.
    static int patienceSeconds();

private:
    bool steps();
    bool readDefinitionAndFields();
    bool makeOrKeepBlank();
    bool editAndScan();
    // Scans the blank; true when it holds markers and none unknown. problem gets the caption
    // number and text of what is wrong.
    bool scan(int* problemCaption, QString* problemText);
    bool storeWorkbookPath();
    bool stopRequested();

    QString m_definitionPath;
    bool m_edit = true;
    ReportDefinition m_definition;
    QString m_workbook;
    std::vector<data::Field> m_fields;
    QStringList m_fieldNames;
};

} // namespace lw::blank
