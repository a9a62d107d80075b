#include "cmlassocommand.h"
#include "selectionedit.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QTest>
#include <QUndoStack>

#include <tuple>

const QPointF kOffset(10, 10);

// The window's selection state as plain locals, driven the way the window drives it. Stretches
// are straight lines: the command does not care how the walk found them.
struct Tracer {
    QGraphicsScene scene { 0, 0, 220, 220 };
    QUndoStack undoStack;
    QGraphicsPathItem *traceItem = nullptr, *selectionItem = nullptr;
    QPoint anchorPoint = kNoTrace, traceStart = kNoTrace;
    QPainterPath selectionPath, tracePath;

    void start(QPoint p) { anchorPoint = traceStart = p; }
    void click(QPoint t, int closeDistance = 10)
    {
        QPainterPath stretch(anchorPoint + kOffset);
        stretch.lineTo(t + kOffset);
        traceItem = addSelectionItem(&scene, stretch);
        undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, t,
            &traceStart, &selectionPath, &tracePath, closeDistance));
    }
    void polygon(const QList<QPoint> &corners)
    {
        start(corners[0]);
        for (const QPoint &corner : corners.mid(1) + QList { corners[0] + QPoint(1, 2) })
            click(corner);
    }
    void invert()
    {
        selectionItem->setPath(invertSelection(
            QSize(200, 200), selectionPath, tracePath, anchorPoint, selectionItem->path()));
    }
    bool shows(QPointF p) const { return selectionItem->path().contains(p + kOffset); }
    bool selects(QPointF p) const { return selectionPath.contains(p + kOffset); }
};

class TestLassoCommand : public QObject
{
    Q_OBJECT

private slots:
    void clicksUndoAndRightClick()
    {
        Tracer t;
        t.start({ 20, 20 });
        t.undoStack.undo(); // a first click pushes nothing, so there is nothing to undo
        QVERIFY(t.scene.items().isEmpty() && t.anchorPoint == QPoint(20, 20));
        QPainterPath stretch(QPointF(30, 30));
        stretch.lineTo(110, 30);

        t.click({ 100, 20 });
        QCOMPARE(t.tracePath, stretch);
        QCOMPARE(t.scene.items(), QList<QGraphicsItem *> { t.selectionItem });
        QCOMPARE(t.selectionItem->path(), stretch);
        QCOMPARE(t.selectionItem->pen(), QPen(QColor(255, 255, 0, 255), 2));
        QCOMPARE(t.selectionItem->brush(), QBrush(QColor(0, 0, 255, 100)));
        QCOMPARE(t.selectionItem->zValue(), 12.0);

        t.click({ 21, 22 }); // Manhattan 3 from the start, closing distance 10
        QCOMPARE(t.anchorPoint, kNoTrace);
        QVERIFY(t.tracePath.isEmpty() && t.selectionPath.currentPosition() == QPointF(30, 30));
        QCOMPARE(t.selectionItem->path(), t.selectionPath);

        t.undoStack.undo();
        QCOMPARE(t.anchorPoint, QPoint(100, 20));
        QVERIFY(t.tracePath == stretch && t.selectionPath.isEmpty());
        QVERIFY(t.scene.items() == QList<QGraphicsItem *> { t.selectionItem });
        QCOMPARE(t.selectionItem->path(), stretch);
        // No item existed before the first stretch; the trace is under way from click 1 again.
        t.undoStack.undo();
        QVERIFY(!t.selectionItem && t.scene.items().isEmpty() && t.tracePath.isEmpty());
        QCOMPARE(t.anchorPoint, QPoint(20, 20));

        // A right click keeps the confirmed stretches; the next trace joins them with a line
        // from the old end (100, 100) to its first point (80, 120).
        t.click({ 100, 20 });
        t.click({ 100, 100 });
        t.anchorPoint = kNoTrace;
        const int n = t.tracePath.elementCount();
        t.start({ 80, 120 });
        t.click({ 20, 120 });
        QCOMPARE(QPointF(t.tracePath.elementAt(n)), QPointF(90, 130));
        // One outline filled as a whole: (40, 100) lies outside the first two stretches' fill.
        QVERIFY(t.shows({ 40, 100 }) && t.shows({ 80, 40 }) && !t.shows({ 40, 140 }));
    }

    void closeDistanceIsStrict()
    {
        // Offset of the click from the start, closing distance, whether it closes. A press
        // outside the scene aims at pixel (0, 0) with a null probe rectangle, so distance 0.
        const std::tuple<QPoint, int, bool> cases[]
            = { { { 10, 0 }, 10, false }, { { 9, 0 }, 10, true }, { { -4, 6 }, 10, false },
                  { { 3, -16 }, 20, true }, { { 0, 0 }, 0, false } };
        for (const auto &[offset, closeDistance, closes] : cases) {
            Tracer t;
            t.start({ 0, 0 });
            t.click({ 50, -40 }, closeDistance);
            t.click(offset, closeDistance);
            QCOMPARE(t.anchorPoint, closes ? kNoTrace : offset);
            QCOMPARE(t.selectionPath.isEmpty(), !closes);
            QCOMPARE(t.tracePath.currentPosition(), closes ? QPointF() : offset + kOffset);
        }
    }

    void overlapUndoAndInvert()
    {
        Tracer t;
        t.polygon({ { 20, 20 }, { 100, 20 }, { 100, 100 }, { 20, 100 } });
        // A selection may reach past the picture; inverting twice clips that part off.
        t.selectionPath.addRect(160.5, 160.5, 80, 20);
        t.polygon({ { 60, 60 }, { 140, 60 }, { 140, 140 }, { 60, 140 } });
        QVERIFY(t.shows({ 40, 40 }) && !t.shows({ 80, 80 }) && t.shows({ 120, 120 }));

        // Undo reopens the second square but leaves the new trace's start alone.
        t.start({ 150, 150 });
        t.undoStack.undo();
        QVERIFY(t.anchorPoint == QPoint(60, 140) && t.traceStart == QPoint(150, 150));
        const QPainterPath before = t.selectionItem->path();

        // Inverting closes the open trace first.
        t.invert();
        QVERIFY(t.anchorPoint == kNoTrace && t.tracePath.isEmpty());
        QVERIFY(!t.shows({ 40, 40 }) && t.shows({ 80, 80 }) && !t.shows({ 120, 120 }));
        QVERIFY(t.shows({ 130, 40 }) && !t.shows({ -5, 60 }) && !t.selects({ 120, 120 }));
        t.invert();
        QList<QPointF> wrong;
        for (int i = 0; i < 31 * 31; ++i) {
            const QPointF p(i % 31 * 7 - 7.5, i / 31 * 7 - 7.5);
            const bool inside = QRectF(0, 0, 200, 200).contains(p) && before.contains(p + kOffset);
            if (t.shows(p) != inside || t.selects(p) != inside)
                wrong << p;
        }
        QCOMPARE(wrong, QList<QPointF>());
    }
};

QTEST_MAIN(TestLassoCommand)
#include "tst_lassocommand.moc"
