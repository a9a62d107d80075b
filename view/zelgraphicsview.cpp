#include "zelgraphicsview.h"

#include "hairlinepen.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyleOptionGraphicsItem>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

// The circle drawn in place of the hidden pointer: the item's own dark ring and a light one a
// screen pixel inside it, so one of them shows on any picture. A scene clear or a scene's
// destruction deletes it behind the view's back, so it tells the view itself when it goes.
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

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override
    {
        QGraphicsEllipseItem::paint(painter, option, widget);
        const qreal zoom
            = QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform());
        if (!(zoom > 0.0))
            return;
        const qreal inset = 1.0 / zoom;
        const QRectF inner = rect().adjusted(inset, inset, -inset, -inset);
        if (inner.width() <= 0.0 || inner.height() <= 0.0)
            return;
        painter->setPen(hairlinePen(Qt::white));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(inner);
    }

private:
    ZelGraphicsView *view;
};

namespace
{

constexpr QPoint kProbeHalf(5, 5);
constexpr qreal kMarkerZ = 20.0;
constexpr int kWheelNotch = 120;
// More notches in one wheel event than this come from a broken device, not a hand.
constexpr int kMaxNotchesPerEvent = 10;
// The band along the viewport's edges where a resting pointer scrolls the view, and the pace:
// 12 pixels every 30 ms is about 400 pixels a second, slow enough to click on the way.
constexpr int kEdgeMargin = 24;
constexpr int kEdgeScrollStep = 12;
constexpr int kEdgeScrollIntervalMs = 30;

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

int wheelNotches(int &pending, int delta)
{
    if ((pending > 0 && delta < 0) || (pending < 0 && delta > 0))
        pending = 0;
    // pending stays below one notch, so only an absurd delta could overflow an int.
    const long long total = static_cast<long long>(pending) + delta;
    const long long notches = total / kWheelNotch;
    pending = static_cast<int>(total - notches * kWheelNotch);
    return static_cast<int>(notches);
}

QPoint edgeScrollDirection(const QPoint &pos, const QSize &viewport, int margin)
{
    if (!QRect(QPoint(0, 0), viewport).contains(pos))
        return {};
    const auto axis = [margin](int p, int length) {
        if (p < margin)
            return -1;
        return p >= length - margin ? 1 : 0;
    };
    return QPoint(axis(pos.x(), viewport.width()), axis(pos.y(), viewport.height()));
}

ZelGraphicsView::ZelGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
    edgeScrollTimer.setInterval(kEdgeScrollIntervalMs);
    connect(&edgeScrollTimer, &QTimer::timeout, this, &ZelGraphicsView::edgeScrollStep);
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
    updateCursor();
    updateEdgeScroll();
}

void ZelGraphicsView::zoomAround(double factor, const QPointF &viewportPos)
{
    if (!(factor > 0.0) || !std::isfinite(factor))
        return;
    const QPointF anchor = viewportTransform().inverted().map(viewportPos);
    scale(factor, factor);
    const QPointF drift = viewportTransform().map(anchor) - viewportPos;
    panBy(-drift.toPoint());
    pointerSceneChanged();
}

void ZelGraphicsView::fitScene()
{
    if (!scene())
        return;
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    pointerSceneChanged();
}

void ZelGraphicsView::zoomToActual()
{
    const QPointF centre = viewportTransform().inverted().map(QRectF(viewport()->rect()).center());
    resetTransform();
    centerOn(centre);
    pointerSceneChanged();
}

void ZelGraphicsView::setFollowsPointer(bool followPointer)
{
    follow = followPointer;
    updateEdgeScroll();
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

// A pan owns the mouse until its button comes up: other buttons pressed meanwhile are
// neither reported nor passed on.
void ZelGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (!scene())
        return;
    if (panButton == Qt::NoButton && startsPan(event)) {
        panButton = event->button();
        panLast = event->position().toPoint();
        updateEdgeScroll();
        updateCursor();
    }
    if (panButton != Qt::NoButton) {
        event->accept();
        return;
    }
    if (toolMode == ToolMode::SmartSelect)
        SmartSelectPress(event);
    QGraphicsView::mousePressEvent(event);
}

// A pan ends with its button even when the scene went away during the drag.
void ZelGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (panButton != Qt::NoButton) {
        if (event->button() == panButton) {
            panButton = Qt::NoButton;
            updateCursor();
            updateEdgeScroll();
        }
        event->accept();
        return;
    }
    if (!scene())
        return;
    QGraphicsView::mouseReleaseEvent(event);
}

void ZelGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (!scene())
        return;
    pointerPos = event->position().toPoint();
    pointerInside = viewport()->rect().contains(pointerPos);
    if (panButton != Qt::NoButton) {
        panBy(pointerPos - panLast);
        panLast = pointerPos;
    }
    if (toolMode == ToolMode::SmartSelect)
        SmartSelectMove(event);
    updateEdgeScroll();
    QGraphicsView::mouseMoveEvent(event);
}

void ZelGraphicsView::leaveEvent(QEvent *)
{
    removeMarker();
}

void ZelGraphicsView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        pendingWheel = 0;
        QGraphicsView::wheelEvent(event);
        return;
    }
    event->accept();
    if (!scene())
        return;
    const int notches = std::clamp(wheelNotches(pendingWheel, event->angleDelta().y()),
        -kMaxNotchesPerEvent, kMaxNotchesPerEvent);
    if (notches == 0)
        return;
    double factor = 1.0;
    for (int i = 0; i < std::abs(notches); ++i)
        factor *= notches > 0 ? zoomInFactor : zoomOutFactor;
    zoomAround(factor, event->position());
}

void ZelGraphicsView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Space) {
        QGraphicsView::keyPressEvent(event);
        return;
    }
    if (!event->isAutoRepeat()) {
        spaceHeld = true;
        updateCursor();
    }
    event->accept();
}

// Releasing Space ends a pan's readiness, not a pan under way: that ends with its button.
void ZelGraphicsView::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Space) {
        QGraphicsView::keyReleaseEvent(event);
        return;
    }
    if (!event->isAutoRepeat()) {
        spaceHeld = false;
        updateCursor();
    }
    event->accept();
}

// The Space release goes to whoever has the focus then.
void ZelGraphicsView::focusOutEvent(QFocusEvent *event)
{
    spaceHeld = false;
    updateCursor();
    QGraphicsView::focusOutEvent(event);
}

bool ZelGraphicsView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave) {
        pointerInside = false;
        updateEdgeScroll();
    }
    return QGraphicsView::viewportEvent(event);
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
    reportPointer(event->position().toPoint(), false);
}

void ZelGraphicsView::reportPointer(const QPoint &pos, bool again)
{
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
    if (again || (lastMousePos - pos).manhattanLength() > 0)
        emit SmartSelect(aim, false, false);
    lastMousePos = pos;
}

void ZelGraphicsView::pointerSceneChanged()
{
    if (scene() && pointerInside && toolMode == ToolMode::SmartSelect)
        reportPointer(pointerPos, true);
}

bool ZelGraphicsView::startsPan(const QMouseEvent *event) const
{
    return event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld);
}

// Moves the scene with a drag of delta viewport pixels, as far as the scroll bars reach.
void ZelGraphicsView::panBy(const QPoint &delta)
{
    QScrollBar *h = horizontalScrollBar();
    QScrollBar *v = verticalScrollBar();
    h->setValue(h->value() + (isRightToLeft() ? delta.x() : -delta.x()));
    v->setValue(v->value() - delta.y());
}

void ZelGraphicsView::updateEdgeScroll()
{
    const bool wanted = follow && scene() && toolMode == ToolMode::SmartSelect
        && panButton == Qt::NoButton && pointerInside
        && !edgeScrollDirection(pointerPos, viewport()->size(), kEdgeMargin).isNull();
    if (!wanted)
        edgeScrollTimer.stop();
    else if (!edgeScrollTimer.isActive())
        edgeScrollTimer.start();
}

// At the scene's end nothing moves; the timer waits for the next move to start again.
void ZelGraphicsView::edgeScrollStep()
{
    const QPoint direction = edgeScrollDirection(pointerPos, viewport()->size(), kEdgeMargin);
    const QPoint before(horizontalScrollBar()->value(), verticalScrollBar()->value());
    panBy(-direction * kEdgeScrollStep);
    if (before == QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value())) {
        edgeScrollTimer.stop();
        return;
    }
    pointerSceneChanged();
}

void ZelGraphicsView::updateCursor()
{
    Qt::CursorShape shape = toolMode == ToolMode::SmartSelect ? Qt::BlankCursor : Qt::ArrowCursor;
    if (panButton != Qt::NoButton)
        shape = Qt::ClosedHandCursor;
    else if (spaceHeld)
        shape = Qt::OpenHandCursor;
    viewport()->setCursor(shape);
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
