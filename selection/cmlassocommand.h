#pragma once

#include <QBrush>
#include <QPainterPath>
#include <QPen>
#include <QPoint>
#include <QUndoCommand>

class QGraphicsPathItem;
class QGraphicsScene;

// How every selection item looks: yellow outline over a translucent blue fill, above the picture.
QPen selectionPen();
QBrush selectionBrush();
constexpr qreal kSelectionZ = 12.0;
QGraphicsPathItem *addSelectionItem(QGraphicsScene *scene, const QPainterPath &path);

// One confirmed stretch of smart-select tracing: joins the live stretch onto the trace,
// closes the trace into the selection near its start and redraws the selection item.
// The pointers refer to the window's state, which outlives every command because opening a
// picture clears the stack; the command owns only the three paths it saves for undo.
class CMlassoCommand : public QUndoCommand
{
public:
    CMlassoCommand(QGraphicsPathItem **selectionItem, QGraphicsPathItem **traceItem,
        QGraphicsScene *scene, QPoint *anchorPoint, QPoint newAnchor, QPoint *traceStart,
        QPainterPath *selectionPath, QPainterPath *tracePath, int closeDistance);
    ~CMlassoCommand() override;

    void undo() override;
    void redo() override;

private:
    QGraphicsScene *scene;
    QPoint *anchorPoint;
    QPoint newAnchor;
    QPoint oldAnchor;
    QPainterPath oldItemPath;
    QPainterPath oldSelectionPath;
    QPainterPath oldTracePath;
    QGraphicsPathItem **traceItem;
    QGraphicsPathItem **selectionItem;
    bool hadSelectionItem;
    QPoint *traceStart;
    QPainterPath *selectionPath;
    QPainterPath *tracePath;
    int closeDistance;
};
