#include "cmlassocommand.h"
#include "selectionedit.h"
#include "tracing.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QSignalSpy>
#include <QTest>
#include <QUndoStack>

namespace
{

const QSize kPicture(200, 200);
const QPointF kOffset(10, 10);

// The window's selection state as plain locals, driven the way the window drives it.
struct Tracer {
    QGraphicsScene scene { 0, 0, 220, 220 };
    QUndoStack undoStack;
    QList<quint16> edgeMap = QList<quint16>(kPicture.width() * kPicture.height(), 0);
    QGraphicsPathItem *traceItem = nullptr;
    QGraphicsPathItem *selectionItem = nullptr;
    QPoint anchorPoint = kNoTrace;
    QPoint traceStart = kNoTrace;
    QPainterPath selectionPath;
    QPainterPath tracePath;

    // A strong edge along a horizontal or vertical segment, so that walks follow it instead of
    // taking the zigzag and diagonal shapes of a flat area.
    void ridge(QPoint a, QPoint b)
    {
        for (int y = qMin(a.y(), b.y()); y <= qMax(a.y(), b.y()); ++y)
            for (int x = qMin(a.x(), b.x()); x <= qMax(a.x(), b.x()); ++x)
                edgeMap[x + y * kPicture.width()] = 765;
    }
    void start(QPoint p) { anchorPoint = traceStart = p; }
    QPainterPath stretchTo(QPoint t) const
    {
        return stretchPath(anchorPoint, walkTrace(anchorPoint, t, kPicture, edgeMap));
    }
    void click(QPoint t, int closeDistance = 10)
    {
        drop(traceItem);
        traceItem = addSelectionItem(&scene, stretchTo(t));
        undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, t,
            &traceStart, &selectionPath, &tracePath, closeDistance));
    }
    void rightClick()
    {
        drop(traceItem);
        anchorPoint = kNoTrace;
    }
    void invert()
    {
        const QPainterPath shown = invertSelection(
            kPicture, selectionPath, tracePath, anchorPoint, selectionItem->path());
        drop(selectionItem);
        selectionItem = addSelectionItem(&scene, shown);
    }
    void drop(QGraphicsPathItem *&item)
    {
        if (!item)
            return;
        scene.removeItem(item);
        delete item;
        item = nullptr;
    }
    void tracePolygon(const QList<QPoint> &corners)
    {
        for (int i = 0; i < corners.size(); ++i)
            ridge(corners[i], corners[(i + 1) % corners.size()]);
        start(corners.first());
        for (int i = 1; i < corners.size(); ++i)
            click(corners[i]);
        click(corners.first() + QPoint(1, 2));
    }
    bool shows(QPointF picturePoint) const
    {
        return selectionItem && selectionItem->path().contains(picturePoint + kOffset);
    }
    bool onlyItemIsSelection() const
    {
        return scene.items() == QList<QGraphicsItem *> { selectionItem };
    }
};

const QList<QPoint> kSquareA { { 20, 20 }, { 100, 20 }, { 100, 100 }, { 20, 100 } };
const QList<QPoint> kSquareB { { 60, 60 }, { 140, 60 }, { 140, 140 }, { 60, 140 } };

} // namespace

class TestLassoCommand : public QObject
{
    Q_OBJECT

private slots:
    void threeClickTraceAndItsUndo();
    void closeDistanceIsStrict_data();
    void closeDistanceIsStrict();
    void undoAfterNewFirstClickKeepsTraceStart();
    void overlappingTracesLeaveOverlapOutside();
    void rightClickThenNewTraceJoinsWithALine();
    void undoWithEmptyStackDoesNothing();
    void invertTwiceGivesOriginalClippedToPicture();
    void invertDuringTraceClosesItFirst();
};

void TestLassoCommand::threeClickTraceAndItsUndo()
{
    Tracer t;
    QSignalSpy indexSpy(&t.undoStack, &QUndoStack::indexChanged);
    t.start(QPoint(20, 20));
    const QPainterPath stretch = t.stretchTo(QPoint(100, 20));
    t.click(QPoint(100, 20));
    QCOMPARE(indexSpy.count(), 1);
    QCOMPARE(t.tracePath, stretch);
    QVERIFY(t.selectionPath.isEmpty());
    QCOMPARE(t.anchorPoint, QPoint(100, 20));
    QVERIFY(!t.traceItem && t.onlyItemIsSelection());
    QCOMPARE(t.selectionItem->path(), stretch);
    QCOMPARE(t.selectionItem->pen(), selectionPen());
    QCOMPARE(t.selectionItem->brush(), QBrush(QColor(0, 0, 255, 100), Qt::SolidPattern));
    QCOMPARE(t.selectionItem->pen().color(), QColor(255, 255, 0, 255));
    QCOMPARE(t.selectionItem->pen().width(), 2);
    QCOMPARE(t.selectionItem->zValue(), 12.0);
    QCOMPARE(t.undoStack.command(0)->id(), -1);
    QVERIFY(t.undoStack.command(0)->text().isEmpty());

    t.click(QPoint(21, 22)); // Manhattan 3 from the start, closing distance 10
    QCOMPARE(t.anchorPoint, kNoTrace);
    QVERIFY(t.tracePath.isEmpty());
    const QPainterPath closed = t.selectionPath;
    QCOMPARE(QPointF(closed.elementAt(closed.elementCount() - 1)), QPointF(30, 30));
    QVERIFY(t.onlyItemIsSelection());
    QCOMPARE(t.selectionItem->path(), closed);

    t.undoStack.undo();
    QCOMPARE(indexSpy.count(), 3);
    QCOMPARE(indexSpy.last().at(0).toInt(), 1);
    QCOMPARE(t.anchorPoint, QPoint(100, 20));
    QCOMPARE(t.tracePath, stretch);
    QVERIFY(t.selectionPath.isEmpty());
    QVERIFY(t.onlyItemIsSelection());
    QCOMPARE(t.selectionItem->path(), stretch);
    QCOMPARE(t.selectionItem->zValue(), 12.0);

    // No item existed before the first stretch; the trace is under way from click 1 again.
    t.undoStack.undo();
    QVERIFY(!t.selectionItem && t.scene.items().isEmpty());
    QCOMPARE(t.anchorPoint, QPoint(20, 20));
    QCOMPARE(t.traceStart, QPoint(20, 20));
    QVERIFY(t.tracePath.isEmpty() && t.selectionPath.isEmpty());
}

void TestLassoCommand::closeDistanceIsStrict_data()
{
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<int>("closeDistance");
    QTest::addColumn<bool>("closes");

    QTest::newRow("equal") << QPoint(10, 0) << 10 << false;
    QTest::newRow("one less") << QPoint(9, 0) << 10 << true;
    QTest::newRow("equal, negative dx") << QPoint(-4, 6) << 10 << false;
    QTest::newRow("one less, negative dy") << QPoint(3, -16) << 20 << true;
    // A press outside the scene: null probe rectangle, width 0.
    QTest::newRow("zero never closes") << QPoint(0, 0) << 0 << false;
}

void TestLassoCommand::closeDistanceIsStrict()
{
    QFETCH(QPoint, offset);
    QFETCH(int, closeDistance);
    QFETCH(bool, closes);

    Tracer t;
    const QPoint start(100, 100);
    t.start(start);
    t.click(QPoint(150, 60), closeDistance);
    const int before = t.tracePath.elementCount();
    t.click(start + offset, closeDistance);

    QCOMPARE(t.anchorPoint, closes ? kNoTrace : start + offset);
    QCOMPARE(t.selectionPath.isEmpty(), !closes);
    QCOMPARE(t.tracePath.isEmpty(), closes);
    if (!closes)
        QVERIFY(t.tracePath.elementCount() > before);
}

void TestLassoCommand::undoAfterNewFirstClickKeepsTraceStart()
{
    Tracer t;
    t.tracePolygon(kSquareA);
    QCOMPARE(t.anchorPoint, kNoTrace);

    t.start(QPoint(150, 150));
    t.undoStack.undo();
    QCOMPARE(t.anchorPoint, QPoint(20, 100));
    QCOMPARE(t.traceStart, QPoint(150, 150));
    QVERIFY(t.selectionPath.isEmpty());
    QCOMPARE(t.selectionItem->path(), t.tracePath);
}

void TestLassoCommand::overlappingTracesLeaveOverlapOutside()
{
    Tracer t;
    t.tracePolygon(kSquareA);
    t.tracePolygon(kSquareB);
    QCOMPARE(t.undoStack.count(), 8);
    QCOMPARE(t.selectionItem->path(), t.selectionPath);
    QVERIFY(t.shows(QPointF(40, 40)));
    QVERIFY(!t.shows(QPointF(80, 80)));
    QVERIFY(t.shows(QPointF(120, 120)));
    QVERIFY(!t.shows(QPointF(130, 40)));

    // The open trace of the second square is shown filled and still cancels the overlap.
    t.undoStack.undo();
    QCOMPARE(t.anchorPoint, QPoint(60, 140));
    QVERIFY(t.shows(QPointF(40, 40)));
    QVERIFY(!t.shows(QPointF(80, 80)));
    QVERIFY(t.shows(QPointF(120, 120)));
}

void TestLassoCommand::rightClickThenNewTraceJoinsWithALine()
{
    Tracer t;
    t.ridge(QPoint(20, 20), QPoint(100, 20));
    t.ridge(QPoint(100, 20), QPoint(100, 100));
    t.ridge(QPoint(20, 120), QPoint(80, 120));
    t.start(QPoint(20, 20));
    t.click(QPoint(100, 20));
    t.click(QPoint(100, 100));
    t.rightClick();
    const QPainterPath oldTrace = t.tracePath;

    t.start(QPoint(80, 120));
    const QPainterPath stretch = t.stretchTo(QPoint(20, 120));
    t.click(QPoint(20, 120));
    const int n = oldTrace.elementCount();
    QCOMPARE(t.tracePath.elementCount(), n + stretch.elementCount());
    QVERIFY(t.tracePath.elementAt(n).isLineTo());
    QCOMPARE(QPointF(t.tracePath.elementAt(n)), QPointF(90, 130));
    QCOMPARE(QPointF(t.tracePath.elementAt(n - 1)), QPointF(110, 110));
    QCOMPARE(t.selectionItem->path(), t.tracePath);

    // One filled outline: (40, 100) lies outside the first two stretches' own fill.
    QVERIFY(!oldTrace.contains(QPointF(40, 100) + kOffset));
    QVERIFY(t.shows(QPointF(40, 100)));
    QVERIFY(t.shows(QPointF(80, 40)));
    QVERIFY(t.shows(QPointF(60, 115)));
    QVERIFY(!t.shows(QPointF(40, 140)));
}

void TestLassoCommand::undoWithEmptyStackDoesNothing()
{
    Tracer t;
    QSignalSpy indexSpy(&t.undoStack, &QUndoStack::indexChanged);
    t.start(QPoint(30, 30)); // a first click pushes nothing
    t.undoStack.undo();
    QCOMPARE(indexSpy.count(), 0);
    QCOMPARE(t.anchorPoint, QPoint(30, 30));
    QVERIFY(!t.selectionItem && t.scene.items().isEmpty() && t.selectionPath.isEmpty());
}

void TestLassoCommand::invertTwiceGivesOriginalClippedToPicture()
{
    Tracer t;
    t.tracePolygon(kSquareA);
    // A selection may reach past the picture; inverting twice clips that part off.
    t.selectionPath.addRect(QRectF(150.5, 150.5, 80, 20).translated(kOffset));
    t.drop(t.selectionItem);
    t.selectionItem = addSelectionItem(&t.scene, t.selectionPath);
    const QPainterPath original = t.selectionPath;

    t.invert();
    QVERIFY(t.onlyItemIsSelection());
    QCOMPARE(t.selectionItem->zValue(), 12.0);
    QCOMPARE(t.selectionItem->pen(), selectionPen());
    QVERIFY(!t.shows(QPointF(60, 60)));
    QVERIFY(t.shows(QPointF(150, 60)));
    QVERIFY(!t.shows(QPointF(-5, 60))); // the white frame is not part of the picture

    t.invert();
    for (int y = -8; y < 208; y += 7) {
        for (int x = -8; x < 208; x += 7) {
            const QPointF p(x + 0.5, y + 0.5);
            const bool expected
                = QRectF(QPointF(0, 0), kPicture).contains(p) && original.contains(p + kOffset);
            const QByteArray at = QByteArray::number(p.x()) + ", " + QByteArray::number(p.y());
            QVERIFY2(t.shows(p) == expected, at.constData());
            QVERIFY2(t.selectionPath.contains(p + kOffset) == expected, at.constData());
        }
    }
}

void TestLassoCommand::invertDuringTraceClosesItFirst()
{
    Tracer t;
    t.ridge(QPoint(20, 20), QPoint(120, 20));
    t.ridge(QPoint(120, 20), QPoint(120, 120));
    t.start(QPoint(20, 20));
    t.click(QPoint(120, 20));
    t.click(QPoint(120, 120));
    QVERIFY(t.shows(QPointF(100, 40)));

    t.invert();
    QCOMPARE(t.anchorPoint, kNoTrace);
    QVERIFY(t.tracePath.isEmpty());
    QVERIFY(!t.shows(QPointF(100, 40)));
    QVERIFY(t.shows(QPointF(40, 100)));
    QVERIFY(!t.selectionPath.contains(QPointF(100, 40) + kOffset));
    QVERIFY(t.selectionPath.contains(QPointF(40, 100) + kOffset));
}

QTEST_MAIN(TestLassoCommand)
#include "tst_lassocommand.moc"
