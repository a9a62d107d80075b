#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

void sendMouse(QWidget *viewport, QEvent::Type type, QPoint pos,
               Qt::MouseButton button = Qt::NoButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
    QMouseEvent event(type, QPointF(pos), viewport->mapToGlobal(QPointF(pos)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &event);
}

QList<QGraphicsEllipseItem *> markersIn(const QGraphicsScene &scene)
{
    QList<QGraphicsEllipseItem *> found;
    for (QGraphicsItem *item : scene.items())
        if (auto *ellipse = qgraphicsitem_cast<QGraphicsEllipseItem *>(item))
            found.append(ellipse);
    return found;
}

// The one marker's rectangle; a null rectangle when there is none or more than one.
QRectF markerRect(const QGraphicsScene &scene)
{
    const auto markers = markersIn(scene);
    return markers.size() == 1 ? markers[0]->rect() : QRectF();
}

// A shown 800x600 view with a 200x160 scene pinned to its top-left corner, so viewport pixel
// p shows scene point p / zoom. The scene goes before the view, as in the window.
struct Canvas {
    QWidget window;
    ZelGraphicsView *view = nullptr;
    QGraphicsScene scene{ 0, 0, 200, 160 };
    std::unique_ptr<QSignalSpy> spy;

    explicit Canvas(qreal zoom, ToolMode mode = ToolMode::SmartSelect)
    {
        window.resize(1200, 900);
        view = new ZelGraphicsView(&window);
        view->setMouseTracking(true); // as the window's form does
        view->setFrameShape(QFrame::NoFrame);
        view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view->resize(800, 600);
        window.show();
        view->setScene(&scene);
        view->setTransform(QTransform::fromScale(zoom, zoom));
        view->SetToolMode(mode);
        spy = std::make_unique<QSignalSpy>(view, &ZelGraphicsView::SmartSelect);
    }
    QWidget *viewport() const { return view->viewport(); }
    void move(QPoint p) const { sendMouse(viewport(), QEvent::MouseMove, p); }
    void press(QPoint p, Qt::MouseButton b = Qt::LeftButton) const
    {
        sendMouse(viewport(), QEvent::MouseButtonPress, p, b);
    }
    QRect rectAt(int i) const { return spy->at(i).at(0).toRect(); }
    bool pressedAt(int i) const { return spy->at(i).at(1).toBool(); }
    bool rightAt(int i) const { return spy->at(i).at(2).toBool(); }
};

} // namespace

class TestView : public QObject
{
    Q_OBJECT

private slots:
    void withoutSceneNothingHappens();
    void probeFollowsZoom_data();
    void probeFollowsZoom();
    void probeEmptyAboveZoomTen();
    void probeClippedAtSceneEdge_data();
    void probeClippedAtSceneEdge();
    void pointerOutsideScene();
    void movesEmitOnlyWhenPositionChanges();
    void pressReportsButton_data();
    void pressReportsButton();
    void noToolEmitsNothing();
    void markerFollowsAndGoes();
    void fitScaleFactorRule_data();
    void fitScaleFactorRule();
    void resizeKeepsSceneFitted_data();
    void resizeKeepsSceneFitted();
    void resizeTurnsScrollBarsOn();
    void markerUsedAfterSceneClear();
    void markerLeftInPreviousScene();
};

void TestView::withoutSceneNothingHappens()
{
    QWidget window;
    window.resize(900, 700);
    auto *view = new ZelGraphicsView(&window);
    // The base press would swap this for a closed hand, so the cursor shows it never ran.
    view->setDragMode(QGraphicsView::ScrollHandDrag);
    view->resize(400, 300);
    window.show();
    QSignalSpy spy(view, &ZelGraphicsView::SmartSelect);

    sendMouse(view->viewport(), QEvent::MouseMove, { 40, 40 });
    sendMouse(view->viewport(), QEvent::MouseButtonPress, { 40, 40 }, Qt::LeftButton);
    sendMouse(view->viewport(), QEvent::MouseButtonRelease, { 40, 40 }, Qt::LeftButton);
    view->resize(600, 500);

    QCOMPARE(spy.count(), 0);
    QCOMPARE(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
    QVERIFY(view->transform().isIdentity());
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);

    ZelGraphicsView fresh;
    QVERIFY(!fresh.viewport()->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(fresh.viewport()->cursor().shape(), Qt::ArrowCursor);
}

void TestView::probeFollowsZoom_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<QRect>("expected");
    // Pointer at (52, 38); p - (5, 5) = (47, 33) on screen.
    QTest::newRow("zoom 1") << 1.0 << QRect(47, 33, 10, 10);
    QTest::newRow("zoom 2 truncates 23.5") << 2.0 << QRect(23, 16, 5, 5);
    QTest::newRow("zoom 0.5") << 0.5 << QRect(94, 66, 20, 20);
    // Width 10 / 3 truncates to 3, not 19 - 15.
    QTest::newRow("zoom 3") << 3.0 << QRect(15, 11, 3, 3);
}

void TestView::probeFollowsZoom()
{
    QFETCH(qreal, zoom);
    QFETCH(QRect, expected);
    Canvas c(zoom);
    QCOMPARE(c.view->mapToScene(QPoint(40, 40)), QPointF(40 / zoom, 40 / zoom));

    QCOMPARE(c.view->ProbeRect({ 52, 38 }), expected);
    c.move({ 52, 38 });
    QCOMPARE(c.spy->count(), 1);
    QCOMPARE(c.rectAt(0), expected);
    QVERIFY(!c.pressedAt(0));
    QVERIFY(!c.rightAt(0));
    QCOMPARE(markerRect(c.scene), QRectF(expected));
}

void TestView::probeEmptyAboveZoomTen()
{
    Canvas c(12.0);
    QVERIFY(c.view->ProbeRect({ 300, 200 }).isEmpty());
    c.move({ 300, 200 });
    c.move({ 310, 220 });
    QCOMPARE(c.spy->count(), 0);
    QVERIFY(markersIn(c.scene).isEmpty());

    c.press({ 310, 220 });
    QCOMPARE(c.spy->count(), 1);
    QCOMPARE(c.rectAt(0), QRect());
    QVERIFY(c.pressedAt(0));
}

void TestView::probeClippedAtSceneEdge_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QRect>("expected");
    // Left edge -2.5 truncates toward zero to -2, so x -2..2 keeps three columns.
    QTest::newRow("left, negative truncation") << 2.0 << QPoint(0, 20) << QRect(0, 7, 3, 5);
    QTest::newRow("top") << 1.0 << QPoint(50, 2) << QRect(45, 0, 10, 7);
    QTest::newRow("bottom right corner") << 1.0 << QPoint(197, 157) << QRect(192, 152, 8, 8);
}

void TestView::probeClippedAtSceneEdge()
{
    QFETCH(qreal, zoom);
    QFETCH(QPoint, pos);
    QFETCH(QRect, expected);
    Canvas c(zoom);
    QCOMPARE(c.view->ProbeRect(pos), expected);
    c.move(pos);
    QCOMPARE(c.spy->count(), 1);
    QCOMPARE(c.rectAt(0), expected);
    QCOMPARE(markerRect(c.scene), QRectF(expected));
}

void TestView::pointerOutsideScene()
{
    Canvas c(1.0);
    c.move({ 100, 80 });
    QCOMPARE(markersIn(c.scene).size(), 1);

    c.move({ 260, 80 }); // scene ends at x 199
    QCOMPARE(c.spy->count(), 1);
    QVERIFY(markersIn(c.scene).isEmpty());
    c.press({ 260, 80 });
    QCOMPARE(c.spy->count(), 2);
    QCOMPARE(c.rectAt(1), QRect());
    QVERIFY(c.pressedAt(1));

    // Empty moves leave the last position alone: coming back to it is no change.
    c.move({ 100, 80 });
    QCOMPARE(c.spy->count(), 2);
    QCOMPARE(markersIn(c.scene).size(), 1);
}

void TestView::movesEmitOnlyWhenPositionChanges()
{
    Canvas c(1.0);
    c.move({ 0, 0 }); // the initial last position
    QCOMPARE(c.spy->count(), 0);
    QCOMPARE(markerRect(c.scene), QRectF(0, 0, 5, 5));

    c.move({ 30, 30 });
    c.move({ 30, 30 });
    sendMouse(c.viewport(), QEvent::MouseButtonRelease, { 30, 30 }, Qt::LeftButton);
    QCOMPARE(c.spy->count(), 1);
    QCOMPARE(c.rectAt(0), QRect(25, 25, 10, 10));

    c.move({ 31, 30 });
    QCOMPARE(c.spy->count(), 2);
}

void TestView::pressReportsButton_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("right");
    QTest::newRow("left") << Qt::LeftButton << false;
    QTest::newRow("middle") << Qt::MiddleButton << false;
    QTest::newRow("right") << Qt::RightButton << true;
}

void TestView::pressReportsButton()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, right);
    Canvas c(1.0);
    c.press({ 30, 30 }, button);
    QCOMPARE(c.spy->count(), 1);
    QCOMPARE(c.rectAt(0), QRect(25, 25, 10, 10));
    QVERIFY(c.pressedAt(0));
    QCOMPARE(c.rightAt(0), right);
    QVERIFY(markersIn(c.scene).isEmpty());

    // A press does not count as the last move.
    c.move({ 30, 30 });
    QCOMPARE(c.spy->count(), 2);
}

void TestView::noToolEmitsNothing()
{
    Canvas c(1.0, ToolMode::None);
    c.move({ 30, 30 });
    c.press({ 40, 30 });
    c.press({ 40, 30 }, Qt::RightButton);
    QCOMPARE(c.spy->count(), 0);
    QVERIFY(markersIn(c.scene).isEmpty());
    QCOMPARE(c.viewport()->cursor().shape(), Qt::ArrowCursor);
}

void TestView::markerFollowsAndGoes()
{
    Canvas c(1.0);
    QCOMPARE(c.viewport()->cursor().shape(), Qt::BlankCursor);
    c.move({ 30, 30 });
    c.move({ 60, 40 });
    const auto markers = markersIn(c.scene);
    QCOMPARE(markers.size(), 1);
    QCOMPARE(markers[0]->rect(), QRectF(55, 35, 10, 10));
    QCOMPARE(markers[0]->zValue(), 20.0);
    QVERIFY(markers[0]->pen().isCosmetic());
    QCOMPARE(markers[0]->pen().color(), QColor(Qt::black));
    QCOMPARE(markers[0]->brush().style(), Qt::NoBrush);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(c.view, &leave);
    QVERIFY(markersIn(c.scene).isEmpty());

    c.move({ 70, 40 });
    QCOMPARE(markersIn(c.scene).size(), 1);
    c.view->SetToolMode(ToolMode::None);
    QVERIFY(markersIn(c.scene).isEmpty());
    QCOMPARE(c.viewport()->cursor().shape(), Qt::ArrowCursor);

    c.view->SetToolMode(ToolMode::SmartSelect);
    QCOMPARE(c.viewport()->cursor().shape(), Qt::BlankCursor);
    c.move({ 80, 40 });
    c.view->SetToolMode(ToolMode::SmartSelect);
    QVERIFY(markersIn(c.scene).isEmpty());
}

void TestView::fitScaleFactorRule_data()
{
    QTest::addColumn<QSizeF>("mapped");
    QTest::addColumn<QSize>("oldSize");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<double>("factor");
    QTest::newRow("narrow scene follows width") << QSizeF(700, 500) << QSize(800, 600)
                                                << QSize(1000, 600) << 1.25;
    QTest::newRow("zoomed in, growing") << QSizeF(2000, 1500) << QSize(800, 600)
                                        << QSize(1000, 700) << 1.0;
    QTest::newRow("zoomed in, shrinking") << QSizeF(2000, 1500) << QSize(800, 600)
                                          << QSize(700, 600) << 0.875;
    QTest::newRow("scene exactly as wide") << QSizeF(1000, 700) << QSize(800, 600)
                                           << QSize(1000, 700) << 1.0;
    QTest::newRow("tie goes to vertical") << QSizeF(100, 100) << QSize(800, 600)
                                          << QSize(1600, 300) << 0.5;
    QTest::newRow("larger change wins") << QSizeF(100, 100) << QSize(800, 600)
                                        << QSize(1000, 300) << 0.5;
    QTest::newRow("shrink beats growth") << QSizeF(100, 100) << QSize(800, 600)
                                         << QSize(400, 900) << 0.5;
    QTest::newRow("invalid old size") << QSizeF(700, 500) << QSize(-1, -1) << QSize(1000, 600)
                                      << 1.0;
    QTest::newRow("empty new size") << QSizeF(700, 500) << QSize(800, 600) << QSize(0, 600)
                                    << 1.0;
}

void TestView::fitScaleFactorRule()
{
    QFETCH(QSizeF, mapped);
    QFETCH(QSize, oldSize);
    QFETCH(QSize, newSize);
    QFETCH(double, factor);
    QCOMPARE(fitScaleFactor(mapped, newSize, oldSize), factor);
}

void TestView::resizeKeepsSceneFitted_data()
{
    QTest::addColumn<QSizeF>("sceneSize");
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<qreal>("m11");
    // All from 800x600.
    QTest::newRow("narrow scene") << QSizeF(700, 500) << 1.0 << QSize(1000, 600) << 1.25;
    QTest::newRow("zoomed in, growing") << QSizeF(1000, 750) << 2.0 << QSize(1000, 700) << 2.0;
    QTest::newRow("zoomed in, shrinking") << QSizeF(1000, 750) << 2.0 << QSize(700, 600) << 1.75;
}

void TestView::resizeKeepsSceneFitted()
{
    QFETCH(QSizeF, sceneSize);
    QFETCH(qreal, zoom);
    QFETCH(QSize, newSize);
    QFETCH(qreal, m11);
    // The handler sees the viewport's sizes. With the scroll bars on from the start, as after
    // any earlier resize, the viewport follows the view one to one.
    QWidget window;
    window.resize(1200, 900);
    auto *view = new ZelGraphicsView(&window);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    window.show();
    const QSize chrome = view->size() - view->viewport()->size();
    view->resize(QSize(800, 600) + chrome);
    QGraphicsScene scene(QRectF(QPointF(0, 0), sceneSize));
    view->setScene(&scene);
    view->setTransform(QTransform::fromScale(zoom, zoom));

    view->resize(newSize + chrome);
    QCOMPARE(view->viewport()->size(), newSize);
    QCOMPARE(view->transform().m11(), m11);
    QCOMPARE(view->transform().m22(), m11);

    // A first showing carries no old size: the zoom stays.
    ZelGraphicsView fresh;
    fresh.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    fresh.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    fresh.setScene(&scene);
    fresh.setTransform(QTransform::fromScale(zoom, zoom));
    fresh.resize(newSize);
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QCOMPARE(fresh.transform().m11(), zoom);
}

void TestView::resizeTurnsScrollBarsOn()
{
    QWidget window;
    window.resize(1200, 900);
    auto *view = new ZelGraphicsView(&window);
    view->resize(800, 600);
    window.show();
    QGraphicsScene scene(0, 0, 700, 500);
    view->setScene(&scene);
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    view->resize(900, 600);
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(view->transform().m11() > 1.0);
}

void TestView::markerUsedAfterSceneClear()
{
    auto c = std::make_unique<Canvas>(1.0);
    c->move({ 30, 30 });
    QCOMPARE(markersIn(c->scene).size(), 1);

    // What opening another picture does: every item goes, the marker with it.
    c->scene.clear();
    c->view->setScene(&c->scene);
    c->move({ 40, 40 });
    c->move({ 50, 40 });
    QCOMPARE(markerRect(c->scene), QRectF(45, 35, 10, 10));

    c->scene.clear();
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(c->view, &leave);
    c->view->SetToolMode(ToolMode::None);
    c->view->SetToolMode(ToolMode::SmartSelect);
    c->move({ 60, 40 });
    QCOMPARE(markersIn(c->scene).size(), 1);
    QCOMPARE(c->spy->count(), 4);

    // The view goes first: its marker goes with it, and the scene's end touches no view.
    auto scene = std::make_unique<QGraphicsScene>(0, 0, 200, 160);
    c->view->setScene(scene.get());
    c->move({ 70, 40 });
    QCOMPARE(markersIn(*scene).size(), 1);
    delete c->view;
    QVERIFY(markersIn(*scene).isEmpty());
    scene.reset();
}

void TestView::markerLeftInPreviousScene()
{
    Canvas c(1.0);
    c.move({ 30, 30 });
    QGraphicsScene other(0, 0, 200, 160);
    c.view->setScene(&other);
    c.move({ 40, 30 });
    QVERIFY(markersIn(c.scene).isEmpty());
    QCOMPARE(markersIn(other).size(), 1);

    // And a scene destroyed while shown takes the marker without the view using it again.
    {
        QGraphicsScene shortLived(0, 0, 200, 160);
        c.view->setScene(&shortLived);
        c.move({ 50, 30 });
        QCOMPARE(markersIn(shortLived).size(), 1);
        QVERIFY(markersIn(other).isEmpty());
    }
    c.view->setScene(&c.scene);
    c.move({ 60, 30 });
    c.view->SetToolMode(ToolMode::None);
    QVERIFY(markersIn(c.scene).isEmpty());
}

QTEST_MAIN(TestView)
#include "tst_view.moc"
