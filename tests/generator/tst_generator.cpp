// The report generator as a program: every layout from real data into blanks made by xlwt, read back
// by xlrd and computed by LibreOffice; the one-instance lock, an open report, failures and their notices.
#include "report/definition.h"
#include "workbook/xls.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
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

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <csignal>

using namespace lw;

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");
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

// The cells of a dumped sheet by "row,column".
QHash<QString, QJsonArray> cellsOf(const QJsonObject& sheet) {
    QHash<QString, QJsonArray> cells;
    for (const QJsonValue& v : sheet["cells"].toArray()) {
        const QJsonArray c = v.toArray();
        cells.insert(QStringLiteral("%1,%2").arg(c[0].toInt()).arg(c[1].toInt()), c);
    }
    return cells;
}

QJsonArray at(const QHash<QString, QJsonArray>& cells, int r, int c) {
    return cells.value(QStringLiteral("%1,%2").arg(r).arg(c));
}

bool hasMerged(const QJsonObject& sheet, int r1, int r2, int c1, int c2) {
    return sheet["merged"].toArray().contains(QJsonArray{r1, r2, c1, c2});
}

// The records of the demo table ORDERS.DBF as its text copy holds them: ORDERNO, CUSTNO, ORDERED,
// AMOUNT, PAID.
QList<QVariantList> demoOrders() {
    QList<QVariantList> orders;
    QFile csv(sourceDir() + "/demo/tables/ORDERS.DBF.csv");
    if (!csv.open(QIODevice::ReadOnly))
        return orders;
    const QList<QByteArray> lines = csv.readAll().split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].trimmed().split(',');
        if (f.size() == 5)
            orders << QVariantList{f[0].toInt(), f[1].toInt(),
                                   QDate::fromString(QString::fromLatin1(f[2]), "yyyyMMdd").toString(Qt::ISODate),
                                   f[3].toDouble(), f[4] == "T"};
    }
    return orders;
}

bool pgServer() {
    return !qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST") && !qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_DB");
}

} // namespace

class TstGenerator : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program;
    QStringList m_forLibreOffice; // reports whose totals LibreOffice computes at the end

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    Run run(const QStringList& args, const QStringList& env = {}, int timeoutMs = 180000) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.start(m_program, args);
        Run r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            r.err = "timed out";
            return r;
        }
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QString runPython(const QStringList& args, bool* ok) {
        QProcess p;
        p.start(Python, QStringList{sourceDir() + "/tests/generator/books.py"} + args);
        *ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!*ok)
            qWarning() << p.readAllStandardError();
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    bool makeBlank(const QString& file, const QJsonArray& sheets) {
        QFile spec(file + ".json");
        if (!spec.open(QIODevice::WriteOnly))
            return false;
        spec.write(QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson());
        spec.close();
        bool ok = false;
        runPython({"blank", spec.fileName(), file}, &ok);
        return ok;
    }

    QJsonObject dump(const QString& book) {
        bool ok = false;
        const QString json = runPython({"dump", book}, &ok);
        return ok ? QJsonDocument::fromJson(json.toUtf8()).object() : QJsonObject();
    }

    // A definition beside its blank (REPORT Excel left empty: the blank is <definition>.xls).
    QString definition(const QString& name, int view, int list, bool alias, const QString& source,
                       const QString& table, int from = 1, int to = 0, const QString& condition = {}) {
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
        const QString file = path(name + ".pr");
        writeDefinition(file, d);
        return file;
    }

    QString reportOf(const QString& name) const { return path(name + "_report.xls"); }

    // The columnar blank over SALES: a merged title, a two-row band with a merged note, a footer.
    QJsonArray salesBlank() const {
        const QJsonObject title{{"bold", true}, {"height", 280}, {"font", "Times New Roman"}};
        return QJsonArray{QJsonObject{
            {"name", "Sales"},
            {"cells", QJsonArray{cell(0, 0, "Sales of ${REPORT} on ${DATE}", title),
                                 cell(2, 0, "No", Bold), cell(2, 1, "Name", Bold), cell(2, 2, "Day", Bold),
                                 cell(2, 3, "Amount", Bold), cell(2, 4, "Qty", Bold), cell(2, 5, "Paid", Bold),
                                 cell(2, 6, "Note", Bold), cell(3, 0, "${#}"), cell(3, 1, "${NAME}"),
                                 cell(3, 2, "${DAY}"), cell(3, 3, "${amount}", QJsonObject{{"fmt", "0.00"}}),
                                 cell(3, 4, "${QTY}"), cell(3, 5, "${PAID}"), cell(3, 6, "Note: ${NOTE}"),
                                 cell(3, 7, formula("D4*E4")), cell(4, 1, "${NOTE}"), cell(4, 4, "${BIG}"),
                                 cell(4, 5, "$${NAME} stays"), cell(6, 0, "Total of ${#}"),
                                 cell(6, 3, formula("SUM(D4:D5)"), QJsonObject{{"fmt", "0.00"}}),
                                 cell(6, 4, formula("SUM(E4:E5)"))}},
            {"merge", QJsonArray{QJsonArray{0, 0, 0, 4}, QJsonArray{4, 4, 1, 3}}},
            {"widths", QJsonObject{{"1", 6000}, {"6", 9000}}},
            {"heights", QJsonObject{{"0", 500}}},
        }};
    }

    QJsonArray cardBlank() const {
        return QJsonArray{QJsonObject{
            {"name", "Card"},
            {"cells", QJsonArray{cell(0, 0, "Card ${#}", Bold), cell(1, 0, "Name"), cell(1, 1, "${NAME}"),
                                 cell(2, 0, "Day"), cell(2, 1, "${DAY}"), cell(3, 0, "Amount"),
                                 cell(3, 1, "${AMOUNT}", QJsonObject{{"fmt", "0.00"}})}},
            {"merge", QJsonArray{QJsonArray{0, 0, 0, 1}}},
        }};
    }

    // Checks the values of one record of a form block whose first row is base.
    void checkCard(const QHash<QString, QJsonArray>& cells, int base, int number, const Sale& s) {
        QCOMPARE(at(cells, base, 0)[3].toString(), QStringLiteral("Card %1").arg(number));
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
            QVERIFY(q.prepare("INSERT INTO BIG VALUES (?, ?)"));
            for (int i = 1; i <= BigRecords; ++i) {
                q.addBindValue(i);
                q.addBindValue(i % 100 + 0.5);
                QVERIFY(q.exec());
            }
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
        QFile aliases(path("aliases.ini"));
        QVERIFY(aliases.open(QIODevice::WriteOnly));
        aliases.write("[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n\n[PG]\nTYPE=POSTGRESQL\nSERVER NAME=" +
                      qgetenv("LEDGERWICK_TEST_PG_HOST") + "\nPORT=" + qgetenv("LEDGERWICK_TEST_PG_PORT") +
                      "\nDATABASE NAME=lw_report_test\nUSER NAME=postgres\n");
    }

    // Columnar: values of every type with the blank's formats, the band's merged cells and formulas
    // copied, ${#} ${REPORT} ${DATE}, $${, nulls, long text cut, integers beyond 2^53 as text, looks kept.
    void columnar() {
        QVERIFY(makeBlank(path("sales.xls"), salesBlank()));
        const QString def = definition("sales", 1, 0, true, "SHOP", "SALES");
        const Run r = run({"--batch", def});
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.err.contains("cut"), qPrintable(r.err)); // the 40,000-character note
        const QJsonObject book = dump(reportOf("sales"));
        const QJsonArray sheets = book["sheets"].toArray();
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
            if (i == 3) {
                QCOMPARE(at(cells, r0 + 1, 4)[2].toString(), "text");
                QCOMPARE(at(cells, r0 + 1, 4)[3].toString(), QString::number(s.big));
            } else {
                QCOMPARE(at(cells, r0 + 1, 4)[3].toDouble(), double(s.big));
            }
        }
        const int footer = 3 + 2 * SalesRecords + 1;
        QCOMPARE(at(cells, footer, 0)[3].toString(), QStringLiteral("Total of %1").arg(SalesRecords));
        m_forLibreOffice << reportOf("sales");
    }

    // Formulas follow the rows as inserting the band's copies into a spreadsheet moves them; the
    // values are LibreOffice's (totalsComputedByLibreOffice). Logical values in "General" cells get
    // a format that shows TRUE and FALSE.
    void formulasFollowRows() {
        QVERIFY(makeBlank(path("links.xls"),
                          QJsonArray{QJsonObject{
                              {"name", "Links"},
                              {"cells", QJsonArray{cell(0, 0, "Head"), cell(0, 1, 10),
                                                   cell(0, 2, formula("C7")),         // header to footer
                                                   cell(0, 3, formula("SUM(D4:D4)")), // header total
                                                   cell(3, 0, "${NAME}"), cell(3, 1, "${AMOUNT}"),
                                                   cell(3, 2, formula("B4*$B$1")),    // band to header
                                                   cell(3, 3, "${QTY}"),
                                                   cell(3, 4, formula("B4/$C$6")),    // band to footer
                                                   cell(3, 5, "${PAID}"), cell(4, 0, "Total"),
                                                   cell(4, 1, formula("SUM(B4:B4)")), // footer total
                                                   cell(4, 2, formula("B4")),         // footer to band: first copy
                                                   cell(4, 3, formula("B1+1")),       // footer to header
                                                   cell(5, 2, formula("B5")),         // footer to footer
                                                   cell(6, 2, formula("C6*2"))}}}}));
        const Run r = run({"--batch", definition("links", 1, 0, true, "SHOP", "SALES", 1, 5)});
        QCOMPARE(r.exit, 0);
        QCOMPARE(r.err, QString());
        const auto cells = cellsOf(dump(reportOf("links"))["sheets"].toArray()[0].toObject());
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(at(cells, 2 + i, 5)[2].toString(), "bool");
            QCOMPARE(at(cells, 2 + i, 5)[3].toInt(), int(sale(i).paid));
            QCOMPARE(at(cells, 2 + i, 5)[4].toString(), "\"TRUE\";\"TRUE\";\"FALSE\"");
        }
        m_forLibreOffice << reportOf("links");
    }

    // More records than a sheet holds: the report goes on in "Big (2)" after the header rows with
    // their merged cells, and --check foresees the same sheets.
    void columnarOverSheets() {
        QVERIFY(makeBlank(path("big.xls"),
                          QJsonArray{QJsonObject{
                              {"name", "Big"},
                              {"cells", QJsonArray{cell(0, 0, "Big ${REPORT}", Bold), cell(0, 2, formula("B4")),
                                                   cell(0, 3, formula("Summary!A2")), cell(1, 0, "N", Bold),
                                                   cell(1, 1, "Amount", Bold), cell(2, 0, "${N}"),
                                                   cell(2, 1, "${AMOUNT}"), cell(3, 0, "Total"),
                                                   cell(3, 1, formula("SUM(B3:B3)")), cell(3, 2, formula("B3")),
                                                   cell(3, 3, formula("SUM(B3:B4)"))}},
                              {"merge", QJsonArray{QJsonArray{0, 0, 0, 1}}}},
                          // Formulas on another sheet into the report sheet's footer, band total and band.
                          QJsonObject{{"name", "Summary"},
                                      {"cells", QJsonArray{cell(0, 0, formula("Big!B4")),
                                                           cell(1, 0, formula("SUM(Big!B3:B3)")),
                                                           cell(2, 0, formula("Big!B3"))}}}}));
        const QString def = definition("big", 1, 0, true, "SHOP", "BIG");
        const Run check = run({"--check", def});
        QCOMPARE(check.exit, 0);
        QVERIFY2(check.out.contains("Records: 70000"), qPrintable(check.out));
        QVERIFY2(check.out.contains("Sheets: 3 (2 filled"), qPrintable(check.out));
        QVERIFY(!QFile::exists(reportOf("big")));

        const Run r = run({"--batch", def});
        QCOMPARE(r.exit, 0);
        // A range from the band into the footer cannot follow them onto two sheets: said by name.
        QCOMPARE(r.err, "ATTENTION: The formula in Big (2)!D4469 spans the band and the footer, which now lie on "
                        "several sheets: #REF!.\n");
        const QJsonArray sheets = dump(reportOf("big"))["sheets"].toArray();
        QCOMPARE(sheets.size(), 3);
        QCOMPARE(sheets[2].toObject()["name"].toString(), "Summary");
        const QJsonObject first = sheets[0].toObject(), second = sheets[1].toObject();
        QCOMPARE(first["name"].toString(), "Big");
        QCOMPARE(second["name"].toString(), "Big (2)");
        const int perSheet = 65536 - 2;
        QCOMPARE(first["nrows"].toInt(), 65536);
        const auto c1 = cellsOf(first), c2 = cellsOf(second);
        QCOMPARE(at(c1, 65535, 0)[3].toDouble(), double(perSheet));
        for (const auto* c : {&c1, &c2}) {
            QCOMPARE(at(*c, 0, 0)[3].toString(), "Big big");
            QCOMPARE(at(*c, 1, 1)[3].toString(), "Amount");
        }
        QVERIFY(hasMerged(second, 0, 1, 0, 2));
        QCOMPARE(at(c2, 2, 0)[3].toDouble(), double(perSheet + 1));
        const int last = 2 + (BigRecords - perSheet) - 1;
        QCOMPARE(at(c2, last, 0)[3].toDouble(), double(BigRecords));
        QCOMPARE(at(c2, last + 1, 0)[3].toString(), "Total");
        m_forLibreOffice << reportOf("big");
    }

    // Forms: one block per record with page breaks between, or one sheet per record named by its
    // number; ${#} counts within the report (records 2 to 4 are 1 to 3).
    void forms_data() {
        QTest::addColumn<int>("list");
        QTest::newRow("one sheet") << 0;
        QTest::newRow("several sheets") << 1;
    }
    void forms() {
        QFETCH(int, list);
        const QString name = list ? "cards" : "card";
        QVERIFY(makeBlank(path(name + ".xls"), cardBlank()));
        const QString def = definition(name, 0, list, true, "SHOP", "SALES", 2, 4);
        const Run r = run({"--batch", def});
        QCOMPARE(r.exit, 0);
        const QJsonArray sheets = dump(reportOf(name))["sheets"].toArray();
        if (list == 0) {
            QCOMPARE(sheets.size(), 1);
            const QJsonObject sheet = sheets[0].toObject();
            QCOMPARE(sheet["name"].toString(), "Card");
            QCOMPARE(sheet["breaks"].toArray(), (QJsonArray{4, 8}));
            const auto cells = cellsOf(sheet);
            for (int k = 1; k <= 3; ++k) {
                checkCard(cells, 4 * (k - 1), k, sale(k + 1));
                QVERIFY(hasMerged(sheet, 4 * (k - 1), 4 * (k - 1) + 1, 0, 2));
            }
        } else {
            QCOMPARE(sheets.size(), 3);
            for (int k = 1; k <= 3; ++k) {
                const QJsonObject sheet = sheets[k - 1].toObject();
                QCOMPARE(sheet["name"].toString(), QString::number(k));
                checkCard(cellsOf(sheet), 0, k, sale(k + 1));
                QVERIFY(hasMerged(sheet, 0, 1, 0, 2));
            }
        }
    }

    // The same report from the demo dBASE table and from its copies in an SQLite alias and in a
    // PostgreSQL alias (on the server scripts/test starts; skipped without it).
    void sameFromEverySource_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("table");
        QTest::newRow("SQLite alias") << "sql" << "SHOP" << "ORDERS";
        QTest::newRow("PostgreSQL alias") << "pg" << "PG" << "orders";
    }
    void sameFromEverySource() {
        QFETCH(QString, name);
        QFETCH(QString, alias);
        QFETCH(QString, table);
        if (alias == "PG") {
            if (!pgServer())
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
                                 cell(0, 3, "${AMOUNT}", QJsonObject{{"fmt", "0.00"}}), cell(0, 4, "${PAID}"),
                                 cell(1, 0, "Sum"), cell(1, 3, formula("SUM(D1:D1)"))}}}};
        if (!QFile::exists(reportOf("dbf"))) {
            QVERIFY(makeBlank(path("dbf.xls"), blank));
            QCOMPARE(run({"--batch", definition("dbf", 1, 0, false, binaryDir() + "/demo/tables", "ORDERS.DBF")}).exit, 0);
            m_forLibreOffice << reportOf("dbf");
        }
        QVERIFY(makeBlank(path(name + ".xls"), blank));
        const Run r = run({"--batch", definition(name, 1, 0, true, alias, table)});
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        const QJsonArray a = dump(reportOf("dbf"))["sheets"].toArray()[0].toObject()["cells"].toArray();
        const QJsonArray b = dump(reportOf(name))["sheets"].toArray()[0].toObject()["cells"].toArray();
        QCOMPARE(a.size(), 5 * int(demoOrders().size()) + 2);
        QCOMPARE(b, a);
    }

    // Print titles of a blank made by our writer repeat on every sheet of the report, and the
    // blank's other sheet keeps its own, as xlrd reads the built-in Print_Titles names.
    void printTitles() {
        {
            xls::WorkbookWriter w(path("titled.xls"));
            w.beginSheet("Card");
            w.setPrintTitleRows(0, 1);
            w.writeText(0, 0, 15, "Card ${#}");
            w.writeText(1, 0, 15, "Name");
            w.writeText(2, 0, 15, "${NAME}");
            w.beginSheet("Back");
            w.setPrintTitleRows(0, 0);
            w.writeText(0, 0, 15, "Back");
            w.finish();
        }
        QCOMPARE(run({"--batch", definition("titled", 0, 1, true, "SHOP", "SALES", 1, 3)}).exit, 0);
        const QJsonArray sheets = dump(reportOf("titled"))["sheets"].toArray();
        QCOMPARE(sheets.size(), 4);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(sheets[k].toObject()["titles"].toArray(), (QJsonArray{0, k < 3 ? 1 : 0}));
    }

    // What the user is told, and that nothing is written, when the run cannot go on.
    void failures_data() {
        QTest::addColumn<QString>("blankText");   // the blank's one marker cell; empty: no blank
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("expected");    // on standard error
        QTest::newRow("no blank") << "" << "SHOP" << "" << "MS Excel File was not found: " + path("f0.xls");
        QTest::newRow("no markers") << "Hello" << "SHOP" << "" << "No entries in the file: " + path("f1.xls");
        QTest::newRow("unknown marker") << "${NAME} ${NOPE}" << "SHOP" << ""
                                        << "Report error: Unknown marker: ${NOPE} (Sheet!A1)";
        QTest::newRow("bad condition") << "${NAME}" << "SHOP" << "where NOPE >" << "Report error: ";
        QTest::newRow("bare condition") << "${NAME}" << "SHOP" << "NOPE = 1" << "NOPE";
        QTest::newRow("no data") << "${NAME}" << "SHOP" << "where ID < 0" << "No data";
        QTest::newRow("no alias") << "${NAME}" << "NOSUCH" << "" << "Alias: ";
    }
    void failures() {
        QFETCH(QString, blankText);
        QFETCH(QString, source);
        QFETCH(QString, condition);
        QFETCH(QString, expected);
        static int n = 0;
        const QString name = QStringLiteral("f%1").arg(n++);
        if (!blankText.isEmpty())
            QVERIFY(makeBlank(path(name + ".xls"),
                              QJsonArray{QJsonObject{{"name", "Sheet"}, {"cells", QJsonArray{cell(0, 0, blankText)}}}}));
        const Run r = run({"--batch", definition(name, 1, 0, true, source, "SALES", 1, 0, condition)});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains(expected), qPrintable(r.err));
        QVERIFY(!QFile::exists(reportOf(name)));
    }

    // A blank that is no Excel 97-2003 workbook is refused by name.
    void notAWorkbook() {
        QFile f(path("zip.xls"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("PK\x03\x04", 4) + QByteArray(600, 'z'));
        f.close();
        const Run r = run({"--batch", definition("zip", 1, 0, true, "SHOP", "SALES")});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.startsWith("Report error: "), qPrintable(r.err));
    }

    // A second generator while one runs ends at once with status 2; the lock goes with its holder.
    void secondInstance() {
        QVERIFY(makeBlank(path("second.xls"), cardBlank()));
        const QString def = definition("second", 0, 0, true, "SHOP", "SALES", 1, 1);
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
    // counts as NO; with windows NO gives up. Either way the old report stays as it was.
    void reportOpen_data() {
        QTest::addColumn<bool>("windows");
        QTest::newRow("batch") << false;
        QTest::newRow("windows, NO") << true;
    }
    void reportOpen() {
        QFETCH(bool, windows);
        QVERIFY(makeBlank(path("open.xls"), cardBlank()));
        const QString def = definition("open", 0, 0, true, "SHOP", "SALES", 1, 2);
        QFile old(reportOf("open"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the old report");
        old.close();
        QFile lock(path(".~lock.open_report.xls#"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        const QString log = path("open.log");
        QFile::remove(log);
        const Run r = windows ? run({def}, {"QT_QPA_PLATFORM=offscreen", "LEDGERWICK_TEST_ANSWERS=no",
                                           "LEDGERWICK_TEST_LOG=" + log})
                              : run({"--batch", def});
        QCOMPARE(r.exit, 1);
        if (windows) {
            QFile f(log);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(f.readAll()), " Close MS Excel|" + reportOf("open") + "\n");
            QFile::remove(log);
        } else {
            QVERIFY2(r.err.contains("Close MS Excel: " + reportOf("open")), qPrintable(r.err));
        }
        QFile check(reportOf("open"));
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("the old report"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        QVERIFY(lock.remove());
    }

    // With windows and nobody holding the report: written, nothing asked; with "Show prepared
    // report" on, opened in the spreadsheet program of the settings file, or the notice that it
    // could not be started.
    void withWindows_data() {
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("programExists");
        QTest::newRow("not shown") << false << true;
        QTest::newRow("shown") << true << true;
        QTest::newRow("program missing") << true << false;
    }
    void withWindows() {
        QFETCH(bool, show);
        QFETCH(bool, programExists);
        QVERIFY(makeBlank(path("win.xls"), cardBlank()));
        QFile::remove(reportOf("win"));
        const QString def = definition("win", 0, 1, true, "SHOP", "SALES", 1, 3);
        const QString log = path("win.log"), opened = path("opened.txt"), config = path("config");
        QFile::remove(log);
        QFile::remove(opened);
        const QString program = programExists ? path("spreadsheet.sh") : path("no-such-program");
        if (programExists) {
            QFile script(program);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " + QFile::encodeName(opened) + "\n");
            script.close();
            QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QVERIFY(QDir().mkpath(config + "/Ledgerwick"));
        QFile settings(config + "/Ledgerwick/l_wick.ini");
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[EXCEL]\nShow=" + QByteArray(show ? "1" : "0") + "\nProgram=" + QFile::encodeName(program) + "\n");
        settings.close();

        const Run r = run({def}, {"QT_QPA_PLATFORM=offscreen", "LEDGERWICK_TEST_ANSWERS=ok,ok",
                                  "LEDGERWICK_TEST_LOG=" + log, "XDG_CONFIG_HOME=" + config});
        QCOMPARE(r.exit, 0);
        QCOMPARE(dump(reportOf("win"))["sheets"].toArray().size(), 3);
        QFile l(log);
        const QString told = l.open(QIODevice::ReadOnly) ? QString::fromUtf8(l.readAll()) : QString();
        if (show && !programExists) {
            QCOMPARE(told, " Excel cannot be lunched|" + reportOf("win") + "\n");
            return;
        }
        QCOMPARE(told, QString());
        if (show) {
            QVERIFY(QTest::qWaitFor([&] { return QFile::exists(opened); }, 10000));
            QFile f(opened);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(f.readAll()), reportOf("win"));
        } else {
            QVERIFY(!QFile::exists(opened));
        }
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
        const QString def = definition("stop", 1, 0, true, "SHOP", "BIG");
        QFile old(reportOf("stop"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the old report");
        old.close();
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
        QFile check(reportOf("stop"));
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("the old report"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        QVERIFY(QDir(scratch).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // A blank as LibreOffice saves it (Excel 97-2003 from its own filter) fills as well.
    void blankSavedByLibreOffice() {
        const QString dir = path("lo");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(makeBlank(dir + "/in.xls", salesBlank()));
        // A second blank with a comment on its marker cell, which a report cannot carry.
        QFile noted(dir + "/noted.fods");
        QVERIFY(noted.open(QIODevice::WriteOnly));
        noted.write(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
            " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"\n"
            " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
            " office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n"
            "<office:body><office:spreadsheet><table:table table:name=\"Noted\"><table:table-row>\n"
            "<table:table-cell office:value-type=\"string\"><text:p>${NAME}</text:p>\n"
            "<office:annotation><dc:creator>ann</dc:creator><text:p>a note</text:p></office:annotation>\n"
            "</table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document>\n");
        noted.close();
        QProcess lo;
        lo.start("soffice", {"-env:UserInstallation=file://" + path("lo-profile"), "--headless", "--convert-to",
                             "xls:MS Excel 97", "--outdir", path("lo/out"), dir + "/in.xls", noted.fileName()});
        QVERIFY(lo.waitForFinished(180000));
        QVERIFY(QFile::rename(path("lo/out/in.xls"), path("losaved.xls")));
        QVERIFY(QFile::rename(path("lo/out/noted.xls"), path("noted.xls")));
        const Run withNote = run({"--batch", definition("noted", 1, 0, true, "SHOP", "SALES", 1, 2)});
        QCOMPARE(withNote.exit, 0);
        QVERIFY2(withNote.err.contains("Not carried into the report: comments (sheet Noted)."), qPrintable(withNote.err));
        QCOMPARE(cellsOf(dump(reportOf("noted"))["sheets"].toArray()[0].toObject()).value("1,0")[3].toString(),
                 sale(2).name);

        const Run r = run({"--batch", definition("losaved", 1, 0, true, "SHOP", "SALES", 1, 10)});
        QCOMPARE(r.exit, 0);
        const QJsonObject sheet = dump(reportOf("losaved"))["sheets"].toArray()[0].toObject();
        const auto cells = cellsOf(sheet);
        for (int i = 1; i <= 10; ++i) {
            QCOMPARE(at(cells, 3 + 2 * (i - 1), 1)[3].toString(), sale(i).name);
            QCOMPARE(at(cells, 3 + 2 * (i - 1), 3)[3].toDouble(), sale(i).amount);
        }
        QVERIFY(hasMerged(sheet, 0, 1, 0, 5));
        QVERIFY(hasMerged(sheet, 4, 5, 1, 4));
        m_forLibreOffice << reportOf("losaved");
    }

    // LibreOffice opens the reports and computes their totals: every footer equals the sum of
    // what the records hold, over every sheet.
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
            QFile f(out + "/" + file);
            QList<QStringList> result;
            if (!f.open(QIODevice::ReadOnly))
                return result;
            for (const QByteArray& line : f.readAll().split('\n'))
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
        const int footer = 3 + 2 * SalesRecords + 1;
        QCOMPARE(number(sales, footer, 3), amounts);
        QCOMPARE(number(sales, footer, 4), qty);
        QCOMPARE(number(sales, 3 + 2 * 9, 7), sale(10).amount * sale(10).qty); // the band's formula, moved

        double big = 0;
        for (int i = 1; i <= BigRecords; ++i)
            big += i % 100 + 0.5;
        const auto big1 = rows("big_report-Big.csv"), big2 = rows("big_report-Big (2).csv");
        const int bigFooter = 2 + (BigRecords - 65534);
        QCOMPARE(number(big2, bigFooter, 1), big);
        QCOMPARE(number(big2, bigFooter, 2), 1.5); // the band's first copy, on the first sheet
        for (const auto* sheet : {&big1, &big2}) {
            QCOMPARE(number(*sheet, 0, 2), big); // the footer, on the last sheet
            QCOMPARE(number(*sheet, 0, 3), big); // Summary, after the report's sheets
        }
        const auto summary = rows("big_report-Summary.csv");
        QCOMPARE(number(summary, 0, 0), big);
        QCOMPARE(number(summary, 1, 0), big);
        QCOMPARE(number(summary, 2, 0), 1.5);

        // Five records from row 4, the footer from row 9 (LibreOffice's own text for the logicals).
        const auto links = rows("links_report-Links.csv");
        double five = 0;
        for (int i = 1; i <= 5; ++i)
            five += sale(i).amount;
        QCOMPARE(number(links, 0, 2), 2 * five);
        QCOMPARE(number(links, 0, 3), 15.0);
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(number(links, 2 + i, 2), sale(i).amount * 10);
            QVERIFY(std::fabs(number(links, 2 + i, 4) - sale(i).amount / five) < 1e-9);
            QCOMPARE(links[2 + i].value(5), sale(i).paid ? "TRUE" : "FALSE");
        }
        QCOMPARE(number(links, 8, 1), five);
        QCOMPARE(number(links, 8, 2), sale(1).amount);
        QCOMPARE(number(links, 8, 3), 11.0);
        QCOMPARE(number(links, 9, 2), five);
        QCOMPARE(number(links, 10, 2), 2 * five);

        double orders = 0;
        const auto dbf = rows("dbf_report-Orders.csv");
        QVERIFY(dbf.size() > 3);
        int r = 0;
        for (; r < dbf.size() && dbf[r].value(0) != "Sum"; ++r)
            orders += number(dbf, r, 3);
        QCOMPARE(number(dbf, r, 3), orders);

        double ten = 0;
        for (int i = 1; i <= 10; ++i)
            ten += sale(i).amount;
        QCOMPARE(number(rows("losaved_report-Sales.csv"), 3 + 2 * 10 + 1, 3), ten);
    }
};

QTEST_GUILESS_MAIN(TstGenerator)
#include "tst_generator.moc"
