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
    QString flat;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QImage picture(200, 150, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        flat = dir.filePath(QStringLiteral("flat.png"));
        QVERIFY(picture.save(flat));
    }

    void startSnapsToTheStrongestEdgeNearby()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(flat);
        t.edgeMap()[103 + 52 * 200] = 300;
        t.edgeMap()[97 + 46 * 200] = 300; // as strong, and first in column order

        t.smartSelect(MainWindowTester::probeAt({ 100, 50 }), false);
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t.scene().items().size(), 2);

        t.smartSelect(MainWindowTester::probeAt({ 100, 50 }), true);
        QCOMPARE(t.anchorPoint(), QPoint(97, 46));
        QCOMPARE(t.traceStart(), QPoint(97, 46));
        QCOMPARE(t.undoStack().count(), 0);
        QVERIFY(!t.traceItem());
    }

    void liveStretchMarkerAndConfirmingClicks()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(flat);
        QAction *undo = t.ui()->menuEdit->actions().first();

        t.smartSelect(MainWindowTester::probeAt({ 20, 20 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 120, 20 }), false);
        QVERIFY(t.traceItem());
        QCOMPARE(t.traceItem()->zValue(), 12.0);
        QCOMPARE(t.traceItem()->pen().color(), QColor(255, 255, 0, 255));
        QCOMPARE(t.traceItem()->pen().width(), 2);
        QCOMPARE(t.traceItem()->brush(), QBrush(QColor(0, 0, 255, 100), Qt::SolidPattern));
        QCOMPARE(t.traceItem()->path().elementAt(0), QPointF(30, 30));
        const QPainterPath live = t.traceItem()->path();
        QCOMPARE(QPointF(live.elementAt(live.elementCount() - 1)), QPointF(130, 30));
        QVERIFY(!t.closeMarkerItem());
        QVERIFY(!undo->isEnabled());

        t.smartSelect(MainWindowTester::probeAt({ 120, 20 }), true);
        QCOMPARE(t.undoStack().count(), 1);
        QVERIFY(undo->isEnabled());
        QVERIFY(!t.traceItem());
        QCOMPARE(t.anchorPoint(), QPoint(120, 20));
        QVERIFY(t.selectionItem());

        t.smartSelect(MainWindowTester::probeAt({ 120, 100 }), true);
        // Near the start the marker covers the probe rectangle.
        const QRect nearStart = MainWindowTester::probeAt({ 23, 22 });
        t.smartSelect(nearStart, false);
        QVERIFY(t.closeMarkerItem());
        QCOMPARE(t.closeMarkerItem()->rect(), QRectF(nearStart));
        QCOMPARE(t.closeMarkerItem()->zValue(), 12.0);
        QCOMPARE(t.closeMarkerItem()->pen().color(), QColor(255, 0, 0, 255));
        QCOMPARE(t.closeMarkerItem()->brush().color(), QColor(Qt::green));
        // Manhattan distance 10 equals the probe width: no marker.
        t.smartSelect(MainWindowTester::probeAt({ 26, 24 }), false);
        QVERIFY(!t.closeMarkerItem());

        t.smartSelect(nearStart, true);
        QCOMPARE(t.undoStack().count(), 3);
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QVERIFY(t.tracePath().isEmpty());
        QVERIFY(t.selectionPath().contains(QPointF(100, 50)));
        QVERIFY(!t.selectionPath().contains(QPointF(100, 140)));
        QVERIFY(t.closeMarkerItem()); // stays until the next request
        t.smartSelect(MainWindowTester::probeAt({ 60, 60 }), false);
        QVERIFY(!t.closeMarkerItem());
        QVERIFY(!t.traceItem());

        // Undo through the Edit menu reopens the trace at the last anchor.
        undo->trigger();
        QCOMPARE(t.anchorPoint(), QPoint(120, 100));
        QVERIFY(t.selectionPath().isEmpty());
        QCOMPARE(t.undoStack().count(), 3);
        QCOMPARE(t.undoStack().index(), 2);
    }

    void rightPressAbandonsButKeepsTheStretches()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(flat);
        t.smartSelect(MainWindowTester::probeAt({ 20, 20 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 90, 20 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 90, 90 }), false);
        QVERIFY(t.traceItem());
        const QPainterPath confirmed = t.tracePath();

        t.smartSelect(MainWindowTester::probeAt({ 90, 90 }), true, true);
        QVERIFY(!t.traceItem());
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t.tracePath(), confirmed);
        QVERIFY(t.selectionItem());
        QCOMPARE(t.undoStack().count(), 1);

        // Moves do nothing now, and a second right press changes nothing.
        t.smartSelect(MainWindowTester::probeAt({ 50, 50 }), false);
        t.smartSelect(MainWindowTester::probeAt({ 50, 50 }), true, true);
        QVERIFY(!t.traceItem());
        QCOMPARE(t.tracePath(), confirmed);
    }

    void pressOutsideTheSceneStartsAtTheCornerAndNeverCloses()
    {
        MainWindow window;
        MainWindowTester t(window);
        t.open(flat);
        t.edgeMap()[1 + 1 * 200] = 700;
        t.smartSelect(QRect(), true);
        QCOMPARE(t.anchorPoint(), QPoint(0, 0));
        QCOMPARE(t.traceStart(), QPoint(0, 0));

        t.smartSelect(MainWindowTester::probeAt({ 60, 0 }), true);
        t.smartSelect(QRect(), false);
        QVERIFY(!t.closeMarkerItem());
        t.smartSelect(QRect(), true);
        QCOMPARE(t.anchorPoint(), QPoint(0, 0));
        QVERIFY(!t.tracePath().isEmpty());
        QVERIFY(t.selectionPath().isEmpty());
    }
};

QTEST_MAIN(TestSmartSelect)
#include "tst_smartselect.moc"
