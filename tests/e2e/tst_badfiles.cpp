// Bad files against the whole program: damaged, huge or odd report definitions, settings files and
// alias configurations open without a crash or a hang, with what can be read and defaults for the rest.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "report/catalogue.h"
#include "report/mdi1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <memory>

using namespace lw;
using lw::test::Answer;
using lw::test::DialogRecord;
using lw::test::waitFor;

// However big or odd the file, opening it may take no longer than this.
#define VERIFY_IN_TIME(clock)                                                                                \
    QVERIFY2((clock).elapsed() < 30000, qPrintable(QString::number((clock).elapsed()) + " ms"))

namespace {

constexpr qsizetype kHuge = 50 * 1024 * 1024;

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
    return QByteArray(100000, c);
}

// Makes a name that stands for no ordinary file: a directory, a named pipe or a link to an endless device.
bool makeSpecial(const QString& kind, const QString& file) {
    if (kind == "directory")
        return QDir().mkpath(file);
    if (kind == "fifo")
        return ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0;
    return QFile::link("/dev/zero", file);
}

// What an editor window shows of a definition, joined by "|": name, path kind, alias or directory,
// table, layout, sheets, range, whether the condition is on, and the condition.
QString shown(const TForm1& w) {
    const bool alias = w.aliasMode();
    QStringList s{w.Edit1->text(), alias ? "alias" : "directory"};
    s << (alias ? w.ComboBox1->currentText() : w.Label2->text())
      << (alias ? w.ComboBox2->currentText() : w.Edit2->text()) << (w.RB2->isChecked() ? "columns" : "rows")
      << (w.RB4->isChecked() ? "several" : "one") << w.Edit3->text() << w.Edit4->text()
      << (w.CheckBox1->isChecked() ? "query" : "no query") << w.Edit5->text();
    return s.join('|');
}
const QString kDefaults = "|directory|||rows|one|1|1|no query|";

QStringList visibleRecentCaptions(const TMainForm& form) {
    QStringList shown;
    for (TMenuItem* item : {form.N11, form.N21, form.N31, form.N41}) {
        if (item->isVisible())
            shown.append(item->caption());
    }
    return shown;
}

} // namespace

class TstBadFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QSize m_designedSize;
    // What the answered file dialog showed; a member, since an answer may still wait after a test's end.
    DialogRecord m_fileDialog;

    QString path(const QString& name) const { return m_tmp.filePath(name); }

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
    void init() { QFile::remove(test::settingsFilePath()); }
    void cleanupTestCase() {
        qunsetenv("LEDGERWICK_ALIASES");
        setEngine(nullptr);
    }

    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_tmp.isValid() && QDir().mkpath(path("aliases")));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path("aliases/ledger.sqlite"));
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE CUSTOMERS (ID INTEGER)") &&
                    q.exec("CREATE TABLE INVOICES (ID INTEGER)"));
        }
        QSqlDatabase::removeDatabase("setup");
        // The definition tests run with one SQLite alias whose file is junk.
        QVERIFY(
            test::writeFile(path("good/aliases.ini"), "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n"));
        QVERIFY(test::writeFile(path("good/junk.sqlite"), junk(4096)));
        QVERIFY(test::writeFile(path("aliases/junk.sqlite"), junk(64 * 1024)));
        QFile::remove(test::settingsFilePath());
        qputenv("LEDGERWICK_ALIASES", path("good/aliases.ini").toUtf8());
        setEngine(nullptr);
        TMainForm form;
        m_designedSize = form.size();
        QCOMPARE(form.aliasList(), QStringList{"LEDGER"});
    }

    void definitionFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QByteArray() << kDefaults;
        QTest::newRow("one line without a newline") << QByteArray(4 * 1024 * 1024, 'x') << kDefaults;
        QTest::newRow("only section headers")
            << QByteArray("[REPORT]\n[SQL]\n[ZARMEK]\n[REPORT]\n[]\n[") << kDefaults;
        QTest::newRow("keys outside any section") << QByteArray("Name=Lost\nAlias=1\nFrom=5\n") << kDefaults;
        QTest::newRow("binary, then keys") << junk(256 * 1024) + "\n[REPORT]\nName=After junk\nFrom=7\n"
                                           << "After junk|directory|||rows|one|7|1|no query|";
        QTest::newRow("full of NUL bytes, also inside the section")
            << QByteArray(1024 * 1024, '\0') + "\n[REPORT]\nPath=/data/\n" + QByteArray(64, '\0') +
                   "\nDB=ORDERS.DBF\nTo=12\n"
            << "|directory|/data/|ORDERS.DBF|rows|one|1|12|no query|";
        QTest::newRow("50 MB, keys at the end")
            << filler(kHuge) + "[REPORT]\nName=At the end\nTo=99\n[SQL]\nOnOff=1\nSQL=AMOUNT > 1\n"
            << "At the end|directory|||rows|one|1|99|query|AMOUNT > 1";
        QTest::newRow("last line without a newline") << QByteArray("[REPORT]\nView=1\nName=Last line")
                                                     << "Last line|directory|||columns|one|1|1|no query|";
        QTest::newRow("values of 100,000 characters")
            << "[REPORT]\nName=" + repeat('N') + "\nPath=/" + repeat('P') + "\nDB=" + repeat('D') +
                   "\nFrom=" + repeat('9') + "\nView=1\n[SQL]\nOnOff=1\nSQL=" + repeat('S') + "\n"
            << QString(repeat('N') + "|directory|/" + repeat('P') + "|" + repeat('D') +
                       "|columns|one|1|1|query|" + repeat('S'));
        QTest::newRow("CRLF with a byte-order mark")
            << QByteArray(
                   "\xEF\xBB\xBF[REPORT]\r\nExcel=/r/crlf.xls\r\nName=Crlf\r\nAlias=1\r\nPath=LEDGER\r\n"
                   "DB=INVOICES\r\nView=1\r\nList=1\r\nFrom=2\r\nTo=20\r\n[SQL]\r\nOnOff=1\r\nSQL=A = 1\r\n")
            << "Crlf|alias|LEDGER|INVOICES|columns|several|2|20|query|A = 1";
    }

    void definitionFiles() {
        QFETCH(QByteArray, content);
        QFETCH(QString, shown);
        const QString file = path("bad.pr");
        QVERIFY(test::writeFile(file, content));
        auto form = test::makeMainForm();
        auto quiet = std::make_unique<e2e::ModalRecorder>();
        QElapsedTimer clock;
        clock.start();
        TForm1* w = openThroughDialog(*form, file);
        QVERIFY(w);
        VERIFY_IN_TIME(clock);
        QCOMPARE(quiet->seen(), QStringList());
        quiet.reset(); // the save question below is answered on purpose

        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        QCOMPARE(w->windowTitle(), "bad.pr");
        QCOMPARE(::shown(*w), shown);
        QVERIFY(w->RB5->isChecked() != w->aliasMode() && w->RB1->isChecked() != w->RB2->isChecked());
        QCOMPARE(w->Edit5->isEnabled(), w->CheckBox1->isChecked());

        // The window stays usable: an edit marks it changed, and it closes when told not to save.
        w->Edit1->setText("Edited");
        QCOMPARE(w->modificationState(), int(TForm1::StateEdited));
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(w->closeWindow());
        QVERIFY(waitFor([&] { return form->editorWindows().isEmpty(); }));
        QCOMPARE(test::readFile(file).size(), content.size()); // untouched without a save
    }

    // Saving a damaged file changes the keys of the definition and keeps every other byte; the saved
    // file reads back as it was saved.
    void savingKeepsWhatWasNotUnderstood() {
        const QByteArray head = junk(64 * 1024, false) + "\n[SQL]\n";
        const QString file = path("keep.pr");
        QVERIFY(test::writeFile(file, head + "SQL=x\n" + QByteArray(1000, '\0') + "\n"));
        auto form = test::makeMainForm();
        e2e::ModalRecorder quiet;
        TForm1* w = openThroughDialog(*form, file);
        QVERIFY(w);
        w->Edit1->setText("Saved over junk");
        form->N6->trigger();
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));

        const QByteArray after = test::readFile(file);
        QVERIFY(after.startsWith(head));
        QVERIFY(after.contains(QByteArray(1000, '\0')));
        QVERIFY2(after.contains("Name=Saved over junk"), after.right(400).toPercentEncoding().constData());
        form->N4->trigger();
        QVERIFY(waitFor([&] { return form->editorWindows().isEmpty(); }));

        TForm1* again = openThroughDialog(*form, file);
        QVERIFY(again);
        QCOMPARE(again->Edit1->text(), "Saved over junk");
        QCOMPARE(again->Edit5->text(), "x");
        QCOMPARE(quiet.seen(), QStringList());
    }

    // Names that stand for no ordinary file, chosen from the recent-files list where any path can stand:
    // refused with " File was not found " when they cannot be opened, else opened with the defaults,
    // but never waited on.
    void filesThatAreNoFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("refused");
        QTest::newRow("directory") << "directory" << true;
        QTest::newRow("named pipe") << "fifo" << false;
        QTest::newRow("link to an endless device") << "zero" << false;
    }

    void filesThatAreNoFiles() {
        QFETCH(QString, kind);
        QFETCH(bool, refused);
        const QString file = path("special-" + kind + ".pr");
        QVERIFY(makeSpecial(kind, file));
        QVERIFY(test::writeFile(test::settingsFilePath(), "[MENU]\n1=" + file.toUtf8() + "\n"));

        auto form = test::makeMainForm();
        QVERIFY(form->N11->isVisible());
        e2e::ModalRecorder recorder;
        QElapsedTimer clock;
        clock.start();
        form->N11->trigger();
        VERIFY_IN_TIME(clock);
        if (refused) {
            QCOMPARE(recorder.seen(), QStringList{" File was not found |" + file});
            QVERIFY(form->editorWindows().isEmpty());
        } else {
            QCOMPARE(recorder.seen(), QStringList());
            QCOMPARE(form->editorWindows().size(), 1);
            QCOMPARE(shown(*form->activeEditorWindow()), kDefaults);
        }
    }

    void settingsFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QSize>("size"); // a side of 0 or less: the designed one; all: at most the screen
        QTest::addColumn<QStringList>("recent");
        QTest::addColumn<QByteArray>("kept"); // what must still begin the file once the program has closed

        const QStringList none;
        QTest::newRow("binary") << junk(256 * 1024, false) << QSize() << none << junk(256 * 1024, false);
        QTest::newRow("50 MB, keys at the end")
            << filler(kHuge) + "[MainForm]\nWidth=640\nHeight=480\n[MENU]\n1=/r/a.pr\n"
            << QSize(640, 480) << QStringList{"a.pr"} << filler(kHuge);
        QTest::newRow("last line without a newline")
            << QByteArray("[MENU]\n2=/r/two.pr\n[MainForm]\nWidth=600") << QSize(600, -1)
            << QStringList{"two.pr"} << QByteArray("[MENU]\n");
        QTest::newRow("values of 100,000 characters")
            << "[MENU]\n1=/" + repeat('p') + "\n[MainForm]\nWidth=" + repeat('9') + "\n"
            << QSize() << QStringList{QString(repeat('p'))} << QByteArray("[MENU]\n");
        QTest::newRow("sizes of nothing or no numbers")
            << QByteArray("[MainForm]\nWidth=wide\nHeight=-20\nLeft=-5000\nTop=99999\n") << QSize() << none
            << QByteArray();
        QTest::newRow("sizes beyond the screen")
            << QByteArray("[MainForm]\nWidth=100000\nHeight=2000000000\n") << QSize(100000, 2000000000)
            << none << QByteArray();
        QTest::newRow("CRLF with a byte-order mark")
            << QByteArray("\xEF\xBB\xBF[MainForm]\r\nWidth=620\r\nHeight=410\r\n[MENU]\r\n1=/r/b.pr\r\n2=\r\n"
                          "3=/r/c.pr\r\n")
            << QSize(620, 410) << QStringList{"b.pr", "c.pr"} << QByteArray("\xEF\xBB\xBF[MainForm]\r\n");
    }

    void settingsFiles() {
        QFETCH(QByteArray, content);
        QFETCH(QSize, size);
        QFETCH(QStringList, recent);
        QFETCH(QByteArray, kept);
        QVERIFY(test::writeFile(test::settingsFilePath(), content));
        QSize expected(size.width() > 0 ? size.width() : m_designedSize.width(),
                       size.height() > 0 ? size.height() : m_designedSize.height());

        e2e::ModalRecorder quiet;
        QElapsedTimer clock;
        clock.start();
        auto form = test::makeMainForm();
        VERIFY_IN_TIME(clock);
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
        QVERIFY(test::readFile(test::settingsFilePath()).startsWith(kept));
        const e2e::IniKeys keys = e2e::iniKeys(test::settingsFilePath());
        QCOMPARE(keys.value("MainForm").value("Width"), QString::number(expected.width()));
        QCOMPARE(keys.value("MainForm").value("Height"), QString::number(expected.height()));

        // The next start reads back what this one wrote.
        auto next = test::makeMainForm();
        QCOMPARE(next->size(), expected);
        QCOMPARE(visibleRecentCaptions(*next), recent);
        QCOMPARE(quiet.seen(), QStringList());
    }

    void aliasConfigurations_data() {
        QTest::addColumn<QString>("kind"); // "file" with the content, or a name that is no ordinary file
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("aliases");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QStringList>("tables");

        const QStringList none;
        const QStringList tables{"CUSTOMERS", "INVOICES"};
        const QByteArray ledger = "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=ledger.sqlite\n";
        QTest::newRow("empty") << "file" << QByteArray() << none << QString() << none;
        QTest::newRow("binary, then an alias") << "file" << junk(256 * 1024, false) + "\n" + ledger
                                               << QStringList{"LEDGER"} << "LEDGER" << tables;
        QTest::newRow("50 MB, the alias at the end")
            << "file" << filler(kHuge) + ledger << QStringList{"LEDGER", "OTHER PROGRAM"} << "LEDGER"
            << tables;
        QTest::newRow("CRLF with a byte-order mark")
            << "file" << QByteArray("\xEF\xBB\xBF[LEDGER]\r\nTYPE=SQLITE\r\nDATABASE NAME=ledger.sqlite\r\n")
            << QStringList{"LEDGER"} << "LEDGER" << tables;
        QTest::newRow("database file of junk")
            << "file" << QByteArray("[JUNK]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n") << QStringList{"JUNK"}
            << "JUNK" << none;
        QTest::newRow("a directory") << "directory" << QByteArray() << none << QString() << none;
        QTest::newRow("a named pipe") << "fifo" << QByteArray() << none << QString() << none;
    }

    // Only a configuration that cannot be read at all is reported, once, at start-up.
    void aliasConfigurations() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, aliases);
        QFETCH(QString, pick);
        QFETCH(QStringList, tables);

        const QString file = path("aliases/" + QString::fromLatin1(QTest::currentDataTag()) + ".ini");
        QVERIFY(kind == "file" ? test::writeFile(file, content) : makeSpecial(kind, file));
        qputenv("LEDGERWICK_ALIASES", QFile::encodeName(file));
        setEngine(nullptr);

        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<TMainForm> form;
        {
            e2e::ModalRecorder recorder;
            form = test::makeMainForm();
            VERIFY_IN_TIME(clock);
            form->N2->trigger();
            TForm1* w = form->activeEditorWindow();
            QVERIFY(w);
            QCOMPARE(e2e::listItems(w->ComboBox1), aliases);
            if (!pick.isEmpty()) {
                QTest::mouseClick(w->RB6, Qt::LeftButton, {}, QPoint(6, w->RB6->height() / 2));
                QVERIFY(e2e::pickFromList(w->ComboBox1, pick));
                VERIFY_IN_TIME(clock);
                QCOMPARE(e2e::listItems(w->ComboBox2), tables);
                // Back to directory mode: the alias's directory, or the fallback when there is none.
                QTest::mouseClick(w->RB5, Qt::LeftButton, {}, QPoint(6, w->RB5->height() / 2));
                QVERIFY(!w->Label2->text().isEmpty());
            }
            QVERIFY(waitFor([] { return !QApplication::activeModalWidget(); }));
            seen = recorder.seen();
        }
        QCOMPARE(seen.size(), kind == "file" ? 0 : 1);
        for (const QString& error : seen)
            QVERIFY2(error.startsWith("Ledgerwick|") && error.contains(file), qPrintable(error));
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(form->close());
    }
};

QTEST_MAIN(TstBadFiles)
#include "tst_badfiles.moc"
