#include "cselectnonecommand.h"

#include "cmlassocommand.h"
#include "selectionedit.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsScene>

CSelectNoneCommand::CSelectNoneCommand(QGraphicsScene *scene_, QGraphicsPathItem **selectionItem_,
    QGraphicsPathItem **traceItem_, QGraphicsEllipseItem **closeMarkerItem_, QPoint *anchorPoint_,
    QPoint *traceStart_, QPainterPath *selectionPath_, QPainterPath *tracePath_)
    : scene(scene_)
    , selectionItem(selectionItem_)
    , traceItem(traceItem_)
    , closeMarkerItem(closeMarkerItem_)
    , anchorPoint(anchorPoint_)
    , traceStart(traceStart_)
    , selectionPath(selectionPath_)
    , tracePath(tracePath_)
    , hadSelectionItem(*selectionItem_ != nullptr)
    , oldAnchor(*anchorPoint_)
    , oldTraceStart(*traceStart_)
    , oldSelectionPath(*selectionPath_)
    , oldTracePath(*tracePath_)
{
    if (hadSelectionItem) {
        oldItemPath = (*selectionItem)->path();
        if (const auto *item = dynamic_cast<const SelectionItem *>(*selectionItem))
            oldItemClosedCount = item->closedCount();
        itemWasVisible = (*selectionItem)->isVisible();
    }
}

bool CSelectNoneCommand::wouldChange(const QGraphicsPathItem *selectionItem, QPoint anchorPoint,
    const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    return selectionItem || anchorPoint != kNoTrace || !selectionPath.isEmpty()
        || !tracePath.isEmpty();
}

void CSelectNoneCommand::redo()
{
    *selectionPath = QPainterPath();
    *tracePath = QPainterPath();
    *anchorPoint = kNoTrace;
    *traceStart = kNoTrace;
    discardItem(scene, *selectionItem);
    discardItem(scene, *traceItem);
    discardItem(scene, *closeMarkerItem);
}

void CSelectNoneCommand::undo()
{
    *selectionPath = oldSelectionPath;
    *tracePath = oldTracePath;
    *anchorPoint = oldAnchor;
    *traceStart = oldTraceStart;
    // Whatever shows the selection now (nothing, unless later commands were undone out of
    // order) makes way for the item that was there.
    discardItem(scene, *selectionItem);
    if (hadSelectionItem) {
        *selectionItem = addSelectionItem(scene, oldItemPath, oldItemClosedCount);
        (*selectionItem)->setVisible(itemWasVisible);
    }
}
