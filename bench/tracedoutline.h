#pragma once

// A traced-looking outline of 2000 points over most of a width x height picture: wavy, as a
// hand-placed selection is, so the mask has a long soft edge.

#include <QPainterPath>
#include <QtMath>

inline QPainterPath tracedOutline(int width, int height)
{
    QPainterPath path;
    constexpr int points = 2000;
    for (int k = 0; k < points; ++k) {
        const double t = 2 * M_PI * k / points;
        const double radius = 1.0 + 0.08 * qSin(7 * t) + 0.03 * qSin(53 * t);
        const QPointF p(width / 2 + 0.4 * width * radius * qCos(t),
            height / 2 + 0.4 * height * radius * qSin(t));
        if (k == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}
