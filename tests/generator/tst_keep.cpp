// The report keeps what a user arranged around the band of a blank made the way a user makes one
// (openpyxl as .xlsx, saved as Excel 97-2003 by LibreOffice), read back by programs we did not write:
// LibreOffice converts the report to .xlsx, openpyxl reads it, xlrd reads the stored results.
#include "support/testsupport.h"
#include "workbook/xls.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace lw;

namespace {

constexpr int Records = 10;
double amount(int i) {
    return i * 10.25 - 30;
}

QString sourceDir() {
    return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR");
}
QString binaryDir() {
    return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR");
}

// The layouts, by the definition's View and List.
struct LayoutCase {
    const char* name;
    int view;
    int list;
};
const LayoutCase Layouts[] = {{"columnar", 1, 0}, {"form", 0, 0}, {"sheets", 0, 1}};

// Runs a program; its standard output, or nothing with a warning when it failed.
QByteArray runProgram(const QString& program, const QStringList& args, QString* err = nullptr,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << program << args << p.readAllStandardError();
        return {};
    }
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.readAllStandardOutput() + ' ';
}

// The value at a path of keys and indices ("sheets/0/cf") as compact JSON.
QString valueAt(const QJsonValue& root, const QString& path) {
    QJsonValue v = root;
    for (const QString& key : path.split(u'/')) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        if (key == QLatin1String("count"))
            return QString::number(v.toArray().size());
        v = isIndex ? v.toArray().at(index) : v.toObject().value(key);
    }
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    return v.toVariant().toString();
}

} // namespace

class TstKeep : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_skip;
    QHash<QString, QJsonObject> m_read; // layout -> what LibreOffice and openpyxl read
    QHash<QString, QJsonObject> m_xlrd; // layout -> what xlrd reads
    QHash<QString, QString> m_err;      // layout -> the generator's notices
    QHash<QString, QJsonArray> m_pages; // layout -> per page of the PDF export, whether the logo shows

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    QString helper() const { return sourceDir() + "/tests/generator/lo_blank.py"; }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        if (QStandardPaths::findExecutable("soffice").isEmpty()) {
            m_skip = "LibreOffice (soffice) is not installed";
            return;
        }
        if (runProgram("/usr/bin/python3", {"-c", "import openpyxl, PIL, xlrd"}).isEmpty()) {
            m_skip = "python3-openpyxl, python3-pil or python3-xlrd is not installed";
            return;
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path("shop.sqlite"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE SALES (ID INTEGER, NAME TEXT, AMOUNT REAL)"));
            for (int i = 1; i <= Records; ++i)
                QVERIFY(q.exec(
                    QStringLiteral("INSERT INTO SALES VALUES (%1, 'Client %1', %2)").arg(i).arg(amount(i))));
        }
        QSqlDatabase::removeDatabase("setup");
        QVERIFY(test::writeFile(path("aliases.ini"), "[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n"));
        QVERIFY(!runProgram("/usr/bin/python3", {helper(), "blank", path("blank.xls")}).isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        for (const LayoutCase& l : Layouts) {
            const QString name = l.name;
            QVERIFY(QFile::copy(path("blank.xls"), path(name + ".xls")));
            QVERIFY(test::writeFile(
                path(name + ".pr"),
                QStringLiteral("[REPORT]\nExcel=\nName=%1\nAlias=1\nPath=SHOP\nDB=SALES\nView=%2\n"
                               "List=%3\nFrom=1\nTo=0\n\n[SQL]\nOnOff=0\nSQL=\n")
                    .arg(name)
                    .arg(l.view)
                    .arg(l.list)
                    .toUtf8()));
            QString err;
            QVERIFY(
                !runProgram(binaryDir() + "/VORTAL1", {"--batch", path(name + ".pr")}, &err, env).isEmpty());
            m_err.insert(name, err);
            const QString report = path(name + "_report.xls");
            m_read.insert(
                name,
                QJsonDocument::fromJson(runProgram("/usr/bin/python3", {helper(), "read", report})).object());
            m_xlrd.insert(name, QJsonDocument::fromJson(
                                    runProgram("/usr/bin/python3",
                                               {sourceDir() + "/tests/generator/books.py", "dump", report}))
                                    .object());
            if (!QStandardPaths::findExecutable("pdftoppm").isEmpty())
                m_pages.insert(
                    name, QJsonDocument::fromJson(runProgram("/usr/bin/python3", {helper(), "pages", report}))
                              .array());
            QVERIFY(!m_read[name].isEmpty());
            QVERIFY(!m_xlrd[name].isEmpty());
        }
    }

    // Each thing at its moved, widened or copied place, per layout (band at row 4, 10 records;
    // a form block is rows 1 to 8). Paths lead into what tests/generator/lo_blank.py reads.
    void kept_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const char* layout, const char* path, const char* expected) {
            QTest::newRow(tag) << layout << path << expected;
        };
        // Defined names: a user's name over the band, the print area, the print titles.
        row("name columnar", "columnar", "names/Amounts", "Sales!$C$4:$C$13");
        row("name form", "form", "names/Amounts", "Sales!$C$4:$C$4");
        row("name sheets", "sheets", "names/Amounts", "'1'!$C$4:$C$4");
        row("name in a total columnar", "columnar", "sheets/0/values/F15", "=SUM(Amounts)");
        row("name in a total form", "form", "sheets/0/values/F78", "=SUM(Amounts)");
        row("name in a total sheets", "sheets", "sheets/9/values/F6", "=SUM(Amounts)");
        row("print area columnar", "columnar", "sheets/0/print_area", R"(["$A$1:$E$17"])");
        row("print area form", "form", "sheets/0/print_area", R"(["$A$1:$E$80"])");
        row("print area sheets 1", "sheets", "sheets/0/print_area", R"(["$A$1:$E$8"])");
        row("print area sheets 10", "sheets", "sheets/9/print_area", R"(["$A$1:$E$8"])");
        row("print titles columnar", "columnar", "sheets/0/print_titles", "$3:$3");
        row("print titles sheets 10", "sheets", "sheets/9/print_titles", "$3:$3");
        // Conditional formats, validation, hyperlinks, the autofilter.
        row("cf columnar", "columnar", "sheets/0/cf", R"(["C4:C13"])");
        row("cf form", "form", "sheets/0/cf", R"(["C4 C12 C20 C28 C36 C44 C52 C60 C68 C76"])");
        row("cf sheets", "sheets", "sheets/9/cf", R"(["C4"])");
        row("dv columnar", "columnar", "sheets/0/dv", R"(["B4:B13"])");
        row("dv form", "form", "sheets/0/dv", R"(["B4 B12 B20 B28 B36 B44 B52 B60 B68 B76"])");
        row("dv sheets", "sheets", "sheets/9/dv", R"(["B4"])");
        row("link columnar", "columnar", "sheets/0/links", R"(["A17"])");
        row("link form", "form", "sheets/0/links/9", "A80");
        row("link sheets", "sheets", "sheets/9/links", R"(["A8"])");
        row("filter columnar", "columnar", "sheets/0/filter", "A3:C13");
        row("filter form", "form", "sheets/0/filter", "A3:C4");
        row("filter sheets", "sheets", "sheets/9/filter", "A3:C4");
        // The tab colour, and a hidden sheet after the report's.
        row("tab colour columnar", "columnar", "sheets/0/tab", "FFFF0000");
        row("tab colour sheets 10", "sheets", "sheets/9/tab", "FFFF0000");
        row("hidden columnar", "columnar", "sheets/1/state", "hidden");
        row("hidden form", "form", "sheets/1/state", "hidden");
        row("hidden sheets", "sheets", "sheets/10/state", "hidden");
        // Pictures ([row, column] of their top left corner): a logo at row 1, a picture at row 8.
        row("pictures columnar", "columnar", "sheets/0/images", "[[0,4],[16,4]]");
        row("pictures form", "form", "sheets/0/images/19", "[79,4]");
        row("pictures form count", "form", "sheets/0/images/count", "20");
        row("pictures sheets", "sheets", "sheets/9/images", "[[0,4],[7,4]]");
        // Comments: one in the header, one in the band.
        row("comments columnar", "columnar", "sheets/0/comments",
            R"(["B3","C10","C11","C12","C13","C4","C5","C6","C7","C8","C9"])");
        row("comments form", "form", "sheets/0/comments/count", "20");
        row("comments form last", "form", "sheets/0/comments/19", "C76");
        row("comments sheets", "sheets", "sheets/9/comments", R"(["B3","C4"])");
        // A bar chart above the band over the band's amounts.
        row("chart columnar", "columnar", "sheets/0/charts",
            R"([{"anchor":[1,6],"series":["Sales!$C$4:$C$13"]}])");
        row("chart form 10", "form", "sheets/0/charts/9",
            R"({"anchor":[73,6],"series":["Sales!$C$76:$C$76"]})");
        row("chart sheets 10", "sheets", "sheets/9/charts",
            R"([{"anchor":[1,6],"series":["'10'!$C$4:$C$4"]}])");
    }
    void kept() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, layout);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(valueAt(m_read.value(layout), path), expected);
    }

    // The stored results of the totals below the band, as a reader that does not recalculate sees
    // them: SUM, COUNT and MAX*2+1 of the amounts (a form: of its own record's amount), and on the
    // columnar report SUM of the name over the band.
    void storedTotals_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<int>("row");
        QTest::addColumn<QList<double>>("expected");
        double sum = 0, max = amount(1);
        for (int i = 1; i <= Records; ++i) {
            sum += amount(i);
            max = std::max(max, amount(i));
        }
        QTest::newRow("columnar") << "columnar" << 0 << 14
                                  << QList<double>{sum, double(Records), max * 2 + 1, sum};
        QTest::newRow("form, block 1") << "form" << 0 << 5 << QList<double>{amount(1), 1, amount(1) * 2 + 1};
        QTest::newRow("form, block 10")
            << "form" << 0 << 77 << QList<double>{amount(10), 1, amount(10) * 2 + 1};
        QTest::newRow("sheets, sheet 7")
            << "sheets" << 6 << 5 << QList<double>{amount(7), 1, amount(7) * 2 + 1};
    }
    void storedTotals() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, layout);
        QFETCH(int, sheet);
        QFETCH(int, row);
        QFETCH(QList<double>, expected);
        QList<double> got;
        for (const QJsonValue& c : m_xlrd.value(layout)["sheets"][sheet]["cells"].toArray())
            if (c[0].toInt() == row && c[1].toInt() >= 2 && c[1].toInt() < 2 + expected.size())
                got << c[3].toDouble();
        QCOMPARE(got, expected);
    }

    // Frozen rows, zoom and gridlines of the report sheet on every report sheet; a hidden sheet stays
    // hidden (a blank made by xlwt: LibreOffice's conversion leaves the view settings out).
    void view_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("sheets");
        QTest::addColumn<bool>("hiddenFirst"); // the hidden sheet before the report's
        for (const LayoutCase& l : Layouts)
            QTest::newRow(l.name) << l.name << (l.view == 0 && l.list == 1 ? Records + 1 : 2) << false;
        QTest::newRow("columnar, hidden sheet first") << "columnar" << 2 << true;
    }
    void view() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, layout);
        QFETCH(int, sheets);
        QFETCH(bool, hiddenFirst);
        if (hiddenFirst)
            layout += "-first";
        const QString blank = path("view-" + layout + ".xls");
        const QJsonObject view{{"frozen", 3}, {"grid", false}, {"zoom", 150}};
        const QJsonObject report{{"name", "Sales"},
                                 {"cells", QJsonArray{QJsonArray{0, 0, "Title"}, QJsonArray{3, 0, "${#}"},
                                                      QJsonArray{3, 1, "${NAME}"}}},
                                 {"view", view}};
        const QJsonObject aside{{"name", "Aside"},
                                {"cells", QJsonArray{QJsonArray{0, 0, "x"}}},
                                {"view", QJsonObject{{"hidden", true}}}};
        const QJsonArray layoutJson = hiddenFirst ? QJsonArray{aside, report} : QJsonArray{report, aside};
        QVERIFY(
            test::writeFile(blank + ".json", QJsonDocument(QJsonObject{{"sheets", layoutJson}}).toJson()));
        QVERIFY(!runProgram("/usr/bin/python3",
                            {sourceDir() + "/tests/generator/books.py", "blank", blank + ".json", blank})
                     .isEmpty());
        const LayoutCase* l = std::find_if(std::begin(Layouts), std::end(Layouts), [&](const LayoutCase& c) {
            return layout.startsWith(QLatin1String(c.name));
        });
        QVERIFY(test::writeFile(
            path("view-" + layout + ".pr"),
            QStringLiteral("[REPORT]\nExcel=\nName=v\nAlias=1\nPath=SHOP\nDB=SALES\nView=%1\nList=%2\n"
                           "From=1\nTo=0\n\n[SQL]\nOnOff=0\nSQL=\n")
                .arg(l->view)
                .arg(l->list)
                .toUtf8()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        QVERIFY(
            !runProgram(binaryDir() + "/VORTAL1", {"--batch", path("view-" + layout + ".pr")}, nullptr, env)
                 .isEmpty());
        const QJsonArray got =
            QJsonDocument::fromJson(
                runProgram("/usr/bin/python3", {sourceDir() + "/tests/generator/books.py", "dump",
                                                path("view-" + layout + "_report.xls")}))
                .object()["sheets"]
                .toArray();
        QCOMPARE(got.size(), sheets);
        const int first = hiddenFirst ? 1 : 0, hiddenAt = hiddenFirst ? 0 : sheets - 1;
        for (int i = first; i < first + sheets - 1; ++i) {
            QJsonObject v = got[i]["view"].toObject();
            QCOMPARE(v["frozen"].toInt(), 3);
            QCOMPARE(v["grid"].toBool(), false);
            QCOMPARE(v["zoom"].toInt(), 150);
            QCOMPARE(v["hidden"].toBool(), false);
            QCOMPARE(v["selected"].toBool(), i == first); // the first visible sheet is the one shown
        }
        QCOMPARE(got[hiddenAt]["name"].toString(), "Aside");
        QCOMPARE(got[hiddenAt]["view"]["hidden"].toBool(), true);
        QCOMPARE(got[hiddenAt]["view"]["selected"].toBool(), false);
    }

    // A macro project cannot follow the rows: carried as it is (its storage byte for byte, OBJPROJ
    // and the code name) and named in the one warning and by --check.
    void macroProject() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const QByteArray dir(300, '\x5A'), project("ID=\"{00000000-0000-0000-0000-000000000000}\"\r\n");
        try {
            xls::WorkbookWriter w(path("macro.xls"));
            w.beginSheet("Sales");
            w.writeText(3, 1, 15, "${NAME}");
            const xls::StorageEntry vba{
                "_VBA_PROJECT_CUR",
                true,
                {},
                {{"PROJECT", false, project, {}}, {"VBA", true, {}, {{"dir", false, dir, {}}}}}};
            QByteArray codeName;
            codeName.append(char(12)).append('\0').append('\0').append("ThisWorkbook");
            w.keepMacroProject({xls::Record{0x00D3, {}}, xls::Record{0x01BA, codeName}}, {vba});
            w.finish();
        } catch (const xls::Error& e) {
            QFAIL(e.what());
        }
        QVERIFY(test::writeFile(path("macro.pr"),
                                "[REPORT]\nExcel=\nName=m\nAlias=1\nPath=SHOP\nDB=SALES\nView=1\n"
                                "List=0\nFrom=1\nTo=0\n\n[SQL]\nOnOff=0\nSQL=\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        QString err;
        QVERIFY(!runProgram(binaryDir() + "/VORTAL1", {"--batch", path("macro.pr")}, &err, env).isEmpty());
        QVERIFY2(err.contains("Not carried into the report: a macro project (carried as it is"),
                 qPrintable(err));
        QVERIFY(runProgram(binaryDir() + "/VORTAL1", {"--check", path("macro.pr")}, nullptr, env)
                    .contains("a macro project"));
        const QByteArray streams = runProgram(
            "/usr/bin/python3",
            {"-c",
             "import sys; from xlrd import compdoc; d = compdoc.CompDoc(open(sys.argv[1], 'rb').read()); "
             "print(d.get_named_stream('_VBA_PROJECT_CUR/VBA/dir').hex(), "
             "d.get_named_stream('_VBA_PROJECT_CUR/PROJECT').hex())",
             path("macro_report.xls")});
        QCOMPARE(streams.trimmed(), dir.toHex() + ' ' + project.toHex());
    }

    // LibreOffice's PDF export of the report: the logo's pixels on every page (a form: a page per record).
    void logoOnEveryPage_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("pages");
        QTest::newRow("columnar") << "columnar" << 1;
        QTest::newRow("form") << "form" << Records;
        QTest::newRow("sheets") << "sheets" << Records;
    }
    void logoOnEveryPage() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed");
        QFETCH(QString, layout);
        QFETCH(int, pages);
        QJsonArray expected;
        for (int i = 0; i < pages; ++i)
            expected.append(true);
        QCOMPARE(m_pages.value(layout), expected);
    }

    // A chart on a sheet before the report's, over the band: its series widened over every copy.
    void chartOnSheetBefore() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QVERIFY(!runProgram("/usr/bin/python3", {helper(), "blank", path("before.xls"), "before"}).isEmpty());
        QVERIFY(test::writeFile(path("before.pr"), "[REPORT]\nExcel=\nName=b\nAlias=1\nPath=SHOP\nDB=SALES\nView=1\n"
                                                   "List=0\nFrom=1\nTo=0\n\n[SQL]\nOnOff=0\nSQL=\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        QVERIFY(!runProgram(binaryDir() + "/VORTAL1", {"--batch", path("before.pr")}, nullptr, env).isEmpty());
        const QJsonObject read =
            QJsonDocument::fromJson(runProgram("/usr/bin/python3", {helper(), "read", path("before_report.xls")})).object();
        QCOMPARE(valueAt(read, "sheets/0/name"), "Summary");
        QCOMPARE(valueAt(read, "sheets/0/charts/0/series"), R"(["Sales!$C$4:$C$13"])");
    }

    // Nothing LibreOffice writes into an .xls draws a warning.
    void noWarning_data() {
        QTest::addColumn<QString>("layout");
        for (const LayoutCase& l : Layouts)
            QTest::newRow(l.name) << l.name;
    }
    void noWarning() {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, layout);
        QVERIFY2(!m_err.value(layout).contains("Not carried"), qPrintable(m_err.value(layout)));
    }
};

QTEST_GUILESS_MAIN(TstKeep)
#include "tst_keep.moc"
