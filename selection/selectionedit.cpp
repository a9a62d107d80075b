#include "selectionedit.h"

#include "tracing.h"

#include <QRectF>

bool confirmStretch(QPainterPath &tracePath, QPainterPath &selectionPath, QPoint &anchorPoint,
    const QPainterPath &stretch, QPoint newAnchor, QPoint traceStart, int closeDistance)
{
    // connectPath joins with a straight line, which also bridges the gap to the first
    // stretch of a new trace after a right click kept the old stretches.
    if (tracePath.isEmpty())
        tracePath = stretch;
    else
        tracePath.connectPath(stretch);
    anchorPoint = newAnchor;

    if ((newAnchor - traceStart).manhattanLength() >= closeDistance)
        return false;
    tracePath.closeSubpath();
    selectionPath.addPath(tracePath);
    anchorPoint = kNoTrace;
    tracePath = QPainterPath();
    return true;
}

QPainterPath shownSelection(const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    QPainterPath shown = selectionPath;
    shown.addPath(tracePath);
    return shown;
}

QPainterPath invertSelection(const QSize &picture, QPainterPath &selectionPath,
    QPainterPath &tracePath, QPoint &anchorPoint, const QPainterPath &shownPath)
{
    QPainterPath frame;
    frame.addRect(QRectF(0, 0, picture.width(), picture.height()));
    frame.translate(kSceneOffset, kSceneOffset);

    if (!tracePath.isEmpty()) {
        tracePath.closeSubpath();
        selectionPath.addPath(tracePath);
        anchorPoint = kNoTrace;
        tracePath = QPainterPath();
    }
    if (!selectionPath.isEmpty())
        selectionPath = frame - selectionPath;

    frame -= shownPath;
    return frame;
}
