// Markers in text cells: how a text is cut into literal parts and markers, and what a name stands for.
#include "tools/common/markers.h"

#include <QtTest>

#include <algorithm>

using namespace lw;

class TstMarkers : public QObject {
    Q_OBJECT

    // The parts as "text" for literal text and "{name}" for a marker, joined by "|".
    static QString shown(const std::vector<MarkerPart>& parts) {
        QStringList out;
        for (const MarkerPart& p : parts)
            out.append(p.isMarker ? '{' + p.text + '}' : p.text);
        return out.join('|');
    }

private slots:
    void split_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parts");
        QTest::addColumn<QString>("sole");
        QTest::newRow("one marker") << "${NAME}" << "{NAME}" << "NAME";
        QTest::newRow("inside text") << "Client: ${NAME}, ${CITY}." << "Client: |{NAME}|, |{CITY}|." << "";
        QTest::newRow("escaped") << "$${NAME} costs $5" << "${NAME} costs $5" << "";
        QTest::newRow("escaped then marker") << "$${A}${B}" << "${A}|{B}" << "";
        QTest::newRow("unclosed") << "total ${SUM" << "total ${SUM" << "";
        QTest::newRow("blanks and non-ASCII") << "${ Имя клиента }" << "{ Имя клиента }" << " Имя клиента ";
        QTest::newRow("name up to the first }") << "${A}B}" << "{A}|B}" << "";
        QTest::newRow("empty name") << "${}" << "{}" << "";
        QTest::newRow("dollar at the end") << "5$" << "5$" << "";
    }
    void split() {
        QFETCH(QString, text);
        QTEST(shown(splitMarkers(text)), "parts");
        QTEST(soleMarker(text), "sole");
        const std::vector<MarkerPart> parts = splitMarkers(text);
        QCOMPARE(hasMarker(text), std::any_of(parts.begin(), parts.end(), [](auto& p) { return p.isMarker; }));
    }

    void kind_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("field");
        QTest::newRow("field, other case") << "NAME" << int(MarkerKind::Field) << 0;
        QTest::newRow("a field called DATE wins") << "date" << int(MarkerKind::Field) << 1;
        QTest::newRow("non-ASCII field") << "сумма" << int(MarkerKind::Field) << 2;
        QTest::newRow("record number") << "#" << int(MarkerKind::Number) << -1;
        QTest::newRow("report name") << "Report" << int(MarkerKind::Report) << -1;
        QTest::newRow("unknown") << "NAMES" << int(MarkerKind::Unknown) << -1;
        QTest::newRow("blanks are part of the name") << " Name" << int(MarkerKind::Unknown) << -1;
    }
    void kind() {
        QFETCH(QString, name);
        const QStringList fields{"Name", "DATE", "Сумма"};
        QTEST(int(markerKind(name, fields)), "kind");
        QTEST(fieldIndex(name, fields), "field");
    }

    // Fields a table repeats: ${NAME} the first, ${NAME:2} the second; the marker names the blank
    // builder writes read back to the same fields.
    void sameNamedFields_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("field");
        QTest::newRow("plain name, the first") << "Point_ID" << 0;
        QTest::newRow(":1 is the first") << "POINT_ID:1" << 0;
        QTest::newRow(":2 the second") << "point_id:2" << 2;
        QTest::newRow(":3 the third") << "Point_ID:3" << 4;
        QTest::newRow("past the fields of the name") << "Point_ID:4" << -1;
        QTest::newRow(":0 is no field") << "Point_ID:0" << -1;
        QTest::newRow("a single field, :2") << "Name:2" << -1;
        QTest::newRow("a single field, :1") << "Name:1" << 1;
        QTest::newRow("not a number") << "Point_ID:x" << -1;
        QTest::newRow("nothing after the colon") << "Point_ID:" << -1;
        QTest::newRow("a field whose name holds the colon") << "Time:2" << 3;
        QTest::newRow("that field, counted") << "Time:2:1" << 3;
        QTest::newRow("a huge index") << "Point_ID:99999999999" << -1;
    }
    void sameNamedFields() {
        QFETCH(QString, name);
        const QStringList fields{"Point_ID", "Name", "POINT_ID", "Time:2", "Point_id"};
        QTEST(fieldIndex(name, fields), "field");
        QCOMPARE(markerKind(name, fields), fieldIndex(name, fields) >= 0 ? MarkerKind::Field : MarkerKind::Unknown);
    }
    void markerNamesReadBack() {
        const QStringList fields{"Point_ID", "Name", "POINT_ID", "Time:2", "Point_id", "name"};
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(fieldIndex(fieldMarkerName(i, fields), fields), i);
        QCOMPARE(fieldMarkerName(2, fields), QStringLiteral("POINT_ID:2"));
        QCOMPARE(fieldMarkerName(1, fields), QStringLiteral("Name"));
        QVERIFY(fieldMarkerName(6, fields).isEmpty());
    }

    void dateWithoutSuchField() {
        QCOMPARE(markerKind("Date", {"Name"}), MarkerKind::Date);
    }
};

QTEST_APPLESS_MAIN(TstMarkers)
#include "tst_markers.moc"
