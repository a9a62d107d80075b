#include "cmlassocommand.h"

#include "selectionedit.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>

#include <algorithm>

namespace
{

// Marks an item whose path is exactly shownSelection() of paths with these element counts:
// a step made on top of it need not keep the item's path, it can compute it again.
constexpr int kShownKey = 0x5e1;

void markShown(QGraphicsPathItem *item, const QPainterPath &shown,
    const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    item->setData(kShownKey,
        QVariantList {
            QVariant::fromValue(shown), selectionPath.elementCount(), tracePath.elementCount() });
}

QGraphicsPathItem *addShownItem(
    QGraphicsScene *scene, const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    const QPainterPath shown = shownSelection(selectionPath, tracePath);
    // The trace's elements come last, whole: what lies before them is closed.
    const int closedCount = tracePath.isEmpty() ? shown.elementCount()
                                                : shown.elementCount() - tracePath.elementCount();
    QGraphicsPathItem *item = addSelectionItem(scene, shown, closedCount);
    markShown(item, shown, selectionPath, tracePath);
    return item;
}

bool showsSelectionAndTrace(
    const QGraphicsPathItem *item, const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    // The item's path shares its data with the mark unless someone set another path, so the
    // comparison is immediate in the usual case.
    const QVariantList mark = item->data(kShownKey).toList();
    return mark.size() == 3 && mark[1].toInt() == selectionPath.elementCount()
        && mark[2].toInt() == tracePath.elementCount()
        && mark[0].value<QPainterPath>() == item->path();
}

// Whether the path's elements stay the first elements of the path once something is joined
// or added to it: both drop a trailing move, and a path of at most one element may be
// replaced outright.
bool growsAtItsEnd(const QPainterPath &path)
{
    const int count = path.elementCount();
    return count > 1 && path.elementAt(count - 1).type != QPainterPath::MoveToElement;
}

// addPath drops a trailing move before what it adds.
bool endsInMove(const QPainterPath &path)
{
    const int count = path.elementCount();
    return count > 0 && path.elementAt(count - 1).type == QPainterPath::MoveToElement;
}

// The first `count` elements of path (which ends there between two subpaths or segments),
// with its fill rule. A shorter path, changed behind the steps' backs, is taken whole rather
// than read past its end.
QPainterPath elementPrefix(const QPainterPath &path, int count)
{
    count = std::min(count, path.elementCount());
    QPainterPath prefix;
    prefix.setFillRule(path.fillRule());
    prefix.reserve(count);
    // moveTo and lineTo skip or merge a point equal to the last one, which the path may hold:
    // lay out the element types on distinct points first, then move each element to its place.
    for (int i = 0; i < count; ++i) {
        switch (path.elementAt(i).type) {
        case QPainterPath::MoveToElement:
            prefix.moveTo(i, 0);
            break;
        case QPainterPath::LineToElement:
            prefix.lineTo(i, 0);
            break;
        case QPainterPath::CurveToElement:
            prefix.cubicTo(i, 1, i + 1, 2, i + 2, 3);
            i += 2;
            break;
        case QPainterPath::CurveToDataElement:
            break; // laid out with its curve
        }
    }
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element &e = path.elementAt(i);
        prefix.setElementPositionAt(i, e.x, e.y);
    }
    return prefix;
}

} // namespace

CMlassoCommand::CMlassoCommand(QGraphicsPathItem **selectionItem_, QGraphicsPathItem **traceItem_,
    QGraphicsScene *scene_, QPoint *anchorPoint_, QPoint newAnchor_, QPoint *traceStart_,
    QPainterPath *selectionPath_, QPainterPath *tracePath_, int closeDistance_)
    : scene(scene_)
    , anchorPoint(anchorPoint_)
    , newAnchor(newAnchor_)
    , oldAnchor(*anchorPoint_)
    , traceItem(traceItem_)
    , selectionItem(selectionItem_)
    , hadSelectionItem(*selectionItem_ != nullptr)
    , traceStart(traceStart_)
    , selectionPath(selectionPath_)
    , tracePath(tracePath_)
    , closeDistance(closeDistance_)
{
}

CMlassoCommand::~CMlassoCommand() = default;

void CMlassoCommand::keepProducedPaths(const QUndoStack &stack)
{
    if (stack.index() == 0)
        return;
    // The stack hands its commands out as const; the step itself is not.
    auto *step = const_cast<CMlassoCommand *>(
        dynamic_cast<const CMlassoCommand *>(stack.command(stack.index() - 1)));
    // A second change without a command leaves what the step produced as first kept.
    if (!step || step->producedSelection)
        return;
    step->producedSelection = *step->selectionPath;
    step->producedTrace = *step->tracePath;
}

void CMlassoCommand::undo()
{
    // The live stretch and the trace's start are left alone: the next pointer move redraws
    // the stretch from the restored anchor.
    *anchorPoint = oldAnchor;
    const QPainterPath &laterSelection = producedSelection ? *producedSelection : *selectionPath;
    const QPainterPath &laterTrace = producedTrace ? *producedTrace : *tracePath;
    // A stretch that did not close left the selection as it was.
    QPainterPath selection = laterSelection;
    if (oldSelectionPath)
        selection = *oldSelectionPath;
    else if (closed)
        selection = elementPrefix(laterSelection, oldSelectionCount);
    QPainterPath trace = oldTracePath ? *oldTracePath : elementPrefix(laterTrace, oldTraceCount);
    producedSelection.reset();
    producedTrace.reset();

    discardItem(scene, *selectionItem);
    if (oldItemPath)
        *selectionItem = addSelectionItem(scene, *oldItemPath, oldItemClosedCount);
    else if (hadSelectionItem)
        *selectionItem = addShownItem(scene, selection, trace);
    *selectionPath = std::move(selection);
    *tracePath = std::move(trace);
}

void CMlassoCommand::redo()
{
    if (!stretchTaken) {
        stretch = *traceItem ? (*traceItem)->path() : QPainterPath();
        stretchTaken = true;
    }

    // What undo needs, taken as the step starts from the state in front of it.
    oldAnchor = *anchorPoint;
    producedSelection.reset();
    producedTrace.reset();
    const bool closes = closesTrace(newAnchor, *traceStart, closeDistance);
    oldSelectionCount = selectionPath->elementCount();
    oldTraceCount = tracePath->elementCount();
    oldSelectionPath.reset();
    if (closes && !growsAtItsEnd(*selectionPath))
        oldSelectionPath = *selectionPath;
    // A close empties the trace: nothing is left to take a prefix of.
    oldTracePath.reset();
    if (closes || !growsAtItsEnd(*tracePath))
        oldTracePath = *tracePath;
    hadSelectionItem = *selectionItem != nullptr;
    oldItemPath.reset();
    if (hadSelectionItem && !showsSelectionAndTrace(*selectionItem, *selectionPath, *tracePath)) {
        oldItemPath = (*selectionItem)->path();
        const auto *item = dynamic_cast<const SelectionItem *>(*selectionItem);
        oldItemClosedCount = item ? item->closedCount() : -1;
    }
    // A stretch that only lengthens the trace shown by the item extends the item, which then
    // draws the stretch alone: the shown path keeps its elements and gains the stretch's.
    auto *shownItem = oldItemPath ? nullptr : dynamic_cast<SelectionItem *>(*selectionItem);
    const bool extends = shownItem && !closes
        && (tracePath->isEmpty() ? !endsInMove(*selectionPath) : growsAtItsEnd(*tracePath));

    closed = confirmStretch(
        *tracePath, *selectionPath, *anchorPoint, stretch, newAnchor, *traceStart, closeDistance);
    discardItem(scene, *traceItem);
    if (extends) {
        const QPainterPath shown = shownSelection(*selectionPath, *tracePath);
        shownItem->extendTrace(shown);
        markShown(shownItem, shown, *selectionPath, *tracePath);
        return;
    }
    discardItem(scene, *selectionItem);
    *selectionItem = addShownItem(scene, *selectionPath, *tracePath);
}
