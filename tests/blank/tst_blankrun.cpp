// The blank builder as a program of its own: started for real (by hand with --no-edit, and by the
// main window's Blank Builder command), with a stand-in spreadsheet program driving the waiting
// window; what it writes, what it says, and the one completion message on every way out.
#include "app/mainform.h"
#include "e2e/e2esupport.h"
#include "platform/messageport.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "workbook/xls.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>

#include <signal.h>
#include <unistd.h>

using namespace lw;
using lw::test::readFile;
using lw::test::waitFor;
using lw::test::writeFile;

namespace {

QString buildDir() {
    return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR");
}
QString sourceDir() {
    return qEnvironmentVariable("LEDGERWICK_SOURCE_DIR");
}

QByteArray definition(const QString& path, const QString& db, bool alias = false, int view = 1,
                      const QString& excel = QString()) {
    return "[REPORT]\nExcel=" + excel.toUtf8() + "\nName=Clients\nAlias=" + (alias ? "1" : "0") +
           "\nPath=" + path.toUtf8() + "\nDB=" + db.toUtf8() + "\nView=" + QByteArray::number(view) +
           "\nList=0\nEXCEL FORM=0\nFrom=1\nTo=0\n[SQL]\nOnOff=0\nSQL=\nSelect=\n";
}

// The cells of the first sheet as python3-xlrd reads them: "row,col" to text or number.
QMap<QString, QString> xlrdCells(const QString& path) {
    QProcess p;
    p.start("/usr/bin/python3", {sourceDir() + "/tests/blank/xlsdump.py", path});
    QMap<QString, QString> cells;
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return cells;
    const QJsonObject sheet = QJsonDocument::fromJson(p.readAllStandardOutput())["sheets"][0].toObject();
    for (const QJsonValue& c : sheet["cells"].toArray())
        cells.insert(QString("%1,%2").arg(c["row"].toInt()).arg(c["col"].toInt()), c["value"].toVariant().toString());
    return cells;
}

// The cells of the first sheet as python3-xlrd reads them with their number formats: "row,col" to
// {value, format}.
QMap<QString, QStringList> xlrdCellsAndFormats(const QString& path) {
    QProcess p;
    p.start("/usr/bin/python3", {sourceDir() + "/tests/blank/xlsdump.py", path});
    QMap<QString, QStringList> cells;
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return cells;
    const QJsonObject sheet = QJsonDocument::fromJson(p.readAllStandardOutput())["sheets"][0].toObject();
    for (const QJsonValue& c : sheet["cells"].toArray())
        cells.insert(QString("%1,%2").arg(c["row"].toInt()).arg(c["col"].toInt()),
                     {c["value"].toVariant().toString(), c["format"].toString()});
    return cells;
}

QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

#ifdef LW_PXFIXTURE
// The records of a Paradox table as pxlib reads them, split into cells ("null" for none).
QList<QStringList> pxlibRecords(const QString& file) {
    QProcess dump;
    dump.start(QStringLiteral(LW_PXFIXTURE), {"dump", file});
    dump.waitForFinished(30000);
    QList<QStringList> records;
    for (const QString& line : QString::fromUtf8(dump.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith("PXLib: "))
            records << line.split('|');
    records.removeFirst(); // the field names
    return records;
}
#endif

// A blank of our own with the given texts in column A of the sheet "Mine".
QByteArray ownBlank(const QString& path, const QStringList& texts) {
    xls::WorkbookWriter w(path);
    w.beginSheet("Mine");
    for (int r = 0; r < texts.size(); ++r)
        w.writeText(r, 0, 15, texts[r]);
    w.endSheet();
    w.finish();
    return readFile(path);
}

// A dBASE table written byte by byte: fields as "NAME:T:length", records as their cells; dBASE III
// unless a version (0x30: Visual FoxPro) and language driver are given.
QByteArray dbase3(const QList<QByteArray>& fields, const QList<QList<QByteArray>>& records,
                  char version = 0x03, char driver = 0x03) {
    QByteArray descriptors;
    int recordLength = 1;
    QList<int> lengths;
    for (const QByteArray& f : fields) {
        const QList<QByteArray> p = f.split(':');
        QByteArray d(32, '\0');
        d.replace(0, p[0].size(), p[0]);
        d[11] = p[1][0];
        d[16] = char(p[2].toInt());
        descriptors += d;
        lengths.append(p[2].toInt());
        recordLength += p[2].toInt();
    }
    const int backlink = version == 0x30 ? 263 : 0;
    const int headerLength = 32 + descriptors.size() + 1 + backlink;
    QByteArray out(32, '\0');
    out[0] = version;
    out[29] = driver;
    out[1] = 126; out[2] = 1; out[3] = 1;
    out[4] = char(records.size());
    out[8] = char(headerLength & 0xff); out[9] = char(headerLength >> 8);
    out[10] = char(recordLength & 0xff); out[11] = char(recordLength >> 8);
    out += descriptors + '\r' + QByteArray(backlink, '\0');
    for (const QList<QByteArray>& r : records) {
        out += ' ';
        for (int i = 0; i < r.size(); ++i)
            out += fields[i].split(':')[1] == "N" ? r[i].rightJustified(lengths[i]) : r[i].leftJustified(lengths[i]);
    }
    return out + '\x1a';
}

} // namespace

class TstBlankRun : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    MessagePort m_port;
    QList<int> m_messages;

    QString path(const QString& name) const { return m_tmp.filePath(name); }
    QString tablesDir() const { return buildDir() + "/demo/tables"; }
    QString log() const { return path("tool.log"); }
    QStringList logLines() const {
        return QString::fromUtf8(readFile(log())).split('\n', Qt::SkipEmptyParts);
    }
    void setSpreadsheet(const QString& program) {
        QVERIFY(writeFile(test::settingsFilePath(), "[EXCEL]\nProgram=" + program.toUtf8() + "\n"));
    }
    // Fresh logs and answers for the next start.
    void prepareRun(const QString& modes, const QString& answers) {
        for (const QString& f : {log(), path("sheet.log"), path("sheet.log.n"), path("go")})
            QFile::remove(f);
        qputenv("LW_SHEET_MODES", modes.toUtf8());
        qputenv("LEDGERWICK_TEST_ANSWERS", answers.toUtf8());
    }

    struct Run {
        int exitCode = -1;
        QString err;
    };
    // Starts the program itself with the arguments and waits for its end, answering its messages.
    Run runTool(const QStringList& args, QProcess* process = nullptr,
                const std::function<void(QProcess&)>& meanwhile = {}) {
        QProcess own;
        QProcess& p = process ? *process : own;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LEDGERWICK_WINDOW", m_port.address());
        p.setProcessEnvironment(env);
        p.start(buildDir() + "/ledgerwick-blank", args);
        Run run;
        if (!p.waitForStarted(10000))
            return run;
        if (meanwhile)
            meanwhile(p);
        // The port answers on our event loop: never block it while the tool posts.
        waitFor([&] { return p.state() == QProcess::NotRunning; }, 60000);
        QTest::qWait(20);
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QFile::setPermissions(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(m_port.listen(), qPrintable(m_port.errorString()));
        connect(&m_port, &MessagePort::messageReceived, this, [this](int n) { m_messages.append(n); });
        QVERIFY(QFileInfo(buildDir() + "/ledgerwick-blank").isExecutable());

        // An SQLite alias with a table of 200 fields and one of odd field names, beside the demo tables.
        QVERIFY(QDir().mkpath(path("data")));
        QStringList wide;
        for (int i = 1; i <= 200; ++i)
            wide.append(QString("C%1 %2").arg(i).arg(i % 2 ? "INTEGER" : "TEXT"));
        QCOMPARE(e2e::makeSqlite(path("data/test.sqlite"),
                                 {"CREATE TABLE WIDE (" + wide.join(", ") + ")",
                                  "CREATE TABLE ODD (\"Имя клиента\" TEXT, \"total ${x\" REAL, \"#\" INTEGER)"}),
                 QString());
        QVERIFY(writeFile(path("data/aliases.ini"), "[TEST]\nTYPE=SQLITE\nDATABASE NAME=test.sqlite\n\n[DEMO]\n"
                                                    "TYPE=STANDARD\nPATH=" + tablesDir().toUtf8() + "\n"));
        qputenv("LEDGERWICK_ALIASES", path("data/aliases.ini").toUtf8());
        qputenv("LEDGERWICK_TEST_LOG", log().toUtf8());
        qputenv("LW_SHEET_LOG", path("sheet.log").toUtf8());
        qputenv("LW_SHEET_GO", path("go").toUtf8());
        qputenv("LW_SHEET_LO_PROFILE", path("lo-profile").toUtf8());
        qunsetenv("LEDGERWICK_BLANK_PATIENCE");
        setSpreadsheet(sourceDir() + "/tests/tools/standin-spreadsheet.py");
    }

    // --no-edit: what it writes and keeps, what it says on standard error, its exit status and the
    // one message the main window gets, on success and on every failure.
    void noEdit_data() {
        QTest::addColumn<QByteArray>("content"); // of the definition; empty: no definition file
        QTest::addColumn<QStringList>("existing"); // texts of a blank already there; empty: none
        QTest::addColumn<QString>("workbook");     // "Excel" of the definition, empty: derived
        QTest::addColumn<int>("message");
        QTest::addColumn<QString>("said");         // on standard error
        QTest::addColumn<QString>("marker");       // a marker cell of the new blank as xlrd reads it
        const QString tables = tablesDir();
        const QString unwritable = ::geteuid() == 0 ? "/proc/ledgerwick-blank.xls" : path("locked/b.xls");
        QTest::newRow("directory of tables") << definition(tables, "CLIENTS.DBF") << QStringList() << ""
                                             << 1029 << "" << "3,1=${NAME}";
        // A bare file name is the definition in the current directory, not in the configuration one.
        QTest::newRow("bare name, run in its directory") << definition(tables, "CLIENTS.DBF") << QStringList()
                                                         << "" << 1029 << "" << "3,1=${NAME}";
        QTest::newRow("form of an alias's table") << definition("DEMO", "ORDERS.DBF", true, 0) << QStringList()
                                                  << "" << 1029 << "" << "2,0=ORDERNO";
        QTest::newRow("200 fields") << definition("TEST", "WIDE", true) << QStringList() << "" << 1029 << ""
                                    << "3,199=${C200}";
        QTest::newRow("odd field names") << definition("TEST", "ODD", true) << QStringList() << "" << 1029
                                         << "" << "3,1=${total ${x}";
        QTest::newRow("own blank kept") << definition(tables, "CLIENTS.DBF")
                                        << QStringList({"List of ${#}", "", "${name} from ${City}"}) << ""
                                        << 1029 << "" << "";
        QTest::newRow("no definition") << QByteArray() << QStringList() << "" << 1025
                                       << "File was not found: " << "";
        QTest::newRow("no data source") << definition("", "CLIENTS.DBF") << QStringList() << "" << 1025
                                        << "ERROR:  Enter the database path " << "";
        QTest::newRow("directory FALSE") << definition("FALSE", "CLIENTS.DBF") << QStringList() << "" << 1025
                                         << "ERROR:  Enter the database path " << "";
        QTest::newRow("table of blanks") << definition(tables, "   ") << QStringList() << "" << 1025
                                         << "ERROR:  Database does not defined" << "";
        QTest::newRow("unknown alias") << definition("NO SUCH ALIAS", "T", true) << QStringList() << ""
                                       << 1025 << "Alias: " << "";
        QTest::newRow("missing table file") << definition(tables, "NOSUCH.DBF") << QStringList() << "" << 1025
                                            << "DataBase path: " << "";
        QTest::newRow("unwritable directory") << definition(tables, "CLIENTS.DBF", false, 1, unwritable)
                                              << QStringList() << unwritable << 1025
                                              << "Report error: The blank " + unwritable + " cannot be written"
                                              << "";
        QTest::newRow("own blank without markers") << definition(tables, "CLIENTS.DBF")
                                                   << QStringList({"Just a title"}) << "" << 1025
                                                   << "No entries in the file: " << "";
        QTest::newRow("own blank, unknown marker") << definition(tables, "CLIENTS.DBF")
                                                   << QStringList({"${NAME}", "${Nme}"}) << "" << 1025
                                                   << "Scan form again!: Unknown markers: Nme (Mine!A2)" << "";
        QTest::newRow("xlsx under the name") << definition(tables, "CLIENTS.DBF") << QStringList({"PK"}) << ""
                                             << 1025 << "Scan form again!: " << "";
    }
    void noEdit() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, existing);
        QFETCH(QString, workbook);
        QFETCH(int, message);
        QFETCH(QString, said);
        QFETCH(QString, marker);
        const QString dir = path(QString("noedit/%1").arg(QTest::currentDataTag()).replace(' ', '_'));
        QVERIFY(QDir().mkpath(dir));
        const QString def = dir + "/report.pr";
        const QString book = workbook.isEmpty() ? dir + "/report.xls" : workbook;
        if (!content.isEmpty())
            QVERIFY(writeFile(def, content));
        QByteArray before;
        if (existing == QStringList{"PK"})
            QVERIFY(writeFile(book, before = QByteArray("PK\x03\x04", 4) + QByteArray(600, 'z')));
        else if (!existing.isEmpty())
            before = ownBlank(book, existing);

        m_messages.clear();
        QProcess process;
        const bool bare = QByteArray(QTest::currentDataTag()).startsWith("bare name");
        if (bare)
            process.setWorkingDirectory(dir);
        const Run run = runTool({"--no-edit", bare ? QString("report.pr") : def}, &process);
        QCOMPARE(m_messages, QList<int>{message});
        QCOMPARE(run.exitCode, message == 1029 ? 0 : 1);
        if (!said.isEmpty())
            QVERIFY2(run.err.contains(said), qPrintable(run.err));
        if (!before.isEmpty())
            QCOMPARE(readFile(book), before); // the user's work, byte for byte
        const QString stored = e2e::iniKeys(def).value("REPORT").value("Excel");
        QCOMPARE(stored, message == 1029 ? book : workbook);
        if (!marker.isEmpty())
            QCOMPARE(xlrdCells(book).value(marker.section('=', 0, 0)), marker.section('=', 1));
        if (message == 1025 && existing.isEmpty()) // nothing half-written left behind
            QCOMPARE(QDir(dir).entryList(QDir::Files), content.isEmpty() ? QStringList() : QStringList{"report.pr"});
    }

    // Started by hand: nobody to tell, said on standard error; the work is done all the same.
    void noMainWindow() {
        const QString def = path("alone/report.pr");
        QVERIFY(writeFile(def, definition(tablesDir(), "CLIENTS.DBF")));
        QProcess p;
        p.setProcessEnvironment([] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("LEDGERWICK_WINDOW");
            return env;
        }());
        p.start(buildDir() + "/ledgerwick-blank", {"--no-edit", def});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("No main window to tell"));
        QVERIFY(QFileInfo::exists(path("alone/report.xls")));
    }

    // Ended from outside while the user works on the blank: the main window still hears 1025, once.
    void terminatedWhileWaiting() {
        const QString def = path("term/report.pr");
        QVERIFY(writeFile(def, definition(tablesDir(), "CLIENTS.DBF")));
        prepareRun("keep", "");
        m_messages.clear();
        QProcess p;
        const Run run = runTool({def}, &p, [&](QProcess& process) {
            if (waitFor([&] { return readFile(log()).contains("Blank builder"); }, 20000))
                ::kill(pid_t(process.processId()), SIGTERM);
        });
        QCOMPARE(m_messages, QList<int>{1025});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("ended by signal 15"));
        QCOMPARE(e2e::iniKeys(def).value("REPORT").value("Excel"), QString());
    }

    // Tables as other programs write them, through the blank builder and the report generator: each
    // value where the report should have it, as xlrd reads the report. Paradox values are pxlib's.
    // Two fields cut to one name (dBASE keeps 10 characters) get ${NAME} and ${NAME:2} in the blank.
    void realTables_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("two fields of one name") << "samename";
        QTest::newRow("UTF-8 text under an unknown language driver") << "utf8";
        QTest::newRow("dBASE II") << "dbase2";
        QTest::newRow("FoxPro time alone") << "foxtime";
        QTest::newRow("Paradox memos") << "pxmemo";
        QTest::newRow("Paradox file cut inside its last block") << "pxcut";
    }
    void realTables() {
        QFETCH(QString, kind);
        const QString dir = path("real_" + kind);
        QVERIFY(QDir().mkpath(dir));
        QString table = "T.DBF";
        QList<QStringList> expected; // per record, the cells of the first columns ("" for empty)
        QString warning;             // said by the generator
        if (kind == "samename") {
            QVERIFY(writeFile(dir + "/T.DBF", dbase3({"POINT_IDEN:C:8", "POINT_IDEN:N:6"},
                                                     {{"A-1", "11"}, {"B-22", "-2205"}, {"C-333", "0"}})));
            expected = {{"A-1", "11"}, {"B-22", "-2205"}, {"C-333", "0"}};
        } else if (kind == "utf8") {
            QVERIFY(writeFile(dir + "/T.DBF", dbase3({"Номер:C:12", "CITY:C:16", "N:N:4"},
                                                     {{"Ёлка", "Москва", "1"}, {"Пётр", "Zoë", "2"}}, 0x03, char(0xF0))));
            expected = {{"Ёлка", "Москва", "1"}, {"Пётр", "Zoë", "2"}};
            warning = "its text is read as UTF-8";
        } else if (kind == "dbase2") {
            QByteArray file(521, '\0');
            file[0] = 0x02;
            file[1] = 3;
            const QList<QByteArray> names = {"NAME", "QTY"};
            const int lengths[] = {10, 4};
            for (int i = 0; i < 2; ++i) {
                file.replace(8 + 16 * i, names[i].size(), names[i]);
                file[8 + 16 * i + 11] = i ? 'N' : 'C';
                file[8 + 16 * i + 12] = char(lengths[i]);
            }
            file[8 + 32] = 0x0D;
            file[6] = 15;
            file += " Oats         5*Barley       6 Rye         -7\x1A";
            QVERIFY(writeFile(dir + "/T.DBF", file));
            expected = {{"Oats", "5"}, {"Rye", "-7"}};
        } else if (kind == "foxtime") {
            QVERIFY(writeFile(dir + "/T.DBF", dbase3({"AT:T:8", "NAME:C:4"},
                                                     {{le32(2415019) + le32(48938000), "a"},
                                                      {le32(2460370) + le32(3600000), "b"}}, 0x30)));
            const double day0 = 48938000 / 86400000.0;
            const double stamp = QDate(1899, 12, 30).daysTo(QDate::fromJulianDay(2460370)) + 1 / 24.0;
            expected = {{QString::number(day0, 'g', 17), "a"}, {QString::number(stamp, 'g', 17), "b"}};
        } else {
#ifndef LW_PXFIXTURE
            QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
            table = "memo.db";
            const QString file = dir + "/memo.db";
            QStringList args{"make", file, "70", "1251", "2", kind == "pxcut" ? "100" : "15"};
            if (kind == "pxmemo")
                args << "memo";
            QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE), args), 0);
            const QList<QStringList> records = pxlibRecords(file);
            for (const QStringList& r : records)
                expected << QStringList{r[0], r[2], r.last() == "null" ? QString() : r.last()};
            if (kind == "pxcut") {
                // Two and a half records of the last block are left.
                QFile f(file);
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QByteArray bytes = f.read(6);
                const int recordSize = quint8(bytes[0]) | quint8(bytes[1]) << 8;
                const int headerSize = quint8(bytes[2]) | quint8(bytes[3]) << 8;
                const qint64 blockSize = quint8(bytes[5]) * 1024;
                const qint64 last = headerSize + (f.size() - headerSize - 1) / blockSize * blockSize;
                QVERIFY(f.seek(last + 4));
                const QByteArray add = f.read(2);
                const int inLast = qint16(quint8(add[0]) | quint8(add[1]) << 8) / recordSize + 1;
                f.close();
                QVERIFY(QFile::resize(file, last + 6 + 2 * recordSize + recordSize / 2));
                expected = expected.mid(0, expected.size() - inLast + 2);
                for (QStringList& e : expected)
                    e.removeLast(); // no memo field
                warning = "the file ends inside its last block";
            }
#endif
        }
        const QString def = dir + "/real.pr";
        QVERIFY(writeFile(def, definition(dir, table)));
        m_messages.clear();
        const Run run = runTool({"--no-edit", def});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        if (kind == "samename") {
            const QMap<QString, QString> blank = xlrdCells(dir + "/real.xls");
            QCOMPARE(blank.value("3,0"), QString("${POINT_IDEN}"));
            QCOMPARE(blank.value("3,1"), QString("${POINT_IDEN:2}"));
            QProcess check;
            check.start(buildDir() + "/ledgerwick-report", {"--check", def});
            QVERIFY(check.waitForFinished(60000));
            const QString checked = QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
            QVERIFY2(check.exitCode() == 0 && checked.contains("POINT_IDEN:2") && !checked.contains("nknown"),
                     qPrintable(checked));
        }
        QProcess p;
        p.start(buildDir() + "/ledgerwick-report", {"--batch", def});
        QVERIFY(p.waitForFinished(60000));
        const QString said = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(p.exitCode() == 0, qPrintable(said));
        QVERIFY2(said.contains(warning), qPrintable(said));
        const QMap<QString, QStringList> report = xlrdCellsAndFormats(dir + "/real_report.xls");
        // Paradox: NAME, SMALL and the memo (the last column) of the report.
        const int lastColumn = kind == "pxmemo" ? 11 : 2;
        for (int i = 0; i < expected.size(); ++i) {
            for (int c = 0; c < expected[i].size(); ++c) {
                const int column = kind.startsWith("px") ? (c == 0 ? 0 : c == 1 ? 2 : lastColumn) : c;
                const QStringList cell = report.value(QString("%1,%2").arg(3 + i).arg(column));
                const QString value = cell.value(0);
                if (kind == "foxtime" && c == 0) {
                    QVERIFY2(qAbs(value.toDouble() - expected[i][c].toDouble()) < 1e-9, qPrintable(value));
                    // A time shows as a time; a date and time as both.
                    QCOMPARE(cell.value(1).contains("yy"), i == 1);
                    QVERIFY(cell.value(1).contains("hh:mm"));
                } else if (kind.startsWith("px") && c == 1 && expected[i][c] != "null") {
                    QCOMPARE(value.toDouble(), expected[i][c].toDouble());
                } else {
                    QCOMPARE(value, expected[i][c] == "null" ? QString() : expected[i][c]);
                }
            }
        }
        QVERIFY(report.value(QString("%1,0").arg(3 + expected.size())).isEmpty());
    }

    // The Blank Builder command of the real main window starts the real program: the user arranges
    // the blank in the spreadsheet program (the stand-in), answers the windows, and the main window
    // gets its workbook path (1029) or stays as it was (1025).
    void fromMainWindow_data() {
        QTest::addColumn<QString>("tool");    // "program", or "no-edit" for a wrapper adding --no-edit
        QTest::addColumn<QString>("modes");   // of the stand-in spreadsheet program, one per start
        QTest::addColumn<QString>("answers"); // of the builder's windows
        QTest::addColumn<QString>("spreadsheet"); // "EXCEL" "Program"; empty: the stand-in
        QTest::addColumn<QStringList>("shown");   // the builder's windows and notices, in order
        QTest::addColumn<QString>("a1");          // A1 of the blank afterwards (xlrd); empty: no blank
        const QString wait = "Blank builder: Clients|", reading = " Reading cells|";
        QTest::newRow("no-edit") << "no-edit" << "" << "" << "" << QStringList({" Reading cells|"}) << "Clients";
        QTest::newRow("arranged by hand") << "program" << "edit" << "done" << ""
                                          << QStringList({wait, reading}) << "Arranged by hand";
        QTest::newRow("saved by LibreOffice")
            << "program" << "lo" << "done" << "" << QStringList({wait, reading}) << "Clients";
        QTest::newRow("unknown marker, then mended")
            << "program" << "unknown,edit" << "done,ok,done" << ""
            << QStringList({wait, reading, " Scan form again!|Unknown markers: NO_SUCH_FIELD (Clients!A7)", wait,
                            reading})
            << "Arranged by hand";
        QTest::newRow("saved as xlsx, then as xls")
            << "program" << "xlsx,lo" << "done,ok,done" << ""
            << QStringList({wait, reading, " Scan form again!|", wait, reading}) << "Clients";
        QTest::newRow("spreadsheet still open")
            << "program" << "hold" << "ok,ok,done" << ""
            << QStringList({wait, " Close MS Excel|", reading}) << "Clients";
        QTest::newRow("open in Excel") << "program" << "keep" << "ok,ok,done" << ""
                                       << QStringList({wait, " Close MS Excel|", reading}) << "Clients";
        QTest::newRow("saved as ods, told, given up")
            << "program" << "ods" << "done,ok,no" << "" << QStringList({wait, " ATTENTION  |saved as "}) << "";
        QTest::newRow("cancelled") << "program" << "keep" << "no" << "" << QStringList({wait}) << "";
        QTest::newRow("markers all removed, given up")
            << "program" << "empty" << "done,no" << ""
            << QStringList({wait, reading, " No entries in the file |"}) << "";
        QTest::newRow("long silence, given up")
            << "program" << "keep" << "stay,no" << ""
            << QStringList({wait, " EXCEL does not answer | Continue expectation? "}) << "";
        QTest::newRow("spreadsheet cannot start")
            << "program" << "" << "ok" << "/no/such/spreadsheet"
            << QStringList({" Excel cannot be lunched|/no/such/spreadsheet "}) << "";
    }
    void fromMainWindow() {
        QFETCH(QString, tool);
        QFETCH(QString, modes);
        QFETCH(QString, answers);
        QFETCH(QString, spreadsheet);
        QFETCH(QStringList, shown);
        QFETCH(QString, a1);
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
        const QString start = path("main/" + tag + "/start");
        const QString def = path("main/" + tag + "/reports/clients.pr");
        const QString book = path("main/" + tag + "/reports/clients.xls");
        QVERIFY(QDir().mkpath(start));
        QVERIFY(writeFile(def, definition(tablesDir(), "CLIENTS.DBF", false, 1, book))); // as Save leaves it
        if (tool == "no-edit") {
            QVERIFY(writeFile(start + "/zarmek.exe", "#!/bin/sh\nexec \"" + buildDir().toUtf8() +
                                                         "/ledgerwick-blank\" --no-edit \"$1\"\n"));
            QVERIFY(QFile::setPermissions(start + "/zarmek.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        } else {
            QVERIFY(QFile::link(buildDir() + "/zarmek.exe", start + "/zarmek.exe"));
        }
        setSpreadsheet(spreadsheet.isEmpty() ? sourceDir() + "/tests/tools/standin-spreadsheet.py" : spreadsheet);
        prepareRun(modes, answers);
        qputenv("LEDGERWICK_BLANK_PATIENCE", tag.startsWith("long") ? "1" : "");

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(start)); // the start directory is where the program starts
        std::unique_ptr<TMainForm> form = test::makeMainForm();
        QDir::setCurrent(previous);
        TForm1* w = loadDocument(*form, def);
        QVERIFY(w);
        w->setWorkbookLabel("(not yet)"); // only 1029 makes the window read the path back

        // Excel's owner file beside the blank: a length byte, the user's name, padding.
        const QString owner = tag.contains("Excel") ? QFileInfo(book).absolutePath() + "/~$clients.xls" : QString();
        if (!owner.isEmpty())
            QVERIFY(writeFile(owner, "\x0BTess Tester" + QByteArray(150, ' ')));
        e2e::ModalRecorder quiet;
        QTest::mouseClick(form->SB12, Qt::LeftButton);
        QVERIFY(!form->isEnabled());
        if (modes == "hold" || tag.contains("Excel")) { // the user closes the spreadsheet program only once told to
            QVERIFY(waitFor([&] { return readFile(log()).contains("Close MS Excel"); }, 20000));
            QVERIFY(writeFile(path("go"), "") && (owner.isEmpty() || QFile::remove(owner)));
        }
        QVERIFY(waitFor([&] { return form->isEnabled(); }, 90000));
        QCOMPARE(form->windowState(), Qt::WindowNoState);
        QCOMPARE(quiet.seen(), QStringList());

        const QStringList lines = logLines();
        QCOMPARE(lines.size(), shown.size());
        for (int i = 0; i < shown.size(); ++i)
            QVERIFY2(lines[i].startsWith(shown[i]), qPrintable(lines.join('\n')));
        if (tag.contains("Excel")) // who holds the blank, from the owner file
            QCOMPARE(lines.value(1), " Close MS Excel|" + book + " is open: Excel of Tess Tester (" + owner + ")");
        if (modes == "ods") { // the work went into an .ods: said so, the blank not read as if it held it
            const QString ods = QFileInfo(book).absolutePath() + "/clients.ods";
            QCOMPARE(lines.value(1), " ATTENTION  |saved as " + ods + ": save the blank as Excel 97-2003 " + book);
            QVERIFY(QFileInfo::exists(ods));
        }
        QCOMPARE(w->Label3->text(), a1.isEmpty() ? QString("(not yet)") : book);
        if (!a1.isEmpty())
            QCOMPARE(xlrdCells(book).value("0,0"), a1);
        if (modes.isEmpty() && tool == "program")
            QVERIFY(QFileInfo::exists(book)); // the blank stays as written
        form->close();
    }
};

QTEST_MAIN(TstBlankRun)
#include "tst_blankrun.moc"
