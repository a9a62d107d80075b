#include "selectionedit.h"

#include "tracing.h"

#include <QRectF>

void joinStretch(QPainterPath &tracePath, const QPainterPath &stretch)
{
    // connectPath joins with a straight line, which also bridges the gap to the first
    // stretch of a new trace after a right click kept the old stretches.
    if (tracePath.isEmpty())
        tracePath = stretch;
    else
        tracePath.connectPath(stretch);
}

void closeTrace(QPainterPath &tracePath, QPainterPath &selectionPath)
{
    tracePath.closeSubpath();
    selectionPath.addPath(tracePath);
    tracePath = QPainterPath();
}

bool closesTrace(QPoint newAnchor, QPoint traceStart, int closeDistance)
{
    return (newAnchor - traceStart).manhattanLength() < closeDistance;
}

bool confirmStretch(QPainterPath &tracePath, QPainterPath &selectionPath, QPoint &anchorPoint,
    const QPainterPath &stretch, QPoint newAnchor, QPoint traceStart, int closeDistance)
{
    joinStretch(tracePath, stretch);
    anchorPoint = newAnchor;
    if (!closesTrace(newAnchor, traceStart, closeDistance))
        return false;
    closeTrace(tracePath, selectionPath);
    anchorPoint = kNoTrace;
    return true;
}

QPainterPath shownSelection(QPainterPath selectionPath, const QPainterPath &tracePath)
{
    selectionPath.addPath(tracePath);
    return selectionPath;
}

QPainterPath invertSelection(const QSize &picture, QPainterPath &selectionPath,
    QPainterPath &tracePath, QPoint &anchorPoint, const QPainterPath &shownPath)
{
    QPainterPath frame;
    frame.addRect(QRectF(0, 0, picture.width(), picture.height()));
    frame.translate(kSceneOffset, kSceneOffset);

    if (!tracePath.isEmpty()) {
        closeTrace(tracePath, selectionPath);
        anchorPoint = kNoTrace;
    }
    if (!selectionPath.isEmpty())
        selectionPath = frame - selectionPath;

    frame -= shownPath;
    return frame;
}
