#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPen>
#include <QResizeEvent>

#include <cmath>
#include <utility>

// The circle drawn in place of the hidden pointer. A scene clear or a scene's destruction
// deletes it behind the view's back, so it tells the view itself when it goes.
class MarkerItem : public QGraphicsEllipseItem
{
public:
    MarkerItem(const QRectF &rect, ZelGraphicsView *owner)
        : QGraphicsEllipseItem(rect)
        , view(owner)
    {
    }

    ~MarkerItem() override
    {
        if (view->markerItem == this)
            view->markerItem = nullptr;
    }

private:
    ZelGraphicsView *view;
};

namespace {

constexpr QPoint kProbeHalf(5, 5);
constexpr qreal kMarkerZ = 20.0;

// Truncates toward zero. The bound keeps left + width of a QRect inside int at absurd zooms.
int truncated(qreal value)
{
    constexpr qreal bound = 1 << 29;
    if (!(std::abs(value) < bound))
        return std::isnan(value) ? 0 : (value < 0 ? -int(bound) : int(bound));
    return int(value);
}

double axisFactor(qreal mapped, int newLength, int oldLength)
{
    // A scene that still fills the view keeps its zoom while the view grows.
    if (mapped >= newLength && newLength >= oldLength)
        return 1.0;
    return double(newLength) / double(oldLength);
}

double changeSize(double factor)
{
    return factor > 1.0 ? factor : 1.0 / factor;
}

} // namespace

double fitScaleFactor(const QSizeF &mapped, const QSize &newSize, const QSize &oldSize)
{
    if (oldSize.width() <= 0 || oldSize.height() <= 0 || newSize.width() <= 0
        || newSize.height() <= 0)
        return 1.0;
    const double sx = axisFactor(mapped.width(), newSize.width(), oldSize.width());
    const double sy = axisFactor(mapped.height(), newSize.height(), oldSize.height());
    return changeSize(sx) > changeSize(sy) ? sx : sy;
}

ZelGraphicsView::ZelGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

// The marker must not outlive its view with a pointer back to it.
ZelGraphicsView::~ZelGraphicsView()
{
    removeMarker();
}

void ZelGraphicsView::SetToolMode(ToolMode mode)
{
    toolMode = mode;
    removeMarker();
    viewport()->setCursor(mode == ToolMode::SmartSelect ? Qt::BlankCursor : Qt::ArrowCursor);
}

QRect ZelGraphicsView::ProbeRect(const QPoint &pos) const
{
    const QPointF a = mapToScene(pos - kProbeHalf);
    const QPointF b = mapToScene(pos + kProbeHalf);
    const QRect probe(truncated(a.x()), truncated(a.y()), truncated(b.x() - a.x()),
                      truncated(b.y() - a.y()));
    return probe & sceneRect().toRect();
}

void ZelGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (!scene())
        return;
    if (toolMode == ToolMode::SmartSelect)
        SmartSelectPress(event);
    QGraphicsView::mousePressEvent(event);
}

void ZelGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!scene())
        return;
    QGraphicsView::mouseReleaseEvent(event);
}

void ZelGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (!scene())
        return;
    if (toolMode == ToolMode::SmartSelect)
        SmartSelectMove(event);
    QGraphicsView::mouseMoveEvent(event);
}

void ZelGraphicsView::leaveEvent(QEvent *)
{
    removeMarker();
}

void ZelGraphicsView::resizeEvent(QResizeEvent *event)
{
    if (!scene())
        return;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const QSizeF mapped = transform().mapRect(sceneRect()).size();
    const double factor = fitScaleFactor(mapped, event->size(), event->oldSize());
    scale(factor, factor);
    QGraphicsView::resizeEvent(event);
}

void ZelGraphicsView::SmartSelectPress(QMouseEvent *event)
{
    const QRect probe = ProbeRect(event->position().toPoint());
    emit SmartSelect(probe, true, event->button() == Qt::RightButton);
}

void ZelGraphicsView::SmartSelectMove(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QRect probe = ProbeRect(pos);
    if (probe.isEmpty()) {
        removeMarker();
        return;
    }
    // Left behind in the scene shown before setScene() switched to this one.
    if (markerItem && markerItem->scene() != scene())
        removeMarker();
    if (!markerItem) {
        markerItem = new MarkerItem(QRectF(probe), this);
        // One screen pixel at any zoom; Qt 6's default pen would scale with the view.
        QPen pen(Qt::black);
        pen.setCosmetic(true);
        markerItem->setPen(pen);
        markerItem->setZValue(kMarkerZ);
        scene()->addItem(markerItem);
    }
    markerItem->setRect(QRectF(probe));
    if ((lastMousePos - pos).manhattanLength() > 0)
        emit SmartSelect(probe, false, false);
    lastMousePos = pos;
}

void ZelGraphicsView::removeMarker()
{
    // Deleting takes it out of whichever scene holds it, also one this view no longer shows.
    delete std::exchange(markerItem, nullptr);
}
