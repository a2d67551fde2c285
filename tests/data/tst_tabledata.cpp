// The table data library on the demo data: opening sources, fields, records, conditions, ranges.
#include "data/tabledata.h"
#include "support/testsupport.h"

#include <QtTest>

using namespace lw::data;

namespace {

// Every record of a query as text lines "v1|v2|..." for comparison.
QString show(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Null:
        return QStringLiteral("null");
    case Value::Kind::Integer:
        return QString::number(v.integer);
    case Value::Kind::Double:
        return QString::number(v.number, 'g', 17);
    case Value::Kind::Decimal:
        return QStringLiteral("d:") + v.text;
    case Value::Kind::Text:
        return v.text;
    case Value::Kind::Date:
        return v.date.toString(Qt::ISODate);
    case Value::Kind::Time:
        return v.time.toString(Qt::ISODateWithMs);
    case Value::Kind::Timestamp:
        return v.date.toString(Qt::ISODate) + QLatin1Char('T') + v.time.toString(Qt::ISODateWithMs);
    case Value::Kind::Logical:
        return v.logical ? QStringLiteral("true") : QStringLiteral("false");
    }
    return QString();
}

QStringList rows(RecordStream& stream) {
    QStringList out;
    Record r;
    while (stream.next(r)) {
        QStringList cells;
        for (const Value& v : r)
            cells << show(v);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class TestTableData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("LEDGERWICK_ALIASES", QByteArray(LW_BUILD_DIR "/demo/aliases.ini"));
    }

    void demoDbf() {
        auto source = DataSource::open({true, QStringLiteral("DEMO")});
        const std::vector<Field> fields = source->fields(QStringLiteral("CLIENTS.DBF"));
        QCOMPARE(fields.size(), std::size_t(5));
        QCOMPARE(fields[3].type, FieldType::Date);
        auto stream = source->query(QStringLiteral("CLIENTS.DBF"), QString(), 1, 2);
        const QStringList got = rows(*stream);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0], QStringLiteral("1001|Ashdown Hardware|Leeds|1994-03-12|true"));
    }

    void demoCondition() {
        auto source = DataSource::open({true, QStringLiteral("DEMO")});
        auto stream = source->query(QStringLiteral("ORDERS.DBF"), QStringLiteral("where AMOUNT > 100 order by ORDERED desc"), 0, 0);
        const QStringList got = rows(*stream);
        QVERIFY(!got.isEmpty());
        QVERIFY2(got.contains(QStringLiteral("50001|1001|1999-01-04|d:1250.00|true")), qPrintable(got.join('\n')));
    }

    void demoSqlite() {
        auto source = DataSource::open({true, QStringLiteral("DEMO SQLITE")});
        auto stream = source->query(QStringLiteral("Stock Levels"), QStringLiteral("order by quantity"), 1, 0);
        QCOMPARE(rows(*stream), QStringList({"Hinges|1470", "Bolts|9800", "Nuts|12000"}));
    }
};

QTEST_GUILESS_MAIN(TestTableData)
#include "tst_tabledata.moc"
