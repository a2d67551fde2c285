// Tests of the designed fonts: a missing Windows family is shown in the very face Qt's own matching
// picks for it, and an installed family is named as designed.
#include "ui/fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QtTest>

using namespace lw;

namespace {

// The font as the windows named it before: Qt matches the missing family through its fallbacks.
QFont matchedByQt(const QString& family, int pixelSize, bool bold, QFont::StyleHint hint) {
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

class TestFonts : public QObject {
    Q_OBJECT
private slots:
    // Every designed font of the program, in the order the start-up first asks for them (the first
    // missing family decides the stand-in for all): the face, size, weight and the text's extent
    // are those Qt's matching gives the designed family.
    void missingFamilyLooksTheSame_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("hint");
        QTest::newRow("main window") << "System" << 13 << false << int(QFont::AnyStyle);
        QTest::newRow("about box title") << "MS Sans Serif" << 24 << true << int(QFont::SansSerif);
        QTest::newRow("about box text") << "MS Sans Serif" << 13 << true << int(QFont::SansSerif);
        QTest::newRow("about box plain") << "MS Sans Serif" << 13 << false << int(QFont::SansSerif);
        QTest::newRow("message dialog") << "MS Sans Serif" << 11 << false << int(QFont::SansSerif);
        QTest::newRow("message dialog bold") << "MS Sans Serif" << 11 << true << int(QFont::SansSerif);
        QTest::newRow("editor window, flat button") << "MS Sans Serif" << 11 << false << int(QFont::AnyStyle);
    }
    void missingFamilyLooksTheSame() {
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        QFETCH(int, hint);
        if (QFontDatabase::families().contains(family, Qt::CaseInsensitive))
            QSKIP("the designed family is installed here");
        QFont designed = designedFont(family, pixelSize, QFont::StyleHint(hint));
        designed.setBold(bold);
        const QFont before = matchedByQt(family, pixelSize, bold, QFont::StyleHint(hint));
        // Named after a family that is installed, so Qt has nothing to fall back on.
        QVERIFY(QFontDatabase::families().contains(designed.family(), Qt::CaseInsensitive));
        const QFontInfo shown(designed), matched(before);
        QCOMPARE(shown.family(), matched.family());
        QCOMPARE(shown.styleName(), matched.styleName());
        QCOMPARE(shown.pixelSize(), matched.pixelSize());
        QCOMPARE(shown.bold(), matched.bold());
        const QString sample = QStringLiteral(" DataBase Name (Alias)  Ledgerwick Builder 2.5 Wg");
        QCOMPARE(QFontMetrics(designed).horizontalAdvance(sample),
                 QFontMetrics(before).horizontalAdvance(sample));
        QCOMPARE(QFontMetrics(designed).height(), QFontMetrics(before).height());
    }

    // An installed family is used as designed, with the size asked for.
    void installedFamilyKept() {
        const QStringList families = QFontDatabase::families();
        if (families.isEmpty())
            QSKIP("no fonts installed");
        const QString family = families.constLast();
        const QFont font = designedFont(family, 17);
        QCOMPARE(font.family(), family);
        QCOMPARE(font.pixelSize(), 17);
        QCOMPARE(QFontInfo(font).family(), family);
    }

    // Only the family and the size are set: weight, style hint and the rest stay open, so that a
    // widget given the font still takes them from its parent, as with a font built by hand.
    void onlyFamilyAndSizeSet() {
        const QFont font = designedFont(QStringLiteral("MS Sans Serif"), 11);
        QFont byHand(QStringLiteral("MS Sans Serif"));
        byHand.setPixelSize(11);
        QCOMPARE(font.resolveMask(), byHand.resolveMask());
        QWidget parent;
        QFont bold = parent.font();
        bold.setBold(true);
        parent.setFont(bold);
        QWidget child(&parent);
        child.setFont(font);
        QVERIFY(child.font().bold());
        QCOMPARE(child.font().pixelSize(), 11);
    }
};

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
