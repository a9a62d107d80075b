#pragma once

#include <QImage>
#include <QPainterPath>

// Rewrites the alpha of a Format_ARGB32 picture from a selection given in picture
// coordinates: 255 well inside, 1 well outside, a soft 5-tap edge along the outline and
// 0 on the outer two-pixel frame. Colour bytes are left alone.
void applySelectionMask(QImage &picture, const QPainterPath &path);
