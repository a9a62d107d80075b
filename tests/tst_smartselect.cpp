// Smart-select requests as the window handles them: start, live stretch, closing marker,
// confirming clicks, abandoning, undo through the Edit menu; clicks and moves through the
// view at the zooms and places where its probe is empty; Select None; the keys over the
// window, redo, and following edges by the shortest path.

#include "mainwindowtester.h"
#include "pathtracer.h"
#include "tracing.h"
#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// The last point of a path, in scene coordinates.
QPointF endOf(const QPainterPath &path)
{
    return path.elementAt(path.elementCount() - 1);
}

// Everything a confirmed stretch or its undo changes.
QVariantList traceState(const MainWindowTester &t)
{
    const QGraphicsPathItem *shown = t.selectionItem();
    return { QVariant::fromValue(t.selectionPath()), QVariant::fromValue(t.tracePath()),
        QVariant::fromValue(shown ? shown->path() : QPainterPath()), t.anchorPoint() };
}

} // namespace

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

    ZelGraphicsView *view() const { return t->ui()->graphicsView; }
    QWidget *viewport() const { return view()->viewport(); }
    // The viewport position over the middle of picture pixel p.
    QPoint over(QPoint p) const { return view()->mapFromScene(QPointF(p) + QPointF(10.5, 10.5)); }
    // Real input, through the window system, as a user's hand gives it.
    void click(QPoint pos) { QTest::mouseClick(viewport(), Qt::LeftButton, {}, pos); }
    void hover(QPoint pos) { QTest::mouseMove(viewport(), pos); }

    bool showAt(qreal zoom, QPointF centre)
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            return false;
        view()->setTransform(QTransform::fromScale(zoom, zoom));
        view()->centerOn(centre);
        return true;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QImage picture(200, 150, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(dir.filePath(QStringLiteral("flat.png"))));

        // A dark disc with a notch on a light ground, crossed by a faint stripe: edges that
        // the greedy walk and the cheapest path follow differently.
        picture.fill(QColor(230, 225, 210));
        QPainter painter(&picture);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 40, 60));
        painter.drawEllipse(QPoint(100, 75), 55, 50);
        painter.setBrush(QColor(230, 225, 210));
        painter.drawRect(90, 20, 20, 30);
        painter.setBrush(QColor(200, 195, 180));
        painter.drawRect(0, 120, 200, 6);
        painter.end();
        QVERIFY(picture.save(dir.filePath(QStringLiteral("disc.png"))));
    }

    void init()
    {
        window = new MainWindow;
        t = new MainWindowTester(*window);
        t->ui()->actionFollowEdges->setChecked(false); // whatever the last test left
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

        // An empty rectangle, which the view no longer sends, aims at the corner without
        // snapping and never closes.
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

    void pressBesideTheFittedPictureAimsAtTheNearestPixel()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        view()->fitInView(t->scene().sceneRect(), Qt::KeepAspectRatio);
        // The 220 x 170 scene in a wide viewport leaves grey bands beside it.
        const QRect scene = view()->mapFromScene(t->scene().sceneRect()).boundingRect();
        QVERIFY2(scene.left() > 20 && scene.right() < viewport()->width() - 20,
            "the fitted picture should leave room beside it");
        const int besideLeft = scene.left() / 2;
        const int besideRight = (scene.right() + viewport()->width()) / 2;

        click(over({ 100, 60 }));
        QVERIFY(t->anchorPoint() != QPoint(-100, -100));
        click({ besideLeft, over({ 0, 60 }).y() });
        QCOMPARE(t->anchorPoint(), QPoint(0, 60));
        click({ besideRight, over({ 0, 110 }).y() });
        QCOMPARE(t->anchorPoint(), QPoint(199, 110));
        QCOMPARE(endOf(t->selectionItem()->path()), QPointF(209, 120));

        // Moving over the grey band draws the live stretch to the border.
        hover({ besideLeft, over({ 0, 30 }).y() });
        QCOMPARE(endOf(t->traceItem()->path()), QPointF(10, 40));
        QCOMPARE(t->undoStack().count(), 2);
    }

    void clicksAtZoom20LandOnThePointedPixel()
    {
        QVERIFY(showAt(20.0, { 70, 50 }));
        click(over({ 60, 40 }));
        QCOMPARE(t->anchorPoint(), QPoint(60, 40));
        hover(over({ 63, 42 }));
        QCOMPARE(endOf(t->traceItem()->path()), QPointF(73, 52));
        click(over({ 62, 41 }));
        QCOMPARE(t->anchorPoint(), QPoint(62, 41));
        QCOMPARE(endOf(t->selectionItem()->path()), QPointF(72, 51));

        // The closing distance is one pixel here: next to the start nothing shows, on it the
        // marker covers the pixel, many screen pixels wide, and a click closes.
        hover(over({ 61, 40 }));
        QVERIFY(!t->closeMarkerItem());
        hover(over({ 60, 40 }));
        QVERIFY(t->closeMarkerItem());
        QCOMPARE(t->closeMarkerItem()->rect(), QRectF(70, 50, 1, 1));
        QCOMPARE(view()->mapFromScene(t->closeMarkerItem()->rect()).boundingRect().width(), 21);
        click(over({ 60, 40 }));
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QVERIFY(t->selectionPath().contains(QPointF(71.2, 50.9)));
    }

    void closingMarkerRimIsOneScreenPixel_data()
    {
        QTest::addColumn<qreal>("zoom");
        QTest::newRow("zoom 5") << 5.0;
        QTest::newRow("zoom 20") << 20.0;
    }

    void closingMarkerRimIsOneScreenPixel()
    {
        QFETCH(qreal, zoom);
        QVERIFY(showAt(zoom, { 70, 50 }));
        click(over({ 60, 40 }));
        hover(over({ 64, 44 }));
        hover(over({ 60, 40 }));
        QVERIFY(t->closeMarkerItem());
        // The pointer's own circle would hide the rim; it goes when the pointer leaves.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(view(), &leave);

        const QRect disc = view()->mapFromScene(t->closeMarkerItem()->rect()).boundingRect();
        QVERIFY(disc.width() >= 10);
        const QImage shot = viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int rim = 0;
        int fill = 0;
        for (int i = 0; i < shot.width() * shot.height(); ++i) {
            rim += shot.pixel(i % shot.width(), i / shot.width()) == qRgb(255, 0, 0);
            fill += shot.pixel(i % shot.width(), i / shot.width()) == qRgb(0, 255, 0);
        }
        // A one-pixel outline of an ellipse never has more pixels than its box's perimeter.
        QVERIFY2(rim > 0 && rim <= 4 * disc.width() && fill > rim,
            qPrintable(QStringLiteral("%1 rim and %2 fill pixels on a disc %3 wide")
                           .arg(rim)
                           .arg(fill)
                           .arg(disc.width())));
    }

    void selectNoneClearsAndUndoRestoresExactly()
    {
        QAction *none = t->ui()->actionSelectNone;
        QCOMPARE(none->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+A")));
        QVERIFY(t->ui()->menuEdit->actions().contains(none));
        none->trigger(); // nothing to clear: no step to undo
        QCOMPARE(t->undoStack().count(), 0);

        // A closed outline, then a trace under way with a confirmed stretch and the marker.
        for (QPoint p : { QPoint(20, 20), QPoint(80, 20), QPoint(80, 70), QPoint(21, 21) })
            press(p);
        press({ 120, 100 });
        press({ 160, 100 });
        press({ 160, 130 });
        move({ 121, 100 });
        QVERIFY(t->traceItem() && t->closeMarkerItem());
        t->selectionItem()->setVisible(false);
        const QPainterPath selection = t->selectionPath();
        const QPainterPath trace = t->tracePath();
        const QPainterPath shown = t->selectionItem()->path();
        const QPoint anchor = t->anchorPoint();
        const QPoint start = t->traceStart();
        QVERIFY(!selection.isEmpty() && !trace.isEmpty());
        const int steps = t->undoStack().count();

        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(t->undoStack().count(), steps + 1);
        QVERIFY(t->selectionPath().isEmpty() && t->tracePath().isEmpty());
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QVERIFY(!t->selectionItem() && !t->traceItem() && !t->closeMarkerItem());
        QCOMPARE(t->scene().items().size(), 2);

        t->undoStack().undo();
        QCOMPARE(t->selectionPath(), selection);
        QCOMPARE(t->tracePath(), trace);
        QCOMPARE(t->anchorPoint(), anchor);
        QCOMPARE(t->traceStart(), start);
        QCOMPARE(t->selectionItem()->path(), shown);
        QVERIFY(!t->selectionItem()->isVisible());
        QCOMPARE(t->selectionItem()->zValue(), 12.0);
    }

    void keysOverTheWindowDriveTheTrace()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        view()->setTransform(QTransform()); // a press's probe is 10 wide, as probeAt makes it
        const auto key = [this](Qt::Key k) { QTest::keyClick(window, k); };

        // Backspace takes back confirmed points, never the trace's first press.
        press({ 20, 20 });
        press({ 80, 20 });
        const QVariantList one = traceState(*t);
        press({ 80, 70 });
        key(Qt::Key_Backspace);
        QCOMPARE(traceState(*t), one);
        key(Qt::Key_Backspace);
        key(Qt::Key_Backspace);
        QCOMPARE(t->anchorPoint(), QPoint(20, 20));

        // Enter closes exactly as a press on the start does.
        press({ 80, 20 });
        press({ 80, 70 });
        press(t->traceStart());
        const QVariantList closed = traceState(*t);
        t->undoStack().undo();
        QVERIFY(view()->followsPointer()); // scrolls along at the edge while tracing
        key(Qt::Key_Return);
        QCOMPARE(traceState(*t), closed);
        QVERIFY(!view()->followsPointer());

        // After a new trace's first press, Backspace must not reopen the closed one.
        const int steps = t->undoStack().count();
        press({ 150, 100 });
        key(Qt::Key_Backspace);
        QCOMPARE(t->undoStack().count(), steps);

        // Escape abandons as a right press does; with the tool off the keys do nothing.
        press({ 150, 130 });
        const QPainterPath confirmed = t->tracePath();
        key(Qt::Key_Escape);
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t->tracePath(), confirmed);
        press({ 30, 100 });
        press({ 60, 100 });
        t->ui()->actionSmartSelect->setChecked(false);
        const QVariantList off = traceState(*t);
        for (Qt::Key k : { Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_Enter })
            key(k);
        QCOMPARE(traceState(*t), off);
    }

    // A redone step replays its own stretch, not the live one drawn since.
    void redoReplaysItsOwnStretch()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QList<QVariantList> states;
        for (QPoint p : { QPoint(20, 20), QPoint(90, 30), QPoint(120, 110), QPoint(21, 20) }) {
            press(p);
            states << traceState(*t);
        }
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
        for (int i = 1; i < 4; ++i) {
            if (i != 2) // with and without a live stretch drawn since
                move({ 150, 10 * i });
            QTest::keyClick(window, i == 2 ? Qt::Key_Y : Qt::Key_Z,
                i == 2 ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(traceState(*t), states[i]);
            QVERIFY(!t->traceItem());
        }
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
    }

    void followEdgesChoosesTheStretch()
    {
        t->open(dir.filePath(QStringLiteral("disc.png")));
        const QSize size = t->image().size();
        const QList<quint16> edges = t->edgeMap();
        QList<QPainterPath> stretches[2];
        for (bool on : { false, true }) {
            t->ui()->actionFollowEdges->setChecked(on);
            press({ 0, 0 }, true);
            t->smartSelect(QRect(55, 85, 1, 1), true); // at (45, 75), unsnapped
            QPoint anchor(45, 75);
            // Round the disc from its left to its right, then across the stripe.
            for (QPoint target : { QPoint(155, 78), QPoint(150, 140), QPoint(20, 140) }) {
                const QPainterPath expected = stretchPath(anchor,
                    on ? shortestTrace(anchor, target, size, edges)
                       : walkTrace(anchor, target, size, edges));
                move(target + QPoint(3, -2)); // the tracer's tree grown towards elsewhere
                move(target);
                QCOMPARE(t->traceItem()->path(), expected);
                QPainterPath joined = t->tracePath();
                joined.connectPath(expected);
                press(target);
                QCOMPARE(t->tracePath(), joined);
                stretches[on] << expected;
                anchor = target;
            }
        }
        QVERIFY(stretches[0] != stretches[1]); // the picture tells the two ways apart
    }
};

QTEST_MAIN(TestSmartSelect)
#include "tst_smartselect.moc"
