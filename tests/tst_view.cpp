#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <tuple>

// The pointer marker's rectangle, the only item these tests' scenes hold; null when there is none.
static QRectF marker(const QGraphicsScene &scene)
{
    const auto *ellipse = qgraphicsitem_cast<QGraphicsEllipseItem *>(scene.items().value(0));
    return scene.items().size() == 1 && ellipse ? ellipse->rect() : QRectF();
}

// A shown 800x600 view with a 200x160 scene pinned to its top-left corner, so viewport pixel p
// shows scene point p / zoom. The scene goes before the view, as in the window.
struct Canvas {
    QWidget window;
    ZelGraphicsView *view = new ZelGraphicsView(&window);
    QGraphicsScene scene { 0, 0, 200, 160 };
    QSignalSpy spy { view, &ZelGraphicsView::SmartSelect };

    explicit Canvas(qreal zoom = 1.0, ToolMode mode = ToolMode::SmartSelect)
    {
        view->setMouseTracking(true); // as the window's form does
        view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view->resize(800, 600);
        // Moves with no button held go through the pointer, which stays on the 800x600 screen.
        window.setGeometry(0, 0, 800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view->setScene(&scene);
        view->scale(zoom, zoom);
        // Zoomed past the viewport, the view keeps its centre; scroll back to the corner.
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        view->SetToolMode(mode);
    }
    void send(QPoint p, QEvent::Type type = QEvent::MouseMove, Qt::MouseButton b = Qt::NoButton)
    {
        QMouseEvent event(type, p, p, b, type == QEvent::MouseButtonPress ? b : Qt::NoButton, {});
        QCoreApplication::sendEvent(view->viewport(), &event);
    }
    // Moves the real pointer, by a neighbour, since a move to where it already is gets dropped.
    void hover(QPoint p)
    {
        QTest::mouseMove(view->viewport(), p + QPoint(0, 1));
        QTest::mouseMove(view->viewport(), p);
    }
    QPoint scrolled() const
    {
        return { view->horizontalScrollBar()->value(), view->verticalScrollBar()->value() };
    }
};

class TestView : public QObject
{
    Q_OBJECT

private slots:
    void probeAndAimRectangles()
    {
        // The probe spans p -/+ (5, 5) on screen. At zoom 2, 23.5 truncates; at the left edge
        // -2.5 truncates toward zero. Where the probe is empty (off the scene, zoom above 10)
        // the aim is the probe's unclipped size, at least 1, centred on the pixel under the
        // pointer clamped into the scene: (195 + 204) / 2 = 199, (-2 + 2) / 2 = 0.
        const QPoint p(52, 38);
        constexpr auto L = Qt::LeftButton, R = Qt::RightButton;
        const std::tuple<qreal, QPoint, Qt::MouseButton, QRect, QRect> cases[] = {
            { 1.0, p, L, QRect(47, 33, 10, 10), QRect(47, 33, 10, 10) },
            { 2.0, p, L, QRect(23, 16, 5, 5), QRect(23, 16, 5, 5) },
            { 0.5, p, R, QRect(94, 66, 20, 20), QRect(94, 66, 20, 20) },
            { 2.0, { 0, 20 }, L, QRect(0, 7, 3, 5), QRect(0, 7, 3, 5) },
            { 1.0, { 197, 157 }, L, QRect(192, 152, 8, 8), QRect(192, 152, 8, 8) },
            { 12.0, { 300, 200 }, R, QRect(), QRect(25, 16, 1, 1) },
            { 20.0, { 405, 317 }, L, QRect(), QRect(20, 15, 1, 1) },
            { 1.0, { 260, 80 }, R, QRect(), QRect(195, 76, 10, 10) },
            { 0.5, { 500, 30 }, L, QRect(), QRect(190, 51, 20, 20) },
            { 2.0, { -30, -50 }, L, QRect(), QRect(-2, -2, 5, 5) },
        };
        for (const auto &[zoom, pos, button, probe, aim] : cases) {
            // A press sends the aim, draws nothing and does not count as a move.
            Canvas c(zoom);
            QCOMPARE(c.view->ProbeRect(pos), probe);
            c.send(pos, QEvent::MouseButtonPress, button);
            QVERIFY(c.scene.items().isEmpty());
            c.send(pos);
            const QList<QVariantList> sent { { aim, true, button == R }, { aim, false, false } };
            QCOMPARE(QList<QVariantList>(c.spy), sent);
            // The marker shows the probe; without one, a circle ten screen pixels wide
            // centred on the pointer, wherever that is.
            const QRectF shown = probe.isEmpty()
                ? c.view->viewportTransform().mapRect(marker(c.scene))
                : marker(c.scene);
            QCOMPARE(shown, probe.isEmpty() ? QRectF(pos - QPoint(5, 5), QSizeF(10, 10)) : probe);
        }
        // Swept over the scene and the grey around it up to zoom 10: the aim is the probe
        // wherever the probe has area, and otherwise a square centred inside the scene.
        for (const qreal zoom : { 0.37, 0.5, 1.0, 1.7, 3.3, 7.5, 10.0 }) {
            Canvas c(zoom);
            for (int x = -40; x < 200 * zoom + 40; x += 3) {
                for (int y = -40; y < 160 * zoom + 40; y += 3) {
                    const QRect probe = c.view->ProbeRect({ x, y }), a = c.view->AimRect({ x, y });
                    const QPoint centre((a.left() + a.right()) / 2, (a.top() + a.bottom()) / 2);
                    const bool square = a.width() == a.height() && a.width() >= 1;
                    QVERIFY2(probe.isEmpty() ? square && c.scene.sceneRect().contains(centre)
                                             : a == probe,
                        qPrintable(QStringLiteral("zoom %1 at %2,%3").arg(zoom).arg(x).arg(y)));
                }
            }
        }
    }

    void markerFollowsThePointerAndDiesWithTheScene()
    {
        Canvas c;
        c.send({ 0, 0 }); // the initial last position: drawn but not sent
        c.send({ 60, 40 });
        c.send({ 60, 40 });
        c.send({ 60, 40 }, QEvent::MouseButtonRelease, Qt::LeftButton);
        QVERIFY(c.spy.count() == 1 && marker(c.scene) == QRectF(55, 35, 10, 10));
        // Off the scene the marker stays with the pointer and the aim with the nearest pixel.
        c.send({ 290, 80 });
        QVERIFY(c.spy.count() == 2 && marker(c.scene) == QRectF(285, 75, 10, 10));
        c.send({ 60, 40 });
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(c.view, &leave);
        QVERIFY(c.spy.count() == 3 && c.scene.items().isEmpty());

        // Switching the tool off removes the marker; with no tool nothing is drawn or sent.
        c.send({ 70, 40 });
        c.view->SetToolMode(ToolMode::None);
        c.send({ 30, 30 });
        c.send({ 40, 30 }, QEvent::MouseButtonPress, Qt::RightButton);
        QVERIFY(c.spy.count() == 4 && c.scene.items().isEmpty());
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::ArrowCursor);
        c.view->SetToolMode(ToolMode::SmartSelect);
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::BlankCursor);

        // What opening another picture does: every item goes, the marker with it.
        c.send({ 30, 30 });
        c.scene.clear();
        c.view->SetToolMode(ToolMode::SmartSelect);
        c.send({ 60, 40 });
        QCOMPARE(marker(c.scene), QRectF(55, 35, 10, 10));
        // Another scene takes the marker along, and that scene's end takes it for good.
        auto *other = new QGraphicsScene(0, 0, 200, 160);
        c.view->setScene(other);
        c.send({ 70, 30 });
        QVERIFY(c.scene.items().isEmpty() && !marker(*other).isNull());
        delete other;
        // That end leaves the view without a scene, where nothing may happen. The base press
        // would swap the open hand for a closed one, so the cursor shows it never ran.
        c.spy.clear();
        c.view->setDragMode(QGraphicsView::ScrollHandDrag);
        c.send({ 40, 40 }, QEvent::MouseButtonPress, Qt::LeftButton);
        c.view->resize(600, 500);
        QVERIFY(c.spy.isEmpty() && c.view->transform().isIdentity());
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::OpenHandCursor);
        c.view->setScene(&c.scene);
        c.send({ 80, 30 });
        QVERIFY(!marker(c.scene).isNull());
        // The view goes first: its marker goes with it, and the scene's end touches no view.
        delete c.view;
        QVERIFY(c.scene.items().isEmpty());
    }

    void resizeWheelAndEdgeArithmetic()
    {
        // Scene size on screen and the new viewport size, from 800x600: a narrow scene follows
        // the width; zoomed in, growing keeps the zoom and shrinking follows; a scene exactly as
        // wide and high keeps it; 2.0 and 0.5 tie and the vertical wins; no old size, no change.
        const std::tuple<QSizeF, QSize, QSize, double> fits[]
            = { { { 700, 500 }, { 1000, 600 }, { 800, 600 }, 1.25 },
                  { { 2000, 1500 }, { 1000, 700 }, { 800, 600 }, 1.0 },
                  { { 2000, 1500 }, { 700, 600 }, { 800, 600 }, 0.875 },
                  { { 1000, 700 }, { 1000, 700 }, { 800, 600 }, 1.0 },
                  { { 100, 100 }, { 1600, 300 }, { 800, 600 }, 0.5 },
                  { { 700, 500 }, { 1000, 600 }, { -1, -1 }, 1.0 } };
        for (const auto &[mapped, newSize, oldSize, factor] : fits)
            QCOMPARE(fitScaleFactor(mapped, newSize, oldSize), factor);
        // Whole notches come out and the rest waits; a reversal drops the old direction's rest.
        const std::tuple<int, int, int, int> turns[]
            = { { 0, 360, 3, 0 }, { 0, 30, 0, 30 }, { 100, 50, 1, 30 }, { -90, -60, -1, -30 },
                  { 90, -60, 0, -60 }, { -100, 130, 1, 10 }, { 50, 2147483647, 17895697, 57 } };
        for (auto [total, delta, notches, rest] : turns)
            QVERIFY(wheelNotches(total, delta) == notches && total == rest);
        // The 24-pixel bands along the edges of a 100 x 80 viewport, and nothing outside it.
        const std::tuple<QPoint, QPoint> bands[]
            = { { { 50, 40 }, { 0, 0 } }, { { 23, 40 }, { -1, 0 } }, { { 24, 40 }, { 0, 0 } },
                  { { 75, 40 }, { 0, 0 } }, { { 76, 40 }, { 1, 0 } }, { { 99, 79 }, { 1, 1 } },
                  { { 0, 0 }, { -1, -1 } }, { { 100, 40 }, { 0, 0 } }, { { -1, 40 }, { 0, 0 } } };
        for (const auto &[pos, direction] : bands)
            QCOMPARE(edgeScrollDirection(pos, { 100, 80 }, 24), direction);

        // The first resize turns the scroll bars on; after that the viewport follows the view.
        Canvas c;
        c.view->resize(900, 700);
        QVERIFY(c.view->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn
            && c.view->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn);
        const QSize chrome = c.view->size() - c.view->viewport()->size();
        c.view->resize(QSize(800, 600) + chrome);
        c.view->resetTransform();
        c.view->resize(QSize(1000, 600) + chrome);
        QCOMPARE(c.view->transform(), QTransform::fromScale(1.25, 1.25));
    }

    void zoomKeepsThePointOfInterest()
    {
        Canvas c(5.0); // overflows the viewport, so the view can scroll to keep a point put
        c.view->horizontalScrollBar()->setValue(120);
        const QPoint p(300, 250);
        c.hover(p);
        const QPointF under = c.view->mapToScene(p);
        const double zoom = c.view->transform().m11(); // refitted to the scroll bars' room
        const auto zoomedBy = [&](double factor) {
            const QPointF drift = c.view->mapFromScene(under) - p;
            return qFuzzyCompare(c.view->transform().m11(), zoom * factor)
                && qFuzzyCompare(c.view->transform().m22(), zoom * factor)
                && std::abs(drift.x()) <= 1 && std::abs(drift.y()) <= 1;
        };
        const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(p, c.view->viewport()->mapToGlobal(p), {}, { 0, delta }, Qt::NoButton,
                modifiers, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(c.view->viewport(), &event);
        };
        const int moves = c.spy.count();
        wheel(120, Qt::ControlModifier);
        // The trace follows the new probe under the still pointer.
        QVERIFY(zoomedBy(1.2) && c.spy.count() == moves + 1);
        QCOMPARE(c.spy.last().first().toRect(), c.view->ProbeRect(p));
        for (int i = 0; i < 3; ++i) // a high-resolution wheel: a notch takes four of these
            wheel(30, Qt::ControlModifier);
        QVERIFY(zoomedBy(1.2));
        wheel(30, Qt::ControlModifier);
        QVERIFY(zoomedBy(1.2 * 1.2));
        wheel(-240, Qt::ControlModifier);
        QVERIFY(zoomedBy(1.0));
        const QPoint before = c.scrolled();
        wheel(-120, Qt::NoModifier); // scrolls, zoom unchanged
        QVERIFY(c.scrolled().y() > before.y() && qFuzzyCompare(c.view->transform().m11(), zoom));

        // 100 % keeps the scene point at the viewport's centre there.
        c.scene.setSceneRect(0, 0, 2000, 1600);
        c.view->scale(0.1, 0.1);
        const QPoint middle = c.view->viewport()->rect().center();
        const QPointF centre = c.view->mapToScene(middle);
        c.view->zoomToActual();
        const QPointF drift = c.view->mapFromScene(centre) - middle;
        QVERIFY(c.view->transform().isIdentity() && drift.manhattanLength() <= 2);
    }

    void middleAndSpaceDragPanWithoutPressing()
    {
        // In both tool modes, both gestures scroll by the drag and report no press; smart
        // select still reports the moves. With Space up, a left press is a press again.
        for (const ToolMode mode : { ToolMode::SmartSelect, ToolMode::None }) {
            for (const Qt::MouseButton button : { Qt::MiddleButton, Qt::LeftButton }) {
                Canvas c(5.0, mode);
                c.view->horizontalScrollBar()->setValue(150);
                QWidget *viewport = c.view->viewport();
                const bool space = button == Qt::LeftButton;
                const int tracing = mode == ToolMode::SmartSelect;
                if (space)
                    QTest::keyPress(c.view, Qt::Key_Space);
                QTest::mousePress(viewport, button, {}, { 300, 300 });
                QTest::mouseMove(viewport, { 260, 270 });
                QTest::mouseMove(viewport, { 250, 240 });
                QCOMPARE(viewport->cursor().shape(), Qt::ClosedHandCursor);
                QTest::mouseRelease(viewport, button, {}, { 250, 240 });
                QVERIFY(c.scrolled() == QPoint(200, 60) && c.spy.count() == 2 * tracing);
                for (const QVariantList &sent : std::as_const(c.spy))
                    QVERIFY(!sent.at(1).toBool());
                if (space)
                    QTest::keyRelease(c.view, Qt::Key_Space);
                QTest::mouseClick(viewport, Qt::LeftButton, {}, { 250, 240 });
                QVERIFY(c.scrolled() == QPoint(200, 60) && c.spy.count() == 3 * tracing);
                QCOMPARE(viewport->cursor().shape(), tracing ? Qt::BlankCursor : Qt::ArrowCursor);
            }
        }
    }

    void edgeScrollOnlyWhileFollowingATrace()
    {
        // A pointer resting in the right-hand band scrolls right and is reported again at each
        // step; with no trace, with no tool, or in the middle, nothing moves.
        Canvas c(5.0);
        QCoreApplication::processEvents(); // the scroll bars take their room first
        const QPoint edge(c.view->viewport()->width() - 10, 250), middle(300, 250);
        for (const auto &[follow, mode, p] : { std::tuple(false, ToolMode::SmartSelect, edge),
                 std::tuple(true, ToolMode::None, edge),
                 std::tuple(true, ToolMode::SmartSelect, middle) }) {
            c.view->SetToolMode(mode);
            c.view->setFollowsPointer(follow);
            c.hover(p);
            const int moves = c.spy.count();
            QTest::qWait(150);
            QVERIFY(c.scrolled().isNull() && c.spy.count() == moves);
        }
        c.hover(edge);
        const int moves = c.spy.count();
        QTRY_VERIFY(c.scrolled().x() >= 36);
        QVERIFY(c.scrolled().y() == 0 && c.spy.count() > moves);
        QCOMPARE(c.spy.last().first().toRect(), c.view->ProbeRect(edge));
        c.view->setFollowsPointer(false); // the trace is over: the view stays put
        const QPoint stopped = c.scrolled();
        QTest::qWait(100);
        QCOMPARE(c.scrolled(), stopped);
    }

    void markerHasADarkAndALightRing()
    {
        // On mid-grey both show, the light ring a screen pixel inside the dark one at any zoom.
        for (const qreal zoom : { 1.0, 5.0 }) {
            Canvas c(zoom);
            c.scene.setBackgroundBrush(QColor(128, 128, 128));
            c.hover({ 60, 40 });
            const QImage shot = c.view->viewport()->grab().toImage();
            int dark = -1, light = -1;
            for (int x = 50; x < 60 && light < 0; ++x) {
                const int grey = qGray(shot.pixel(x, 40));
                dark = dark < 0 && grey < 60 ? x : dark;
                light = dark >= 0 && grey > 200 ? x : light;
            }
            QVERIFY2(dark >= 0 && light > dark && light - dark <= 2,
                qPrintable(
                    QStringLiteral("zoom %1: dark %2, light %3").arg(zoom).arg(dark).arg(light)));
        }
    }
};

QTEST_MAIN(TestView)
#include "tst_view.moc"
