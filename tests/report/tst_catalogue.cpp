// The catalogue's operations over a stand-in engine, and the alias configuration engine with
// directories of table files: listing rules, path normalisation, failures.
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/engine_aliasfile.h"
#include "report/engine_directory.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace lw;

namespace {

// An engine that answers from tables set by the test and records what it was asked.
class StandInEngine : public DataEngine {
public:
    QStringList aliases;
    QMap<QString, QStringList> tables;
    QMap<QString, QStringList> parameters;
    bool failing = false;
    QStringList asked;

    QStringList aliasNames() override {
        check();
        return aliases;
    }
    QStringList tableNames(const QString& alias) override {
        check();
        if (!tables.contains(alias)) {
            throw EngineError("no such alias");
        }
        return tables.value(alias);
    }
    QStringList aliasParameters(const QString& alias) override {
        asked << alias;
        check();
        if (!parameters.contains(alias)) {
            throw EngineError("no such alias");
        }
        return parameters.value(alias);
    }

private:
    void check() const {
        if (failing) {
            throw EngineError("the engine is down");
        }
    }
};

QString engineErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EngineError& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TstCatalogue : public QObject {
    Q_OBJECT

    StandInEngine* m_standIn = nullptr;
    QTemporaryDir m_dir;

    StandInEngine& useStandIn() {
        auto engine = std::make_unique<StandInEngine>();
        m_standIn = engine.get();
        setEngine(std::move(engine));
        return *m_standIn;
    }

    QString writeConfiguration(const QByteArray& text) {
        const QString file = m_dir.filePath(QStringLiteral("aliases.ini"));
        if (!test::writeFile(file, text)) {
            qFatal("cannot write the alias configuration");
        }
        setEngine(std::make_unique<AliasFileEngine>(file));
        return file;
    }

    void touch(const QString& path) { QVERIFY2(test::writeFile(path, QByteArray()), qPrintable(path)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { setEngine(nullptr); }

    void listAliases_data() {
        QTest::addColumn<QStringList>("delivered");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("case-insensitive order")
            << QStringList{"zeta", "Alpha", "beta", "Gamma"} << QStringList{"Alpha", "beta", "Gamma", "zeta"};
        QTest::newRow("names differing in case: first delivered stays")
            << QStringList{"sales", "DEMO", "Sales", "demo", "Demo"} << QStringList{"DEMO", "sales"};
        QTest::newRow("none") << QStringList{} << QStringList{};
    }
    void listAliases() {
        QFETCH(QStringList, delivered);
        QFETCH(QStringList, listed);
        useStandIn().aliases = delivered;
        QStringList dest{"old"};
        lw::listAliases(dest);
        QCOMPARE(dest, listed);
    }

    void failuresReachTheCaller() {
        StandInEngine& engine = useStandIn();
        engine.tables[QStringLiteral("A")] = QStringList{"T1.DB"};
        engine.failing = true;

        QStringList aliases{"kept"};
        QCOMPARE(engineErrorOf([&] { lw::listAliases(aliases); }), QStringLiteral("the engine is down"));
        QCOMPARE(aliases, QStringList{"kept"});

        QStringList tables{"stale"};
        QVERIFY(!engineErrorOf([&] { lw::listTables(QStringLiteral("A"), tables); }).isEmpty());
        QVERIFY(tables.isEmpty());

        engine.failing = false;
        QVERIFY(!engineErrorOf([&] { lw::listTables(QStringLiteral("B"), tables); }).isEmpty());
        QVERIFY(tables.isEmpty());
    }

    void listTablesKeepsTheEngineOrder() {
        useStandIn().tables[QStringLiteral("A")] = QStringList{"ZED.DB", "alpha.dbf", "Mid"};
        QStringList tables{"stale"};
        lw::listTables(QStringLiteral("A"), tables);
        QCOMPARE(tables, (QStringList{"ZED.DB", "alpha.dbf", "Mid"}));
    }

    void normalisePath_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        QTest::newRow("absolute path unchanged") << "/srv/data"
                                                 << "/srv/data";
        QTest::newRow("two slashes are a path") << "//server/share"
                                                << "//server/share";
        QTest::newRow("drive path unchanged") << "C:\\DATA"
                                              << "C:\\DATA";
        QTest::newRow("drive alone unchanged") << "D:"
                                               << "D:";
        QTest::newRow("alias") << "data"
                               << "/srv/data/";
        QTest::newRow("alias in capitals looked up in lower case") << "DATA"
                                                                   << "/srv/data/";
        QTest::newRow("only A to Z are lowered") << QStringLiteral("ÄRZTE") << "/med/";
        QTest::newRow("directory ending in / gets a second") << "trail"
                                                             << "/srv/trail//";
        QTest::newRow("one character is an alias") << "d"
                                                   << "/one/";
        QTest::newRow("unknown alias gives the fallback") << "nosuch"
                                                          << "//";
        QTest::newRow("backslash network path is an alias") << "\\\\server\\share"
                                                            << "//";
        QTest::newRow("server alias: first line from its 6th character") << "server"
                                                                         << "R NAME=db.example/";
        QTest::newRow("empty parameter list") << "empty"
                                              << "//";
        QTest::newRow("first line shorter than the key") << "short"
                                                         << "/";
        QTest::newRow("engine failure") << "down"
                                        << "//";
    }
    void normalisePath() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        StandInEngine& engine = useStandIn();
        engine.parameters[QStringLiteral("data")] = QStringList{"PATH=/srv/data", "LANGDRIVER=x"};
        engine.parameters[QStringLiteral("trail")] = QStringList{"PATH=/srv/trail/"};
        engine.parameters[QStringLiteral("d")] = QStringList{"PATH=/one"};
        engine.parameters[QStringLiteral("Ärzte")] = QStringList{"PATH=/med"};
        engine.parameters[QStringLiteral("server")] = QStringList{"SERVER NAME=db.example", "PORT=5432"};
        engine.parameters[QStringLiteral("empty")] = QStringList{};
        engine.parameters[QStringLiteral("short")] = QStringList{"P=x"};
        if (text == QLatin1String("down")) {
            engine.failing = true;
        }
        QCOMPARE(lw::normalisePath(text), result);
    }

    void trimBlanks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        QTest::newRow("both ends") << "  A B  "
                                   << "A B";
        QTest::newRow("blanks only") << "   "
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("leading tab stays") << "\tA "
                                           << "\tA";
        QTest::newRow("trailing tab stays") << " A\t"
                                            << "A\t";
        QTest::newRow("no-break space stays") << QStringLiteral("\u00A0A ") << QStringLiteral("\u00A0A");
    }
    void trimBlanks() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QCOMPARE(lw::trimBlanks(text), result);
    }

    // A directory with tables, other files, subdirectories and links.
    void standardDirectory() {
        const QString tables = m_dir.filePath(QStringLiteral("std/tables"));
        QVERIFY(QDir().mkpath(tables + QStringLiteral("/SUB.DBF")));
        QVERIFY(QDir().mkpath(tables + QStringLiteral("/inner")));
        for (const char* name : {"ORDERS.DB", "clients.DBF", "Mixed.Dbf", "b.db", "notes.txt", "old.dbf.bak",
                                 "x.dbfx", "noext", ".dbf", "inner/DEEP.DBF"}) {
            touch(tables + QLatin1Char('/') + QLatin1String(name));
        }
        QVERIFY(QFile::link(tables + QStringLiteral("/clients.DBF"), tables + QStringLiteral("/link.dbf")));
        QVERIFY(QFile::link(tables + QStringLiteral("/gone.dbf"), tables + QStringLiteral("/dangling.DB")));

        const QStringList expected{"b.db", "clients.DBF", "link.dbf", "Mixed.Dbf", "ORDERS.DB"};
        QCOMPARE(listTableFiles(tables), expected);

        writeConfiguration(
            "[Files]\nTYPE=STANDARD\nPATH=std/tables\n[files]\nTYPE=STANDARD\nPATH=/nowhere\n");
        QStringList dest;
        lw::listTables(QStringLiteral("FILES"), dest);
        QCOMPARE(dest, expected);
        lw::listAliases(dest);
        QCOMPARE(dest, QStringList{"Files"});
        QCOMPARE(lw::normalisePath(QStringLiteral("Files")), tables + QLatin1Char('/'));
    }

    void aliasParameters() {
        writeConfiguration("; demo\n[Files]\nFOO = 1\nTYPE=STANDARD\nPATH=./std/../std/tables/\nBAR=a=b\n"
                           "[Db]\nType=SQLITE\nDATABASE NAME=x.sqlite\n[Root]\nTYPE=STANDARD\nPATH=/\n");
        const QString tables = QDir::cleanPath(m_dir.filePath(QStringLiteral("std/tables")));
        QCOMPARE(engine().aliasParameters(QStringLiteral("files")),
                 (QStringList{"PATH=" + tables, "FOO=1", "BAR=a=b"}));
        QCOMPARE(engine().aliasParameters(QStringLiteral("Db")), QStringList{"DATABASE NAME=x.sqlite"});
        QCOMPARE(lw::aliasDirectory(QStringLiteral("FILES")), tables);
        QCOMPARE(lw::normalisePath(QStringLiteral("Root")), QStringLiteral("//"));
        QCOMPARE(lw::normalisePath(QStringLiteral("Db")), QStringLiteral("ASE NAME=x.sqlite/"));
    }

    void engineErrors_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown alias")
            << QByteArray("[other]\nTYPE=STANDARD\nPATH=/\n") << "The alias \"a\" does not exist";
        QTest::newRow("unknown type")
            << QByteArray("[A]\nTYPE=PARADOX\n") << "The alias \"A\" has the unknown type \"PARADOX\"";
        QTest::newRow("no type") << QByteArray("[A]\nPATH=/tmp\n")
                                 << "The alias \"A\" has no type (key TYPE)";
        QTest::newRow("missing directory")
            << QByteArray("[A]\nTYPE=STANDARD\nPATH=no/such/dir\n") << "of alias \"A\" does not exist";
        QTest::newRow("file instead of directory")
            << QByteArray("[A]\nTYPE=STANDARD\nPATH=aliases.ini\n") << "is not a directory";
        QTest::newRow("no directory")
            << QByteArray("[A]\nTYPE=STANDARD\n") << "names no directory (key PATH)";
        QTest::newRow("missing database file") << QByteArray("[A]\nTYPE=SQLITE\nDATABASE NAME=none.sqlite\n")
                                               << "none.sqlite\" of alias \"A\" does not exist";
        QTest::newRow("bad port") << QByteArray("[A]\nTYPE=POSTGRESQL\nPORT=54x\n")
                                  << "The alias \"A\" has the invalid port \"54x\"";
        QTest::newRow("data source name as connection string")
            << QByteArray("[A]\nTYPE=ODBC\nODBC DSN=x;DRIVER=/tmp/evil.so\n")
            << "invalid ODBC data source name";
    }
    void engineErrors() {
        QFETCH(QByteArray, section);
        QFETCH(QString, expected);
        writeConfiguration(section);
        QStringList dest{"stale"};
        const QString text = engineErrorOf([&] { lw::listTables(QStringLiteral("a"), dest); });
        QVERIFY2(text.contains(expected), qPrintable(text));
        QVERIFY(dest.isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("none.sqlite"))));
    }

    void noConfigurationMeansNoAliases() {
        setEngine(std::make_unique<AliasFileEngine>(m_dir.filePath(QStringLiteral("absent.ini"))));
        QStringList dest{"old"};
        lw::listAliases(dest);
        QVERIFY(dest.isEmpty());
        QCOMPARE(lw::normalisePath(QStringLiteral("any")), QStringLiteral("//"));
    }

    // A configuration that exists but cannot be read stops the engine: the text names the file.
    void unreadableConfiguration_data() {
        QTest::addColumn<bool>("directory");
        QTest::newRow("a directory") << true;
        QTest::newRow("no read permission") << false;
    }
    void unreadableConfiguration() {
        QFETCH(bool, directory);
        const QString file =
            m_dir.filePath(directory ? QStringLiteral("dir.ini") : QStringLiteral("locked.ini"));
        if (directory) {
            QVERIFY(QDir().mkpath(file));
        } else {
            QVERIFY(test::writeFile(file, "[A]\nTYPE=STANDARD\nPATH=/\n"));
            QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
            QFile probe(file);
            if (probe.open(QIODevice::ReadOnly)) {
                QSKIP("this user reads files without read permission (root)");
            }
        }
        setEngine(std::make_unique<AliasFileEngine>(file));
        QStringList dest{"kept"};
        const QString text = engineErrorOf([&] { lw::listAliases(dest); });
        QVERIFY2(text.startsWith(QStringLiteral("Cannot read the alias configuration \"%1\": ").arg(file)),
                 qPrintable(text));
        QCOMPARE(dest, QStringList{"kept"});
        QCOMPARE(lw::normalisePath(QStringLiteral("A")), QStringLiteral("//"));
    }

    // Names only: no file metadata is read per entry.
    void hugeDirectoryListsQuickly() {
        const QString dir = m_dir.filePath(QStringLiteral("huge"));
        QVERIFY(QDir().mkpath(dir));
        const int count = 100000;
        // Hard links of a few empty files make the entries quickly; each is a regular file.
        // (A file system allows some tens of thousands of links to one file.)
        QList<QByteArray> sources;
        for (int k = 0; k < 4; ++k) {
            const QString source = m_dir.filePath(QStringLiteral("empty%1").arg(k));
            touch(source);
            sources << QFile::encodeName(source);
        }
        for (int i = 0; i < count; ++i) {
            const QByteArray name =
                QFile::encodeName(dir) + "/T" + QByteArray::number(count - i) + (i % 2 ? ".DBF" : ".txt");
            QVERIFY(::link(sources.at(i % 4).constData(), name.constData()) == 0);
        }
        QElapsedTimer timer;
        timer.start();
        const QStringList names = listTableFiles(dir);
        const qint64 elapsed = timer.elapsed();
        qInfo("%d table files of %d listed in %lld ms", int(names.size()), count, elapsed);
        QCOMPARE(names.size(), count / 2);
        QVERIFY(std::is_sorted(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        }));
        QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        QDir(dir).removeRecursively();
    }
};

QTEST_MAIN(TstCatalogue)
#include "tst_catalogue.moc"
