#include "tracing.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace
{

bool insidePicture(QPoint p, const QSize &picture)
{
    return p.x() >= 0 && p.y() >= 0 && p.x() < picture.width() && p.y() < picture.height();
}

// A map that does not cover the picture would be read out of bounds; callers get the
// trivial answer instead.
bool mapCovers(const QSize &picture, const QList<quint16> &edgeMap)
{
    return !picture.isEmpty()
        && edgeMap.size() == qsizetype(picture.width()) * qsizetype(picture.height());
}

qint64 squaredDistance(int x, int y, QPoint t)
{
    const qint64 dx = x - t.x();
    const qint64 dy = y - t.y();
    return dx * dx + dy * dy;
}

} // namespace

QPoint probeTarget(const QRect &probe, const QSize &picture)
{
    // Integer division truncates toward zero, so the null rectangle (right and bottom -1)
    // aims at (0, 0).
    int x = (probe.left() + probe.right()) / 2 - kSceneOffset;
    int y = (probe.top() + probe.bottom()) / 2 - kSceneOffset;
    x = std::max(x, 0);
    y = std::max(y, 0);
    x = std::min(x, picture.width() - 1);
    y = std::min(y, picture.height() - 1);
    return { x, y };
}

QPoint snapToEdge(QPoint target, int w, int h, const QSize &picture, const QList<quint16> &edgeMap)
{
    if (!mapCovers(picture, edgeMap) || !insidePicture(target, picture))
        return target;

    const int width = picture.width();
    const quint16 *strength = edgeMap.constData();
    const int hw = w / 2;
    const int hh = h / 2;
    // The window is clipped to the picture up front; the scan order stays column-major.
    const int x0 = std::max(target.x() - hw, 0);
    const int x1 = std::min(target.x() + hw - 1, width - 1);
    const int y0 = std::max(target.y() - hh, 0);
    const int y1 = std::min(target.y() + hh - 1, picture.height() - 1);

    quint16 best = strength[target.x() + qsizetype(target.y()) * width];
    QPoint snapped = target;
    for (int x = x0; x <= x1; ++x) {
        for (int y = y0; y <= y1; ++y) {
            const quint16 value = strength[x + qsizetype(y) * width];
            if (value > best) {
                best = value;
                snapped = QPoint(x, y);
            }
        }
    }
    return snapped;
}

QList<QPoint> walkTrace(QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap)
{
    QList<QPoint> steps;
    if (from == to || !mapCovers(picture, edgeMap) || !insidePicture(from, picture)
        || !insidePicture(to, picture))
        return steps;

    const int width = picture.width();
    const int height = picture.height();
    const quint16 *strength = edgeMap.constData();
    // Flat areas take about two steps per pixel of distance.
    steps.reserve(2 * std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y())) + 1);

    QPoint q = from;
    while (q != to) {
        const qint64 d = squaredDistance(q.x(), q.y(), to);
        int bestCost = INT_MAX;
        QPoint best = q;
        for (int nx = q.x() - 1; nx <= q.x() + 1; ++nx) {
            if (nx < 0 || nx >= width)
                continue;
            const bool frameColumn = nx == 0 || nx == width - 1;
            for (int ny = q.y() - 1; ny <= q.y() + 1; ++ny) {
                if (ny < 0 || ny >= height || squaredDistance(nx, ny, to) >= d)
                    continue;
                // The outer frame is free so that outlines can run along the picture's border.
                const int cost = (frameColumn || ny == 0 || ny == height - 1)
                    ? 0
                    : 756 - int(strength[nx + qsizetype(ny) * width]);
                if (cost < bestCost) {
                    bestCost = cost;
                    best = QPoint(nx, ny);
                }
            }
        }
        // From inside the picture the neighbour towards `to` always qualifies, so the
        // squared distance drops on every step and the loop ends.
        q = best;
        steps.append(q);
    }
    return steps;
}

QPainterPath stretchPath(QPoint from, const QList<QPoint> &steps)
{
    return stretchPath(from, steps.constData(), steps.size());
}

QPainterPath stretchPath(QPoint from, const QPoint *steps, qsizetype count)
{
    const QPoint offset(kSceneOffset, kSceneOffset);
    QPainterPath path(QPointF(from + offset));
    path.reserve(int(count) + 1);
    for (qsizetype i = 0; i < count; ++i)
        path.lineTo(QPointF(steps[i] + offset));
    return path;
}
