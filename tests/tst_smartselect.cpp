// Smart-select requests as the window handles them: start, live stretch, closing marker,
// confirming clicks, abandoning, undo through the Edit menu.

#include "mainwindowtester.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestSmartSelect : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainWindow *window = nullptr;
    MainWindowTester *t = nullptr;

    void press(QPoint p, bool right = false)
    {
        t->smartSelect(MainWindowTester::probeAt(p), true, right);
    }
    void move(QPoint p) { t->smartSelect(MainWindowTester::probeAt(p), false); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QImage picture(200, 150, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(dir.filePath(QStringLiteral("flat.png"))));
    }

    void init()
    {
        window = new MainWindow;
        t = new MainWindowTester(*window);
        t->open(dir.filePath(QStringLiteral("flat.png")));
    }

    void cleanup()
    {
        delete t;
        delete window;
    }

    void firstPressSnapsToTheStrongestEdgeNearby()
    {
        t->edgeMap()[103 + 52 * 200] = 300;
        t->edgeMap()[97 + 46 * 200] = 300; // as strong, and first in column order
        move({ 100, 50 });
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        press({ 100, 50 });
        QCOMPARE(t->anchorPoint(), QPoint(97, 46));
        QCOMPARE(t->traceStart(), QPoint(97, 46));
        QCOMPARE(t->undoStack().count(), 0);

        // A press outside the scene starts at the corner without snapping and never closes.
        press({ 0, 0 }, true);
        t->edgeMap()[1 + 1 * 200] = 700;
        t->smartSelect(QRect(), true);
        QCOMPARE(t->anchorPoint(), QPoint(0, 0));
        press({ 60, 0 });
        t->smartSelect(QRect(), true);
        QCOMPARE(t->anchorPoint(), QPoint(0, 0));
        QVERIFY(!t->closeMarkerItem());
        QVERIFY(t->selectionPath().isEmpty());
    }

    void liveStretchMarkerAndConfirmingClicks()
    {
        QAction *undo = t->ui()->menuEdit->actions().first();
        press({ 20, 20 });
        move({ 120, 20 });
        const QPainterPath live = t->traceItem()->path();
        QCOMPARE(QPointF(live.elementAt(0)), QPointF(30, 30));
        QCOMPARE(QPointF(live.elementAt(live.elementCount() - 1)), QPointF(130, 30));
        QCOMPARE(t->traceItem()->zValue(), 12.0);
        QCOMPARE(t->traceItem()->brush(), QBrush(QColor(0, 0, 255, 100), Qt::SolidPattern));
        QVERIFY(!undo->isEnabled());

        press({ 120, 20 });
        QVERIFY(undo->isEnabled() && !t->traceItem() && t->selectionItem());
        QCOMPARE(t->anchorPoint(), QPoint(120, 20));
        press({ 120, 100 });

        // The marker shows within the probe width (Manhattan) of the start, not at it.
        move({ 26, 23 });
        QVERIFY(t->closeMarkerItem());
        QCOMPARE(t->closeMarkerItem()->rect(), QRectF(MainWindowTester::probeAt({ 26, 23 })));
        QCOMPARE(t->closeMarkerItem()->pen().color(), QColor(255, 0, 0));
        QCOMPARE(t->closeMarkerItem()->brush().color(), QColor(Qt::green));
        move({ 26, 24 });
        QVERIFY(!t->closeMarkerItem());

        press({ 26, 23 });
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QVERIFY(t->tracePath().isEmpty());
        QVERIFY(t->selectionPath().contains(QPointF(100, 50)));
        QVERIFY(t->closeMarkerItem()); // until the next request
        move({ 60, 60 });
        QVERIFY(!t->closeMarkerItem() && !t->traceItem());

        undo->trigger();
        QCOMPARE(t->anchorPoint(), QPoint(120, 100));
        QVERIFY(t->selectionPath().isEmpty());
    }

    void rightPressAbandonsButKeepsTheStretches()
    {
        press({ 20, 20 });
        press({ 90, 20 });
        move({ 90, 90 });
        const QPainterPath confirmed = t->tracePath();
        press({ 90, 90 }, true);
        QVERIFY(!t->traceItem() && t->selectionItem());
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t->tracePath(), confirmed);
        move({ 50, 50 });
        QVERIFY(!t->traceItem());
    }
};

QTEST_MAIN(TestSmartSelect)
#include "tst_smartselect.moc"
