// The catalogue's operations over a stand-in engine, and the alias configuration engine with
// directories of table files: listing rules, path normalisation, failures.
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"
#include "data/engine_directory.h"
#include "support/testsupport.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace lw;

namespace {

// An engine that answers from tables set by the test; an unknown alias or a failing engine throws.
class StandInEngine : public DataEngine {
public:
    QStringList aliases;
    QMap<QString, QStringList> tables;
    QMap<QString, QStringList> parameters;
    bool failing = false;

    QStringList aliasNames() override { return answer(aliases); }
    QStringList tableNames(const QString& alias) override { return answer(tables, alias); }
    QStringList aliasParameters(const QString& alias) override { return answer(parameters, alias); }

private:
    QStringList answer(const QStringList& list) const {
        if (failing)
            throw EngineError("the engine is down");
        return list;
    }
    QStringList answer(const QMap<QString, QStringList>& map, const QString& alias) const {
        const QStringList list = answer(map.value(alias));
        if (!map.contains(alias))
            throw EngineError("no such alias");
        return list;
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

    QTemporaryDir m_dir;

    StandInEngine& useStandIn() {
        auto engine = std::make_unique<StandInEngine>();
        StandInEngine& standIn = *engine;
        setEngine(std::move(engine));
        return standIn;
    }

    void useConfiguration(const QByteArray& text) {
        QVERIFY(test::writeFile(m_dir.filePath("aliases.ini"), text));
        setEngine(std::make_unique<AliasFileEngine>(m_dir.filePath("aliases.ini")));
    }

private slots:
    void cleanup() { setEngine(nullptr); }

    // Aliases sorted without regard to case, each once (the first delivered stays); tables in the
    // engine's order. A failure leaves the alias list alone and the table list empty.
    void listingsAndFailures() {
        StandInEngine& engine = useStandIn();
        engine.aliases = QStringList{"zeta", "sales", "Alpha", "DEMO", "Sales", "demo", "beta"};
        const QStringList sorted{"Alpha", "beta", "DEMO", "sales", "zeta"};
        QStringList aliases{"old"};
        lw::listAliases(aliases);
        QCOMPARE(aliases, sorted);
        engine.tables["A"] = QStringList{"ZED.DB", "alpha.dbf", "Mid"};
        QStringList tables{"stale"};
        lw::listTables("A", tables);
        QCOMPARE(tables, (QStringList{"ZED.DB", "alpha.dbf", "Mid"}));
        QVERIFY(!engineErrorOf([&] { lw::listTables("B", tables); }).isEmpty());
        QVERIFY(tables.isEmpty());

        engine.failing = true;
        QCOMPARE(engineErrorOf([&] { lw::listAliases(aliases); }), QStringLiteral("the engine is down"));
        QCOMPARE(aliases, sorted);
        tables = QStringList{"stale"};
        QVERIFY(!engineErrorOf([&] { lw::listTables("A", tables); }).isEmpty());
        QVERIFY(tables.isEmpty());
    }

    void normalisePath_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        auto row = [](const char* name, const QString& text, const QString& result) {
            QTest::newRow(name) << text << result;
        };
        row("absolute path unchanged", "/srv/data", "/srv/data");
        row("alias", "data", "/srv/data/");
        row("directory ending in / gets a second", "trail", "/srv/trail//");
        row("unknown alias gives the fallback", "nosuch", "//");
        row("server alias: first line from its 6th character", "server", "R NAME=db.example/");
        row("first line shorter than the key", "short", "/");
    }
    void normalisePath() {
        QFETCH(QString, text);
        QFETCH(QString, result);
        StandInEngine& engine = useStandIn();
        engine.parameters["data"] = QStringList{"PATH=/srv/data", "LANGDRIVER=x"};
        engine.parameters["trail"] = QStringList{"PATH=/srv/trail/"};
        engine.parameters["server"] = QStringList{"SERVER NAME=db.example", "PORT=5432"};
        engine.parameters["short"] = QStringList{"P=x"};
        QCOMPARE(lw::normalisePath(text), result);
    }

    // A directory with tables, other files, subdirectories and links.
    void standardDirectory() {
        const QString tables = m_dir.filePath("std/tables");
        QVERIFY(QDir().mkpath(tables + QStringLiteral("/SUB.DBF")));
        for (const char* name : {"ORDERS.DB", "clients.DBF", "Mixed.Dbf", "b.db", "old.dbf.bak", ".dbf"})
            QVERIFY(test::writeFile(tables + QLatin1Char('/') + QLatin1String(name), QByteArray()));
        QVERIFY(QFile::link(tables + QStringLiteral("/clients.DBF"), tables + QStringLiteral("/link.dbf")));
        QVERIFY(QFile::link(tables + QStringLiteral("/gone.dbf"), tables + QStringLiteral("/dangling.DB")));

        const QStringList expected{"b.db", "clients.DBF", "link.dbf", "Mixed.Dbf", "ORDERS.DB"};
        QCOMPARE(listTableFiles(tables), expected);
        useConfiguration("[Files]\nTYPE=STANDARD\nPATH=std/tables\n[files]\nTYPE=STANDARD\nPATH=/nowhere\n");
        QStringList dest;
        lw::listTables("FILES", dest);
        QCOMPARE(dest, expected);
        lw::listAliases(dest);
        QCOMPARE(dest, QStringList{"Files"});
        QCOMPARE(lw::normalisePath("Files"), tables + QLatin1Char('/'));
    }

    void engineErrors_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& section, const QString& expected) {
            QTest::newRow(name) << section << expected;
        };
        row("unknown alias", "[other]\nTYPE=STANDARD\nPATH=/\n", "The alias \"a\" does not exist");
        row("unknown type", "[A]\nTYPE=PARADOX\n", "The alias \"A\" has the unknown type \"PARADOX\"");
        row("missing directory", "[A]\nTYPE=STANDARD\nPATH=no/such/dir\n", "of alias \"A\" does not exist");
        row("missing database file", "[A]\nTYPE=SQLITE\nDATABASE NAME=none.sqlite\n",
            "of alias \"A\" does not exist");
        row("bad port", "[A]\nTYPE=POSTGRESQL\nPORT=54x\n", "The alias \"A\" has the invalid port \"54x\"");
        row("data source name as connection string", "[A]\nTYPE=ODBC\nODBC DSN=x;DRIVER=/tmp/evil.so\n",
            "invalid ODBC data source name");
    }
    void engineErrors() {
        QFETCH(QByteArray, section);
        QFETCH(QString, expected);
        useConfiguration(section);
        QStringList dest{"stale"};
        const QString text = engineErrorOf([&] { lw::listTables("a", dest); });
        QVERIFY2(text.contains(expected), qPrintable(text));
        QVERIFY(dest.isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath("none.sqlite")));
    }

    // No configuration is no aliases; one that exists but cannot be read stops the engine, naming the file.
    void configurationMissingOrUnreadable() {
        setEngine(std::make_unique<AliasFileEngine>(m_dir.filePath("absent.ini")));
        QStringList dest{"kept"};
        QCOMPARE(engineErrorOf([&] { lw::listAliases(dest); }), QString());
        QVERIFY(dest.isEmpty());

        const QString file = m_dir.filePath("directory.ini");
        QVERIFY(QDir().mkpath(file));
        setEngine(std::make_unique<AliasFileEngine>(file));
        dest = QStringList{"kept"};
        const QString text = engineErrorOf([&] { lw::listAliases(dest); });
        QVERIFY2(text.startsWith(QStringLiteral("Cannot read the alias configuration \"%1\": ").arg(file)),
                 qPrintable(text));
        QCOMPARE(dest, QStringList{"kept"});
        QCOMPARE(lw::normalisePath("A"), QStringLiteral("//"));
    }
};

QTEST_MAIN(TstCatalogue)
#include "tst_catalogue.moc"
