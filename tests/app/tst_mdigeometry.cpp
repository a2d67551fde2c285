// Tests of the main window's pure geometry: background tile counts, centring, tiling, icon rows.
#include "app/mdigeometry.h"

#include <QTest>

using lw::TileMode;

class TestMdiGeometry : public QObject {
    Q_OBJECT
private slots:
    void tileCounts_data() {
        QTest::addColumn<QSize>("inner");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        // The tile is 47 x 26.
        QTest::newRow("exactly one tile wide and high") << QSize(47, 26) << 2 << 2;
        QTest::newRow("narrower than a tile") << QSize(46, 25) << 1 << 1;
        QTest::newRow("not laid out yet") << QSize(-1, -1) << 1 << 1;
    }
    void tileCounts() {
        QFETCH(QSize, inner);
        const lw::TileCounts counts = lw::backgroundTileCounts(inner, QSize(47, 26));
        QTEST(counts.rows, "rows");
        QTEST(counts.columns, "columns");
    }

    void centring() {
        QCOMPARE(lw::centredPosition(QSize(801, 799), QSize(400, 300)), QPoint(200, 249));
        QCOMPARE(lw::centredPosition(QSize(800, 600), QSize(1000, 700)),
                 QPoint(0, 0)); // wider than the screen
    }

    void tiling_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<TileMode>("mode");
        QTest::addColumn<QRect>("area");
        for (int n : {1, 2, 3, 5, 10, 13}) {
            QTest::addRow("%d horizontal", n) << n << TileMode::Horizontal << QRect(0, 0, 551, 316);
            QTest::addRow("%d vertical", n) << n << TileMode::Vertical << QRect(0, 0, 551, 316);
        }
        QTest::newRow("offset area, uneven split") << 7 << TileMode::Vertical << QRect(5, 9, 101, 53);
    }
    // Every window gets a rectangle; together they cover the area exactly, without overlapping.
    void tiling() {
        QFETCH(int, count);
        QFETCH(TileMode, mode);
        QFETCH(QRect, area);
        const QList<QRect> rects = lw::tileRects(area, count, mode);
        QCOMPARE(rects.size(), count);
        long long covered = 0;
        for (int i = 0; i < rects.size(); ++i) {
            QVERIFY(!rects[i].isEmpty() && area.contains(rects[i]));
            covered += static_cast<long long>(rects[i].width()) * rects[i].height();
            for (int j = i + 1; j < rects.size(); ++j)
                QVERIFY2(!rects[i].intersects(rects[j]),
                         qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
        }
        QCOMPARE(covered, static_cast<long long>(area.width()) * area.height());
        QCOMPARE(rects.first().topLeft(), area.topLeft());
    }

    void tilingShapes_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<TileMode>("mode");
        QTest::addColumn<QList<QRect>>("expected");
        QTest::newRow("two horizontal: one above the other")
            << 2 << TileMode::Horizontal << QList<QRect>{{0, 0, 600, 150}, {0, 150, 600, 150}};
        QTest::newRow("two vertical: side by side")
            << 2 << TileMode::Vertical << QList<QRect>{{0, 0, 300, 300}, {300, 0, 300, 300}};
        QTest::newRow("five: column by column, the last takes three") << 5 << TileMode::Vertical
                                                                      << QList<QRect>{{0, 0, 300, 150},
                                                                                      {0, 150, 300, 150},
                                                                                      {300, 0, 300, 100},
                                                                                      {300, 100, 300, 100},
                                                                                      {300, 200, 300, 100}};
    }
    void tilingShapes() {
        QFETCH(int, count);
        QFETCH(TileMode, mode);
        QTEST(lw::tileRects(QRect(0, 0, 600, 300), count, mode), "expected");
    }

    // Icons go left to right along the bottom, then in rows above; tiled windows stay clear of them.
    void iconRows() {
        const QRect area(0, 0, 350, 300);
        const QSize icon(160, 30);
        const QList<QRect> icons = lw::arrangeIconRects(area, icon, 3);
        QCOMPARE(icons, (QList<QRect>{{0, 270, 160, 30}, {160, 270, 160, 30}, {0, 240, 160, 30}}));
        QCOMPARE(lw::arrangeIconRects(QRect(0, 0, 100, 300), icon, 2), // narrower than one icon
                 (QList<QRect>{{0, 270, 160, 30}, {0, 240, 160, 30}}));
        QCOMPARE(lw::areaAboveIcons(area, icon, 0), area);
        QCOMPARE(lw::areaAboveIcons(area, icon, 3), QRect(0, 0, 350, 240));
        for (const QRect& window : lw::tileRects(lw::areaAboveIcons(area, icon, 3), 4, TileMode::Horizontal))
            for (const QRect& place : icons)
                QVERIFY(!window.intersects(place));
        // Too little room above the icons: the windows use the whole area.
        QCOMPARE(lw::areaAboveIcons(QRect(0, 0, 350, 50), icon, 2), QRect(0, 0, 350, 50));
    }
};

QTEST_APPLESS_MAIN(TestMdiGeometry)
#include "tst_mdigeometry.moc"
