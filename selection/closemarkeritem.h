#pragma once

#include <QGraphicsEllipseItem>
#include <QRectF>

class QGraphicsScene;

// The disc that shows a click will close the trace: green with a red hairline rim, over
// the probe rectangle. The probe can be a single scene pixel or a sliver cut off at the
// scene's edge, so the disc is round, centred on the rectangle and never narrower than
// kMinPixels on screen; rect() stays the probe rectangle.
class CloseMarkerItem : public QGraphicsEllipseItem
{
public:
    static constexpr qreal kMinPixels = 12;

    // viewScale: the smallest scale among the views that show it, which fixes how far the
    // disc may reach in scene units. The item is made anew on every pointer event.
    CloseMarkerItem(const QRectF &probe, qreal viewScale);

    // The disc drawn at this scale, in scene coordinates.
    QRectF discAt(qreal scale) const;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override;

private:
    qreal boundsScale;
};

// Adds the closing marker over probe, sized for the views that show the scene.
QGraphicsEllipseItem *addCloseMarkerItem(QGraphicsScene *scene, const QRectF &probe);
