#include "closemarkeritem.h"

#include "selectionitem.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>

#include <algorithm>
#include <cmath>

CloseMarkerItem::CloseMarkerItem(const QRectF &probe, qreal viewScale)
    : QGraphicsEllipseItem(probe)
    , boundsScale(viewScale > 0 ? viewScale : 1)
{
    QPen rim(QColor(255, 0, 0, 255), 1);
    rim.setCosmetic(true);
    setPen(rim);
    setBrush(QBrush(Qt::green, Qt::SolidPattern));
    setZValue(kSelectionZ);
}

QRectF CloseMarkerItem::discAt(qreal scale) const
{
    const QRectF probe = rect();
    const qreal across
        = std::max({ probe.width(), probe.height(), kMinPixels / std::max(scale, 1e-6) });
    QRectF disc(0, 0, across, across);
    disc.moveCenter(probe.center());
    return disc;
}

QRectF CloseMarkerItem::boundingRect() const
{
    // A pixel for the hairline rim and one for rounding and antialiasing, on each side.
    const qreal margin = 2 / boundsScale;
    return discAt(boundsScale).adjusted(-margin, -margin, margin, margin);
}

QPainterPath CloseMarkerItem::shape() const
{
    QPainterPath disc;
    disc.addEllipse(discAt(boundsScale));
    return disc;
}

void CloseMarkerItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const QTransform &device = painter->worldTransform();
    const qreal scale
        = std::min(std::hypot(device.m11(), device.m12()), std::hypot(device.m21(), device.m22()));
    painter->setPen(pen());
    painter->setBrush(brush());
    // Never past the bounds the scene knows of, should the view have zoomed out since.
    painter->drawEllipse(discAt(std::max(scale, boundsScale)));
}

QGraphicsEllipseItem *addCloseMarkerItem(QGraphicsScene *scene, const QRectF &probe)
{
    qreal scale = 0;
    for (const QGraphicsView *view : scene->views()) {
        const QTransform &t = view->transform();
        const qreal s = std::min(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
        scale = scale > 0 ? std::min(scale, s) : s;
    }
    auto *item = new CloseMarkerItem(probe, scale);
    scene->addItem(item);
    return item;
}
