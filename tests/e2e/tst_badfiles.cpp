// Bad files against the whole program: damaged, huge or odd report definitions, settings files and
// alias configurations open without a crash or a hang, with what can be read and defaults for the rest.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "data/catalogue.h"
#include "report/mdi1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace lw;
using lw::test::Answer;
using lw::test::waitFor;

// However big or odd the file, a test's work up to here may take no longer than this.
#define VERIFY_IN_TIME()                                                                                     \
    QVERIFY2(m_clock.elapsed() < 30000, qPrintable(QString::number(m_clock.elapsed()) + " ms"))

namespace {

// Just under the largest file the profile store reads.
constexpr qsizetype kHuge = 15 * 1024 * 1024;

// Bytes of every value from a fixed seed; "[" can be left out so that no section can appear.
QByteArray junk(qsizetype size, bool brackets = false) {
    QRandomGenerator random(20240607);
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        const char b = char(random.bounded(256));
        c = b == '[' && !brackets ? '{' : b;
    }
    return bytes;
}

// Bytes of every value but NUL and "[": text of sorts, damaged, with no section of its own.
QByteArray textJunk(qsizetype size) {
    QByteArray bytes = junk(size);
    bytes.replace('\0', '\x01');
    return bytes;
}

// Sections and keys of some other program, up to the given size.
QByteArray filler(qsizetype size) {
    const QByteArray block = "[OTHER PROGRAM]\nKey=" + QByteArray(100, 'v') + "\n; a remark\n";
    return block.repeated((size + block.size() - 1) / block.size());
}

QByteArray repeat(char c) {
    return QByteArray(100000, c);
}

// A name for no ordinary file: a directory, a named pipe or a link to an endless device.
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

} // namespace

class TstBadFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QSize m_designedSize;
    QElapsedTimer m_clock; // from the start of each test
    // What the answered file dialog showed; a member, since an answer may still wait after a test's end.
    test::DialogRecord m_fileDialog;

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    // Opens a file through File, Open and the real file dialog; the window it made, or null.
    TForm1* openThroughDialog(TMainForm& form, const QString& file) {
        const qsizetype before = form.editorWindows().size();
        m_fileDialog = test::DialogRecord();
        test::answerNextFileDialog(file, &m_fileDialog);
        form.N3->trigger();
        const bool made = m_fileDialog.seen && form.editorWindows().size() == before + 1;
        return made ? form.activeEditorWindow() : nullptr;
    }

private slots:
    void init() {
        QFile::remove(test::settingsFilePath());
        m_clock.start();
    }
    void cleanupTestCase() {
        qunsetenv("LEDGERWICK_ALIASES");
        setEngine(nullptr);
    }

    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_tmp.isValid() && QDir().mkpath(path("aliases")));
        // The definition tests run with one SQLite alias whose file is junk.
        QVERIFY(
            test::writeFile(path("good/aliases.ini"), "[LEDGER]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n"));
        QVERIFY(test::writeFile(path("good/junk.sqlite"), junk(4096, true)));
        QVERIFY(test::writeFile(path("aliases/junk.sqlite"), junk(64 * 1024, true)));
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
        const QString defaults = "|directory|||rows|one|1|1|no query|";
        QTest::newRow("empty") << QByteArray() << defaults;
        QTest::newRow("only section headers") << QByteArray("[REPORT]\n[SQL]\n[ZARMEK]\n[]\n[") << defaults;
        QTest::newRow("control characters, then keys")
            << textJunk(256 * 1024) + "\n[REPORT]\nName=After junk\nFrom=7\n"
            << "After junk|directory|||rows|one|7|1|no query|";
        QTest::newRow("15 MB, keys at the end")
            << filler(kHuge) + "[REPORT]\nName=At the end\nTo=99\n[SQL]\nOnOff=1\nSQL=AMOUNT > 1\n"
            << "At the end|directory|||rows|one|1|99|query|AMOUNT > 1";
        QTest::newRow("values of 100,000 characters, no last newline")
            << "[REPORT]\nName=" + repeat('N') + "\nFrom=" + repeat('9') +
                   "\n[SQL]\nOnOff=1\nSQL=" + repeat('S')
            << QString(repeat('N') + "|directory|||rows|one|1|1|query|" + repeat('S'));
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
        TForm1* w = openThroughDialog(*form, file);
        QVERIFY(w);
        VERIFY_IN_TIME();
        QCOMPARE(quiet->seen(), QStringList());
        quiet.reset(); // the save question below is answered on purpose
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        QCOMPARE(w->windowTitle(), "bad.pr");
        QCOMPARE(::shown(*w), shown);
        QVERIFY(w->RB5->isChecked() != w->aliasMode() && w->RB1->isChecked() != w->RB2->isChecked());
        QCOMPARE(w->Edit5->isEnabled(), w->CheckBox1->isChecked());

        // The window stays usable: an edit marks it changed, and closing without a save leaves the file.
        w->Edit1->setText("Edited");
        QCOMPARE(w->modificationState(), int(TForm1::StateEdited));
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(w->closeWindow() && waitFor([&] { return form->editorWindows().isEmpty(); }));
        QCOMPARE(test::readFile(file).size(), content.size());
    }

    // A definition past the store's bound (3 GB, sparse) is refused at once with the reason, and no
    // window opens; it is not read.
    void definitionPastTheBound() {
        const QString file = path("past-bound.pr");
        QVERIFY(test::writeFile(file, "[REPORT]\nName=Never read\n"));
        QVERIFY(::truncate(QFile::encodeName(file).constData(), 3LL * 1024 * 1024 * 1024) == 0);
        auto form = test::makeMainForm();
        e2e::ModalRecorder recorder;
        QVERIFY(!openThroughDialog(*form, file));
        VERIFY_IN_TIME();
        QVERIFY(waitFor([&] { return !recorder.seen().isEmpty(); }));
        QCOMPARE(recorder.seen(),
                 QStringList{"Ledgerwick|Unable to read " + file + ": the file is larger than 16 MiB."});
        QVERIFY(form->editorWindows().isEmpty());
    }

    // Files that are no report definition, chosen in File, Open: refused with a message naming the
    // file, no window, the file byte for byte as it was, and not put into the recent-files list.
    void notDefinitions_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("why");
        QTest::newRow("notes") << QByteArray("Shopping: milk, bread.\nCall Ann on Monday.\n")
                               << "it has no [REPORT] section";
        QTest::newRow("one line without any newline") << QByteArray(4 * 1024 * 1024, 'x')
                                                      << "it has no [REPORT] section";
        QTest::newRow("other program's settings") << filler(4096) << "it has no [REPORT] section";
        QTest::newRow("workbook (compound file)")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(4088, '\0') << "it is not a text file";
        QTest::newRow("binary, then keys") << junk(256 * 1024, true) + "\n[REPORT]\nName=After junk\n"
                                           << "it is not a text file";
        QTest::newRow("NUL bytes inside the section")
            << "[REPORT]\nPath=/data/\n" + QByteArray(64, '\0') + "\nDB=ORDERS.DBF\n" << "it is not a text file";
    }
    void notDefinitions() {
        QFETCH(QByteArray, content);
        QFETCH(QString, why);
        const QString file = path("not-a-definition.pr");
        QVERIFY(test::writeFile(file, content));
        auto form = test::makeMainForm();
        e2e::ModalRecorder recorder;
        QVERIFY(!openThroughDialog(*form, file));
        QVERIFY(m_fileDialog.seen);
        VERIFY_IN_TIME();
        QVERIFY(waitFor([&] { return !recorder.seen().isEmpty(); }));
        QCOMPARE(recorder.seen(), QStringList{"Ledgerwick|" + file + " is not a report definition: " + why + "."});
        QVERIFY(form->editorWindows().isEmpty());
        QVERIFY(!form->N11->isVisible());
        // Save and Save as have nothing to write into it.
        form->N6->trigger();
        form->N7->trigger();
        QVERIFY(form->close());
        QVERIFY(test::readFile(file) == content);
        QVERIFY(!test::readFile(test::settingsFilePath()).contains("not-a-definition"));
    }

    // Saving a damaged file changes its keys, keeps every other byte, and reads back as saved.
    void savingKeepsWhatWasNotUnderstood() {
        const QByteArray head = textJunk(64 * 1024) + "\n[REPORT]\n[SQL]\n";
        const QString file = path("keep.pr");
        QVERIFY(test::writeFile(file, head + "SQL=x\n" + QByteArray(1000, '\x7f') + "\n"));
        auto form = test::makeMainForm();
        e2e::ModalRecorder quiet;
        TForm1* w = openThroughDialog(*form, file);
        QVERIFY(w);
        w->Edit1->setText("Saved over junk");
        form->N6->trigger();
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));
        const QByteArray after = test::readFile(file);
        QVERIFY(after.startsWith(textJunk(64 * 1024)) && after.contains(QByteArray(1000, '\x7f')));
        QVERIFY2(after.contains("Name=Saved over junk"), after.right(400).toPercentEncoding().constData());

        form->N4->trigger();
        QVERIFY(waitFor([&] { return form->editorWindows().isEmpty(); }));
        TForm1* again = openThroughDialog(*form, file);
        QVERIFY(again);
        QCOMPARE(again->Edit1->text() + '|' + again->Edit5->text(), "Saved over junk|x");
        QCOMPARE(quiet.seen(), QStringList());
    }

    // Names for no ordinary file, chosen from the recent-files list: refused with " File was not found "
    // when they cannot be opened, else as no report definition, and never waited on.
    void filesThatAreNoFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory") << "directory";
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to an endless device") << "zero";
    }

    void filesThatAreNoFiles() {
        QFETCH(QString, kind);
        const QString file = path("special-" + kind + ".pr");
        QVERIFY(makeSpecial(kind, file));
        QVERIFY(test::writeFile(test::settingsFilePath(), "[MENU]\n1=" + file.toUtf8() + "\n"));
        auto form = test::makeMainForm();
        e2e::ModalRecorder recorder;
        form->N11->trigger();
        VERIFY_IN_TIME();
        QVERIFY(waitFor([&] { return !recorder.seen().isEmpty(); }));
        QCOMPARE(recorder.seen(), kind == "directory"
                                      ? QStringList{" File was not found |" + file}
                                      : QStringList{"Ledgerwick|" + file +
                                                    " is not a report definition: it is not a regular file."});
        QVERIFY(form->editorWindows().isEmpty());
    }

    // A damaged settings file: what can be read is used, the size at most the screen; the close writes
    // the keys without losing what else was there.
    void settingsFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QSize>("size");      // empty: the designed one
        QTest::addColumn<QString>("recent");  // the one entry of the list, if any
        QTest::addColumn<QByteArray>("kept"); // what must still begin the file once the program has closed
        QTest::newRow("15 MB, keys at the end")
            << filler(kHuge) + "[MainForm]\nWidth=640\nHeight=480\n[MENU]\n1=/r/a.pr\n"
            << QSize(640, 480) << "a.pr" << filler(kHuge);
        QTest::newRow("sizes beyond the screen")
            << QByteArray("[MainForm]\nWidth=100000\nHeight=2000000000\n") << QSize(100000, 2000000000) << ""
            << QByteArray();
    }

    void settingsFiles() {
        QFETCH(QByteArray, content);
        QFETCH(QSize, size);
        QFETCH(QString, recent);
        QFETCH(QByteArray, kept);
        QVERIFY(test::writeFile(test::settingsFilePath(), content));
        e2e::ModalRecorder quiet;
        auto form = test::makeMainForm();
        VERIFY_IN_TIME();
        const QSize expected = (size.isEmpty() ? m_designedSize : size)
                                   .boundedTo(form->screen()->availableVirtualGeometry().size());
        QCOMPARE(form->size(), expected);
        QCOMPARE(form->N11->isVisible() ? form->N11->caption() : "", recent);

        QVERIFY(form->close());
        QCOMPARE(quiet.seen(), QStringList());
        form.reset();
        QVERIFY(test::readFile(test::settingsFilePath()).startsWith(kept));
        const auto keys = e2e::iniKeys(test::settingsFilePath()).value("MainForm");
        QCOMPARE(keys.value("Width") + 'x' + keys.value("Height"),
                 QString("%1x%2").arg(expected.width()).arg(expected.height()));
    }

    // Only a configuration that cannot be read at all is reported, once, at start-up.
    void aliasConfigurations_data() {
        QTest::addColumn<QByteArray>("content"); // none: a named pipe
        QTest::addColumn<QString>("alias");      // the one alias listed
        QTest::newRow("binary, then an alias") << junk(256 * 1024) + "\n[LEDGER]\nTYPE=STANDARD\n"
                                               << "LEDGER";
        QTest::newRow("database file of junk")
            << QByteArray("[JUNK]\nTYPE=SQLITE\nDATABASE NAME=junk.sqlite\n") << "JUNK";
        QTest::newRow("a named pipe") << QByteArray() << "";
    }

    void aliasConfigurations() {
        QFETCH(QByteArray, content);
        QFETCH(QString, alias);
        const QString file = path("aliases/" + QString::fromLatin1(QTest::currentDataTag()) + ".ini");
        QVERIFY(content.isEmpty() ? makeSpecial("fifo", file) : test::writeFile(file, content));
        qputenv("LEDGERWICK_ALIASES", QFile::encodeName(file));
        setEngine(nullptr);

        auto recorder = std::make_unique<e2e::ModalRecorder>();
        auto form = test::makeMainForm();
        VERIFY_IN_TIME();
        form->N2->trigger();
        TForm1* w = form->activeEditorWindow();
        QVERIFY(w);
        QCOMPARE(e2e::listItems(w->ComboBox1), alias.isEmpty() ? QStringList() : QStringList{alias});
        if (alias == "JUNK") { // its database cannot be opened: no tables, and no hang
            QTest::mouseClick(w->RB6, Qt::LeftButton, {}, QPoint(6, w->RB6->height() / 2));
            QVERIFY(e2e::pickFromList(w->ComboBox1, alias));
            VERIFY_IN_TIME();
            QCOMPARE(e2e::listItems(w->ComboBox2), QStringList());
        }
        QVERIFY(waitFor([] { return !QApplication::activeModalWidget(); }));
        const QStringList seen = recorder->seen();
        recorder.reset(); // the save question below is answered on purpose
        QCOMPARE(seen.size(), content.isEmpty() ? 1 : 0);
        for (const QString& error : seen)
            QVERIFY2(error.startsWith("Ledgerwick|") && error.contains(file), qPrintable(error));
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(form->close());
    }
};

QTEST_MAIN(TstBadFiles)
#include "tst_badfiles.moc"
