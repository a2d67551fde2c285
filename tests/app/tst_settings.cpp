// Tests of the settings file "l_wick.ini" and the recent-files list: what a start reads, what a
// close writes, the list's order rules, and a missing file chosen from the list.
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

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
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

    // What a start reads: the list with a gap kept in place (an ampersand shows as itself), the
    // separator, the directory and the option. An entry whose file is gone reports " File was not
    // found ", opens nothing and stays in the list.
    void storedList() {
        const QString gone = m_dir.filePath(QStringLiteral("Sales & costs.pr"));
        QVERIFY(test::writeFile(test::settingsFilePath(),
                                "[DIALOG]\nOpen=/r/\n[EXCEL]\nShow=1\n" + menuSection({"", gone})));
        auto form = test::makeMainForm();
        QVERIFY(!form->N11->isVisible() && !form->N31->isVisible() && !form->N41->isVisible());
        QVERIFY(form->N21->isVisible() && form->NLine->isVisible() && form->Show->isChecked());
        QCOMPARE(form->N21->caption(), QStringLiteral("Sales & costs.pr"));
        QCOMPARE(form->lastDialogDirectory(), QStringLiteral("/r/"));
        DialogRecord message;
        test::answerNextMessageDialog(test::Answer::Ok, &message);
        form->N21->trigger();
        QCOMPARE(message.title, QStringLiteral(" File was not found "));
        QCOMPARE(message.text, gone);
        QVERIFY(form->editorWindows().isEmpty());
        QCOMPARE(recentList(*form), (QStringList{"", gone, "", ""}));
    }

    void addToRecentFiles_data() {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("five files in turn")
            << QStringList{} << QStringList{"/a/1.pr", "/a/2.pr", "/b/3.pr", "/a/4.pr", "/c/5.pr"}
            << QStringList{"/c/5.pr", "/a/4.pr", "/b/3.pr", "/a/2.pr"};
        QTest::newRow("gaps move down with the entries")
            << QStringList{"", "/a/2.pr"} << QStringList{"/a/new.pr"}
            << QStringList{"/a/new.pr", "", "/a/2.pr", ""};
    }
    void addToRecentFiles() {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, added);
        QVERIFY(test::writeFile(test::settingsFilePath(), menuSection(stored)));
        auto form = test::makeMainForm(false);
        for (const QString& path : added)
            form->addToRecentFiles(path);
        QTEST(recentList(*form), "expected");
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
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
