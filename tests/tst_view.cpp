#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <tuple>

// The pointer marker's rectangle, the only item these tests' scenes hold; null when there is none.
static QRectF marker(const QGraphicsScene &scene)
{
    const auto items = scene.items();
    const auto *ellipse = qgraphicsitem_cast<QGraphicsEllipseItem *>(items.value(0));
    return items.size() == 1 && ellipse ? ellipse->rect() : QRectF();
}

// A shown 800x600 view with a 200x160 scene pinned to its top-left corner, so viewport pixel p
// shows scene point p / zoom. The scene goes before the view, as in the window.
struct Canvas {
    QWidget window;
    ZelGraphicsView *view = new ZelGraphicsView(&window);
    QGraphicsScene scene { 0, 0, 200, 160 };
    QSignalSpy spy { view, &ZelGraphicsView::SmartSelect };

    explicit Canvas(qreal zoom = 1.0)
    {
        view->setMouseTracking(true); // as the window's form does
        view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view->resize(800, 600);
        window.show();
        view->setScene(&scene);
        view->setTransform(QTransform::fromScale(zoom, zoom));
        view->SetToolMode(ToolMode::SmartSelect);
    }
    void send(QEvent::Type type, QPoint p, Qt::MouseButton button = Qt::NoButton)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
        QMouseEvent event(type, p, view->viewport()->mapToGlobal(p), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &event);
    }
    void move(QPoint p) { send(QEvent::MouseMove, p); }
};

class TestView : public QObject
{
    Q_OBJECT

private slots:
    void withoutSceneNothingHappens()
    {
        Canvas c;
        c.view->setScene(nullptr);
        // The base press would swap this for a closed hand, so the cursor shows it never ran.
        c.view->setDragMode(QGraphicsView::ScrollHandDrag);
        c.send(QEvent::MouseButtonPress, { 40, 40 }, Qt::LeftButton);
        c.view->resize(600, 500);
        QCOMPARE(c.spy.count(), 0);
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::OpenHandCursor);
        QVERIFY(c.view->transform().isIdentity());
    }

    void probeRectangle()
    {
        // From p: p - (5, 5) = (47, 33) and p + (5, 5) = (57, 43) on screen. At zoom 2, 23.5
        // truncates; at zoom 3 so does the width 10 / 3. At the left edge -2.5 truncates toward
        // zero to -2, so x -2..2 keeps three columns. The last pointer is outside the scene.
        const QPoint p(52, 38);
        const std::tuple<qreal, QPoint, Qt::MouseButton, QRect> cases[]
            = { { 1.0, p, Qt::LeftButton, QRect(47, 33, 10, 10) },
                  { 2.0, p, Qt::MiddleButton, QRect(23, 16, 5, 5) },
                  { 0.5, p, Qt::RightButton, QRect(94, 66, 20, 20) },
                  { 3.0, p, Qt::LeftButton, QRect(15, 11, 3, 3) },
                  { 12.0, { 300, 200 }, Qt::RightButton, QRect() },
                  { 2.0, { 0, 20 }, Qt::LeftButton, QRect(0, 7, 3, 5) },
                  { 1.0, { 197, 157 }, Qt::LeftButton, QRect(192, 152, 8, 8) },
                  { 1.0, { 260, 80 }, Qt::MiddleButton, QRect() } };
        for (const auto &[zoom, pos, button, expected] : cases) {
            Canvas c(zoom);
            QCOMPARE(c.view->ProbeRect(pos), expected);
            // A press sends even an empty rectangle, draws nothing and does not count as a move.
            c.send(QEvent::MouseButtonPress, pos, button);
            QVERIFY(c.scene.items().isEmpty());
            c.move(pos);
            QList<QVariantList> sent { { expected, true, button == Qt::RightButton } };
            if (!expected.isEmpty())
                sent.append(QVariantList { expected, false, false });
            QCOMPARE(QList<QVariantList>(c.spy), sent);
            QCOMPARE(marker(c.scene), QRectF(expected));
        }
    }

    void markerFollowsThePointer()
    {
        Canvas c;
        c.move({ 0, 0 }); // the initial last position: drawn but not sent
        c.move({ 60, 40 });
        c.move({ 60, 40 });
        c.send(QEvent::MouseButtonRelease, { 60, 40 }, Qt::LeftButton);
        QCOMPARE(c.spy.count(), 1);
        QCOMPARE(marker(c.scene), QRectF(55, 35, 10, 10));
        const auto *item = static_cast<QGraphicsEllipseItem *>(c.scene.items()[0]);
        QVERIFY(item->zValue() == 20.0 && item->pen().isCosmetic() && item->brush() == QBrush());

        // An empty probe removes the marker and leaves the last position alone.
        c.move({ 260, 80 });
        QVERIFY(c.scene.items().isEmpty());
        c.move({ 60, 40 });
        QCOMPARE(c.spy.count(), 1);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(c.view, &leave);
        QVERIFY(c.scene.items().isEmpty());

        // Switching the tool off removes the marker; with no tool nothing is drawn or sent.
        c.move({ 70, 40 });
        c.view->SetToolMode(ToolMode::None);
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::ArrowCursor);
        c.move({ 30, 30 });
        c.send(QEvent::MouseButtonPress, { 40, 30 }, Qt::RightButton);
        QVERIFY(c.spy.count() == 2 && c.scene.items().isEmpty());
        c.view->SetToolMode(ToolMode::SmartSelect);
        QCOMPARE(c.view->viewport()->cursor().shape(), Qt::BlankCursor);
    }

    void resizeKeepsSceneFitted()
    {
        // Scene size on screen, old and new viewport size, factor: a narrow scene follows the
        // width; zoomed in, growing keeps the zoom and shrinking follows; a scene exactly as wide
        // and high keeps it; 2.0 and 0.5 tie and the vertical wins; a first showing has no old
        // size.
        const std::tuple<QSizeF, QSize, QSize, double> cases[]
            = { { { 700, 500 }, { 800, 600 }, { 1000, 600 }, 1.25 },
                  { { 2000, 1500 }, { 800, 600 }, { 1000, 700 }, 1.0 },
                  { { 2000, 1500 }, { 800, 600 }, { 700, 600 }, 0.875 },
                  { { 1000, 700 }, { 800, 600 }, { 1000, 700 }, 1.0 },
                  { { 100, 100 }, { 800, 600 }, { 1600, 300 }, 0.5 },
                  { { 700, 500 }, { -1, -1 }, { 1000, 600 }, 1.0 } };
        for (const auto &[mapped, oldSize, newSize, factor] : cases)
            QCOMPARE(fitScaleFactor(mapped, newSize, oldSize), factor);

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

    void markerDeletedBySceneClear()
    {
        Canvas c;
        c.move({ 30, 30 });
        // What opening another picture does: every item goes, the marker with it.
        c.scene.clear();
        c.view->setScene(&c.scene);
        c.move({ 50, 40 });
        QCOMPARE(marker(c.scene), QRectF(45, 35, 10, 10));
        c.scene.clear();
        c.view->SetToolMode(ToolMode::SmartSelect);
        c.move({ 60, 40 });
        // Another scene takes the marker along, and that scene's end takes it for good.
        {
            QGraphicsScene shortLived(0, 0, 200, 160);
            c.view->setScene(&shortLived);
            c.move({ 70, 30 });
            QVERIFY(c.scene.items().isEmpty() && !marker(shortLived).isNull());
        }
        c.view->setScene(&c.scene);
        c.move({ 80, 30 });
        QVERIFY(!marker(c.scene).isNull());
        // The view goes first: its marker goes with it, and the scene's end touches no view.
        delete c.view;
        QVERIFY(c.scene.items().isEmpty());
    }
};

QTEST_MAIN(TestView)
#include "tst_view.moc"
