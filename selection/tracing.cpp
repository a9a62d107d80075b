#include "tracing.h"

QPoint probeTarget(const QRect &probe, const QSize &picture)
{
    Q_UNUSED(probe)
    Q_UNUSED(picture)
    return {};
}

QPoint snapToEdge(QPoint target, int, int, const QSize &, const QList<quint16> &)
{
    return target;
}

QList<QPoint> walkTrace(QPoint, QPoint, const QSize &, const QList<quint16> &)
{
    return {};
}

QPainterPath stretchPath(QPoint from, const QList<QPoint> &steps)
{
    QPainterPath path(QPointF(from + QPoint(kSceneOffset, kSceneOffset)));
    for (const QPoint &p : steps)
        path.lineTo(QPointF(p + QPoint(kSceneOffset, kSceneOffset)));
    return path;
}
