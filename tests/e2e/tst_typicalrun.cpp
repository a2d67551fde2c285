// The typical run end to end: the real main window and document commands, an SQLite alias of the
// real catalogue, stand-in sibling tools started for real, the settings file, and a second start.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "platform/profile.h"
#include "e2e/e2esupport.h"
#include "data/catalogue.h"
#include "report/mdi1.h"
#include "ui/flatbtn.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

using namespace lw;
using lw::test::DialogRecord;
using lw::test::waitFor;

namespace {

// Replaces a field's text by typing, as the user does after selecting what is there.
void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void clickRadio(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

bool reportCommandsEnabled(const TMainForm& form) {
    return form.SB6->isEnabled() && form.SB12->isEnabled() && form.SB16->isEnabled() &&
           form.N12->isEnabled() && form.N16->isEnabled();
}

} // namespace

class TstTypicalRun : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    std::unique_ptr<TMainForm> m_form;

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    QString definitionFile() const { return path("reports/ledger.pr"); }
    QString blankBook() const { return path("books/ledger-blank.xls"); }

    bool installTool(const QString& script, const QString& name) {
        const QString target = path("start/" + name);
        return QFile::copy(qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + "/tests/e2e/" + script, target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The start-up sequence: the about box closed through its close area, then the main window shown.
    bool startProgramShown(DialogRecord* about) {
        const auto close = [](QWidget* w) {
            auto* ok = w->findChild<QAbstractButton*>("SpeedButton1");
            ok ? ok->click() : void(w->close());
        };
        test::answerNextModal(close, about);
        m_form.reset(startProgram());
        m_form->show();
        QApplication::setActiveWindow(m_form.get());
        return QTest::qWaitForWindowExposed(m_form.get());
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_tmp.isValid());
        QFile::remove(test::settingsFilePath());
        for (const char* dir : {"start", "reports", "books", "data"})
            QVERIFY(QDir().mkpath(path(dir)));

        // A real SQLite database (AUTOINCREMENT adds a system table) and the alias configuration naming it.
        QCOMPARE(e2e::makeSqlite(path("data/ledger.sqlite"),
                                 {"CREATE TABLE CUSTOMERS (ID INTEGER PRIMARY KEY, NAME TEXT)",
                                  "CREATE TABLE INVOICES (ID INTEGER PRIMARY KEY AUTOINCREMENT, AMOUNT REAL)",
                                  "CREATE TABLE PAYMENTS (ID INTEGER, INVOICE INTEGER, AMOUNT REAL)",
                                  "INSERT INTO INVOICES (AMOUNT) VALUES (120.5)"}),
                 QString());
        QVERIFY(test::writeFile(path("data/aliases.ini"),
                                "; aliases of the end-to-end run\n[LEDGER]\nTYPE=SQLITE\n"
                                "DATABASE NAME=ledger.sqlite\n\n[ARCHIVE]\nTYPE=STANDARD\n"
                                "PATH=archive\n"));
        qputenv("LEDGERWICK_ALIASES", path("data/aliases.ini").toUtf8());
        setEngine(nullptr); // the next request finds the configuration afresh

        // The sibling tools stand in the directory the program starts in.
        QVERIFY(installTool("standin-zarmek.sh", "zarmek.exe"));
        QVERIFY(installTool("standin-vortal1.sh", "VORTAL1"));
        qputenv("LW_E2E_POST", qgetenv("LEDGERWICK_TEST_BINARY_DIR") + "/ledgerwick-post");
        qputenv("LW_E2E_RECORD", path("zarmek.args").toUtf8());
        qputenv("LW_E2E_GO", path("zarmek.go").toUtf8());
        qputenv("LW_E2E_BOOK", blankBook().toUtf8());
        qputenv("LW_E2E_REPORT", path("vortal1.args").toUtf8());
        qunsetenv("LEDGERWICK_WINDOW");
        QVERIFY(QDir::setCurrent(path("start")));
    }

    void cleanupTestCase() {
        test::writeFile(path("zarmek.go"), ""); // releases a stand-in still waiting
        if (m_form) {
            e2e::ModalRecorder quiet;
            m_form->close();
            m_form.reset();
        }
        QDir::setCurrent(QDir::tempPath());
    }

    void firstStart() {
        DialogRecord about;
        QVERIFY(startProgramShown(&about));
        QCOMPARE(about.className, "lw::TAboutBox");
        QCOMPARE(m_form->aliasList(), QStringList({"ARCHIVE", "LEDGER"}));
        QVERIFY(!reportCommandsEnabled(*m_form) && !m_form->N11->isVisible());
    }

    // New, the user fills in every part of the definition, and Save of a definition never saved turns
    // into Save as, through the real file dialog.
    void newDefinitionSaved() {
        QVERIFY(m_form);
        QTest::mouseClick(m_form->SB2, Qt::LeftButton);
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w && reportCommandsEnabled(*m_form));

        retype(w->Edit1, "Monthly ledger");
        clickRadio(w->RB2);
        clickRadio(w->RB6);
        // The aliases come from the start-up list; the tables from the database, system tables left out.
        QVERIFY(e2e::pickFromList(w->ComboBox1, "LEDGER"));
        QCOMPARE(e2e::listItems(w->ComboBox2), QStringList({"CUSTOMERS", "INVOICES", "PAYMENTS"}));
        QVERIFY(e2e::pickFromList(w->ComboBox2, "INVOICES"));

        retype(w->Edit3, "5x"); // the range takes digits only
        retype(w->Edit4, "250");
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QTest::keyClicks(w->Edit5, "AMOUNT > 100");

        DialogRecord dialog;
        test::answerNextFileDialog(path("reports/ledger"), &dialog);
        QTest::mouseClick(m_form->SB6, Qt::LeftButton);
        QCOMPARE(dialog.className + '|' + dialog.title, "QFileDialog|Save Report");
        QCOMPARE(w->definitionPath(), definitionFile());
        QCOMPARE(w->windowTitle(), "ledger.pr");
        const QString book = path("reports/ledger.xls");
        const e2e::IniKeys keys = e2e::iniKeys(definitionFile());
        QCOMPARE(keys.value("REPORT"),
                 e2e::keyMap({"Excel=" + book, "Name=Monthly ledger", "Alias=1", "Path=LEDGER", "DB=INVOICES",
                              "View=1", "List=0", "EXCEL FORM=0", "From=5", "To=250"}));
        QCOMPARE(keys.value("SQL"),
                 e2e::keyMap({"OnOff=1", "SQL=AMOUNT > 100", "Select=Select * from INVOICES"}));
        QVERIFY(!keys.contains("ZARMEK"));
    }

    // The blank builder runs while the main window waits minimised and disabled; its 1029 brings the
    // workbook path it wrote into the editor window and gives the main window back.
    void blankBuilder() {
        TForm1* w = m_form ? m_form->activeEditorWindow() : nullptr;
        QVERIFY(w);
        const QString record = qEnvironmentVariable("LW_E2E_RECORD");
        QTest::mouseClick(m_form->SB12, Qt::LeftButton);

        QVERIFY(waitFor([&] { return QFileInfo::exists(record); }, 10000));
        QCOMPARE(test::readFile(record), "1\n" + definitionFile().toUtf8() + "\n"); // its arguments
        QVERIFY(!m_form->isEnabled() && (m_form->windowState() & Qt::WindowMinimized));
        QCOMPARE(e2e::iniKeys(definitionFile()).value("ZARMEK").value("TForm"), "TMainForm");

        QVERIFY(test::writeFile(qEnvironmentVariable("LW_E2E_GO"), ""));
        QVERIFY(waitFor([&] { return m_form->isEnabled() && m_form->windowState() == Qt::WindowNoState; },
                        15000));
        QCOMPARE(w->Label3->text(), blankBook());
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        QCOMPARE(e2e::iniKeys(definitionFile()).value("REPORT").value("Name"), "Monthly ledger");
    }

    // The report generator gets the definition path as its one argument; the main window goes on.
    void generateReport() {
        QVERIFY(m_form);
        const QString record = qEnvironmentVariable("LW_E2E_REPORT");
        e2e::ModalRecorder quiet;
        QTest::mouseClick(m_form->SB16, Qt::LeftButton);
        QVERIFY(waitFor([&] { return QFileInfo::exists(record); }, 10000));
        QCOMPARE(test::readFile(record), "1\n" + definitionFile().toUtf8() + "\n");
        QVERIFY(m_form->isEnabled() && m_form->windowState() == Qt::WindowNoState);
        QCOMPARE(quiet.seen(), QStringList());
    }

    // The user makes the window larger and leaves with Exit; nothing is asked, the settings are written.
    void closeWritesSettings() {
        QVERIFY(m_form);
        m_form->resize(700, 520);
        const QPoint where = m_form->pos(); // the frame's corner, as the settings store it
        e2e::ModalRecorder quiet;
        QTest::mouseClick(m_form->FlatButton1, Qt::LeftButton);
        QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
        QCOMPARE(quiet.seen(), QStringList());
        m_form.reset();

        const e2e::IniKeys keys = e2e::iniKeys(test::settingsFilePath());
        QCOMPARE(keys.value("MainForm"),
                 e2e::keyMap({"Width=700", "Height=520", "Left=" + QString::number(where.x()),
                              "Top=" + QString::number(where.y())}));
        QCOMPARE(keys.value("DIALOG").value("Open"), path("reports/"));
        QCOMPARE(keys.value("MENU"), e2e::keyMap({"1=" + definitionFile(), "2=", "3=", "4="}));
    }

    // A second start: the stored size, the recent file in the File menu; opening it through that
    // item restores the editor window as it was saved.
    void secondStart() {
        DialogRecord about;
        QVERIFY(startProgramShown(&about));
        QCOMPARE(m_form->size(), QSize(700, 520));
        QVERIFY(m_form->N11->isVisible() && m_form->N11->text() == "ledger.pr" && !m_form->N21->isVisible());

        emit m_form->N1->aboutToShow(); // the user opens the File menu
        m_form->N11->trigger();
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        QCOMPARE(w->definitionPath(), definitionFile());
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        // Every control as it was saved; the workbook as the blank builder left it in the file.
        QCOMPARE(QStringList({w->Edit1->text(), w->ComboBox1->currentText(), w->ComboBox2->currentText(),
                              w->Label3->text(), w->Edit3->text(), w->Edit4->text(), w->Label13->text(),
                              w->Edit5->text()}),
                 QStringList({"Monthly ledger", "LEDGER", "INVOICES", blankBook(), "5", "250",
                              "Select * from INVOICES", "AMOUNT > 100"}));
        QVERIFY(w->RB2->isChecked() && w->RB3->isChecked() && !w->RB4->isEnabled() && w->RB6->isChecked());
        QVERIFY(w->ComboBox1->isVisible() && !w->Edit2->isVisible() && !w->workbookForm());
        QVERIFY(w->CheckBox1->isChecked() && w->Edit5->isEnabled());
        const auto& recent = m_form->settings().recentFiles(); // opening through the list keeps it
        QVERIFY(recent[0] == definitionFile() && recent[1].isEmpty());
        e2e::ModalRecorder quiet;
        m_form->close();
        QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
        QCOMPARE(quiet.seen(), QStringList());
        m_form.reset();
    }

    // The real tools in place of the stand-ins: the blank builder makes the blank beside the definition
    // while a spreadsheet program (one that closes at once) has it and the user answers OK; the
    // generator fills it with the invoice over 100 and writes the report beside the blank.
    void realToolsMakeTheReport() {
        const QString build = qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR");
        for (const QString& tool : {"zarmek.exe", "VORTAL1"}) {
            QFile::remove(path("start/" + tool));
            QVERIFY(QFile::link(build + "/" + tool, path("start/" + tool)));
        }
        Profile(test::settingsFilePath()).writeString("EXCEL", "Program", "/bin/true");
        // The tools are not in the test mode of the standard paths: they read the settings file of
        // the configuration directory itself.
        const QString toolConfig = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ledgerwick";
        QVERIFY(QDir().mkpath(toolConfig));
        Profile(toolConfig + "/l_wick.ini").writeString("EXCEL", "Program", "/bin/true");
        qputenv("LEDGERWICK_TEST_ANSWERS", "done,ok");

        DialogRecord about;
        QVERIFY(startProgramShown(&about));
        emit m_form->N1->aboutToShow();
        m_form->N11->trigger();
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        retype(w->Edit3, "1"); // from the first record: the one invoice over 100
        QTest::mouseClick(m_form->SB6, Qt::LeftButton);
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));

        QTest::mouseClick(m_form->SB12, Qt::LeftButton);
        QVERIFY(waitFor([&] { return m_form->isEnabled() && m_form->windowState() == Qt::WindowNoState; },
                        60000));
        const QString book = path("reports/ledger.xls"); // Save derives it from the definition's path
        QCOMPARE(w->Label3->text(), book);
        QVERIFY(QFileInfo(book).size() > 0);

        const QString report = path("reports/ledger_report.xls");
        e2e::ModalRecorder quiet;
        QTest::mouseClick(m_form->SB16, Qt::LeftButton);
        QVERIFY(waitFor([&] { return QFileInfo(report).size() > 0; }, 60000));
        QCOMPARE(quiet.seen(), QStringList());

        // The report as another program reads it: the invoice's amount in the band under the names.
        QProcess xlrd;
        xlrd.start("/usr/bin/python3",
                   {"-c", "import sys, xlrd\n"
                          "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                          "print([s.row_values(r) for r in range(s.nrows)])",
                    report});
        QVERIFY(xlrd.waitForFinished(30000));
        const QString rows = QString::fromUtf8(xlrd.readAllStandardOutput());
        QVERIFY2(rows.contains("['ID', 'AMOUNT']") && rows.contains("[1.0, 120.5]"), qPrintable(rows));

        qunsetenv("LEDGERWICK_TEST_ANSWERS");
        m_form->close();
        QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
        m_form.reset();
    }
};

QTEST_MAIN(TstTypicalRun)
#include "tst_typicalrun.moc"
