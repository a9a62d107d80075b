#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// The isolated object (a picture whose alpha applySelectionMask wrote) over a plain
// background, as it is saved: Format_ARGB32, the object's size.
QImage composeOnBackground(const QImage &object, const QColor &background);

// The same over a chessboard made of copies of tile laid from the top-left corner, as the
// preview shows it. An empty tile leaves the chessboard out and the picture's colours show
// instead. The result is opaque, in Format_ARGB32.
QImage composePreview(const QImage &object, const QColor &background, const QImage &tile);

// True when saving over this background to this name drops translucency: a background
// alpha below 255 and a .jpg or .jpeg name, in any case.
bool losesTransparency(const QColor &background, const QString &fileName);
