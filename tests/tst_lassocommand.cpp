#include "cmlassocommand.h"
#include "selectionedit.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QTest>

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
    bool shows(QPointF p) const { return selectionItem->path().contains(p + kOffset); }
};

class TestLassoCommand : public QObject
{
    Q_OBJECT

private slots:
    void clicksUndoAndRightClick()
    {
        Tracer t;
        t.start({ 20, 20 });
        t.click({ 100, 20 });
        QVERIFY(t.selectionItem->pen() == QPen(Qt::yellow, 2) && t.selectionItem->zValue() == 12);

        t.click({ 21, 22 }); // Manhattan 3 from the start, closing distance 10
        QVERIFY(t.tracePath.isEmpty() && t.selectionItem->path() == t.selectionPath);
        QVERIFY(t.anchorPoint == kNoTrace && t.selectionPath.currentPosition() == QPointF(30, 30));

        // Undoing the close brings back the first click's state: one stretch, one item.
        t.undoStack.undo();
        QPainterPath first(QPointF(30, 30));
        first.lineTo(110, 30);
        QVERIFY(t.anchorPoint == QPoint(100, 20) && t.selectionPath.isEmpty());
        QVERIFY(t.tracePath == first && t.selectionItem->path() == first);
        QCOMPARE(t.scene.items(), QList<QGraphicsItem *> { t.selectionItem });
        // No item existed before the first stretch; the trace is under way from click 1 again.
        t.undoStack.undo();
        QVERIFY(!t.selectionItem && t.scene.items().isEmpty() && t.tracePath.isEmpty());
        QCOMPARE(t.anchorPoint, QPoint(20, 20));

        // A right click keeps the confirmed stretches; the next trace joins them with a line
        // from the old end (100, 100) to its first point (80, 120), into one outline filled as a
        // whole: (40, 100) lies outside the first two stretches' fill.
        t.click({ 100, 20 });
        t.click({ 100, 100 });
        t.anchorPoint = kNoTrace;
        t.start({ 80, 120 });
        t.click({ 20, 120 });
        QVERIFY(t.shows({ 40, 100 }) && t.shows({ 80, 40 }) && !t.shows({ 40, 140 }));
    }

    void closeDistanceIsStrict()
    {
        // Offset of the click from the start, closing distance, whether it closes. Manhattan 20
        // is not closer than 20, though it is as the crow flies. A press outside the scene aims
        // at pixel (0, 0) with a null probe rectangle, so distance 0.
        const std::tuple<QPoint, int, bool> cases[] = { { { -4, 16 }, 20, false },
            { { 3, -16 }, 20, true }, { { 9, 0 }, 10, true }, { { 0, 0 }, 0, false } };
        for (const auto &[offset, closeDistance, closes] : cases) {
            Tracer t;
            t.start({ 0, 0 });
            t.click({ 50, -40 }, closeDistance);
            t.click(offset, closeDistance);
            QCOMPARE(t.anchorPoint, closes ? kNoTrace : offset);
            QCOMPARE(t.selectionPath.isEmpty(), !closes);
        }
    }

    void overlapUndoAndInvert()
    {
        Tracer t;
        t.start({ 20, 20 });
        for (const QPoint c : QList<QPoint> { { 100, 20 }, { 100, 100 }, { 20, 100 }, { 21, 22 } })
            t.click(c);
        // A selection may reach past the picture.
        t.selectionPath.addRect(160.5, 160.5, 80, 20);
        t.start({ 60, 60 });
        for (const QPoint c : QList<QPoint> { { 140, 60 }, { 140, 140 }, { 60, 140 }, { 61, 62 } })
            t.click(c);
        QVERIFY(t.shows({ 40, 40 }) && !t.shows({ 80, 80 }) && t.shows({ 120, 120 }));

        // Undo reopens the second square but leaves the new trace's start alone.
        t.start({ 150, 150 });
        t.undoStack.undo();
        QVERIFY(t.anchorPoint == QPoint(60, 140) && t.traceStart == QPoint(150, 150));
        const QPainterPath before = t.selectionItem->path();

        // Inverting closes the open trace first; inverting twice clips off what lay past the
        // picture. The grid never meets an edge.
        for (const bool inverted : { true, false }) {
            t.selectionItem->setPath(invertSelection(QSize(200, 200), t.selectionPath, t.tracePath,
                t.anchorPoint, t.selectionItem->path()));
            QVERIFY(t.anchorPoint == kNoTrace && t.tracePath.isEmpty());
            int wrong = 0;
            for (int i = 0; i < 31 * 31; ++i) {
                const QPointF p(i % 31 * 7 - 7.5, i / 31 * 7 - 7.5);
                const bool inside = QRectF(0, 0, 200, 200).contains(p)
                    && before.contains(p + kOffset) != inverted;
                wrong += t.shows(p) != inside || t.selectionPath.contains(p + kOffset) != inside;
            }
            QCOMPARE(wrong, 0);
        }
    }
};

QTEST_MAIN(TestLassoCommand)
#include "tst_lassocommand.moc"
