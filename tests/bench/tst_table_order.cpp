// Checks the order of big directory listings (the fast sort that the benchmarks led to) against a
// plain comparison sort of the same names.
#include "data/engine_directory.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

using namespace lw;

namespace {

// A temporary folder for names of any bytes. QTemporaryDir removes its folder by names decoded as
// text, which fails for names that are not valid in the system's encoding and leaves the folder
// behind; this removes it by the bytes of its names first.
struct ByteNamesDir : QTemporaryDir {
    ~ByteNamesDir() {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path()).toStdString()), ignored);
    }
};

// Name order as the listing promises it: letters A to Z as their lower case, other bytes by value,
// a name before the longer names it begins; names equal so far by their exact bytes.
bool referenceLess(const QByteArray& a, const QByteArray& b) {
    const QByteArray fa = a.toLower(); // ASCII letters only
    const QByteArray fb = b.toLower();
    return fa != fb ? fa < fb : a < b;
}

bool createFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

} // namespace

class TestTableOrder : public QObject {
    Q_OBJECT
private slots:
    void bigListingsInNameOrder_data() {
        QTest::addColumn<QList<QByteArray>>("prefixes");
        QTest::addColumn<QByteArray>("letters"); // of the rest of each name
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<QByteArray>>("oddOnes"); // a few more names among them
        const QByteArray ascii = "aAbBzZ09_-.~ []`{";
        const QByteArray mixed = "aAbBzZ09_-.~ \xC3\xA9\xE9[]`{";
        // 800 names take the radix sort (few, the comparison sort the catalogue's tests see): names that
        // differ early, first differ in the eighth byte (the last one the radix passes see), or agree longer.
        QTest::newRow("varied") << QList<QByteArray>{""} << mixed << 800 << QList<QByteArray>{};
        QTest::newRow("varied, ASCII") << QList<QByteArray>{""} << ascii << 800 << QList<QByteArray>{};
        QTest::newRow("seven bytes shared")
            << QList<QByteArray>{"REPORT_", "report_"} << mixed << 800 << QList<QByteArray>{};
        QTest::newRow("long shared beginnings")
            << QList<QByteArray>{"CUSTOMERS_2023_", "customers_2023_", "Customers_2024"} << ascii << 800
            << QList<QByteArray>{};
        // Beginnings of more than two eight-byte steps, some ending on a step's last byte, names
        // that differ only in the case of a letter.
        QTest::newRow("longer shared beginnings")
            << QList<QByteArray>{"CUSTOMER_ORDERS_2024_", "customer_orders_2024_", "CUSTOMER_ORDERS_",
                                 "CUSTOMER_ORDERS_2024_BRANCH_0"}
            << mixed << 800 << QList<QByteArray>{};
        // Numbers of one to eleven digits after a long beginning: the sort keeps only the bits in
        // which the names differ (four a digit), names end at every place of a digit, and keys of
        // different lengths meet in one radix digit.
        QTest::newRow("numbered, different lengths")
            << QList<QByteArray>{"CUSTOMER_ORDERS_2024_"} << QByteArray("0123456789") << 5000
            << QList<QByteArray>{};
        // Plain names but for a few, met somewhere in the reading (the names gathered so far then
        // change from text to bytes), and a few names that share less of the beginning than all the
        // others, met after many of them.
        QTest::newRow("a few names not plain ASCII")
            << QList<QByteArray>{"CUSTOMER_ORDERS_2024_"} << QByteArray("0123456789aB") << 3000
            << QList<QByteArray>{"CUSTOMER_ORDERS_2024_\xC3\xA9.db", "CUSTOMER_ORDERS_2024_\xC3\xBC.DBF",
                                 "CUSTOMER_ORDERS_2024_1\xC3\xA9.db"};
        QTest::newRow("a few names share less")
            << QList<QByteArray>{"CUSTOMER_ORDERS_2024_"} << QByteArray("0123456789") << 3000
            << QList<QByteArray>{"CUSTOMER_1.db", "customer_ORDERS_2.DB", "CUSTOMER_ORDERS_2024.dbf"};
    }
    void bigListingsInNameOrder() {
        QFETCH(QList<QByteArray>, prefixes);
        QFETCH(QByteArray, letters);
        QFETCH(int, count);
        QFETCH(QList<QByteArray>, oddOnes);
        ByteNamesDir dir;
        QRandomGenerator r(807 + quint32(prefixes.size()));
        static const QList<QByteArray> exts = {".DB", ".db", ".DBF", ".dbf", ".Dbf"};
        QList<QByteArray> names = oddOnes;
        QSet<QByteArray> made(oddOnes.begin(), oddOnes.end());
        while (names.size() < count + oddOnes.size()) {
            QByteArray stem = prefixes.at(r.bounded(prefixes.size()));
            const int length = r.bounded(1, 12);
            for (int i = 0; i < length; ++i)
                stem += letters.at(r.bounded(letters.size()));
            const QByteArray name = stem + exts.at(r.bounded(exts.size()));
            if (made.contains(name))
                continue;
            made.insert(name);
            names << name;
        }
        for (const QByteArray& name : names)
            QVERIFY(createFile(QFile::encodeName(dir.path()) + '/' + name));
        std::sort(names.begin(), names.end(), referenceLess);
        QStringList expected;
        for (const QByteArray& name : names)
            expected << QString::fromUtf8(name);
        QCOMPARE(listTableFiles(dir.path()), expected);
    }

    // The listing's names share one block of memory: each must still behave as a string of its
    // own, changed without touching the others, and outlive the list.
    void namesAreIndependentStrings_data() {
        QTest::addColumn<bool>("asciiOnly");
        QTest::newRow("plain ASCII") << true;
        QTest::newRow("UTF-8 and Latin-1 among them") << false;
    }
    void namesAreIndependentStrings() {
        QFETCH(bool, asciiOnly);
        ByteNamesDir dir;
        const QList<QByteArray> files = {"a.db", "b.dbf", asciiOnly ? "c~.DB" : "c\xC3\xA9.DB",
                                         asciiOnly ? "d_.db" : "d\xE9.db", "e.db"};
        for (const QByteArray& name : files)
            QVERIFY(createFile(QFile::encodeName(dir.path()) + '/' + name));
        QString kept;
        QString grown;
        {
            QStringList names = listTableFiles(dir.path());
            QCOMPARE(names.size(), 5);
            names[1].append(QStringLiteral("-changed"));
            names[2][0] = QLatin1Char('C');
            QCOMPARE(names.at(0), QStringLiteral("a.db"));
            QCOMPARE(names.at(1), QStringLiteral("b.dbf-changed"));
            QCOMPARE(names.at(2), QString::fromUtf8(asciiOnly ? "C~.DB" : "C\xC3\xA9.DB"));
            // Not UTF-8: as the system's decoding gives it.
            QCOMPARE(names.at(3), QString::fromUtf8(asciiOnly ? "d_.db" : "d\xE9.db"));
            QCOMPARE(names.at(4), QStringLiteral("e.db"));
            QVERIFY(names.at(0).utf16()[4] == 0);
            kept = names.at(3);
            grown = names.at(0);
        }
        // The last holders of the block: one grows (into the room after it), the other must not see it.
        grown.append(QString(200, QLatin1Char('x')));
        QCOMPARE(grown, QStringLiteral("a.db") + QString(200, QLatin1Char('x')));
        QCOMPARE(kept, QString::fromUtf8(asciiOnly ? "d_.db" : "d\xE9.db"));
        QTemporaryDir empty;
        QVERIFY(listTableFiles(empty.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTableOrder)
#include "tst_table_order.moc"
