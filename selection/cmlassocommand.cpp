#include "cmlassocommand.h"

#include "selectionedit.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>

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

QGraphicsPathItem *addSelectionItem(QGraphicsScene *scene, const QPainterPath &path)
{
    QGraphicsPathItem *item = scene->addPath(path, selectionPen(), selectionBrush());
    item->setZValue(kSelectionZ);
    return item;
}

namespace
{

void discardItem(QGraphicsScene *scene, QGraphicsPathItem *&item)
{
    if (!item)
        return;
    scene->removeItem(item);
    delete item;
    item = nullptr;
}

} // namespace

CMlassoCommand::CMlassoCommand(QGraphicsPathItem **selectionItem_, QGraphicsPathItem **traceItem_,
    QGraphicsScene *scene_, QPoint *anchorPoint_, QPoint newAnchor_, QPoint *traceStart_,
    QPainterPath *selectionPath_, QPainterPath *tracePath_, int closeDistance_)
    : scene(scene_)
    , anchorPoint(anchorPoint_)
    , newAnchor(newAnchor_)
    , oldAnchor(*anchorPoint_)
    , oldSelectionPath(*selectionPath_)
    , oldTracePath(*tracePath_)
    , traceItem(traceItem_)
    , selectionItem(selectionItem_)
    , hadSelectionItem(*selectionItem_ != nullptr)
    , traceStart(traceStart_)
    , selectionPath(selectionPath_)
    , tracePath(tracePath_)
    , closeDistance(closeDistance_)
{
    if (hadSelectionItem)
        oldItemPath = (*selectionItem)->path();
}

CMlassoCommand::~CMlassoCommand() = default;

void CMlassoCommand::undo()
{
    // The live stretch and the trace's start are left alone: the next pointer move redraws
    // the stretch from the restored anchor.
    *anchorPoint = oldAnchor;
    discardItem(scene, *selectionItem);
    if (hadSelectionItem)
        *selectionItem = addSelectionItem(scene, oldItemPath);
    *selectionPath = oldSelectionPath;
    *tracePath = oldTracePath;
}

void CMlassoCommand::redo()
{
    const QPainterPath stretch = *traceItem ? (*traceItem)->path() : QPainterPath();
    confirmStretch(
        *tracePath, *selectionPath, *anchorPoint, stretch, newAnchor, *traceStart, closeDistance);
    discardItem(scene, *selectionItem);
    discardItem(scene, *traceItem);
    *selectionItem = addSelectionItem(scene, shownSelection(*selectionPath, *tracePath));
}
