#pragma once

#include <QImage>
#include <QList>
#include <QtGlobal>
#include <functional>

struct LabColor {
    qint16 l = 0;
    qint16 a = 0;
    qint16 b = 0;
};

// CIE L*a*b* (D65) of an ARGB value, each component truncated toward zero; alpha ignored.
LabColor labFromRgb(QRgb value);

// Edge strength of every pixel of a Format_ARGB32 picture: the Sobel magnitudes of the
// L*, a* and b* planes of a 7-tap blurred copy, each clamped to 255, summed (0..765).
// Element x + y * W; the outermost rows and columns are 0.
// progress receives the bar values 0..99 in order, on the calling thread.
// threads: 0 uses every core; the result does not depend on it.
QList<quint16> findEdges(const QImage &picture, const std::function<void(int)> &progress = {},
                         int threads = 0);
