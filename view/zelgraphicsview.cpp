#include "zelgraphicsview.h"

#include "hairlinepen.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>
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

QRect ZelGraphicsView::unclippedProbe(const QPoint &pos) const
{
    const QPointF a = mapToScene(pos - kProbeHalf);
    const QPointF b = mapToScene(pos + kProbeHalf);
    return QRect(
        truncated(a.x()), truncated(a.y()), truncated(b.x() - a.x()), truncated(b.y() - a.y()));
}

QRect ZelGraphicsView::ProbeRect(const QPoint &pos) const
{
    return unclippedProbe(pos) & sceneRect().toRect();
}

QRect ZelGraphicsView::AimRect(const QPoint &pos) const
{
    const QRect probe = ProbeRect(pos);
    const QRect bounds = sceneRect().toRect();
    if (!probe.isEmpty() || bounds.isEmpty())
        return probe;
    // Not clipped to the scene: at low zoom clipping would pull its centre into the picture
    // and away from the pixel nearest the pointer.
    const QRect size = unclippedProbe(pos);
    const int width = std::max(size.width(), 1);
    const int height = std::max(size.height(), 1);
    const QPointF under = mapToScene(pos);
    const int x = std::clamp(truncated(std::floor(under.x())), bounds.left(), bounds.right());
    const int y = std::clamp(truncated(std::floor(under.y())), bounds.top(), bounds.bottom());
    // The window aims at (left + right) / 2, which is x for both odd and even widths.
    return QRect(x - (width - 1) / 2, y - (height - 1) / 2, width, height);
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
    const QRect aim = AimRect(event->position().toPoint());
    emit SmartSelect(aim, true, event->button() == Qt::RightButton);
}

void ZelGraphicsView::SmartSelectMove(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QRect probe = ProbeRect(pos);
    const QRect aim = probe.isEmpty() ? AimRect(pos) : probe;
    if (aim.isEmpty()) {
        removeMarker();
        return;
    }
    // Where the probe is clamped or below a scene unit, the circle stays with the pointer,
    // ten screen pixels wide, rather than sticking to the scene's border.
    const QRectF around(mapToScene(pos - kProbeHalf), mapToScene(pos + kProbeHalf));
    showMarker(probe.isEmpty() ? around : QRectF(probe));
    if ((lastMousePos - pos).manhattanLength() > 0)
        emit SmartSelect(aim, false, false);
    lastMousePos = pos;
}

void ZelGraphicsView::showMarker(const QRectF &rect)
{
    // Left behind in the scene shown before setScene() switched to this one.
    if (markerItem && markerItem->scene() != scene())
        removeMarker();
    if (!markerItem) {
        markerItem = new MarkerItem(rect, this);
        markerItem->setPen(hairlinePen(Qt::black));
        markerItem->setZValue(kMarkerZ);
        scene()->addItem(markerItem);
    }
    markerItem->setRect(rect);
}

void ZelGraphicsView::removeMarker()
{
    // Deleting takes it out of whichever scene holds it, also one this view no longer shows.
    delete std::exchange(markerItem, nullptr);
}
