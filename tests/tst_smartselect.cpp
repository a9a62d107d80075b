// Smart-select requests as the window handles them, and clicks and keys through the real view.

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
        const bool active = QTest::qWaitForWindowActive(window);
        view()->setTransform(QTransform::fromScale(zoom, zoom));
        view()->centerOn(centre);
        return active;
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

    void pressSnapsStretchesMarksAndConfirms()
    {
        // The first press snaps to the strongest edge nearby and is no step; a move before it
        // does nothing.
        t->edgeMap()[23 + 16 * 200] = 300;
        move({ 20, 20 });
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        press({ 20, 20 });
        QVERIFY(t->anchorPoint() == QPoint(23, 16) && t->traceStart() == QPoint(23, 16));
        QAction *undo = t->ui()->menuEdit->actions().first();
        QVERIFY(t->undoStack().count() == 0 && !undo->isEnabled());
        press({ 120, 20 });
        QVERIFY(undo->isEnabled() && !t->traceItem() && t->selectionItem());
        QCOMPARE(t->anchorPoint(), QPoint(120, 20));
        press({ 120, 100 });

        // The marker shows within the probe width (Manhattan) of the start, not at it.
        move({ 28, 20 });
        QCOMPARE(t->closeMarkerItem()->rect(), QRectF(MainWindowTester::probeAt({ 28, 20 })));
        move({ 28, 21 });
        QVERIFY(!t->closeMarkerItem());
        press({ 28, 20 });
        QVERIFY(t->anchorPoint() == QPoint(-100, -100) && t->tracePath().isEmpty());
        QVERIFY(t->selectionPath().contains(QPointF(100, 50)));
        QVERIFY(t->closeMarkerItem()); // until the next request
        move({ 60, 60 });
        QVERIFY(!t->closeMarkerItem() && !t->traceItem());
        undo->trigger();
        QVERIFY(t->anchorPoint() == QPoint(120, 100) && t->selectionPath().isEmpty());
    }

    void clicksLandOnThePointedPixel()
    {
        // Fitted, the 220 x 170 scene in a wide viewport leaves grey bands beside it; a click
        // there aims at the nearest pixel and a move there draws the live stretch to the border.
        QVERIFY(showAt(1.0, {}));
        view()->fitInView(t->scene().sceneRect(), Qt::KeepAspectRatio);
        const QRect scene = view()->mapFromScene(t->scene().sceneRect()).boundingRect();
        QVERIFY2(scene.left() > 20 && scene.right() < viewport()->width() - 20,
            "the fitted picture should leave room beside it");
        const int besideLeft = scene.left() / 2;
        click(over({ 100, 60 }));
        click({ besideLeft, over({ 0, 60 }).y() });
        QCOMPARE(t->anchorPoint(), QPoint(0, 60));
        click({ (scene.right() + viewport()->width()) / 2, over({ 0, 110 }).y() });
        QCOMPARE(t->anchorPoint(), QPoint(199, 110));
        QCOMPARE(endOf(t->selectionItem()->path()), QPointF(209, 120));
        hover({ besideLeft, over({ 0, 30 }).y() });
        QCOMPARE(endOf(t->traceItem()->path()), QPointF(10, 40));
        QCOMPARE(t->undoStack().count(), 2);

        // At zoom 20 the closing distance is one pixel: next to the start nothing shows, on it
        // the marker covers the pixel, many screen pixels wide, and a click closes.
        t->ui()->actionSelectNone->trigger();
        QVERIFY(showAt(20.0, { 70, 50 }));
        click(over({ 60, 40 }));
        QCOMPARE(t->anchorPoint(), QPoint(60, 40));
        hover(over({ 63, 42 }));
        QCOMPARE(endOf(t->traceItem()->path()), QPointF(73, 52));
        click(over({ 62, 41 }));
        QCOMPARE(t->anchorPoint(), QPoint(62, 41));
        QCOMPARE(endOf(t->selectionItem()->path()), QPointF(72, 51));
        hover(over({ 61, 40 }));
        QVERIFY(!t->closeMarkerItem());
        hover(over({ 60, 40 }));
        QCOMPARE(t->closeMarkerItem()->rect(), QRectF(70, 50, 1, 1));
        const QRect disc = view()->mapFromScene(t->closeMarkerItem()->rect()).boundingRect();
        QCOMPARE(disc.width(), 21);
        // Its rim stays one screen pixel wide. The pointer's own circle would hide it; it goes
        // when the pointer leaves.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(view(), &leave);
        const QImage shot = viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int rim = 0, fill = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                rim += shot.pixel(x, y) == qRgb(255, 0, 0);
                fill += shot.pixel(x, y) == qRgb(0, 255, 0);
            }
        // A one-pixel outline of an ellipse never has more pixels than its box's perimeter.
        QVERIFY2(rim > 0 && rim <= 4 * disc.width() && fill > rim,
            qPrintable(QStringLiteral("%1 rim and %2 fill pixels").arg(rim).arg(fill)));
        click(over({ 60, 40 }));
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QVERIFY(t->selectionPath().contains(QPointF(71.2, 50.9)));
    }

    void selectNoneClearsAndUndoRestoresExactly()
    {
        t->ui()->actionSelectNone->trigger(); // nothing to clear: no step to undo
        QCOMPARE(t->undoStack().count(), 0);

        // A closed outline, then a trace under way with a confirmed stretch and the marker.
        for (QPoint p : { QPoint(20, 20), QPoint(80, 20), QPoint(80, 70), QPoint(21, 21),
                 QPoint(120, 100), QPoint(160, 100), QPoint(160, 130) })
            press(p);
        move({ 121, 100 });
        QVERIFY(t->traceItem() && t->closeMarkerItem());
        t->selectionItem()->setVisible(false);
        const QVariantList before = traceState(*t);
        const QPoint start = t->traceStart();
        QVERIFY(!t->selectionPath().isEmpty() && !t->tracePath().isEmpty());
        const int steps = t->undoStack().count();

        QVERIFY(showAt(1.0, {}));
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(t->undoStack().count(), steps + 1);
        QVERIFY(t->selectionPath().isEmpty() && t->tracePath().isEmpty());
        QCOMPARE(t->anchorPoint(), QPoint(-100, -100));
        QVERIFY(!t->selectionItem() && !t->traceItem() && !t->closeMarkerItem());
        QCOMPARE(t->scene().items().size(), 2);

        t->undoStack().undo();
        QVERIFY(traceState(*t) == before && t->traceStart() == start);
        QVERIFY(!t->selectionItem()->isVisible() && t->selectionItem()->zValue() == 12.0);
    }

    void keysOverTheWindowDriveTheTrace()
    {
        QVERIFY(showAt(1.0, {})); // a press's probe is 10 wide, as probeAt makes it
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

        // Escape and a right press abandon, keeping the confirmed stretches and drawing no live
        // one; with the tool off the keys do nothing.
        for (const bool right : { false, true }) {
            press({ 150, 130 + 10 * right });
            const QPainterPath confirmed = t->tracePath();
            right ? press({ 150, 140 }, true) : key(Qt::Key_Escape);
            move({ 50, 50 });
            QVERIFY(t->anchorPoint() == QPoint(-100, -100) && t->tracePath() == confirmed);
            QVERIFY(!t->traceItem() && t->selectionItem());
            press({ 150, 100 });
        }
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
        QVERIFY(showAt(1.0, {}));
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
