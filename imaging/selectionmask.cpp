#include "selectionmask.h"

void applySelectionMask(QImage &, const QPainterPath &)
{
}
