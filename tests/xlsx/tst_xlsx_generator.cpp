// The report generator on .xlsx blanks made by openpyxl and re-saved by LibreOffice, as a user's
// would be: every layout, read back by openpyxl and xlsx2csv and computed by LibreOffice; content
// that does not match the extension refused.
#include "report/definition.h"
#include "support/testsupport.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;

namespace {

constexpr int Records = 70000; // more than an .xls sheet holds

QString sourceDir() { return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR"); }
QString binaryDir() { return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR"); }

QByteArray books(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{sourceDir() + "/tests/xlsx/xlsx_books.py"} + args);
    if (!p.waitForFinished(300000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return {};
    }
    return p.readAllStandardOutput() + ' ';
}

QString soffice(const QString& file, const QString& format, const QString& outDir) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (program.isEmpty())
        return {};
    QProcess p;
    p.start(program, {"-env:UserInstallation=file://" + outDir + "/profile", "--headless", "--norestore",
                      "--convert-to", format, "--outdir", outDir, file});
    p.waitForFinished(300000);
    const QString out = outDir + u'/' + QFileInfo(file).completeBaseName() + u'.' + format;
    return QFileInfo::exists(out) ? out : QString();
}

double amountOf(int i) { return i * 10.25; }

QString columnName(int column) {
    QString name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

// Cells (column, 0-based row) as a short text: rows that follow each other in a column run
// together ("I4:I20 D18").
QString runs(std::vector<std::pair<int, int>> cells) {
    std::sort(cells.begin(), cells.end());
    QStringList out;
    for (std::size_t i = 0; i < cells.size();) {
        std::size_t j = i;
        while (j + 1 < cells.size() && cells[j + 1].first == cells[i].first && cells[j + 1].second == cells[j].second + 1)
            ++j;
        const QString first = columnName(cells[i].first) + QString::number(cells[i].second + 1);
        out << (j == i ? first : first + u':' + columnName(cells[j].first) + QString::number(cells[j].second + 1));
        i = j + 1;
    }
    return out.join(u' ');
}

// One kind of object of a sheet as openpyxl read it (xlsx_books.py dump), as a short text.
QString objectsOf(const QJsonObject& sheet, const QString& kind) {
    std::vector<std::pair<int, int>> cells;
    if (kind == "images") {
        for (const QJsonValue& v : sheet["images"].toArray())
            cells.emplace_back(v[1].toInt(), v[0].toInt());
        return runs(cells);
    }
    if (kind == "note shapes") {
        for (const QJsonValue& v : sheet["note_shapes"].toArray())
            cells.emplace_back(v[1].toInt(), v[0].toInt());
        return runs(cells);
    }
    if (kind == "comments") {
        for (const QString& cell : sheet["comments"].toObject().keys()) {
            const qsizetype digit = cell.indexOf(QRegularExpression("\\d"));
            int column = 0;
            for (QChar c : cell.left(digit))
                column = column * 26 + (c.unicode() - u'A' + 1);
            cells.emplace_back(column - 1, cell.mid(digit).toInt() - 1);
        }
        return runs(cells);
    }
    QStringList out;
    if (kind == "charts") {
        for (const QJsonValue& c : sheet["charts"].toArray())
            out << columnName(c["col"].toInt()) + QString::number(c["row"].toInt() + 1) + u' ' +
                       c["refs"].toArray().first().toString().remove(u'\'');
    } else {
        for (const QJsonValue& ref : sheet["tables"].toObject())
            out << ref.toString();
    }
    out.sort();
    return out.join(QStringLiteral(", "));
}

} // namespace

class TstXlsxGenerator : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QHash<QString, QJsonArray> m_drawn; // the report sheets of each layout's report with drawings
    bool m_openpyxl = false;
    bool m_soffice = false;
    QJsonObject m_salesCells;         // the columnar report's first sheet as openpyxl reads it
    QList<QStringList> m_salesCsv;    // and as xlsx2csv does

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    // A blank made by openpyxl and, when LibreOffice is there, saved again by it.
    QString blank(const QString& name, bool form) { return blank(name, QString(form ? "form" : "columnar")); }
    QString blank(const QString& name, const QString& mode, bool resave = true) {
        const QString made = path("made/" + name + ".xlsx");
        QDir().mkpath(path("made"));
        if (books({"salesblank", made, mode}).isEmpty())
            return {};
        if (!m_soffice || !resave) {
            QFile::copy(made, path(name + ".xlsx"));
        } else {
            const QString saved = soffice(made, "xlsx", m_tmp.path());
            if (saved.isEmpty())
                return {};
        }
        return path(name + ".xlsx");
    }

    QString definition(const QString& name, const QString& workbook, int view, int list, int to = 0) {
        ReportDefinition d;
        d.name = name;
        d.view = view;
        d.list = list;
        d.alias = true;
        d.path = "SHOP";
        d.db = "SALES";
        d.from = 1;
        d.to = to;
        d.excel = workbook;
        writeDefinition(path(name + ".pr"), d);
        return path(name + ".pr");
    }

    // rows: the rows a report sheet takes before the report goes on in another (empty: all).
    int run(const QString& def, QString* err = nullptr, const QString& rows = {}) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        if (!rows.isEmpty())
            e.insert("LEDGERWICK_TEST_XLSX_ROWS", rows);
        p.setProcessEnvironment(e);
        p.start(binaryDir() + "/VORTAL1", {"--batch", def});
        if (!p.waitForFinished(300000))
            return -1;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    }

    QJsonArray sheetsOf(const QString& book) {
        return QJsonDocument::fromJson(books({"dump", book})).object()["sheets"].toArray();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QProcess p;
        p.start("/usr/bin/python3", {"-c", "import openpyxl"});
        m_openpyxl = p.waitForFinished(30000) && p.exitCode() == 0;
        m_soffice = !QStandardPaths::findExecutable("soffice").isEmpty();
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName(path("shop.sqlite"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE SALES (ID INTEGER, NAME TEXT, DAY DATE, AMOUNT REAL, PAID BOOLEAN, BIG INTEGER)"));
        QVERIFY(db.transaction());
        QVERIFY(q.prepare("INSERT INTO SALES VALUES (?, ?, ?, ?, ?, ?)"));
        for (int i = 1; i <= Records; ++i) {
            q.addBindValue(i);
            q.addBindValue(QStringLiteral("Client %1").arg(i));
            q.addBindValue(QDate(1999, 1, 1).addDays(i % 1000).toString(Qt::ISODate));
            q.addBindValue(amountOf(i));
            q.addBindValue(i % 2);
            q.addBindValue(i == 3 ? (qint64(1) << 53) + 3 : qint64(i));
            QVERIFY(q.exec());
        }
        QVERIFY(db.commit());
        db.close();
        QVERIFY(test::writeFile(path("aliases.ini"), "[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n"));
    }

    // Columnar: 70,000 records on one sheet, typed cells, the total widened, the names, the print
    // area, the validation and the other sheet's reference following the footer.
    void columnar() {
        if (!m_openpyxl)
            QSKIP("python3-openpyxl is not installed");
        const QString b = blank("sales", false);
        QVERIFY(!b.isEmpty());
        QCOMPARE(run(definition("sales", b, 1, 0)), 0);
        const QString report = path("sales_report.xlsx");
        const QJsonArray sheets = sheetsOf(report);
        QCOMPARE(sheets.size(), 2);
        const QJsonObject s = sheets[0].toObject();
        QCOMPARE(s["title"].toString(), "Sales");
        const int last = 3 + Records; // 1-based row of the last copy
        QCOMPARE(s["max_row"].toInt(), last + 2);
        const QJsonObject cells = s["cells"].toObject();
        m_salesCells = cells;
        const auto c = [&](const QString& name) { return cells[name].toArray(); };
        QCOMPARE(c("A1")[1].toString(), "Sales of sales");
        QCOMPARE(c("A4")[1].toInt(), 1);
        QCOMPARE(c("D5")[1].toDouble(), amountOf(2));
        QCOMPARE(c("D5")[2].toString(), "0.00");
        QCOMPARE(c("C4")[0].toString(), "datetime");
        QCOMPARE(c("C4")[2].toString(), "yyyy-mm-dd");
        QCOMPARE(c("E4")[0].toString(), "bool");
        QCOMPARE(c("G6")[1].toString(), "9007199254740995"); // beyond 2^53: text, never rounded
        QCOMPARE(c(QStringLiteral("F%1").arg(last))[1].toString(), QStringLiteral("=D%1*2").arg(last));
        QCOMPARE(c(QStringLiteral("D%1").arg(last + 2))[1].toString(), QStringLiteral("=SUM(D4:D%1)").arg(last));
        QCOMPARE(c(QStringLiteral("E%1").arg(last + 2))[1].toString(), QStringLiteral("=\"D4\"&COUNT(D4:D%1)").arg(last));
        QCOMPARE(c("H1")[1].toString(), QStringLiteral("=D%1").arg(last + 2));
        QVERIFY(c("A1")[3].toBool());
        QCOMPARE(s["merged"].toArray(), QJsonArray{"A1:C1"});
        QCOMPARE(s["validation"].toArray(), QJsonArray{QStringLiteral("D4:D%1").arg(last)});
        QCOMPARE(s["print_area"].toArray().first().toString(), QStringLiteral("$A$1:$G$%1").arg(last + 2));
        QCOMPARE(s["print_titles"].toString().remove('$'), "3:3");
        // The table widened over the copies, the note on the total and the chart below the band
        // moved with the footer, the chart's series over every copy.
        QCOMPARE(s["tables"].toObject()["SalesTable"].toString(), QStringLiteral("A3:G%1").arg(last));
        QCOMPARE(s["comments"].toObject()[QStringLiteral("D%1").arg(last + 2)].toString(), "the total");
        const QJsonObject chart = s["charts"].toArray().first().toObject();
        QCOMPARE(chart["row"].toInt(), 7 + Records - 1);
        QCOMPARE(chart["refs"].toArray().first().toString().remove('\''), QStringLiteral("Sales!$D$4:$D$%1").arg(last));
        const QJsonObject notes = sheets[1].toObject()["cells"].toObject();
        QCOMPARE(notes["B1"].toArray()[1].toString().remove('\''), QStringLiteral("=Sales!D%1").arg(last + 2));

        if (!m_soffice)
            QSKIP("LibreOffice (soffice) is not installed");
        const QString csv = soffice(report, "csv", path("csv"));
        QVERIFY(!csv.isEmpty());
        const QList<QByteArray> lines = test::readFile(csv).split('\n');
        double sum = 0;
        for (int i = 1; i <= Records; ++i)
            sum += amountOf(i);
        QCOMPARE(lines.value(last + 1).split(',').value(3).toDouble(), sum);
        QCOMPARE(lines.value(3).split(',').value(5).toDouble(), 2 * amountOf(1));
    }

    // A third reader: what xlsx2csv (Debian's) reads from the columnar report's cells is what
    // openpyxl reads, value for value.
    void thirdReader_data() {
        QTest::addColumn<QString>("cell");
        QTest::newRow("title text") << "A1";
        QTest::newRow("record number") << "A4";
        QTest::newRow("text field") << "B5";
        QTest::newRow("date") << "C4";
        QTest::newRow("decimal") << "D5";
        QTest::newRow("boolean") << "E5";
        QTest::newRow("integer past 2^53, as text") << "G6";
        QTest::newRow("last record's amount") << QStringLiteral("D%1").arg(3 + Records);
    }

    void thirdReader() {
        QFETCH(QString, cell);
        const QString program = QStandardPaths::findExecutable("xlsx2csv");
        if (program.isEmpty())
            QSKIP("xlsx2csv is not installed");
        if (m_salesCells.isEmpty())
            QSKIP("the columnar report was not made (python3-openpyxl is not installed)");
        if (m_salesCsv.isEmpty()) {
            QProcess p;
            p.start(program, {path("sales_report.xlsx")});
            QVERIFY(p.waitForFinished(300000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
                m_salesCsv << QString::fromUtf8(line).split(u',');
        }
        int row = 0, column = 0;
        QVERIFY(xlsx::parseCellName(cell, row, column));
        QString got = m_salesCsv.value(row).value(column);
        if (got.size() >= 2 && got.startsWith(u'"') && got.endsWith(u'"'))
            got = got.mid(1, got.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        const QJsonArray want = m_salesCells[cell].toArray();
        const QString type = want[0].toString();
        if (type == "datetime")
            QCOMPARE(got, want[1].toString().left(10)); // the date format yyyy-mm-dd
        else if (type == "bool")
            QCOMPARE(got.toLower(), want[1].toBool() ? "true" : "false");
        else if (type == "int" || type == "float")
            QCOMPARE(got.toDouble(), want[1].toDouble());
        else
            QCOMPARE(got, want[1].toString());
    }

    void forms_data() {
        QTest::addColumn<int>("list");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("merged");  // on the first report sheet
        QTest::addColumn<QString>("printArea");   // of the first report sheet
        QTest::addColumn<QString>("lastAmount");  // cell of the third record's amount
        QTest::newRow("one sheet") << 0 << QStringList{"Sales", "Notes"} << QStringList{"A15:B15", "A1:B1", "A8:B8"}
                                   << "$A$1:$C$18" << "Sales!B18";
        QTest::newRow("sheet per record") << 1 << QStringList{"1", "2", "3", "Notes"} << QStringList{"A1:B1"}
                                          << "$A$1:$C$4" << "3!B4";
    }

    void forms() {
        QFETCH(int, list);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, merged);
        QFETCH(QString, printArea);
        QFETCH(QString, lastAmount);
        if (!m_openpyxl)
            QSKIP("python3-openpyxl is not installed");
        const QString name = QStringLiteral("cards%1").arg(list);
        const QString b = blank(name, true);
        QVERIFY(!b.isEmpty());
        QCOMPARE(run(definition(name, b, 0, list, 3)), 0);
        const QJsonArray sheets = sheetsOf(path(name + "_report.xlsx"));
        QStringList got;
        for (const QJsonValue& s : sheets)
            got << s["title"].toString();
        QCOMPARE(got, titles);
        const QJsonObject first = sheets[0].toObject();
        QStringList m;
        for (const QJsonValue& v : first["merged"].toArray())
            m << v.toString();
        QCOMPARE(m, merged);
        QCOMPARE(first["print_area"].toArray().first().toString(), printArea);
        // The table: on a sheet per record each sheet has its own, under a name of its own.
        QStringList tables;
        for (const QJsonValue& sh : sheets)
            for (const QString& t : sh["tables"].toObject().keys())
                tables << t;
        QCOMPARE(tables.size(), 3); // each block or sheet has its own
        QCOMPARE(QSet<QString>(tables.begin(), tables.end()).size(), tables.size());
        QCOMPARE(first["tables"].toObject()["CardTable"].toString(), "A6:B7");
        const QString sheet = lastAmount.section('!', 0, 0), cell = lastAmount.section('!', 1);
        for (const QJsonValue& s : sheets)
            if (s["title"].toString() == sheet)
                QCOMPARE(s["cells"].toObject()[cell].toArray()[1].toDouble(), amountOf(3));
        QCOMPARE(first["cells"].toObject()["A1"].toArray()[1].toString(), "Card 1");
        QCOMPARE(first["cells"].toObject()["C4"].toArray()[1].toString(), "=B4*2");
    }

    // Pictures, charts, notes and tables on every sheet and block, each over its own cells: a
    // columnar report of 30 records on sheets of 20 rows (17 copies, then 13 and the footer, whose
    // chart and note move 12 rows), three forms on one sheet (blocks of 7 rows) and on a sheet
    // each. The blank (saved again by LibreOffice, or as openpyxl wrote it): a picture and a note in
    // the band (the form's block), a chart above it over its amount, a table over the header and the
    // band (the form's own), a note and a chart below.
    void drawn_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QStringList>("expected"); // per report sheet
        // The last of each list: the other sheet, whose chart over the band's amount follows the
        // report sheet's rows as a formula does (over the first sheet's copies).
        QTest::newRow("split: pictures") << "split" << "images" << QStringList{"I4:I20", "I4:I16", ""};
        QTest::newRow("split: charts") << "split" << "charts"
                                       << QStringList{"J1 Sales!$D$4:$D$20",
                                                      "J1 Sales (2)!$D$4:$D$16, J20 Sales (2)!$D$4:$D$16",
                                                      "A3 Sales!$D$4:$D$20"};
        QTest::newRow("split: comments") << "split" << "comments" << QStringList{"B4:B20", "B4:B16 D18", ""};
        QTest::newRow("split: tables") << "split" << "tables" << QStringList{"A3:G20", "A3:G16", ""};
        // The shapes Excel shows notes by (VML), as LibreOffice and as openpyxl write them.
        QTest::newRow("split: note shapes") << "split" << "note shapes" << QStringList{"B4:B20", "B4:B16 D18", ""};
        QTest::newRow("split, openpyxl's blank: note shapes")
            << "split openpyxl" << "note shapes" << QStringList{"B4:B20", "B4:B16 D18", ""};
        QTest::newRow("split, openpyxl's blank: pictures") // anchored at one cell
            << "split openpyxl" << "images" << QStringList{"I4:I20", "I4:I16", ""};
        QTest::newRow("split, openpyxl's blank: charts")
            << "split openpyxl" << "charts"
            << QStringList{"J1 Sales!$D$4:$D$20", "J1 Sales (2)!$D$4:$D$16, J20 Sales (2)!$D$4:$D$16", "A3 Sales!$D$4:$D$20"};
        QTest::newRow("one sheet: pictures") << "one sheet" << "images" << QStringList{"D1 D8 D15", ""};
        QTest::newRow("one sheet: charts") << "one sheet" << "charts"
                                           << QStringList{"D16 Sales!$B$18, D2 Sales!$B$4, D9 Sales!$B$11",
                                                          "A3 Sales!$B$4"};
        QTest::newRow("one sheet: comments") << "one sheet" << "comments" << QStringList{"B4 B11 B18", ""};
        QTest::newRow("one sheet: note shapes") << "one sheet" << "note shapes" << QStringList{"B4 B11 B18", ""};
        QTest::newRow("one sheet: tables") << "one sheet" << "tables" << QStringList{"A13:B14, A20:B21, A6:B7", ""};
        QTest::newRow("sheet per record: pictures") << "sheets" << "images" << QStringList{"D1", "D1", "D1", ""};
        QTest::newRow("sheet per record: charts")
            << "sheets" << "charts" << QStringList{"D2 1!$B$4", "D2 2!$B$4", "D2 3!$B$4", "A3 1!$B$4"};
        QTest::newRow("sheet per record: comments") << "sheets" << "comments" << QStringList{"B4", "B4", "B4", ""};
        QTest::newRow("sheet per record: note shapes") << "sheets" << "note shapes" << QStringList{"B4", "B4", "B4", ""};
        QTest::newRow("sheet per record: tables") << "sheets" << "tables" << QStringList{"A6:B7", "A6:B7", "A6:B7", ""};
    }

    void drawn() {
        QFETCH(QString, layout);
        QFETCH(QString, object);
        QFETCH(QStringList, expected);
        if (!m_openpyxl)
            QSKIP("python3-openpyxl is not installed");
        if (!m_drawn.contains(layout)) {
            const bool form = !layout.startsWith("split");
            const QString name = "drawn_" + QString(layout).replace(' ', '_');
            const QString b = blank(name, QString(form ? "form-drawn" : "columnar-drawn"), !layout.endsWith("openpyxl"));
            QVERIFY(!b.isEmpty());
            QString err;
            QCOMPARE(run(definition(name, b, form ? 0 : 1, layout == "sheets" ? 1 : 0, form ? 3 : 30), &err,
                         form ? QString() : QStringLiteral("20")),
                     0);
            QVERIFY2(!err.contains("first report sheet only") && !err.contains("first form only"), qPrintable(err));
            const QString report = path(name + "_report.xlsx");
            QJsonArray sheets = sheetsOf(report);
            QVERIFY(!sheets.isEmpty());
            QCOMPARE(sheets.last()["title"].toString(), "Notes");
            m_drawn.insert(layout, sheets);
            if (m_soffice) // LibreOffice opens it and prints every sheet
                QVERIFY(!soffice(report, "pdf", path("pdf_" + name)).isEmpty());
        }
        QStringList got;
        QStringList tableNames;
        for (const QJsonValue& sheet : m_drawn.value(layout)) {
            got << objectsOf(sheet.toObject(), object);
            tableNames << sheet["tables"].toObject().keys();
        }
        QCOMPARE(got, expected);
        QCOMPARE(QSet<QString>(tableNames.begin(), tableNames.end()).size(), tableNames.size());
    }

    // Content that is not what the extension says: a clear " Report error", no report.
    void mismatched_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("Excel 97-2003 named .xlsx") << "xls" << "OLE2";
        QTest::newRow("OpenDocument named .xlsx") << "ods" << "OpenDocument";
        QTest::newRow("text named .xlsx") << "text" << "no zip package";
    }

    void mismatched() {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        const QString file = path("wrong_" + kind + ".xlsx");
        if (kind == "xls") {
            xls::WorkbookWriter w(file);
            w.beginSheet("S");
            w.writeText(0, 0, 15, "${NAME}");
            w.endSheet();
            w.finish();
        } else if (kind == "ods") {
            if (!m_openpyxl || !m_soffice)
                QSKIP("python3-openpyxl or LibreOffice is not installed");
            books({"salesblank", path("odsmade.xlsx"), "columnar"});
            const QString ods = soffice(path("odsmade.xlsx"), "ods", path("ods"));
            QVERIFY(QFile::copy(ods, file));
        } else {
            QVERIFY(test::writeFile(file, "NAME\n${NAME}\n"));
        }
        QString err;
        QCOMPARE(run(definition("wrong_" + kind, file, 1, 0), &err), 1);
        QVERIFY2(err.contains("Report error") && err.contains(says), qPrintable(err));
        QVERIFY(!QFileInfo::exists(path("wrong_" + kind + "_report.xlsx")));
    }
};

QTEST_MAIN(TstXlsxGenerator)
#include "tst_xlsx_generator.moc"
