#pragma once

#include <QBrush>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QPainterPath>
#include <QPen>

class QGraphicsScene;

// How the selection looks: yellow outline, a translucent blue fill inside closed outlines,
// above the picture.
QPen selectionPen();
QBrush selectionBrush();
constexpr qreal kSelectionZ = 12.0;

// The item that stands for the selection. Its path is what the output reads: closed
// outlines, then possibly the open trace under way. The first closedCount elements are the
// closed outlines, filled and outlined; the rest is the trace, drawn as lines only.
//
// The item draws nothing itself: child items hold the fill and the trace in pieces, each
// with its pixels cached on the device, so a stretch added to a long trace costs a repaint
// of that stretch alone. Change the path through extendTrace, never setPath: the children
// would keep drawing the old one.
class SelectionItem : public QGraphicsPathItem
{
public:
    // closedCount < 0 means every element: all of it closed and filled.
    explicit SelectionItem(const QPainterPath &path, int closedCount = -1);

    int closedCount() const { return closed; }

    // Takes a longer path whose first elements are the current path's, the extra ones all
    // trace: only those get a new piece to draw.
    void extendTrace(const QPainterPath &longer);

    // Path elements drawn by each trace piece, oldest first.
    QList<int> tracePieceSizes() const;
    // Path elements handed to new pieces since the item was made: what had to be drawn anew.
    qint64 elementsDrawnAnew() const { return drawnAnew; }

    // Stretches merge into one piece kMergeCount at a time, and such pieces again: the item
    // keeps a few dozen pieces for a trace of thousands of stretches (each piece costs the
    // view a cache look-up per repaint), while a stretch strokes again at most
    // log(stretches) times.
    static constexpr int kMergeCount = 16;

    QRectF boundingRect() const override;
    // The item takes no clicks: the view hit-tests every press, and with the outline as the
    // shape each test would clip the whole outline.
    QPainterPath shape() const override { return QPainterPath(); }
    void paint(QPainter *, const QStyleOptionGraphicsItem *, QWidget *) override { }

private:
    struct Piece {
        QGraphicsPathItem *item;
        int from; // the first path element it draws; the next piece's from ends it
        int level; // made of kMergeCount^level stretches; the first piece is never merged
    };
    void addTracePiece(int from, int to, int level);

    int closed = 0;
    QList<Piece> pieces;
    qint64 drawnAnew = 0;
};

// Adds a selection item in the selection's style (see SelectionItem for closedCount).
QGraphicsPathItem *addSelectionItem(
    QGraphicsScene *scene, const QPainterPath &path, int closedCount = -1);

// The live stretch from the anchor to the pointer: lines in the selection's pen, no fill.
QGraphicsPathItem *addLiveStretchItem(QGraphicsScene *scene, const QPainterPath &path);

// Takes an item out of its scene for good and forgets it.
template <typename Item> void discardItem(QGraphicsScene *scene, Item *&item)
{
    if (!item)
        return;
    scene->removeItem(item);
    delete item;
    item = nullptr;
}
