#include "selectionedit.h"

bool confirmStretch(QPainterPath &, QPainterPath &, QPoint &, const QPainterPath &, QPoint, QPoint, int)
{
    return false;
}

QPainterPath shownSelection(const QPainterPath &selectionPath, const QPainterPath &tracePath)
{
    QPainterPath shown = selectionPath;
    shown.addPath(tracePath);
    return shown;
}

QPainterPath invertSelection(const QSize &, QPainterPath &, QPainterPath &, QPoint &, const QPainterPath &shownPath)
{
    return shownPath;
}
