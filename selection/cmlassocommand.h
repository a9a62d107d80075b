#pragma once

#include "closemarkeritem.h"
#include "selectionitem.h"

#include <QPainterPath>
#include <QPoint>
#include <QUndoCommand>
#include <QUndoStack>

#include <optional>

class QGraphicsPathItem;
class QGraphicsScene;

// One confirmed stretch of smart-select tracing: joins the live stretch onto the trace,
// closes the trace into the selection near its start and redraws the selection item.
// The pointers refer to the window's state, which outlives every command because opening a
// picture clears the stack.
//
// A step keeps what undo needs in proportion to what it changes, not copies of the whole
// outline: the stretch, the anchor and the paths' element counts. The paths only grow at
// their ends between one step and the next, so undo rebuilds the earlier ones as element
// prefixes of the later ones. What cannot be had that way is kept whole: the trace a close
// folds into the selection, and the selection item's path when it was not simply the
// selection with the trace (after Invert).
class CMlassoCommand : public QUndoCommand
{
public:
    CMlassoCommand(QGraphicsPathItem **selectionItem, QGraphicsPathItem **traceItem,
        QGraphicsScene *scene, QPoint *anchorPoint, QPoint newAnchor, QPoint *traceStart,
        QPainterPath *selectionPath, QPainterPath *tracePath, int closeDistance);
    ~CMlassoCommand() override;

    void undo() override;
    void redo() override;

    // To be called before the selection paths or the selection item change without a command
    // (Invert does): the newest done step of the stack, if it is one of these, keeps a shared
    // copy of the paths it produced, from which its undo then rebuilds.
    static void keepProducedPaths(const QUndoStack &stack);

private:
    QGraphicsScene *scene;
    QPoint *anchorPoint;
    QPoint newAnchor;
    QPoint oldAnchor;
    QGraphicsPathItem **traceItem;
    QGraphicsPathItem **selectionItem;
    bool hadSelectionItem = false;
    QPoint *traceStart;
    QPainterPath *selectionPath;
    QPainterPath *tracePath;
    int closeDistance;

    QPainterPath stretch; // taken from the live stretch on the first redo, replayed by later ones
    bool stretchTaken = false;
    bool closed = false;
    int oldSelectionCount = 0;
    int oldTraceCount = 0;
    std::optional<QPainterPath> oldSelectionPath; // only where no prefix gives it back
    std::optional<QPainterPath> oldTracePath;
    std::optional<QPainterPath> oldItemPath; // only when the item showed something else
    int oldItemClosedCount = -1; // how much of oldItemPath was closed
    std::optional<QPainterPath> producedSelection; // see keepProducedPaths
    std::optional<QPainterPath> producedTrace;
};
