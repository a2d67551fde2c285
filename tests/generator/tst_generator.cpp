// The report generator as a program: every layout from real data into blanks made by xlwt and by our
// writer, read back by xlrd and computed by LibreOffice; the lock, an open report, failures.
#include "report/definition.h"
#include "support/testsupport.h"
#include "workbook/xls.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <csignal>

using namespace lw;

namespace {

constexpr int SalesRecords = 50;
constexpr int BigRecords = 70000;
const QString LongNote = QString(40000, u'x');

QString sourceDir() { return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR"); }
QString binaryDir() { return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR"); }

struct Run {
    int exit = -1;
    QString out;
    QString err;
};

// One record of the SALES table as the test made it.
struct Sale {
    int id;
    QString name;
    QDate day;
    double amount;
    int qty;
    bool paid;
    QString note; // empty: null
    qint64 big;
};

Sale sale(int i) {
    Sale s{i, QStringLiteral("Client %1").arg(i), QDate(1999, 1, 1).addDays(i), i * 10.25, i, i % 2 == 0,
           i % 7 == 0 ? QString() : QStringLiteral("note %1").arg(i), i};
    if (i == 5)
        s.note = LongNote;
    if (i == 3)
        s.big = (qint64(1) << 53) + 3; // no double holds it
    return s;
}

QJsonArray cell(int r, int c, const QJsonValue& v, const QJsonObject& style = {}) {
    QJsonArray a{r, c, v};
    if (!style.isEmpty())
        a.append(style);
    return a;
}
QJsonObject formula(const QString& f) { return QJsonObject{{"f", f}}; }
const QJsonObject Bold{{"bold", true}};
const QJsonObject Money{{"fmt", "0.00"}};

// The cells of a dumped sheet by "row,column": [row, column, kind, value, format, font, bold].
QHash<QString, QJsonArray> cellsOf(const QJsonObject& sheet) {
    QHash<QString, QJsonArray> cells;
    for (const QJsonValue& v : sheet["cells"].toArray())
        cells.insert(QStringLiteral("%1,%2").arg(v[0].toInt()).arg(v[1].toInt()), v.toArray());
    return cells;
}
QJsonArray at(const QHash<QString, QJsonArray>& cells, int r, int c) {
    return cells.value(QStringLiteral("%1,%2").arg(r).arg(c));
}
bool hasMerged(const QJsonObject& sheet, int r1, int r2, int c1, int c2) {
    return sheet["merged"].toArray().contains(QJsonArray{r1, r2, c1, c2});
}

// The demo table ORDERS.DBF as its text copy holds it: ORDERNO, CUSTNO, ORDERED, AMOUNT, PAID.
QList<QVariantList> demoOrders() {
    QList<QVariantList> orders;
    for (const QByteArray& line : test::readFile(sourceDir() + "/demo/tables/ORDERS.DBF.csv").split('\n').mid(2)) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() == 5)
            orders << QVariantList{f[0].toInt(), f[1].toInt(),
                                   QDate::fromString(QString::fromLatin1(f[2]), "yyyyMMdd").toString(Qt::ISODate),
                                   f[3].toDouble(), f[4] == "T"};
    }
    return orders;
}

} // namespace

class TstGenerator : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program;
    QStringList m_forLibreOffice; // reports whose values LibreOffice computes at the end

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    QString reportOf(const QString& name) const { return path(name + "_report.xls"); }

    Run run(const QStringList& args, const QStringList& env = {}) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.start(m_program, args);
        Run r;
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // tests/generator/books.py: "blank LAYOUT.json OUT.xls" with xlwt, "dump BOOK.xls" with xlrd.
    QByteArray books(const QStringList& args) {
        QProcess p;
        p.start("/usr/bin/python3", QStringList{sourceDir() + "/tests/generator/books.py"} + args);
        if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning() << p.readAllStandardError();
            return {};
        }
        return p.readAllStandardOutput() + ' '; // never empty: empty means it failed
    }
    bool makeBlank(const QString& file, const QJsonArray& sheets) {
        return test::writeFile(file + ".json", QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson()) &&
               !books({"blank", file + ".json", file}).isEmpty();
    }
    QJsonArray sheetsOf(const QString& book) {
        return QJsonDocument::fromJson(books({"dump", book})).object()["sheets"].toArray();
    }

    // A definition beside its blank (REPORT Excel left empty: the blank is <definition>.xls).
    QString definition(const QString& name, int view, int list, const QString& source, const QString& table,
                       int from = 1, int to = 0, const QString& condition = {}, bool alias = true) {
        ReportDefinition d;
        d.name = name;
        d.view = view;
        d.list = list;
        d.alias = alias;
        d.path = source;
        d.db = table;
        d.from = from;
        d.to = to;
        d.sqlOnOff = !condition.isEmpty();
        d.sql = condition;
        writeDefinition(path(name + ".pr"), d);
        return path(name + ".pr");
    }

    // The columnar blank over SALES: a merged title, a two-row band with a merged note, a footer;
    // formulas that follow the rows as inserting the band's copies into a spreadsheet moves them.
    QJsonArray salesBlank() const {
        const QJsonObject title{{"bold", true}, {"height", 280}, {"font", "Times New Roman"}};
        return QJsonArray{QJsonObject{
            {"name", "Sales"},
            {"cells", QJsonArray{cell(0, 0, "Sales of ${REPORT} on ${DATE}", title), cell(2, 0, "No", Bold),
                                 cell(2, 6, "Note", Bold), cell(3, 0, "${#}"), cell(3, 1, "${NAME}"),
                                 cell(3, 2, "${DAY}"), cell(3, 3, "${amount}", Money), cell(3, 4, "${QTY}"),
                                 cell(3, 5, "${PAID}"), cell(3, 6, "Note: ${NOTE}"), cell(3, 7, formula("D4*E4")),
                                 cell(4, 1, "${NOTE}"), cell(4, 4, "${BIG}"), cell(4, 5, "$${NAME} stays"),
                                 cell(6, 0, "Total of ${#}"), cell(6, 3, formula("SUM(D4:D5)"), Money),
                                 cell(6, 4, formula("SUM(E4:E5)")),
                                 cell(0, 8, formula("J8")),         // header to footer
                                 cell(0, 9, formula("SUM(D4:D5)")), // header total
                                 cell(3, 8, formula("D4/$J$7")),    // band to footer
                                 cell(6, 8, formula("D4")),         // footer to band: the first copy
                                 cell(6, 9, formula("D7")),         // footer to footer
                                 cell(7, 8, formula("J1")),         // footer to header
                                 cell(7, 9, formula("J7*2"))}},
            {"merge", QJsonArray{QJsonArray{0, 0, 0, 4}, QJsonArray{4, 4, 1, 3}}},
            {"widths", QJsonObject{{"1", 6000}, {"6", 9000}}},
            {"heights", QJsonObject{{"0", 500}}},
        }};
    }

    // The form blank, made by our writer: a merged bold title, a date and a "0.00" field, print
    // titles, and a second sheet with print titles of its own.
    bool makeCardBlank(const QString& file) {
        try {
            xls::WorkbookWriter w(file);
            xls::CellFormat bold, money;
            bold.font.bold = true;
            money.numberFormat = "0.00";
            const quint16 b = w.addFormat(bold), m = w.addFormat(money);
            w.beginSheet("Card");
            w.setPrintTitleRows(0, 0);
            w.writeText(0, 0, b, "Card ${#}");
            const char* labels[] = {"Name", "Day", "Amount"};
            for (int r = 1; r <= 3; ++r) {
                w.writeText(r, 0, 15, labels[r - 1]);
                w.writeText(r, 1, r == 3 ? m : 15, QStringLiteral("${%1}").arg(QString(labels[r - 1]).toUpper()));
                if (r == 1) // =Back!A1 with a stale result: the sheet after the report's, whose index moves
                    w.writeFormula(1, 2, 15, xls::Formula(QByteArray("\x5A\x01\x00\x00\x00\x00\xC0", 7)),
                                   xls::Value{xls::ValueType::Text, 0, "stale"});
            }
            w.addMerged({0, 0, 0, 1});
            w.beginSheet("Back");
            w.setPrintTitleRows(0, 1);
            w.writeText(0, 0, 15, "Back");
            w.finish();
            return true;
        } catch (const xls::Error& e) {
            qWarning() << e.what();
            return false;
        }
    }

    // One record of a form block whose first row is base, and the block's merged title.
    void checkCard(const QJsonObject& sheet, int base, int number, const Sale& s) {
        const auto cells = cellsOf(sheet);
        QCOMPARE(at(cells, base, 0)[3].toString(), QStringLiteral("Card %1").arg(number));
        QVERIFY(at(cells, base, 0)[6].toBool());
        QVERIFY(hasMerged(sheet, base, base + 1, 0, 2));
        QCOMPARE(at(cells, base + 1, 1)[3].toString(), s.name);
        QCOMPARE(at(cells, base + 2, 1)[2].toString(), "date");
        QCOMPARE(at(cells, base + 2, 1)[3].toString(), s.day.toString(Qt::ISODate));
        QCOMPARE(at(cells, base + 3, 1)[3].toDouble(), s.amount);
        QCOMPARE(at(cells, base + 3, 1)[4].toString(), "0.00");
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_program = binaryDir() + "/VORTAL1";
        QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));

        // SALES: every kind of value; BIG: enough rows for a second sheet; ORDERS: the demo dBASE table's copy.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path("shop.sqlite"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE SALES (ID INTEGER, NAME TEXT, DAY DATE, AMOUNT REAL, QTY INTEGER, "
                           "PAID BOOLEAN, NOTE TEXT, BIG INTEGER)"));
            QVERIFY(q.exec("CREATE TABLE BIG (N INTEGER, AMOUNT REAL)"));
            QVERIFY(q.exec("CREATE TABLE ORDERS (ORDERNO INTEGER, CUSTNO INTEGER, ORDERED DATE, "
                           "AMOUNT NUMERIC, PAID BOOLEAN)"));
            QVERIFY(db.transaction());
            QVERIFY(q.prepare("INSERT INTO SALES VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
            for (int i = 1; i <= SalesRecords; ++i) {
                const Sale s = sale(i);
                for (const QVariant& v : {QVariant(s.id), QVariant(s.name), QVariant(s.day.toString(Qt::ISODate)),
                                          QVariant(s.amount), QVariant(s.qty), QVariant(s.paid ? 1 : 0),
                                          s.note.isEmpty() ? QVariant() : QVariant(s.note), QVariant(s.big)})
                    q.addBindValue(v);
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            }
            QVERIFY(q.exec(QStringLiteral("INSERT INTO BIG WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                          "FROM c WHERE i < %1) SELECT i, i % 100 + 0.5 FROM c")
                               .arg(BigRecords)));
            QVERIFY(q.prepare("INSERT INTO ORDERS VALUES (?, ?, ?, ?, ?)"));
            QVERIFY(!demoOrders().isEmpty());
            for (const QVariantList& order : demoOrders()) {
                for (const QVariant& v : order)
                    q.addBindValue(v.typeId() == QMetaType::Bool ? QVariant(v.toBool() ? 1 : 0) : v);
                QVERIFY(q.exec());
            }
            QVERIFY(db.commit());
        }
        QSqlDatabase::removeDatabase("setup");
        QVERIFY(test::writeFile(path("aliases.ini"),
                                "[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n\n[PG]\nTYPE=POSTGRESQL\nSERVER NAME=" +
                                    qgetenv("LEDGERWICK_TEST_PG_HOST") + "\nPORT=" + qgetenv("LEDGERWICK_TEST_PG_PORT") +
                                    "\nDATABASE NAME=lw_report_test\nUSER NAME=postgres\n"));
        QVERIFY(makeCardBlank(path("card.xls")));
    }

    // Columnar: values of every type with the blank's formats, the band's merged cells and formulas
    // copied, ${#} ${REPORT} ${DATE}, $${, nulls, long text cut, integers beyond 2^53 as text, looks kept.
    void columnar() {
        QVERIFY(makeBlank(path("sales.xls"), salesBlank()));
        const Run r = run({"--batch", definition("sales", 1, 0, "SHOP", "SALES")});
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.err.contains("cut"), qPrintable(r.err)); // the 40,000-character note
        const QJsonArray sheets = sheetsOf(reportOf("sales"));
        QCOMPARE(sheets.size(), 1);
        const QJsonObject sheet = sheets[0].toObject();
        QCOMPARE(sheet["name"].toString(), "Sales");
        const auto cells = cellsOf(sheet);

        QCOMPARE(at(cells, 0, 0)[3].toString(),
                 QStringLiteral("Sales of sales on %1").arg(QDate::currentDate().toString(Qt::ISODate)));
        QCOMPARE(at(cells, 0, 0)[5].toString(), "Times New Roman");
        QVERIFY(at(cells, 0, 0)[6].toBool());
        QVERIFY(hasMerged(sheet, 0, 1, 0, 5));
        QCOMPARE(sheet["widths"].toObject()["1"].toInt(), 6000);
        QCOMPARE(sheet["heights"].toObject()["0"].toInt(), 500);
        QCOMPARE(at(cells, 2, 6)[3].toString(), "Note");

        for (int i = 1; i <= SalesRecords; ++i) {
            const Sale s = sale(i);
            const int r0 = 3 + 2 * (i - 1);
            QCOMPARE(at(cells, r0, 0)[3].toDouble(), double(i));
            QCOMPARE(at(cells, r0, 1)[3].toString(), s.name);
            QCOMPARE(at(cells, r0, 2)[2].toString(), "date"); // a General cell gets a date format
            QCOMPARE(at(cells, r0, 2)[3].toString(), s.day.toString(Qt::ISODate));
            QCOMPARE(at(cells, r0, 3)[2].toString(), "number");
            QCOMPARE(at(cells, r0, 3)[3].toDouble(), s.amount);
            QCOMPARE(at(cells, r0, 3)[4].toString(), "0.00");
            QCOMPARE(at(cells, r0, 4)[3].toDouble(), double(s.qty));
            QCOMPARE(at(cells, r0, 5)[2].toString(), "bool"); // and a logical a format showing TRUE/FALSE
            QCOMPARE(at(cells, r0, 5)[3].toInt(), int(s.paid));
            QCOMPARE(at(cells, r0, 5)[4].toString(), "\"TRUE\";\"TRUE\";\"FALSE\"");
            QVERIFY(hasMerged(sheet, r0 + 1, r0 + 2, 1, 4));
            QCOMPARE(at(cells, r0 + 1, 5)[3].toString(), "${NAME} stays");
            if (s.note.isEmpty()) {
                QCOMPARE(at(cells, r0, 6)[3].toString(), "Note: ");
                QCOMPARE(at(cells, r0 + 1, 1)[2].toString(), "blank"); // null: empty, its format kept
            } else if (i == 5) {
                QCOMPARE(at(cells, r0 + 1, 1)[3].toString(), LongNote.left(32767));
            } else {
                QCOMPARE(at(cells, r0, 6)[3].toString(), "Note: " + s.note);
                QCOMPARE(at(cells, r0 + 1, 1)[3].toString(), s.note);
            }
            QCOMPARE(at(cells, r0 + 1, 4)[2].toString(), i == 3 ? "text" : "number");
            QCOMPARE(at(cells, r0 + 1, 4)[3].toVariant().toString(), QString::number(s.big));
        }
        QCOMPARE(at(cells, 4 + 2 * SalesRecords, 0)[3].toString(), QStringLiteral("Total of %1").arg(SalesRecords));
        m_forLibreOffice << reportOf("sales");
    }

    // More records than a sheet holds: the report goes on in "Big (2)" after the header rows with
    // their merged cells, --check foresees the same sheets, formulas on the report sheet and on
    // the sheet after it follow the footer and the band onto their sheets.
    void columnarOverSheets() {
        QVERIFY(makeBlank(path("big.xls"),
                          QJsonArray{QJsonObject{{"name", "Big"},
                                                 {"cells", QJsonArray{cell(0, 0, "Big ${REPORT}", Bold),
                                                                      cell(0, 2, formula("B4")),
                                                                      cell(0, 3, formula("Summary!A2")),
                                                                      cell(1, 1, "Amount", Bold), cell(2, 0, "${N}"),
                                                                      cell(2, 1, "${AMOUNT}"), cell(3, 0, "Total"),
                                                                      cell(3, 1, formula("SUM(B3:B3)")),
                                                                      cell(3, 2, formula("B3")),
                                                                      cell(3, 3, formula("SUM(B3:B4)"))}},
                                                 {"merge", QJsonArray{QJsonArray{0, 0, 0, 1}}}},
                                     QJsonObject{{"name", "Summary"},
                                                 {"cells", QJsonArray{cell(0, 0, formula("Big!B4")),
                                                                      cell(1, 0, formula("SUM(Big!B3:B3)")),
                                                                      cell(2, 0, formula("Big!B3")),
                                                                      cell(3, 0, formula("SUM(B3:B3)+SUM(Big!B3:B3)"))}}}}));
        const QString def = definition("big", 1, 0, "SHOP", "BIG");
        const Run check = run({"--check", def});
        QCOMPARE(check.exit, 0);
        QVERIFY2(check.out.contains("Records: 70000") && check.out.contains("Sheets: 3 (2 filled"), qPrintable(check.out));
        QVERIFY(!QFile::exists(reportOf("big")));

        const Run r = run({"--batch", def});
        QCOMPARE(r.exit, 0);
        // What cannot follow the rows is said by name: a range from the band into the footer, now on
        // two sheets; a total over the band beside a range of its own sheet over the same rows.
        QCOMPARE(r.err, "ATTENTION: The formula in Big (2)!D4469 spans the band and the footer, which now lie on "
                        "several sheets: #REF!.\nATTENTION: The formula in Summary!A4 covers the band's first copy "
                        "only, not every copy.\n");
        const QJsonArray sheets = sheetsOf(reportOf("big"));
        QCOMPARE(sheets.size(), 3);
        QCOMPARE(sheets[1].toObject()["name"].toString(), "Big (2)");
        QCOMPARE(sheets[2].toObject()["name"].toString(), "Summary");
        QCOMPARE(sheets[0].toObject()["nrows"].toInt(), 65536);
        const auto c1 = cellsOf(sheets[0].toObject()), c2 = cellsOf(sheets[1].toObject());
        const int perSheet = 65536 - 2;
        QCOMPARE(at(c1, 65535, 0)[3].toDouble(), double(perSheet));
        QCOMPARE(at(c2, 0, 0)[3].toString(), "Big big");
        QCOMPARE(at(c2, 1, 1)[3].toString(), "Amount");
        QVERIFY(hasMerged(sheets[1].toObject(), 0, 1, 0, 2));
        QCOMPARE(at(c2, 2, 0)[3].toDouble(), double(perSheet + 1));
        QCOMPARE(at(c2, 2 + BigRecords - perSheet - 1, 0)[3].toDouble(), double(BigRecords));
        QCOMPARE(at(c2, 2 + BigRecords - perSheet, 0)[3].toString(), "Total");
        m_forLibreOffice << reportOf("big");
    }

    // Forms: one block per record with page breaks between, or one sheet per record named by its
    // number; ${#} counts within the report (records 2 to 4 are 1 to 3); print titles on every
    // report sheet and the other sheet's own, as xlrd reads the built-in Print_Titles names.
    void forms_data() {
        QTest::addColumn<int>("list");
        QTest::newRow("one sheet") << 0;
        QTest::newRow("several sheets") << 1;
    }
    void forms() {
        QFETCH(int, list);
        const QString name = list ? "cards" : "card";
        if (list)
            QVERIFY(QFile::copy(path("card.xls"), path(name + ".xls")));
        QCOMPARE(run({"--batch", definition(name, 0, list, "SHOP", "SALES", 2, 4)}).exit, 0);
        const QJsonArray sheets = sheetsOf(reportOf(name));
        QCOMPARE(sheets.size(), list ? 4 : 2);
        QCOMPARE(sheets.last().toObject()["name"].toString(), "Back");
        QCOMPARE(sheets.last().toObject()["titles"].toArray(), (QJsonArray{0, 1}));
        for (int k = 1; k <= 3; ++k) {
            const QJsonObject sheet = sheets[list ? k - 1 : 0].toObject();
            QCOMPARE(sheet["name"].toString(), list ? QString::number(k) : "Card");
            QCOMPARE(sheet["titles"].toArray(), (QJsonArray{0, 0}));
            checkCard(sheet, list ? 0 : 4 * (k - 1), k, sale(k + 1));
        }
        if (list == 0)
            QCOMPARE(sheets[0].toObject()["breaks"].toArray(), (QJsonArray{4, 8}));
        m_forLibreOffice << reportOf(name);
    }

    // The same report from the demo dBASE table and from its copies in an SQLite alias and in a
    // PostgreSQL alias (on the server scripts/test starts; skipped without it).
    void sameFromEverySource_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("table");
        QTest::newRow("SQLite alias") << "SHOP" << "ORDERS";
        QTest::newRow("PostgreSQL alias") << "PG" << "orders";
    }
    void sameFromEverySource() {
        QFETCH(QString, alias);
        QFETCH(QString, table);
        if (alias == "PG") {
            if (qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST"))
                QSKIP("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set (scripts/test starts one)");
            // A database of this test's own, so that other tests see theirs unchanged.
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "pg");
            db.setHostName(qEnvironmentVariable("LEDGERWICK_TEST_PG_HOST"));
            db.setPort(qEnvironmentVariableIntValue("LEDGERWICK_TEST_PG_PORT"));
            db.setUserName("postgres");
            db.setDatabaseName("postgres");
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery(db).exec("DROP DATABASE IF EXISTS lw_report_test");
            QVERIFY(QSqlQuery(db).exec("CREATE DATABASE lw_report_test ENCODING 'UTF8' TEMPLATE template0"));
            db.close();
            db.setDatabaseName("lw_report_test");
            QVERIFY(db.open());
            QSqlQuery q(db); // finished before the connection closes
            QVERIFY(q.exec("CREATE TABLE orders (orderno integer, custno integer, ordered date, amount numeric(12,2), "
                           "paid boolean)"));
            QVERIFY(q.prepare("INSERT INTO orders VALUES (?, ?, ?, ?, ?)"));
            for (const QVariantList& order : demoOrders()) {
                for (const QVariant& v : order)
                    q.addBindValue(v);
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            }
            q = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase("pg");
        const QJsonArray blank{QJsonObject{
            {"name", "Orders"},
            {"cells", QJsonArray{cell(0, 0, "${ORDERNO}"), cell(0, 1, "${CUSTNO}"), cell(0, 2, "${ORDERED}"),
                                 cell(0, 3, "${AMOUNT}", Money), cell(0, 4, "${PAID}"), cell(1, 0, "Sum"),
                                 cell(1, 3, formula("SUM(D1:D1)"))}}}};
        if (!QFile::exists(reportOf("dbf"))) {
            QVERIFY(makeBlank(path("dbf.xls"), blank));
            const QString dir = binaryDir() + "/demo/tables";
            QCOMPARE(run({"--batch", definition("dbf", 1, 0, dir, "ORDERS.DBF", 1, 0, {}, false)}).exit, 0);
            m_forLibreOffice << reportOf("dbf");
        }
        QVERIFY(makeBlank(path(alias + ".xls"), blank));
        const Run r = run({"--batch", definition(alias, 1, 0, alias, table)});
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        const QJsonValue a = sheetsOf(reportOf("dbf"))[0].toObject()["cells"];
        const QJsonValue b = sheetsOf(reportOf(alias))[0].toObject()["cells"];
        QCOMPARE(a.toArray().size(), 5 * int(demoOrders().size()) + 2);
        QCOMPARE(b, a);
    }

    // What the user is told, and that nothing is written, when the run cannot go on.
    void failures_data() {
        QTest::addColumn<QString>("blankText"); // the blank's one marker cell; empty: no blank; "PK": a zip
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("expected"); // on standard error
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("no blank") << "" << "SHOP" << "" << "MS Excel File was not found: " + path("f0.xls") << 1 << 0;
        QTest::newRow("no markers") << "Hello" << "SHOP" << "" << "No entries in the file: " + path("f1.xls") << 1 << 0;
        QTest::newRow("unknown marker") << "${NAME} ${NOPE}" << "SHOP" << ""
                                        << "Report error: Unknown marker: ${NOPE} (Sheet!A1)" << 1 << 0;
        QTest::newRow("bad condition") << "${NAME}" << "SHOP" << "where NOPE >" << "Report error: " << 1 << 0;
        QTest::newRow("bare condition") << "${NAME}" << "SHOP" << "NOPE = 1" << "NOPE" << 1 << 0;
        QTest::newRow("reversed range") << "${NAME}" << "SHOP" << "" << "No data: From 3 is after To 2" << 3 << 2;
        QTest::newRow("no data") << "${NAME}" << "SHOP" << "where ID < 0" << "No data" << 1 << 0;
        QTest::newRow("no alias") << "${NAME}" << "NOSUCH" << "" << "Alias: " << 1 << 0;
        QTest::newRow("not a workbook") << "PK" << "SHOP" << "" << "Report error: " << 1 << 0;
    }
    void failures() {
        QFETCH(QString, blankText);
        QFETCH(QString, source);
        QFETCH(QString, condition);
        QFETCH(QString, expected);
        QFETCH(int, from);
        QFETCH(int, to);
        static int n = 0;
        const QString name = QStringLiteral("f%1").arg(n++);
        if (blankText == "PK")
            QVERIFY(test::writeFile(path(name + ".xls"), QByteArray("PK\x03\x04", 4) + QByteArray(600, 'z')));
        else if (!blankText.isEmpty())
            QVERIFY(makeBlank(path(name + ".xls"),
                              QJsonArray{QJsonObject{{"name", "Sheet"}, {"cells", QJsonArray{cell(0, 0, blankText)}}}}));
        const Run r = run({"--batch", definition(name, 1, 0, source, "SALES", from, to, condition)});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains(expected), qPrintable(r.err));
        QVERIFY(!QFile::exists(reportOf(name)));
    }

    // A second generator while one runs ends at once with status 2; the lock goes with its holder.
    void secondInstance() {
        QVERIFY(QFile::copy(path("card.xls"), path("second.xls")));
        const QString def = definition("second", 0, 0, "SHOP", "SALES", 1, 1);
        const QString lockFile = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/ledgerwick-report.lock";
        const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const Run held = run({"--batch", def});
        ::close(fd);
        QCOMPARE(held.exit, 2);
        QVERIFY2(held.err.contains("VORTAL1.EXE is already started"), qPrintable(held.err));
        QVERIFY(!QFile::exists(reportOf("second")));
        QCOMPARE(run({"--batch", def}).exit, 0);
    }

    // A report open in the spreadsheet program (its lock file beside it): in batch the question
    // counts as NO, with windows NO gives up; the old report stays as it was. Nobody holding it:
    // written without a question, and with "Show prepared report" opened in the spreadsheet
    // program of the settings file, or the notice that it could not be started.
    void withWindows_data() {
        QTest::addColumn<bool>("windows");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("show"); // 0 off, 1 an existing program, 2 a missing one
        QTest::addColumn<QString>("told"); // the notices' log ("caption|text" lines), or standard error in batch
        QTest::addColumn<QString>("answers"); // of the windows
        QTest::addColumn<bool>("looked");     // the report opened in the spreadsheet program
        QTest::newRow("held, batch") << false << true << 0 << "Close MS Excel: %1" << "" << false;
        QTest::newRow("held, NO") << true << true << 0 << " Close MS Excel|%1\n" << "no" << false;
        // Not shown: the last window says where the report is, with Open and Close.
        QTest::newRow("not shown, closed") << true << false << 0 << "win|%1\n" << "no" << false;
        QTest::newRow("not shown, opened from the window") << true << false << 0 << "win|%1\n" << "ok" << true;
        QTest::newRow("not shown, program missing")
            << true << false << 2 << "win|%1\n Excel cannot be lunched|%1\n" << "ok,ok" << false;
        QTest::newRow("shown") << true << false << 1 << "" << "ok,ok" << true;
        QTest::newRow("program missing") << true << false << 3 << " Excel cannot be lunched|%1\n" << "ok,ok" << false;
    }
    void withWindows() {
        QFETCH(bool, windows);
        QFETCH(bool, held);
        QFETCH(int, show);
        QFETCH(QString, told);
        QFETCH(QString, answers);
        QFETCH(bool, looked);
        told.replace("%1", reportOf("win"));
        QFile::copy(path("card.xls"), path("win.xls"));
        const QString def = definition("win", 0, 1, "SHOP", "SALES", 1, 3);
        const QString log = path("win.log"), opened = path("opened.txt"), config = path("config");
        const QString program = path(show >= 2 ? "no-such-program" : "spreadsheet.sh");
        QFile::remove(log);
        QFile::remove(opened);
        QVERIFY(test::writeFile(reportOf("win"), "the old report"));
        QVERIFY(!held || test::writeFile(path(".~lock.win_report.xls#"), ""));
        QVERIFY(test::writeFile(path("spreadsheet.sh"), "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " +
                                                            QFile::encodeName(opened) + "\n"));
        QVERIFY(QFile::setPermissions(path("spreadsheet.sh"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(config + "/Ledgerwick"));
        QVERIFY(test::writeFile(config + "/Ledgerwick/l_wick.ini", "[EXCEL]\nShow=" + QByteArray(show % 2 ? "1" : "0") +
                                                                      "\nProgram=" + QFile::encodeName(program) + "\n"));
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);

        const Run r = windows ? run({def}, {"QT_QPA_PLATFORM=offscreen", "LEDGERWICK_TEST_ANSWERS=" + answers,
                                           "LEDGERWICK_TEST_LOG=" + log, "XDG_CONFIG_HOME=" + config})
                              : run({"--batch", def});
        const QString logged = QString::fromUtf8(test::readFile(log));
        QFile::remove(log);
        QCOMPARE(r.exit, held ? 1 : 0);
        if (windows)
            QCOMPARE(logged, told);
        else
            QVERIFY2(r.err.contains(told), qPrintable(r.err));
        if (held) {
            QCOMPARE(test::readFile(reportOf("win")), QByteArray("the old report"));
            QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
            QVERIFY(QFile::remove(path(".~lock.win_report.xls#")));
            return;
        }
        QCOMPARE(sheetsOf(reportOf("win")).size(), 4);
        if (looked)
            QVERIFY(QTest::qWaitFor([&] { return test::readFile(opened) == QFile::encodeName(reportOf("win")); }, 10000));
        else
            QVERIFY(!QFile::exists(opened));
    }

    // Ended while writing (SIGTERM, as Cancel): the old report stays and no temporary file is left,
    // neither beside it nor in the temporary directory. A band of eight full rows over 70,000
    // records takes seconds to write; the signal comes a moment after the start.
    void endedWhileWriting() {
        QJsonArray cells;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 10; ++c)
                cells.append(cell(r, c, c == 0 ? QJsonValue("${N}") : QJsonValue(QStringLiteral("text %1").arg(c))));
        QVERIFY(makeBlank(path("stop.xls"), QJsonArray{QJsonObject{{"name", "Stop"}, {"cells", cells}}}));
        const QString def = definition("stop", 1, 0, "SHOP", "BIG");
        QVERIFY(test::writeFile(reportOf("stop"), "the old report"));
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        const QString scratch = path("scratch");
        QVERIFY(QDir().mkpath(scratch));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        e.insert("TMPDIR", scratch);
        p.setProcessEnvironment(e);
        p.start(m_program, {"--batch", def});
        QVERIFY(p.waitForStarted());
        const qint64 pid = p.processId();
        QThread::msleep(300);
        QVERIFY(pid > 0); // never signal a whole process group
        ::kill(pid_t(pid), SIGTERM);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(test::readFile(reportOf("stop")), QByteArray("the old report"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        QVERIFY(QDir(scratch).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // Blanks as LibreOffice saves them (Excel 97-2003 from its own filter) fill as well; a comment
    // on a marker cell, which a report cannot carry, is named.
    void blankSavedByLibreOffice() {
        QVERIFY(QDir().mkpath(path("lo")));
        QVERIFY(makeBlank(path("lo/in.xls"), salesBlank()));
        QVERIFY(test::writeFile(
            path("lo/noted.fods"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
            " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"\n"
            " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
            " office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n"
            "<office:body><office:spreadsheet><table:table table:name=\"Noted\"><table:table-row>\n"
            "<table:table-cell office:value-type=\"string\"><text:p>${NAME}</text:p>\n"
            "<office:annotation><dc:creator>ann</dc:creator><text:p>a note</text:p></office:annotation>\n"
            "</table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document>\n"));
        QProcess lo;
        lo.start("soffice", {"-env:UserInstallation=file://" + path("lo-profile"), "--headless", "--convert-to",
                             "xls:MS Excel 97", "--outdir", path("lo/out"), path("lo/in.xls"), path("lo/noted.fods")});
        QVERIFY(lo.waitForFinished(180000));
        QVERIFY(QFile::rename(path("lo/out/in.xls"), path("losaved.xls")));
        QVERIFY(QFile::rename(path("lo/out/noted.xls"), path("noted.xls")));
        const Run withNote = run({"--batch", definition("noted", 1, 0, "SHOP", "SALES", 1, 2)});
        QCOMPARE(withNote.exit, 0);
        // The comment on the band's cell is copied with each copy of the band.
        QVERIFY2(!withNote.err.contains("Not carried"), qPrintable(withNote.err));
        const QJsonObject noted = sheetsOf(reportOf("noted"))[0].toObject();
        QCOMPARE(at(cellsOf(noted), 1, 0)[3].toString(), sale(2).name);
        QCOMPARE(noted["notes"].toArray(), (QJsonArray{QJsonArray{0, 0}, QJsonArray{1, 0}}));

        QCOMPARE(run({"--batch", definition("losaved", 1, 0, "SHOP", "SALES", 1, 10)}).exit, 0);
        const QJsonObject sheet = sheetsOf(reportOf("losaved"))[0].toObject();
        const auto cells = cellsOf(sheet);
        for (int i = 1; i <= 10; ++i) {
            QCOMPARE(at(cells, 3 + 2 * (i - 1), 1)[3].toString(), sale(i).name);
            QCOMPARE(at(cells, 3 + 2 * (i - 1), 3)[3].toDouble(), sale(i).amount);
        }
        QVERIFY(hasMerged(sheet, 0, 1, 0, 5));
        QVERIFY(hasMerged(sheet, 4, 5, 1, 4));
        m_forLibreOffice << reportOf("losaved");
    }

    // LibreOffice opens the reports and computes them (cells as shown): footers equal the sums of
    // what the records hold over every sheet, formulas follow the rows, logicals read TRUE/FALSE.
    void totalsComputedByLibreOffice() {
        QVERIFY(!m_forLibreOffice.isEmpty());
        const QString out = path("csv");
        QProcess lo;
        lo.start("soffice", QStringList{"-env:UserInstallation=file://" + path("lo-profile"), "--headless",
                                        "--convert-to",
                                        "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,true,false,false,-1",
                                        "--outdir", out} +
                                m_forLibreOffice);
        QVERIFY(lo.waitForFinished(300000));
        const auto rows = [&](const QString& file) {
            QList<QStringList> result;
            for (const QByteArray& line : test::readFile(out + "/" + file).split('\n'))
                result << QString::fromUtf8(line).remove('"').split(',');
            return result;
        };
        const auto number = [](const QList<QStringList>& rows, int r, int c) {
            return r < rows.size() && c < rows[r].size() ? rows[r][c].toDouble() : std::nan("");
        };
        // Column E of the band holds QTY and, in its second row, BIG (a text once it passes 2^53).
        double amounts = 0, qty = 0;
        for (int i = 1; i <= SalesRecords; ++i) {
            amounts += sale(i).amount;
            qty += sale(i).qty + (i == 3 ? 0 : sale(i).big);
        }
        const auto sales = rows("sales_report-Sales.csv");
        QCOMPARE(number(sales, 4 + 2 * SalesRecords, 3), amounts);
        QCOMPARE(number(sales, 4 + 2 * SalesRecords, 4), qty);
        QCOMPARE(number(sales, 3 + 2 * 9, 7), sale(10).amount * sale(10).qty); // the band's formula, moved
        for (int i = 1; i <= 10; ++i)
            QCOMPARE(sales[3 + 2 * (i - 1)].value(5), sale(i).paid ? "TRUE" : "FALSE");

        // Formulas following the rows: the footer moved 98 rows down.
        const int footer = 4 + 2 * SalesRecords;
        QCOMPARE(number(sales, 0, 8), 2 * amounts);
        QCOMPARE(number(sales, 0, 9), amounts);
        for (int i = 1; i <= SalesRecords; ++i)
            QVERIFY(std::fabs(number(sales, 3 + 2 * (i - 1), 8) - sale(i).amount / amounts) < 1e-9);
        QCOMPARE(number(sales, footer, 8), sale(1).amount);
        QCOMPARE(number(sales, footer, 9), amounts);
        QCOMPARE(number(sales, footer + 1, 8), amounts);
        QCOMPARE(number(sales, footer + 1, 9), 2 * amounts);

        double big = 0;
        for (int i = 1; i <= BigRecords; ++i)
            big += i % 100 + 0.5;
        const auto big1 = rows("big_report-Big.csv"), big2 = rows("big_report-Big (2).csv");
        const auto summary = rows("big_report-Summary.csv");
        const int bigFooter = 2 + (BigRecords - 65534);
        QCOMPARE(number(big2, bigFooter, 1), big);
        QCOMPARE(number(big2, bigFooter, 2), 1.5); // the band's first copy, on the first sheet
        for (const auto* sheet : {&big1, &big2}) {
            QCOMPARE(number(*sheet, 0, 2), big); // the footer, on the last sheet
            QCOMPARE(number(*sheet, 0, 3), big); // Summary, after the report's sheets
        }
        QCOMPARE(number(summary, 0, 0), big);
        QCOMPARE(number(summary, 1, 0), big);
        QCOMPARE(number(summary, 2, 0), 1.5);

        double orders = 0;
        for (const QVariantList& order : demoOrders())
            orders += order[3].toDouble();
        QCOMPARE(number(rows("dbf_report-Orders.csv"), int(demoOrders().size()), 3), orders);

        // The forms' =Back!A1 on every record's sheet still names the sheet "Back".
        for (const QString& sheet : {"card_report-Card", "cards_report-1", "cards_report-3"})
            QCOMPARE(rows(sheet + ".csv").value(1).value(2), "Back");

        double ten = 0;
        for (int i = 1; i <= 10; ++i)
            ten += sale(i).amount;
        QCOMPARE(number(rows("losaved_report-Sales.csv"), 3 + 2 * 10 + 1, 3), ten);
    }
};

QTEST_GUILESS_MAIN(TstGenerator)
#include "tst_generator.moc"
