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

    void dateWithoutSuchField() {
        QCOMPARE(markerKind("Date", {"Name"}), MarkerKind::Date);
    }
};

QTEST_APPLESS_MAIN(TstMarkers)
#include "tst_markers.moc"
