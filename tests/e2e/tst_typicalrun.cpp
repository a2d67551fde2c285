// The typical run end to end: the real main window and document commands, an SQLite alias of the
// real catalogue, stand-in sibling tools started for real, the settings file, and a second start.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "support/testsupport.h"
#include "ui/flatbtn.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace lw;
using lw::test::DialogRecord;
using lw::test::waitFor;

namespace {

// Closes the about box of the start-up sequence through its close area, as the user does.
void answerAboutBox(DialogRecord* record) {
    test::answerNextModal(
        [](QWidget* w) {
            if (auto* ok = w->findChild<QAbstractButton*>(QStringLiteral("SpeedButton1")))
                ok->click();
            else
                w->close();
        },
        record);
}

// Replaces a field's text by typing, as the user does after selecting what is there.
void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
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
    QString startDir() const { return path(QStringLiteral("start")); }
    QString definitionFile() const { return path(QStringLiteral("reports/ledger.pr")); }
    QString blankBook() const { return path(QStringLiteral("books/ledger-blank.xls")); }
    QString settingsFile() const { return Profile(QStringLiteral("l_wick.ini")).filePath(); }

    bool installTool(const QString& script, const QString& name) {
        const QString target = startDir() + QLatin1Char('/') + name;
        return QFile::copy(qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + QStringLiteral("/tests/e2e/") +
                               script,
                           target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The start-up sequence of the program: about box answered, then the main window shown.
    bool startProgramShown(DialogRecord* about) {
        answerAboutBox(about);
        m_form.reset(startProgram());
        m_form->show();
        QApplication::setActiveWindow(m_form.get());
        return QTest::qWaitForWindowExposed(m_form.get());
    }

    TForm1* activeWindow() const { return m_form->activeEditorWindow(); }

private slots:
    void initTestCase();
    void firstStart();
    void newDefinitionFilledIn();
    void saveTurnsIntoSaveAs();
    void blankBuilder();
    void generateReport();
    void closeWritesSettings();
    void secondStart();
    void cleanupTestCase();
};

void TstTypicalRun::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_tmp.isValid());
    QFile::remove(settingsFile());
    for (const char* dir : {"start", "reports", "books", "data"})
        QVERIFY(QDir().mkpath(path(QLatin1String(dir))));

    // A real SQLite database and the alias configuration that names it.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-setup"));
        db.setDatabaseName(path(QStringLiteral("data/ledger.sqlite")));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        for (const char* sql : {"CREATE TABLE CUSTOMERS (ID INTEGER PRIMARY KEY, NAME TEXT)",
                                "CREATE TABLE INVOICES (ID INTEGER PRIMARY KEY AUTOINCREMENT, AMOUNT REAL)",
                                "CREATE TABLE PAYMENTS (ID INTEGER, INVOICE INTEGER, AMOUNT REAL)",
                                "INSERT INTO INVOICES (AMOUNT) VALUES (120.5)"})
            QVERIFY2(q.exec(QLatin1String(sql)), qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-setup"));
    QVERIFY(test::writeFile(path(QStringLiteral("data/aliases.ini")),
                            "; aliases of the end-to-end run\n"
                            "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=ledger.sqlite\n\n"
                            "[ARCHIVE]\nTYPE=STANDARD\nPATH=archive\n"));
    qputenv("LEDGERWICK_ALIASES", path(QStringLiteral("data/aliases.ini")).toUtf8());
    setEngine(nullptr); // the next request finds the configuration afresh

    // The sibling tools stand in the directory the program starts in.
    QVERIFY(installTool(QStringLiteral("standin-zarmek.sh"), QStringLiteral("zarmek.exe")));
    QVERIFY(installTool(QStringLiteral("standin-vortal1.sh"), QStringLiteral("VORTAL1")));
    qputenv("LW_E2E_POST", qgetenv("LEDGERWICK_TEST_BINARY_DIR") + "/ledgerwick-post");
    qputenv("LW_E2E_RECORD", path(QStringLiteral("zarmek.args")).toUtf8());
    qputenv("LW_E2E_GO", path(QStringLiteral("zarmek.go")).toUtf8());
    qputenv("LW_E2E_BOOK", blankBook().toUtf8());
    qputenv("LW_E2E_REPORT", path(QStringLiteral("vortal1.args")).toUtf8());
    qunsetenv("LEDGERWICK_WINDOW");
    QVERIFY(QDir::setCurrent(startDir()));
}

void TstTypicalRun::cleanupTestCase() {
    test::writeFile(path(QStringLiteral("zarmek.go")), ""); // releases a stand-in still waiting
    if (m_form) {
        e2e::ModalRecorder quiet;
        m_form->close();
        m_form.reset();
    }
    QDir::setCurrent(QDir::tempPath());
}

void TstTypicalRun::firstStart() {
    DialogRecord about;
    QVERIFY(startProgramShown(&about));
    QCOMPARE(about.className, QStringLiteral("lw::TAboutBox"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Ledgerwick Builder 2.5"));
    QCOMPARE(m_form->aliasList(), (QStringList{QStringLiteral("ARCHIVE"), QStringLiteral("LEDGER")}));
    QCOMPARE(m_form->startDirectory(), QDir(startDir()).canonicalPath());
    QVERIFY(!reportCommandsEnabled(*m_form));
    QVERIFY(!m_form->N11->isVisible());
}

// 1 and 2: New, then the user fills in every part of the definition.
void TstTypicalRun::newDefinitionFilledIn() {
    QVERIFY(m_form);
    QTest::mouseClick(m_form->SB2, Qt::LeftButton);
    TForm1* w = activeWindow();
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QStringLiteral("No Name 1"));
    QCOMPARE(w->modificationState(), int(TForm1::StateNew));
    QVERIFY(reportCommandsEnabled(*m_form));
    QVERIFY(QTest::qWaitForWindowExposed(w));

    retype(w->Edit1, QStringLiteral("Monthly ledger"));
    QTest::mouseClick(w->RB2, Qt::LeftButton, {}, QPoint(6, w->RB2->height() / 2));
    QVERIFY(w->RB2->isChecked());
    QVERIFY(w->RB3->isChecked());
    QVERIFY(!w->RB4->isEnabled());

    QTest::mouseClick(w->RB6, Qt::LeftButton, {}, QPoint(6, w->RB6->height() / 2));
    QVERIFY(w->aliasMode());
    QVERIFY(w->ComboBox1->isVisible());
    QVERIFY(w->ComboBox2->isVisible());
    QVERIFY(!w->Edit2->isVisible());

    // The aliases come from the start-up list; the tables from the SQLite database, system tables left out.
    QCOMPARE(w->ComboBox1->count(), 2);
    QVERIFY(e2e::pickFromList(w->ComboBox1, QStringLiteral("LEDGER")));
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("LEDGER"));
    QCOMPARE(
        e2e::listItems(w->ComboBox2),
        (QStringList{QStringLiteral("CUSTOMERS"), QStringLiteral("INVOICES"), QStringLiteral("PAYMENTS")}));
    QVERIFY(e2e::pickFromList(w->ComboBox2, QStringLiteral("INVOICES")));
    QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("INVOICES"));
    QCOMPARE(w->Label13->text(), QStringLiteral("Select * from INVOICES"));
    QVERIFY(w->CheckBox1->isEnabled());

    retype(w->Edit3, QStringLiteral("5x"));
    retype(w->Edit4, QStringLiteral("250"));
    QCOMPARE(w->Edit3->text(), QStringLiteral("5"));
    QCOMPARE(w->Edit4->text(), QStringLiteral("250"));
    QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
    QVERIFY(w->CheckBox1->isChecked());
    QVERIFY(w->Edit5->isEnabled());
    QTest::keyClicks(w->Edit5, QStringLiteral("AMOUNT > 100"));
    QCOMPARE(w->Edit5->text(), QStringLiteral("AMOUNT > 100"));
    QCOMPARE(w->modificationState(), int(TForm1::StateNew));
}

// 3: Save of a definition never saved turns into Save as, through the real file dialog.
void TstTypicalRun::saveTurnsIntoSaveAs() {
    QVERIFY(m_form);
    TForm1* w = activeWindow();
    QVERIFY(w);
    DialogRecord dialog;
    test::answerNextFileDialog(path(QStringLiteral("reports/ledger")), &dialog);
    QTest::mouseClick(m_form->SB6, Qt::LeftButton);
    QCOMPARE(dialog.className, QStringLiteral("QFileDialog"));
    QCOMPARE(dialog.title, QStringLiteral("Save Report"));

    QCOMPARE(w->definitionPath(), definitionFile());
    QCOMPARE(w->windowTitle(), QStringLiteral("ledger.pr"));
    QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
    const QString book = path(QStringLiteral("reports/ledger.xls"));
    QCOMPARE(w->workbookPath(), book);
    QCOMPARE(w->Label3->text(), book);

    const e2e::IniKeys keys = e2e::iniKeys(definitionFile());
    const QMap<QString, QString> expected{{QStringLiteral("Excel"), book},
                                          {QStringLiteral("Name"), QStringLiteral("Monthly ledger")},
                                          {QStringLiteral("Alias"), QStringLiteral("1")},
                                          {QStringLiteral("Path"), QStringLiteral("LEDGER")},
                                          {QStringLiteral("DB"), QStringLiteral("INVOICES")},
                                          {QStringLiteral("View"), QStringLiteral("1")},
                                          {QStringLiteral("List"), QStringLiteral("0")},
                                          {QStringLiteral("EXCEL FORM"), QStringLiteral("0")},
                                          {QStringLiteral("From"), QStringLiteral("5")},
                                          {QStringLiteral("To"), QStringLiteral("250")}};
    QCOMPARE(keys.value(QStringLiteral("REPORT")), expected);
    const QMap<QString, QString> query{{QStringLiteral("OnOff"), QStringLiteral("1")},
                                       {QStringLiteral("SQL"), QStringLiteral("AMOUNT > 100")},
                                       {QStringLiteral("Select"), QStringLiteral("Select * from INVOICES")}};
    QCOMPARE(keys.value(QStringLiteral("SQL")), query);
    QVERIFY(!keys.contains(QStringLiteral("ZARMEK")));

    QVERIFY(m_form->N11->isVisible());
    QCOMPARE(m_form->N11->text(), QStringLiteral("ledger.pr"));
    QVERIFY(m_form->NLine->isVisible());
}

// 4 and 5: the blank builder runs while the main window waits minimised and disabled; its 1029
// brings the workbook path it wrote into the editor window and gives the main window back.
void TstTypicalRun::blankBuilder() {
    QVERIFY(m_form);
    TForm1* w = activeWindow();
    QVERIFY(w);
    const QString record = qEnvironmentVariable("LW_E2E_RECORD");
    QTest::mouseClick(m_form->SB12, Qt::LeftButton);

    QVERIFY(waitFor([&] { return QFileInfo::exists(record); }, 10000));
    QCOMPARE(test::readFile(record), "1\n" + definitionFile().toUtf8() + "\n");
    QVERIFY(!m_form->isEnabled());
    QVERIFY(m_form->windowState() & Qt::WindowMinimized);
    QCOMPARE(e2e::iniKeys(definitionFile()).value(QStringLiteral("ZARMEK")).value(QStringLiteral("TForm")),
             QStringLiteral("TMainForm"));

    QVERIFY(test::writeFile(qEnvironmentVariable("LW_E2E_GO"), ""));
    QVERIFY(
        waitFor([&] { return m_form->isEnabled() && m_form->windowState() == Qt::WindowNoState; }, 15000));
    QCOMPARE(w->workbookPath(), blankBook());
    QCOMPARE(w->Label3->text(), blankBook());
    QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
    QCOMPARE(e2e::iniKeys(definitionFile()).value(QStringLiteral("REPORT")).value(QStringLiteral("Name")),
             QStringLiteral("Monthly ledger"));
}

// 6: the report generator gets the definition path as its one argument; the main window goes on.
void TstTypicalRun::generateReport() {
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

// 7: the user makes the window larger and leaves with Exit; nothing is asked, the settings are written.
void TstTypicalRun::closeWritesSettings() {
    QVERIFY(m_form);
    m_form->resize(700, 520);
    const QPoint where = m_form->pos(); // the frame's corner, as the settings store it
    e2e::ModalRecorder quiet;
    QTest::mouseClick(m_form->FlatButton1, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
    QCOMPARE(quiet.seen(), QStringList());
    m_form.reset();

    const e2e::IniKeys keys = e2e::iniKeys(settingsFile());
    const QMap<QString, QString> bound{{QStringLiteral("Width"), QStringLiteral("700")},
                                       {QStringLiteral("Height"), QStringLiteral("520")},
                                       {QStringLiteral("Left"), QString::number(where.x())},
                                       {QStringLiteral("Top"), QString::number(where.y())}};
    QCOMPARE(keys.value(QStringLiteral("MainForm")), bound);
    QCOMPARE(keys.value(QStringLiteral("DIALOG")).value(QStringLiteral("Open")),
             path(QStringLiteral("reports/")));
    const QMap<QString, QString> menu{{QStringLiteral("1"), definitionFile()},
                                      {QStringLiteral("2"), QString()},
                                      {QStringLiteral("3"), QString()},
                                      {QStringLiteral("4"), QString()}};
    QCOMPARE(keys.value(QStringLiteral("MENU")), menu);
}

// A second start with the same settings: the stored size, centred, the recent file in the File menu;
// opening it through that item restores every control of the editor window.
void TstTypicalRun::secondStart() {
    DialogRecord about;
    QVERIFY(startProgramShown(&about));
    QVERIFY(about.seen);
    QCOMPARE(m_form->size(), QSize(700, 520));
    const QRect screen = m_form->screen()->geometry();
    const QSize frame = m_form->frameGeometry().size();
    QCOMPARE(m_form->frameGeometry().topLeft(), QPoint(qMax(0, (screen.width() - frame.width()) / 2),
                                                       qMax(0, (screen.height() - frame.height()) / 2)));
    QVERIFY(m_form->N11->isVisible());
    QCOMPARE(m_form->N11->text(), QStringLiteral("ledger.pr"));
    QVERIFY(!m_form->N21->isVisible());
    QVERIFY(m_form->NLine->isVisible());

    emit m_form->N1->aboutToShow(); // the user opens the File menu
    m_form->N11->trigger();
    TForm1* w = activeWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("ledger.pr"));
    QCOMPARE(w->definitionPath(), definitionFile());
    QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
    QVERIFY(reportCommandsEnabled(*m_form));

    QCOMPARE(w->Edit1->text(), QStringLiteral("Monthly ledger"));
    QVERIFY(!w->RB1->isChecked());
    QVERIFY(w->RB2->isChecked());
    QVERIFY(w->RB3->isChecked());
    QVERIFY(!w->RB4->isChecked());
    QVERIFY(!w->RB4->isEnabled());
    QVERIFY(w->RB6->isChecked());
    QVERIFY(w->ComboBox1->isVisible());
    QVERIFY(w->ComboBox2->isVisible());
    QVERIFY(!w->Edit2->isVisible());
    QVERIFY(!w->Button2->isVisible());
    QVERIFY(!w->Label2->isVisible());
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("LEDGER"));
    QCOMPARE(w->ComboBox1->count(), 2);
    QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("INVOICES"));
    QCOMPARE(w->workbookPath(), blankBook()); // as the blank builder left it in the file
    QCOMPARE(w->Label3->text(), blankBook());
    QVERIFY(!w->workbookForm());
    QCOMPARE(w->Edit3->text(), QStringLiteral("5"));
    QCOMPARE(w->Edit4->text(), QStringLiteral("250"));
    QVERIFY(w->CheckBox1->isEnabled());
    QVERIFY(w->CheckBox1->isChecked());
    QVERIFY(w->Label13->isEnabled());
    QCOMPARE(w->Label13->text(), QStringLiteral("Select * from INVOICES"));
    QVERIFY(w->Edit5->isEnabled());
    QCOMPARE(w->Edit5->text(), QStringLiteral("AMOUNT > 100"));
    QCOMPARE(w->Edit5->x(), w->Label13->x() + w->Label13->width() + 5);

    // Opening through the list keeps the list; the definition's keys are where they were.
    QCOMPARE(m_form->settings().recentFiles()[0], definitionFile());
    QVERIFY(m_form->settings().recentFiles()[1].isEmpty());
    e2e::ModalRecorder quiet;
    m_form->close();
    QVERIFY(waitFor([&] { return !m_form->isVisible(); }));
    QCOMPARE(quiet.seen(), QStringList());
    m_form.reset();
}

QTEST_MAIN(TstTypicalRun)
#include "tst_typicalrun.moc"
