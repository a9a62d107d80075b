#pragma once

#include <QColor>
#include <QPen>

// A line one screen pixel wide at any zoom, as Qt 4's default pen was. Qt 6's QPen(QColor) is
// one scene unit wide and grows with the view: at zoom 5 a marker's rim would bury its fill.
inline QPen hairlinePen(const QColor &color)
{
    QPen pen(color, 1);
    pen.setCosmetic(true);
    return pen;
}
