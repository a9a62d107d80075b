#include "selectionitem.h"

#include <QGraphicsScene>

#include <algorithm>
#include <limits>

QPen selectionPen()
{
    QPen pen(QColor(255, 255, 0, 255));
    pen.setWidth(2);
    return pen;
}

QBrush selectionBrush()
{
    return QBrush(QColor(0, 0, 255, 100), Qt::SolidPattern);
}

namespace
{

// Bounds of what a pen paints along path, without stroking it: a miter reaches at most
// miterLimit half-widths past the path's control points.
QRectF paintedBounds(const QPainterPath &path, const QPen &pen)
{
    const qreal reach
        = pen.style() == Qt::NoPen ? 0 : pen.widthF() * std::max(1.0, pen.miterLimit());
    return path.controlPointRect().adjusted(-reach, -reach, reach, reach);
}

// A path item that strokes its outline only to paint it. The plain one strokes the whole
// path for its bounding rectangle when it is added, and for its shape on every hit test.
// It is never hit: the selection item above it answers for the area.
class PaintedPathItem : public QGraphicsPathItem
{
public:
    PaintedPathItem(const QPainterPath &path, const QPen &pen, const QBrush &brush,
        QGraphicsItem *parent = nullptr)
        : QGraphicsPathItem(path, parent)
    {
        setPen(pen);
        setBrush(brush);
    }

    QRectF boundingRect() const override { return paintedBounds(path(), pen()); }
    QPainterPath shape() const override { return QPainterPath(); }
};

// Elements [from, to) of path, started with a move to the element before `from` so that
// the piece joins on where the path left off. Only for painting: moveTo and lineTo may drop
// a repeated point.
QPainterPath elementRange(const QPainterPath &path, int from, int to)
{
    QPainterPath range;
    range.setFillRule(path.fillRule());
    range.reserve(to - from + 1);
    const int begin = std::max(from - 1, 0);
    range.moveTo(path.elementAt(begin));
    for (int i = begin + 1; i < to; ++i) {
        const QPainterPath::Element &e = path.elementAt(i);
        if (e.type == QPainterPath::MoveToElement) {
            range.moveTo(e);
        } else if (e.type == QPainterPath::LineToElement) {
            range.lineTo(e);
        } else if (e.type == QPainterPath::CurveToElement && i + 2 < path.elementCount()) {
            range.cubicTo(e, path.elementAt(i + 1), path.elementAt(i + 2));
            i += 2;
        }
    }
    return range;
}

} // namespace

SelectionItem::SelectionItem(const QPainterPath &path, int closedCount)
    : QGraphicsPathItem(path)
    , closed(closedCount < 0 ? path.elementCount() : std::min(closedCount, path.elementCount()))
{
    setPen(selectionPen());
    setBrush(selectionBrush());
    setZValue(kSelectionZ);
    // The children draw everything: the item's own changes need no repaint.
    setFlag(ItemHasNoContents);
    if (closed > 0) {
        const QPainterPath filled
            = closed == path.elementCount() ? path : elementRange(path, 0, closed);
        auto *fill = new PaintedPathItem(filled, pen(), brush(), this);
        fill->setCacheMode(DeviceCoordinateCache);
    }
    addTracePiece(closed, path.elementCount(), std::numeric_limits<int>::max());
}

void SelectionItem::extendTrace(const QPainterPath &longer)
{
    const int from = path().elementCount();
    Q_ASSERT(longer.elementCount() >= from);
    setPath(longer);
    addTracePiece(from, longer.elementCount(), 0);
    // Like a counter's carry: kMergeCount pieces of one level at the end become one piece
    // of the next.
    for (;;) {
        const qsizetype n = pieces.size();
        if (n < kMergeCount)
            return;
        const int level = pieces.last().level;
        if (pieces[n - kMergeCount].level != level)
            return;
        const int mergedFrom = pieces[n - kMergeCount].from;
        for (qsizetype i = n - kMergeCount; i < n; ++i)
            delete pieces[i].item;
        pieces.remove(n - kMergeCount, kMergeCount);
        addTracePiece(mergedFrom, longer.elementCount(), level + 1);
    }
}

void SelectionItem::addTracePiece(int from, int to, int level)
{
    if (from >= to)
        return;
    auto *piece = new PaintedPathItem(elementRange(path(), from, to), pen(), Qt::NoBrush, this);
    piece->setCacheMode(DeviceCoordinateCache);
    pieces.append({ piece, from, level });
    drawnAnew += piece->path().elementCount();
}

QList<int> SelectionItem::tracePieceSizes() const
{
    QList<int> sizes;
    for (const Piece &piece : pieces)
        sizes << piece.item->path().elementCount();
    return sizes;
}

QRectF SelectionItem::boundingRect() const
{
    return paintedBounds(path(), pen());
}

QGraphicsPathItem *addSelectionItem(
    QGraphicsScene *scene, const QPainterPath &path, int closedCount)
{
    auto *item = new SelectionItem(path, closedCount);
    scene->addItem(item);
    return item;
}

QGraphicsPathItem *addLiveStretchItem(QGraphicsScene *scene, const QPainterPath &path)
{
    auto *item = new PaintedPathItem(path, selectionPen(), Qt::NoBrush);
    item->setZValue(kSelectionZ);
    scene->addItem(item);
    return item;
}
