// The user's work kept, through the real main window: definitions in read-only places open and a
// Save that cannot write says so; an edited condition counts as a change; the window does not close
// while the blank builder works and comes back from it as it was.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "e2e/e2esupport.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "tools/sibling.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

#include <unistd.h>

using namespace lw;
using lw::test::DialogRecord;
using lw::test::readFile;
using lw::test::waitFor;
using lw::test::writeFile;

namespace {

const QByteArray kDefinition = "[REPORT]\nExcel=/r/kept.xls\nName=Kept\nAlias=0\nPath=/data/\nDB=ORDERS.DBF\n"
                               "View=1\nList=0\nEXCEL FORM=0\nFrom=1\nTo=10\n[SQL]\nOnOff=1\nSQL=AMOUNT > 5\n"
                               "Select=Select * from ORDERS.DBF\n";

bool setMode(const QString& path, QFile::Permissions mode) {
    return QFile::setPermissions(path, mode);
}

} // namespace

class TstUserWork : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString path(const QString& name) const { return m_tmp.filePath(name); }

    std::unique_ptr<TMainForm> formStartedIn(const QString& start) {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(start); // the start directory is where the program looks for its tools
        auto form = test::makeMainForm();
        QDir::setCurrent(previous);
        return form;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_tmp.isValid());
        QFile::remove(test::settingsFilePath());
        // The stand-in blank builder waits for the "go" file, then posts 1029.
        QVERIFY(QDir().mkpath(path("start")));
        const QString tool = path("start/zarmek.exe");
        QVERIFY(QFile::copy(qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + "/tests/e2e/standin-zarmek.sh", tool));
        QVERIFY(setMode(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("LW_E2E_POST", qgetenv("LEDGERWICK_TEST_BINARY_DIR") + "/ledgerwick-post");
        qputenv("LW_E2E_RECORD", path("zarmek.args").toUtf8());
        qputenv("LW_E2E_GO", path("zarmek.go").toUtf8());
        qputenv("LW_E2E_BOOK", "/r/built.xls");
        qunsetenv("LEDGERWICK_WINDOW");
    }
    void cleanupTestCase() {
        writeFile(path("zarmek.go"), ""); // releases a stand-in still waiting
    }

    // A definition that can be read opens wherever it lies. A Save that cannot write says
    // "Unable to write to <file>", leaves the file as it was and the window with its changes.
    void readOnlyPlaces_data() {
        QTest::addColumn<QString>("place");
        QTest::newRow("read-only file in a read-only folder") << "readonly";
        QTest::newRow("folder replaced by a file after the open") << "replaced";
    }
    void readOnlyPlaces() {
        QFETCH(QString, place);
        const QString dir = path(place);
        const QString file = dir + "/kept.pr";
        QVERIFY(writeFile(file, kDefinition));
        QVERIFY(setMode(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(setMode(dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
        auto form = test::makeMainForm();
        auto recorder = std::make_unique<e2e::ModalRecorder>();
        TForm1* w = loadDocument(*form, file);
        QVERIFY(w);
        QCOMPARE(recorder->seen(), QStringList());
        QCOMPARE(w->Edit5->text(), QString("AMOUNT > 5"));
        QCOMPARE(w->modificationState(), int(TForm1::StateSaved));

        const bool root = ::geteuid() == 0; // permissions do not stop root: only a missing folder does
        if (place == "replaced" || root) {
            QVERIFY(setMode(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(QDir().rename(dir, dir + ".moved") && writeFile(dir, "a file now"));
        }
        w->Edit1->setText("Changed");
        form->N6->trigger();
        QVERIFY(waitFor([&] { return !recorder->seen().isEmpty(); }));
        QCOMPARE(recorder->seen(), QStringList{"Ledgerwick|Unable to write to " + file + "."});
        QCOMPARE(w->modificationState(), int(TForm1::StateEdited));
        QCOMPARE(w->windowTitle(), QString("kept.pr"));
        QCOMPARE(w->Label3->text(), QString("/r/kept.xls"));
        const QString left = QFileInfo(dir).isDir() ? file : dir + ".moved/kept.pr";
        QCOMPARE(readFile(left), kDefinition);
        for (const QString& d : {dir, dir + ".moved"})
            setMode(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        recorder.reset(); // the save question at the close is answered on purpose
        test::answerNextMessageDialog(test::Answer::No);
        QVERIFY(form->close());
    }

    // An edited condition is a change like the others: Generate Report refuses until it is saved,
    // and closing asks whether to save it.
    void editedCondition_data() {
        QTest::addColumn<QString>("condition");
        QTest::newRow("changed") << "AMOUNT > 500";
        QTest::newRow("cleared") << "";
    }
    void editedCondition() {
        QFETCH(QString, condition);
        const QString file = path("condition.pr");
        QVERIFY(writeFile(file, kDefinition));
        auto form = test::makeMainForm();
        TForm1* w = loadDocument(*form, file);
        QVERIFY(w);
        w->Edit5->selectAll();
        QTest::keyClick(w->Edit5, Qt::Key_Delete);
        QTest::keyClicks(w->Edit5, condition);
        QCOMPARE(w->modificationState(), int(TForm1::StateRangeEdited));

        DialogRecord refused;
        test::answerNextMessageDialog(test::Answer::Ok, &refused);
        QTest::mouseClick(form->SB16, Qt::LeftButton);
        QVERIFY(refused.seen);
        QCOMPARE(refused.title + '|' + refused.text, QString(" Save the report |Kept"));

        DialogRecord question;
        test::answerNextMessageDialog(test::Answer::No, &question);
        QVERIFY(form->close());
        QCOMPARE(question.text, QString("<< Kept >>"));
        QCOMPARE(readFile(file), kDefinition);
    }

    // While the blank builder works the main window is minimised and disabled and refuses to close;
    // its end gives the window back maximised, or normal at its own place, as it was.
    void waitingForTheBlankBuilder_data() {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("maximised") << true;
        QTest::newRow("normal, placed by the user") << false;
    }
    void waitingForTheBlankBuilder() {
        QFETCH(bool, maximised);
        QFile::remove(path("zarmek.go"));
        const QString file = path("blank.pr");
        QVERIFY(writeFile(file, kDefinition));
        auto form = formStartedIn(path("start"));
        TForm1* w = loadDocument(*form, file);
        QVERIFY(w);
        const QRect placed(40, 30, 600, 450);
        if (maximised) {
            form->showMaximized();
        } else {
            form->showNormal();
            form->setGeometry(placed);
        }
        QVERIFY(waitFor([&] { return form->isMaximized() == maximised; }));
        const QRect before = form->geometry();

        QTest::mouseClick(form->SB12, Qt::LeftButton);
        QVERIFY(waitFor([&] { return QFileInfo::exists(path("zarmek.args")); }, 10000));
        QVERIFY(form->isMinimized() && !form->isEnabled());
        // The window manager's close button: refused, the window stays as it is.
        QVERIFY(!form->close());
        QVERIFY(form->isMinimized() && !form->isEnabled());
        QVERIFY(form->siblingTools()->isWaitingForBlankBuilder());

        QVERIFY(writeFile(path("zarmek.go"), ""));
        QVERIFY(waitFor([&] { return form->isEnabled(); }, 10000));
        QVERIFY(waitFor([&] { return !form->isMinimized(); }));
        QCOMPARE(form->isMaximized(), maximised);
        if (!maximised)
            QCOMPARE(form->geometry(), before);
        QCOMPARE(w->Label3->text(), QString("/r/built.xls")); // the builder's answer arrived
        QFile::remove(path("zarmek.args"));
        QVERIFY(form->close()); // nothing waits any more: the close goes through
    }
};

QTEST_MAIN(TstUserWork)
#include "tst_userwork.moc"
