// Tests of the main window's pure geometry: background tiles, centring, tiling.
#include "app/mdigeometry.h"

#include <QTest>

using lw::TileMode;

class TestMdiGeometry : public QObject {
    Q_OBJECT
private slots:
    // An area not laid out yet still gets one tile; a window wider than the screen is not pushed off it.
    void degenerateSizes() {
        const lw::TileCounts counts = lw::backgroundTileCounts(QSize(-1, -1), QSize(47, 26));
        QCOMPARE(QSize(counts.columns, counts.rows), QSize(1, 1));
        QCOMPARE(lw::centredPosition(QSize(800, 600), QSize(1000, 700)), QPoint(0, 0));
    }

    void cascading_data() {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<QRect>>("expected");
        const QSize minimum(521, 308);
        // 600 / (3 x 20) = 10 steps: the windows are the area less 200 pixels. 316 high: 5 steps, so
        // the seventh window starts at the corner again, and no window is below the minimum.
        QTest::newRow("large area") << QRect(0, 0, 900, 600) << 3
                                    << QList<QRect>{{0, 0, 700, 400}, {20, 20, 700, 400}, {40, 40, 700, 400}};
        QTest::newRow("small area, wraps")
            << QRect(10, 5, 551, 316) << 7
            << QList<QRect>{{10, 5, 521, 308},  {30, 25, 521, 308},   {50, 45, 521, 308}, {70, 65, 521, 308},
                            {90, 85, 521, 308}, {110, 105, 521, 308}, {10, 5, 521, 308}};
        QTest::newRow("none") << QRect(0, 0, 500, 300) << 0 << QList<QRect>{};
    }
    // A desktop's cascade: steps of the title bar's height, size the area less the steps.
    void cascading() {
        QFETCH(QRect, area);
        QFETCH(int, count);
        QTEST(lw::cascadeRects(area, count, 20, QSize(521, 308)), "expected");
    }

    void tiling_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<TileMode>("mode");
        QTest::addColumn<QRect>("area");
        QTest::newRow("13 horizontal") << 13 << TileMode::Horizontal << QRect(0, 0, 551, 316);
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
    }

    // A stored place is moved the least that puts the whole title bar (24 pixels here) on a screen.
    void titleBarOnScreen_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("expected");
        const QSize size(600, 400);
        QTest::newRow("on the screen: kept") << QRect(QPoint(100, 50), size) << QPoint(100, 50);
        QTest::newRow("on the second screen: kept") << QRect(QPoint(1400, 10), size) << QPoint(1400, 10);
        QTest::newRow("above the screen") << QRect(QPoint(100, -300), size) << QPoint(100, 0);
        QTest::newRow("half of the bar above") << QRect(QPoint(100, -12), size) << QPoint(100, 0);
        QTest::newRow("left of the screen") << QRect(QPoint(-250, 100), size) << QPoint(0, 100);
        QTest::newRow("bar below the bottom") << QRect(QPoint(100, 1020), size) << QPoint(100, 1000);
        QTest::newRow("across both screens: onto the one holding most")
            << QRect(QPoint(1100, -40), size) << QPoint(1280, 0);
        QTest::newRow("nowhere near: the first screen") << QRect(QPoint(9000, 9000), size) << QPoint(680, 1000);
        QTest::newRow("wider than the screen: its left edge shown")
            << QRect(QPoint(-100, 5), QSize(1500, 400)) << QPoint(0, 5);
    }
    void titleBarOnScreen() {
        QFETCH(QRect, frame);
        QFETCH(QPoint, expected);
        // Two screens side by side: 1280 x 1024 and 1024 x 768 to its right.
        const QList<QRect> areas{QRect(0, 0, 1280, 1024), QRect(1280, 0, 1024, 768)};
        QCOMPARE(lw::titleBarOnScreen(frame, 24, areas), expected);
    }
};

QTEST_APPLESS_MAIN(TestMdiGeometry)
#include "tst_mdigeometry.moc"
