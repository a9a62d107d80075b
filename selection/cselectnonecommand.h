#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QUndoCommand>

class QGraphicsEllipseItem;
class QGraphicsPathItem;
class QGraphicsScene;

// Select None: forgets the selection and any trace under way, so the user can start over on
// the same picture. Undo puts back the paths, the trace's ends and the selection item as they
// were. The live stretch and the closing marker are not brought back: the next pointer move
// redraws them from the restored anchor. The pointers refer to the window's state, which
// outlives every command because opening a picture clears the stack.
class CSelectNoneCommand : public QUndoCommand
{
public:
    CSelectNoneCommand(QGraphicsScene *scene, QGraphicsPathItem **selectionItem,
        QGraphicsPathItem **traceItem, QGraphicsEllipseItem **closeMarkerItem, QPoint *anchorPoint,
        QPoint *traceStart, QPainterPath *selectionPath, QPainterPath *tracePath);

    // False when there is no selection and no trace: a command would change nothing.
    static bool wouldChange(const QGraphicsPathItem *selectionItem, QPoint anchorPoint,
        const QPainterPath &selectionPath, const QPainterPath &tracePath);

    void undo() override;
    void redo() override;

private:
    QGraphicsScene *scene;
    QGraphicsPathItem **selectionItem;
    QGraphicsPathItem **traceItem;
    QGraphicsEllipseItem **closeMarkerItem;
    QPoint *anchorPoint;
    QPoint *traceStart;
    QPainterPath *selectionPath;
    QPainterPath *tracePath;

    bool hadSelectionItem;
    bool itemWasVisible = true;
    QPainterPath oldItemPath;
    int oldItemClosedCount = -1;
    QPoint oldAnchor;
    QPoint oldTraceStart;
    QPainterPath oldSelectionPath;
    QPainterPath oldTracePath;
};
