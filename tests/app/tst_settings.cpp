// Tests of the settings file "l_wick.ini" and the recent-files list: what a start reads, what a
// close writes, the list's order rules and its File-menu items, and opening through the list.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "platform/profile.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace lw;
using lw::test::DialogRecord;

namespace {

QByteArray menuSection(const QStringList& entries) {
    QByteArray text = "[MENU]\n";
    for (int k = 0; k < entries.size(); ++k)
        text += QByteArray::number(k + 1) + '=' + entries[k].toUtf8() + '\n';
    return text;
}

QStringList recentList(TMainForm& form) {
    const auto& files = form.settings().recentFiles();
    return QStringList(files.begin(), files.end());
}

// The four recent-files items as shown: the caption of each visible one, "" for a hidden one.
QStringList shownItems(const TMainForm& form) {
    QStringList shown;
    for (TMenuItem* item : {form.N11, form.N21, form.N31, form.N41})
        shown.append(item->isVisible() ? item->caption() : QString());
    return shown;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    // A definition file the load step accepts.
    QString writeDefinition(const QString& name) {
        const QString path = m_dir.filePath(name);
        test::writeFile(path, "[REPORT]\nName=" + name.toUtf8() + "\n");
        return path;
    }
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        // Settings go to a throwaway directory even when the program is run outside CTest.
        QStandardPaths::setTestModeEnabled(true);
    }

    void init() {
        QFile::remove(test::settingsFilePath());
        setEngine(std::make_unique<test::StubEngine>(QStringList{"DEMO"}));
        QVERIFY(m_dir.isValid());
    }

    void storedList_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<bool>("separator");
        QTest::newRow("no settings file") << QByteArray() << QStringList(4, QString()) << false;
        QTest::newRow("gap: key 1 empty, key 2 set")
            << menuSection({"", "/r/b.pr"}) << QStringList{"", "b.pr", "", ""} << true;
        QTest::newRow("all four") << menuSection({"/r/a.pr", "/s/b.pr", "c.pr", "/r/d d.pr"})
                                  << QStringList{"a.pr", "b.pr", "c.pr", "d d.pr"} << true;
        QTest::newRow("all empty") << menuSection({"", "", "", ""}) << QStringList(4, QString()) << false;
        QTest::newRow("an ampersand shows as itself")
            << menuSection({"/r/Sales & costs.pr"}) << QStringList{"Sales & costs.pr", "", "", ""} << true;
    }
    // What a start reads: the list with its separator, the directory and the option; without a
    // settings file the designed size, the option unchecked.
    void storedList() {
        QFETCH(QByteArray, stored);
        const bool none = stored.isEmpty();
        QVERIFY(none ||
                test::writeFile(test::settingsFilePath(), "[DIALOG]\nOpen=/r/\n[EXCEL]\nShow=1\n" + stored));
        auto form = test::makeMainForm();
        QTEST(shownItems(*form), "shown");
        QTEST(form->NLine->isVisible(), "separator");
        QCOMPARE(form->lastDialogDirectory(), none ? QString() : QStringLiteral("/r/"));
        QCOMPARE(form->Show->isChecked(), !none);
        QVERIFY(!none || form->centralWidget()->size() == QSize(551, 343));
    }

    void addToRecentFiles_data() {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("five files in turn")
            << QStringList{} << QStringList{"/a/1.pr", "/a/2.pr", "/b/3.pr", "/a/4.pr", "/c/5.pr"}
            << QStringList{"/c/5.pr", "/a/4.pr", "/b/3.pr", "/a/2.pr"}
            << QStringList{"5.pr", "4.pr", "3.pr", "2.pr"};
        QTest::newRow("already third: not moved")
            << QStringList{"/a/1.pr", "/a/2.pr", "/a/3.pr"} << QStringList{"/a/3.pr"}
            << QStringList{"/a/1.pr", "/a/2.pr", "/a/3.pr", ""} << QStringList{"1.pr", "2.pr", "3.pr", ""};
        QTest::newRow("compared exactly, case included")
            << QStringList{"/a/Report.pr"} << QStringList{"/a/report.pr", "/a/Report.pr"}
            << QStringList{"/a/report.pr", "/a/Report.pr", "", ""}
            << QStringList{"report.pr", "Report.pr", "", ""};
        QTest::newRow("gaps move down with the entries")
            << QStringList{"", "/a/2.pr"} << QStringList{"/a/new.pr"}
            << QStringList{"/a/new.pr", "", "/a/2.pr", ""} << QStringList{"new.pr", "", "2.pr", ""};
    }
    void addToRecentFiles() {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, added);
        QVERIFY(test::writeFile(test::settingsFilePath(), menuSection(stored)));
        auto form = test::makeMainForm(false);
        for (const QString& path : added)
            form->addToRecentFiles(path);
        QTEST(recentList(*form), "expected");
        QTEST(shownItems(*form), "shown");
        QVERIFY(form->NLine->isVisible());
    }

    // The close writes bounds, the directory and the list, empty entries included, not the option.
    void closeWritesKeysInOrder() {
        auto form = test::makeMainForm();
        form->resize(600, 420);
        form->move(30, 40);
        form->setLastDialogDirectory(QStringLiteral("/home/u/reports/"));
        form->addToRecentFiles(QStringLiteral("/home/u/reports/b.pr"));
        QVERIFY(form->close());
        QCOMPARE(test::readFile(test::settingsFilePath()),
                 QByteArray("[MainForm]\nWidth=600\nHeight=420\nLeft=30\nTop=40\n"
                            "[DIALOG]\nOpen=/home/u/reports/\n"
                            "[MENU]\n1=/home/u/reports/b.pr\n2=\n3=\n4=\n"));
    }

    void otherProgramsKeysStay() {
        const QByteArray foreign = "; written by another program\n[Other]\nKey=value with  blanks\n";
        QVERIFY(test::writeFile(test::settingsFilePath(), foreign + "[MENU]\n1=/a/1.pr\nExtra=kept\n"));
        auto form = test::makeMainForm();
        QVERIFY(form->close());
        const QByteArray after = test::readFile(test::settingsFilePath());
        QVERIFY2(after.startsWith(foreign), after.constData());
        const Profile stored(settingsFileName());
        QCOMPARE(stored.readString("MENU", "Extra", "-"), QStringLiteral("kept"));
        QCOMPARE(stored.readString("MENU", "1", "-"), QStringLiteral("/a/1.pr"));
    }

    void sameSizeAfterTenStarts_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("no settings file") << QByteArray();
        QTest::newRow("stored size") << QByteArray("[MainForm]\nWidth=613\nHeight=377\nLeft=9\nTop=9\n");
    }
    // What is written is what is applied: the window neither grows nor shrinks from run to run.
    void sameSizeAfterTenStarts() {
        QFETCH(QByteArray, stored);
        if (!stored.isEmpty())
            QVERIFY(test::writeFile(test::settingsFilePath(), stored));
        QSize first;
        for (int run = 0; run < 10; ++run) {
            auto form = test::makeMainForm();
            if (run == 0)
                first = form->size();
            QCOMPARE(form->size(), first);
            QVERIFY(form->close());
            const Profile written(settingsFileName());
            QCOMPARE(QSize(written.readInteger("MainForm", "Width", 0),
                           written.readInteger("MainForm", "Height", 0)),
                     first);
        }
    }

    // A start whose creation failed before the settings were read leaves the stored ones alone.
    void startWithoutEngineWritesNothing() {
        setEngine(std::make_unique<test::StubEngine>(QStringList(), "no engine"));
        const QByteArray stored =
            "[MainForm]\nWidth=700\nHeight=500\n[MENU]\n1=/a/1.pr\n[DIALOG]\nOpen=/a/\n";
        QVERIFY(test::writeFile(test::settingsFilePath(), stored));
        DialogRecord box;
        test::answerNextErrorBox(&box);
        auto form = test::makeMainForm();
        QVERIFY(box.seen);
        QVERIFY(form->close());
        QCOMPARE(test::readFile(test::settingsFilePath()), stored);
    }

    // Opening through the list loads the file and leaves the list as it was; an entry whose file
    // is gone reports " File was not found " and opens nothing.
    void openingThroughTheList() {
        const QString a = writeDefinition(QStringLiteral("a.pr"));
        const QString gone = m_dir.filePath(QStringLiteral("gone.pr"));
        const QString c = writeDefinition(QStringLiteral("c.pr"));
        QVERIFY(test::writeFile(test::settingsFilePath(), menuSection({a, gone, c})));
        auto form = test::makeMainForm();
        DialogRecord message;
        test::answerNextMessageDialog(test::Answer::Ok, &message);
        form->N21->trigger();
        QCOMPARE(message.title, QStringLiteral(" File was not found "));
        QCOMPARE(message.text, gone);
        QVERIFY(form->editorWindows().isEmpty());
        form->N31->trigger();
        QCOMPARE(form->editorWindows().size(), 1);
        QCOMPARE(form->activeEditorWindow()->definitionPath(), c);
        QCOMPARE(recentList(*form), (QStringList{a, gone, c, ""}));
        QVERIFY(form->N12->isEnabled() && form->N16->isEnabled()); // as after any load
    }

    // Open starts in the last dialog directory and leaves its own choice there for Save as, which
    // adds the file it writes to the list.
    void openAndSaveAsShareTheDirectory() {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("out")));
        const QString report = writeDefinition(QStringLiteral("in/r.pr"));
        QVERIFY(test::writeFile(test::settingsFilePath(),
                                "[DIALOG]\nOpen=" + m_dir.filePath("in/").toUtf8() + "\n"));
        auto form = test::makeMainForm();
        test::answerNextFileDialog(report);
        form->N3->trigger();
        QCOMPARE(QDir(form->OpenDialog1->directory()).absolutePath(), m_dir.filePath(QStringLiteral("in")));
        QCOMPARE(recentList(*form).first(), report);
        QCOMPARE(form->editorWindows().size(), 1);

        test::answerNextFileDialog(m_dir.filePath(QStringLiteral("out/copy")));
        form->N7->trigger();
        const QString copy = m_dir.filePath(QStringLiteral("out/copy.pr"));
        QVERIFY(QFile::exists(copy));
        // It started where Open left off; the name typed took it elsewhere.
        QCOMPARE(QDir(form->SaveDialog1->directory()).absolutePath(), m_dir.filePath(QStringLiteral("in")));
        QCOMPARE(form->lastDialogDirectory(), m_dir.filePath(QStringLiteral("out/")));
        QCOMPARE(recentList(*form), (QStringList{copy, report, "", ""}));
        QCOMPARE(shownItems(*form), (QStringList{"copy.pr", "r.pr", "", ""}));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
