// The typical run end to end: the real main window and document commands, an SQLite alias of the
// real catalogue, stand-in sibling tools started for real, the settings file, and a second start.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "ui/flatbtn.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>

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
        test::answerNextModal(
            [](QWidget* w) {
                if (auto* ok = w->findChild<QAbstractButton*>("SpeedButton1"))
                    ok->click();
                else
                    w->close();
            },
            about);
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

        // A real SQLite database and the alias configuration that names it.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "e2e-setup");
            db.setDatabaseName(path("data/ledger.sqlite"));
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            for (const char* sql :
                 {"CREATE TABLE CUSTOMERS (ID INTEGER PRIMARY KEY, NAME TEXT)",
                  "CREATE TABLE INVOICES (ID INTEGER PRIMARY KEY AUTOINCREMENT, AMOUNT REAL)",
                  "CREATE TABLE PAYMENTS (ID INTEGER, INVOICE INTEGER, AMOUNT REAL)",
                  "INSERT INTO INVOICES (AMOUNT) VALUES (120.5)"})
                QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
        }
        QSqlDatabase::removeDatabase("e2e-setup");
        QVERIFY(test::writeFile(path("data/aliases.ini"),
                                "; aliases of the end-to-end run\n"
                                "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=ledger.sqlite\n\n"
                                "[ARCHIVE]\nTYPE=STANDARD\nPATH=archive\n"));
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
        QCOMPARE(m_form->startDirectory(), QDir(path("start")).canonicalPath());
        QVERIFY(!reportCommandsEnabled(*m_form));
        QVERIFY(!m_form->N11->isVisible());
    }

    // New, then the user fills in every part of the definition.
    void newDefinitionFilledIn() {
        QVERIFY(m_form);
        QTest::mouseClick(m_form->SB2, Qt::LeftButton);
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->windowTitle(), "No Name 1");
        QVERIFY(reportCommandsEnabled(*m_form));

        retype(w->Edit1, "Monthly ledger");
        clickRadio(w->RB2);
        clickRadio(w->RB6);
        QVERIFY(w->ComboBox1->isVisible() && w->ComboBox2->isVisible() && !w->Edit2->isVisible());

        // The aliases come from the start-up list; the tables from the database, system tables left out.
        QCOMPARE(w->ComboBox1->count(), 2);
        QVERIFY(e2e::pickFromList(w->ComboBox1, "LEDGER"));
        QCOMPARE(e2e::listItems(w->ComboBox2), QStringList({"CUSTOMERS", "INVOICES", "PAYMENTS"}));
        QVERIFY(e2e::pickFromList(w->ComboBox2, "INVOICES"));

        retype(w->Edit3, "5x"); // the range takes digits only
        retype(w->Edit4, "250");
        QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
        QVERIFY(w->Edit5->isEnabled());
        QTest::keyClicks(w->Edit5, "AMOUNT > 100");
    }

    // Save of a definition never saved turns into Save as, through the real file dialog.
    void saveTurnsIntoSaveAs() {
        QVERIFY(m_form);
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        DialogRecord dialog;
        test::answerNextFileDialog(path("reports/ledger"), &dialog);
        QTest::mouseClick(m_form->SB6, Qt::LeftButton);
        QCOMPARE(dialog.className, "QFileDialog");
        QCOMPARE(dialog.title, "Save Report");

        QCOMPARE(w->definitionPath(), definitionFile());
        QCOMPARE(w->windowTitle(), "ledger.pr");
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        const QString book = path("reports/ledger.xls");
        QCOMPARE(w->workbookPath(), book);
        QCOMPARE(w->Label3->text(), book);

        const e2e::IniKeys keys = e2e::iniKeys(definitionFile());
        QCOMPARE(keys.value("REPORT"),
                 e2e::keyMap({"Excel=" + book, "Name=Monthly ledger", "Alias=1", "Path=LEDGER", "DB=INVOICES",
                              "View=1", "List=0", "EXCEL FORM=0", "From=5", "To=250"}));
        QCOMPARE(keys.value("SQL"),
                 e2e::keyMap({"OnOff=1", "SQL=AMOUNT > 100", "Select=Select * from INVOICES"}));
        QVERIFY(!keys.contains("ZARMEK"));
        QVERIFY(m_form->N11->isVisible() && m_form->NLine->isVisible());
        QCOMPARE(m_form->N11->text(), "ledger.pr");
    }

    // The blank builder runs while the main window waits minimised and disabled; its 1029 brings the
    // workbook path it wrote into the editor window and gives the main window back.
    void blankBuilder() {
        QVERIFY(m_form);
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        const QString record = qEnvironmentVariable("LW_E2E_RECORD");
        QTest::mouseClick(m_form->SB12, Qt::LeftButton);

        QVERIFY(waitFor([&] { return QFileInfo::exists(record); }, 10000));
        QCOMPARE(test::readFile(record), "1\n" + definitionFile().toUtf8() + "\n");
        QVERIFY(!m_form->isEnabled());
        QVERIFY(m_form->windowState() & Qt::WindowMinimized);
        QCOMPARE(e2e::iniKeys(definitionFile()).value("ZARMEK").value("TForm"), "TMainForm");

        QVERIFY(test::writeFile(qEnvironmentVariable("LW_E2E_GO"), ""));
        QVERIFY(waitFor([&] { return m_form->isEnabled() && m_form->windowState() == Qt::WindowNoState; },
                        15000));
        QCOMPARE(w->workbookPath(), blankBook());
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
        QVERIFY(m_form->isEnabled());
        QCOMPARE(m_form->windowState(), Qt::WindowNoState);
        QVERIFY(quiet.seen().isEmpty());
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

    // A second start with the same settings: the stored size, centred, the recent file in the File menu;
    // opening it through that item restores every control of the editor window.
    void secondStart() {
        DialogRecord about;
        QVERIFY(startProgramShown(&about));
        QVERIFY(about.seen);
        QCOMPARE(m_form->size(), QSize(700, 520));
        const QRect screen = m_form->screen()->geometry();
        const QSize frame = m_form->frameGeometry().size();
        QCOMPARE(m_form->frameGeometry().topLeft(), QPoint(qMax(0, (screen.width() - frame.width()) / 2),
                                                           qMax(0, (screen.height() - frame.height()) / 2)));
        QVERIFY(m_form->N11->isVisible() && m_form->NLine->isVisible() && !m_form->N21->isVisible());
        QCOMPARE(m_form->N11->text(), "ledger.pr");

        emit m_form->N1->aboutToShow(); // the user opens the File menu
        m_form->N11->trigger();
        TForm1* w = m_form->activeEditorWindow();
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->windowTitle(), "ledger.pr");
        QCOMPARE(w->definitionPath(), definitionFile());
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        QVERIFY(reportCommandsEnabled(*m_form));

        // Every control as it was saved; the workbook as the blank builder left it in the file.
        QCOMPARE(QStringList({w->Edit1->text(), w->ComboBox1->currentText(), w->ComboBox2->currentText(),
                              w->Label3->text(), w->Edit3->text(), w->Edit4->text(), w->Label13->text(),
                              w->Edit5->text()}),
                 QStringList({"Monthly ledger", "LEDGER", "INVOICES", blankBook(), "5", "250",
                              "Select * from INVOICES", "AMOUNT > 100"}));
        QVERIFY(!w->RB1->isChecked() && w->RB2->isChecked());
        QVERIFY(w->RB3->isChecked() && !w->RB4->isChecked() && !w->RB4->isEnabled());
        QVERIFY(w->RB6->isChecked() && w->ComboBox1->isVisible() && w->ComboBox2->isVisible());
        QVERIFY(!w->Edit2->isVisible() && !w->Button2->isVisible() && !w->Label2->isVisible());
        QCOMPARE(w->ComboBox1->count(), 2);
        QCOMPARE(w->workbookPath(), blankBook());
        QVERIFY(!w->workbookForm());
        QVERIFY(w->CheckBox1->isEnabled() && w->CheckBox1->isChecked());
        QVERIFY(w->Label13->isEnabled() && w->Edit5->isEnabled());
        QCOMPARE(w->Edit5->x(), w->Label13->x() + w->Label13->width() + 5);

        // Opening through the list keeps the list.
        QCOMPARE(m_form->settings().recentFiles()[0], definitionFile());
        QVERIFY(m_form->settings().recentFiles()[1].isEmpty());
        e2e::ModalRecorder quiet;
        m_form->close();
        QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
        QCOMPARE(quiet.seen(), QStringList());
        m_form.reset();
    }
};

QTEST_MAIN(TstTypicalRun)
#include "tst_typicalrun.moc"
