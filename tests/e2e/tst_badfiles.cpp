// Bad files against the whole program: damaged, huge or odd report definitions, settings files and
// alias configurations open without a crash or a hang, with what can be read and defaults for the rest.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <memory>

using namespace lw;
using lw::test::Answer;
using lw::test::DialogRecord;
using lw::test::waitFor;

namespace {

// However big or odd the file, opening it may take no longer than this.
constexpr qint64 kPatienceMs = 30000;
constexpr qsizetype kHuge = 50 * 1024 * 1024;
constexpr qsizetype kLong = 100000;

// Bytes of every value from a fixed seed; "[" can be left out so that no section can appear.
QByteArray junk(qsizetype size, bool brackets = true) {
    QRandomGenerator random(20240607);
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        c = char(random.bounded(256));
        if (!brackets && c == '[')
            c = '{';
    }
    return bytes;
}

// Sections and keys of some other program, up to the given size.
QByteArray filler(qsizetype size) {
    const QByteArray block = "[OTHER PROGRAM]\nKey=" + QByteArray(100, 'v') + "\n; a remark\n";
    QByteArray bytes;
    bytes.reserve(size + block.size());
    while (bytes.size() < size)
        bytes += block;
    return bytes;
}

QByteArray repeat(char c) {
    return QByteArray(kLong, c);
}

QStringList visibleRecentCaptions(const TMainForm& form) {
    QStringList shown;
    for (TMenuItem* item : {form.N11, form.N21, form.N31, form.N41}) {
        if (item->isVisible())
            shown.append(item->caption());
    }
    return shown;
}

QString settingsFile() {
    return Profile(QStringLiteral("l_wick.ini")).filePath();
}

} // namespace

class TstBadFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QSize m_designedSize;
    // What the answered dialogs showed; members, since an answer may still wait after a test's end.
    DialogRecord m_fileDialog;

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    // The alias configuration of the definition tests: one SQLite alias whose file is junk.
    void useGoodAliases() {
        qputenv("LEDGERWICK_ALIASES", path(QStringLiteral("good/aliases.ini")).toUtf8());
        setEngine(nullptr);
    }

    std::unique_ptr<TMainForm> start() {
        auto form = std::make_unique<TMainForm>();
        form->show();
        QApplication::setActiveWindow(form.get());
        (void)QTest::qWaitForWindowExposed(form.get());
        return form;
    }

    // Opens a file through File, Open and the real file dialog; the window it made, or null.
    TForm1* openThroughDialog(TMainForm& form, const QString& file) {
        const qsizetype before = form.editorWindows().size();
        m_fileDialog = DialogRecord();
        test::answerNextFileDialog(file, &m_fileDialog);
        form.N3->trigger();
        if (!m_fileDialog.seen || form.editorWindows().size() != before + 1)
            return nullptr;
        return form.activeEditorWindow();
    }

private slots:
    void initTestCase();
    void init() { QFile::remove(settingsFile()); }
    void cleanupTestCase();
    void definitionFiles_data();
    void definitionFiles();
    void savingKeepsWhatWasNotUnderstood();
    void filesThatAreNoFiles_data();
    void filesThatAreNoFiles();
    void settingsFiles_data();
    void settingsFiles();
    void aliasConfigurations_data();
    void aliasConfigurations();
};

void TstBadFiles::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_tmp.isValid());
    QVERIFY(test::writeFile(path(QStringLiteral("good/aliases.ini")),
                            "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n"));
    QVERIFY(test::writeFile(path(QStringLiteral("good/junk.sqlite")), junk(4096)));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(path(QStringLiteral("ledger.sqlite")));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE CUSTOMERS (ID INTEGER)")));
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE INVOICES (ID INTEGER)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    QFile::remove(settingsFile());
    useGoodAliases();
    auto form = std::make_unique<TMainForm>();
    m_designedSize = form->size();
    QCOMPARE(form->aliasList(), QStringList{QStringLiteral("LEDGER")});
}

void TstBadFiles::cleanupTestCase() {
    qunsetenv("LEDGERWICK_ALIASES");
    setEngine(nullptr);
}

// ---- Report definition files ----

void TstBadFiles::definitionFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("alias");
    QTest::addColumn<QString>("path"); // the alias or the directory
    QTest::addColumn<QString>("db");
    QTest::addColumn<bool>("columnar");
    QTest::addColumn<bool>("several");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("query");
    QTest::addColumn<QString>("sql");

    const QString none;
    auto defaults = [&](const char* row, const QByteArray& content) {
        QTest::newRow(row) << content << none << false << none << none << false << false << "1"
                           << "1" << false << none;
    };
    defaults("empty", QByteArray());
    defaults("binary", junk(256 * 1024, false));
    defaults("full of NUL bytes", QByteArray(1024 * 1024, '\0'));
    defaults("one line without a newline", QByteArray(4 * 1024 * 1024, 'x'));
    defaults("only section headers", "[REPORT]\n[SQL]\n[ZARMEK]\n[REPORT]\n[]\n[");
    defaults("keys outside any section", "Name=Lost\nAlias=1\nFrom=5\n");

    QTest::newRow("binary, then keys")
        << junk(256 * 1024) + "\n[REPORT]\nName=After junk\nFrom=7\n"
        << "After junk" << false << none << none << false << false << "7"
        << "1" << false << none;
    QTest::newRow("50 MB, keys at the end")
        << filler(kHuge) + "[REPORT]\nName=At the end\nTo=99\n[SQL]\nOnOff=1\nSQL=AMOUNT > 1\n"
        << "At the end" << false << none << none << false << false << "1"
        << "99" << true << "AMOUNT > 1";
    QTest::newRow("last line without a newline")
        << QByteArray("[REPORT]\nView=1\nName=Last line") << "Last line" << false << none << none
        << true << false << "1"
        << "1" << false << none;
    QTest::newRow("NUL bytes inside the section")
        << QByteArray("[REPORT]\nPath=/data/\n", 21) + QByteArray(64, '\0') + "\nDB=ORDERS.DBF\nTo=12\n"
        << none << false << "/data/"
        << "ORDERS.DBF" << false << false << "1"
        << "12" << false << none;
    QTest::newRow("values of 100,000 characters")
        << "[REPORT]\nName=" + repeat('N') + "\nPath=/" + repeat('P') + "\nDB=" + repeat('D') +
               "\nFrom=" + repeat('9') + "\nView=1\n[SQL]\nOnOff=1\nSQL=" + repeat('S') + "\n"
        << QString(repeat('N')) << false << "/" + QString(repeat('P')) << QString(repeat('D')) << true
        << false << "1"
        << "1" << true << QString(repeat('S'));
    QTest::newRow("CRLF with a byte-order mark")
        << QByteArray(
               "\xEF\xBB\xBF[REPORT]\r\nExcel=/r/crlf.xls\r\nName=Crlf\r\nAlias=1\r\nPath=LEDGER\r\n"
               "DB=INVOICES\r\nView=1\r\nList=1\r\nFrom=2\r\nTo=20\r\n[SQL]\r\nOnOff=1\r\nSQL=A = 1\r\n")
        << "Crlf" << true << "LEDGER"
        << "INVOICES" << true << true << "2"
        << "20" << true << "A = 1";
}

void TstBadFiles::definitionFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(bool, alias);
    QFETCH(QString, path);
    QFETCH(QString, db);
    QFETCH(bool, columnar);
    QFETCH(bool, several);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, query);
    QFETCH(QString, sql);

    const QString file = this->path(QStringLiteral("bad.pr"));
    QVERIFY(test::writeFile(file, content));
    auto form = start();
    auto quiet = std::make_unique<e2e::ModalRecorder>();
    QElapsedTimer clock;
    clock.start();
    TForm1* w = openThroughDialog(*form, file);
    QVERIFY(w);
    QVERIFY2(clock.elapsed() < kPatienceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    QCOMPARE(quiet->seen(), QStringList());
    quiet.reset(); // the save question below is answered on purpose

    QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
    QCOMPARE(w->windowTitle(), QStringLiteral("bad.pr"));
    QCOMPARE(w->Edit1->text(), name);
    QCOMPARE(w->aliasMode(), alias);
    QCOMPARE(w->RB5->isChecked(), !alias);
    QCOMPARE(alias ? w->ComboBox1->currentText() : w->Label2->text(), path);
    QCOMPARE(alias ? w->ComboBox2->currentText() : w->Edit2->text(), db);
    QCOMPARE(w->RB2->isChecked(), columnar);
    QCOMPARE(w->RB1->isChecked(), !columnar);
    QCOMPARE(w->RB4->isChecked(), several);
    QCOMPARE(w->Edit3->text(), from);
    QCOMPARE(w->Edit4->text(), to);
    QCOMPARE(w->CheckBox1->isChecked(), query);
    QCOMPARE(w->Edit5->isEnabled(), query);
    QCOMPARE(w->Edit5->text(), sql);

    // The window stays usable: an edit marks it changed, and it closes when told not to save.
    w->Edit1->setText(QStringLiteral("Edited"));
    QCOMPARE(w->modificationState(), int(TForm1::StateEdited));
    test::answerNextMessageDialog(Answer::No);
    QVERIFY(w->closeWindow());
    QVERIFY(waitFor([&] { return form->editorWindows().isEmpty(); }));
    QCOMPARE(test::readFile(file).size(), content.size()); // untouched without a save
}

// Saving a damaged file changes the keys of the definition and keeps every other byte.
void TstBadFiles::savingKeepsWhatWasNotUnderstood() {
    const QByteArray before = junk(64 * 1024, false) + "\n[SQL]\nSQL=x\n" + QByteArray(1000, '\0') + "\n";
    const QString file = path(QStringLiteral("keep.pr"));
    QVERIFY(test::writeFile(file, before));
    auto form = start();
    e2e::ModalRecorder quiet;
    TForm1* w = openThroughDialog(*form, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("Saved over junk"));
    form->N6->trigger();
    QCOMPARE(quiet.seen(), QStringList());
    QCOMPARE(w->modificationState(), int(TForm1::StateSaved));

    const QByteArray after = test::readFile(file);
    QVERIFY(after.startsWith(junk(64 * 1024, false) + "\n[SQL]\n"));
    QVERIFY(after.contains(QByteArray(1000, '\0')));
    QVERIFY2(after.contains("Name=Saved over junk"), after.right(400).toPercentEncoding().constData());
    form->N4->trigger();
    QVERIFY(waitFor([&] { return form->editorWindows().isEmpty(); }));

    // And the saved file reads back as it was saved.
    TForm1* again = openThroughDialog(*form, file);
    QVERIFY(again);
    QCOMPARE(again->Edit1->text(), QStringLiteral("Saved over junk"));
    QCOMPARE(again->Edit5->text(), QStringLiteral("x"));
    QCOMPARE(quiet.seen(), QStringList());
}

// Names that stand for no ordinary file, chosen from the recent-files list where any path can stand:
// refused with " File was not found " when they cannot be opened, else opened with the defaults,
// but never waited on.
void TstBadFiles::filesThatAreNoFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("refused");
    QTest::newRow("directory") << "directory" << true;
    QTest::newRow("link to nowhere") << "dangling" << true;
    QTest::newRow("named pipe") << "fifo" << false;
    QTest::newRow("link to an endless device") << "zero" << false;
}

void TstBadFiles::filesThatAreNoFiles() {
    QFETCH(QString, kind);
    QFETCH(bool, refused);
    const QString file = path(QStringLiteral("special-") + kind + QStringLiteral(".pr"));
    if (kind == QLatin1String("directory"))
        QVERIFY(QDir().mkpath(file));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    else if (kind == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));
    else
        QVERIFY(QFile::link(path(QStringLiteral("missing.pr")), file));
    QVERIFY(test::writeFile(settingsFile(), "[MENU]\n1=" + file.toUtf8() + "\n"));

    auto form = start();
    QVERIFY(form->N11->isVisible());
    e2e::ModalRecorder recorder;
    QElapsedTimer clock;
    clock.start();
    form->N11->trigger();
    QVERIFY2(clock.elapsed() < kPatienceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    if (refused) {
        QCOMPARE(recorder.seen(), QStringList{QStringLiteral(" File was not found |") + file});
        QVERIFY(form->editorWindows().isEmpty());
    } else {
        QCOMPARE(recorder.seen(), QStringList());
        QCOMPARE(form->editorWindows().size(), 1);
        QCOMPARE(form->activeEditorWindow()->Edit1->text(), QString());
        QCOMPARE(form->activeEditorWindow()->Edit4->text(), QStringLiteral("1"));
    }
}

// ---- The settings file ----

void TstBadFiles::settingsFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("size"); // invalid: the designed size; empty: the smallest the window can be
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QByteArray>("kept"); // what must still begin the file once the program has closed

    const QStringList none;
    QTest::newRow("binary") << junk(256 * 1024, false) << QSize() << none << junk(256 * 1024, false);
    QTest::newRow("full of NUL bytes")
        << QByteArray(1024 * 1024, '\0') << QSize() << none << QByteArray(1024 * 1024, '\0');
    QTest::newRow("only section headers") << QByteArray("[MainForm]\n[MENU]\n[DIALOG]\n[EXCEL]\n[") << QSize()
                                          << none << QByteArray("[MainForm]\n");
    QTest::newRow("numbers that are none")
        << QByteArray("[MainForm]\nWidth=wide\nHeight=12abc\nLeft=\n") << QSize() << none << QByteArray();
    QTest::newRow("50 MB, keys at the end")
        << filler(kHuge) + "[MainForm]\nWidth=640\nHeight=480\n[MENU]\n1=/r/a.pr\n"
        << QSize(640, 480) << QStringList{QStringLiteral("a.pr")} << filler(kHuge);
    QTest::newRow("last line without a newline")
        << QByteArray("[MENU]\n2=/r/two.pr\n[MainForm]\nWidth=600") << QSize(600, -1)
        << QStringList{QStringLiteral("two.pr")} << QByteArray("[MENU]\n");
    QTest::newRow("values of 100,000 characters")
        << "[MENU]\n1=/" + repeat('p') + "\n[MainForm]\nWidth=" + repeat('9') + "\n"
        << QSize() << QStringList{QString(repeat('p'))} << QByteArray("[MENU]\n");
    QTest::newRow("sizes of nothing") // keep the designed size
        << QByteArray("[MainForm]\nWidth=0\nHeight=-20\nLeft=-5000\nTop=99999\n") << QSize() << none
        << QByteArray();
    QTest::newRow("sizes beyond the screen") // brought down to the screen
        << QByteArray("[MainForm]\nWidth=100000\nHeight=2000000000\n") << QSize(100000, 2000000000) << none
        << QByteArray();
    QTest::newRow("CRLF with a byte-order mark")
        << QByteArray("\xEF\xBB\xBF[MainForm]\r\nWidth=620\r\nHeight=410\r\n[MENU]\r\n1=/r/b.pr\r\n2=\r\n"
                      "3=/r/c.pr\r\n")
        << QSize(620, 410) << QStringList{QStringLiteral("b.pr"), QStringLiteral("c.pr")}
        << QByteArray("\xEF\xBB\xBF[MainForm]\r\n");
}

void TstBadFiles::settingsFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QSize, size);
    QFETCH(QStringList, recent);
    QFETCH(QByteArray, kept);
    QVERIFY(test::writeFile(settingsFile(), content));
    QSize expected(size.width() > 0 ? size.width() : m_designedSize.width(),
                   size.height() > 0 ? size.height() : m_designedSize.height());

    e2e::ModalRecorder quiet;
    QElapsedTimer clock;
    clock.start();
    auto form = start();
    QVERIFY2(clock.elapsed() < kPatienceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    expected = expected.boundedTo(form->screen()->availableVirtualGeometry().size());
    QCOMPARE(form->size(), expected);
    QCOMPARE(visibleRecentCaptions(*form), recent);
    QCOMPARE(form->NLine->isVisible(), !recent.isEmpty());

    // The program works on, and its close writes its keys without losing what else was there.
    form->N2->trigger();
    QCOMPARE(form->editorWindows().size(), 1);
    form->activeEditorWindow()->setModificationState(TForm1::StateSaved); // nothing to ask about
    QVERIFY(form->close());
    QCOMPARE(quiet.seen(), QStringList());
    form.reset();
    const QByteArray after = test::readFile(settingsFile());
    QVERIFY(after.startsWith(kept));
    const e2e::IniKeys keys = e2e::iniKeys(settingsFile());
    QCOMPARE(keys.value(QStringLiteral("MainForm")).value(QStringLiteral("Width")),
             QString::number(expected.width()));
    QCOMPARE(keys.value(QStringLiteral("MainForm")).value(QStringLiteral("Height")),
             QString::number(expected.height()));

    // The next start reads back what this one wrote.
    auto next = start();
    QCOMPARE(next->size(), expected);
    QCOMPARE(visibleRecentCaptions(*next), recent);
    QCOMPARE(quiet.seen(), QStringList());
}

// ---- The alias configuration ----

void TstBadFiles::aliasConfigurations_data() {
    QTest::addColumn<QString>("kind"); // "file" with the content, or a name that is no ordinary file
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("aliases");
    QTest::addColumn<QString>("pick");
    QTest::addColumn<QStringList>("tables");
    QTest::addColumn<bool>("errorAtStart");

    const QStringList none;
    const QStringList ledgerTables{QStringLiteral("CUSTOMERS"), QStringLiteral("INVOICES")};
    const QByteArray ledger = "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=ledger.sqlite\n";
    const QStringList justLedger{QStringLiteral("LEDGER")};
    QTest::newRow("empty") << "file" << QByteArray() << none << QString() << none << false;
    QTest::newRow("binary") << "file" << junk(256 * 1024, false) << none << QString() << none << false;
    QTest::newRow("full of NUL bytes")
        << "file" << QByteArray(1024 * 1024, '\0') << none << QString() << none << false;
    QTest::newRow("binary, then an alias") << "file" << junk(256 * 1024, false) + "\n" + ledger << justLedger
                                           << "LEDGER" << ledgerTables << false;
    QTest::newRow("50 MB, the alias at the end")
        << "file" << filler(kHuge) + ledger
        << QStringList{QStringLiteral("LEDGER"), QStringLiteral("OTHER PROGRAM")} << "LEDGER" << ledgerTables
        << false;
    QTest::newRow("last line without a newline")
        << "file" << ledger.chopped(1) << justLedger << "LEDGER" << ledgerTables << false;
    QTest::newRow("only section headers")
        << "file" << QByteArray("[A]\n[B]\n[a]\n[") << QStringList{QStringLiteral("A"), QStringLiteral("B")}
        << "A" << none << false;
    QTest::newRow("CRLF with a byte-order mark")
        << "file" << QByteArray("\xEF\xBB\xBF[LEDGER]\r\nTYPE=SQLITE\r\nDATABASE NAME=ledger.sqlite\r\n")
        << justLedger << "LEDGER" << ledgerTables << false;
    QTest::newRow("database file of junk")
        << "file" << QByteArray("[JUNK]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n")
        << QStringList{QStringLiteral("JUNK")} << "JUNK" << none << false;
    QTest::newRow("directory of 100,000 characters")
        << "file"
        << "[LONG]\nTYPE=STANDARD\nPATH=/" + repeat('p') + "\n"
        << QStringList{QStringLiteral("LONG")} << "LONG" << none << false;
    QTest::newRow("alias name of 100,000 characters")
        << "file"
        << "[" + repeat('A') + "]\nTYPE=STANDARD\nPATH=.\n"
        << QStringList{QString(repeat('A'))} << QString() << none << false;
    QTest::newRow("type of junk") << "file"
                                  << "[ODD]\nTYPE=" + junk(1000, false).replace('\n', ' ') + "\n"
                                  << QStringList{QStringLiteral("ODD")} << "ODD" << none << false;
    QTest::newRow("a directory") << "directory" << QByteArray() << none << QString() << none << true;
    QTest::newRow("a named pipe") << "fifo" << QByteArray() << none << QString() << none << true;
}

void TstBadFiles::aliasConfigurations() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, aliases);
    QFETCH(QString, pick);
    QFETCH(QStringList, tables);
    QFETCH(bool, errorAtStart);

    const QString dir = path(QStringLiteral("aliases-") + QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::copy(path(QStringLiteral("ledger.sqlite")), dir + QStringLiteral("/ledger.sqlite")));
    QVERIFY(test::writeFile(dir + QStringLiteral("/junk.sqlite"), junk(64 * 1024)));
    const QString file = dir + QStringLiteral("/aliases.ini");
    if (kind == QLatin1String("directory"))
        QVERIFY(QDir().mkpath(file));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    else
        QVERIFY(test::writeFile(file, content));
    qputenv("LEDGERWICK_ALIASES", QFile::encodeName(file));
    setEngine(nullptr);

    QStringList seen;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<TMainForm> form;
    {
        e2e::ModalRecorder recorder;
        form = start();
        QVERIFY2(clock.elapsed() < kPatienceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        QCOMPARE(form->aliasList(), aliases);

        form->N2->trigger();
        TForm1* w = form->activeEditorWindow();
        QVERIFY(w);
        QCOMPARE(e2e::listItems(w->ComboBox1), aliases);
        if (!pick.isEmpty()) {
            QTest::mouseClick(w->RB6, Qt::LeftButton, {}, QPoint(6, w->RB6->height() / 2));
            QVERIFY(e2e::pickFromList(w->ComboBox1, pick));
            QVERIFY2(clock.elapsed() < kPatienceMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
            QCOMPARE(e2e::listItems(w->ComboBox2), tables);
            // Back to directory mode: the alias's directory, or the fallback when there is none.
            QTest::mouseClick(w->RB5, Qt::LeftButton, {}, QPoint(6, w->RB5->height() / 2));
            QVERIFY(!w->Label2->text().isEmpty());
        }
        QVERIFY(waitFor([] { return !QApplication::activeModalWidget(); }));
        seen = recorder.seen();
    }
    if (errorAtStart) {
        QCOMPARE(seen.size(), 1);
        QVERIFY2(seen.first().startsWith(QStringLiteral("Ledgerwick|")), qPrintable(seen.first()));
        QVERIFY2(seen.first().contains(file), qPrintable(seen.first()));
    } else {
        QCOMPARE(seen, QStringList());
    }
    test::answerNextMessageDialog(Answer::No);
    QVERIFY(form->close());
}

QTEST_MAIN(TstBadFiles)
#include "tst_badfiles.moc"
