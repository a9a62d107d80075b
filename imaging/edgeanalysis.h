#pragma once

#include <QImage>
#include <QList>
#include <QtGlobal>
#include <atomic>
#include <functional>

struct LabColor {
    qint16 l = 0;
    qint16 a = 0;
    qint16 b = 0;
};

// CIE L*a*b* (D65) of an ARGB value, each component truncated toward zero; alpha ignored.
LabColor labFromRgb(QRgb value);

// Gives exactly labFromRgb's results, several times faster: the linearised channels and
// their products with the matrix coefficients depend on one byte each, so they come from
// tables holding the very same doubles, and the cube roots come from a few Halley steps,
// with pow only for the rare colours whose components fall too close to a whole number to
// truncate safely. Build once, then share read-only between threads.
class LabConverter
{
public:
    LabConverter();
    LabColor operator()(QRgb value) const;

private:
    // m_terms[row * 3 + channel][byte]: coefficient of X, Y or Z times the channel's linear value.
    double m_terms[9][256];
};

// Edge strength of every pixel of a 32-bit picture: the Sobel magnitudes of the L*, a* and
// b* planes of a 7-tap blurred copy, each clamped to 255, summed (0..765). The copy's outer
// three-pixel frame, which the blur does not reach, holds the picture itself.
// Element x + y * W; the outermost rows and columns are 0; pictures of width or height 2 or
// less give all zeros. Works in bands of rows, O(W * H) time, O(W) scratch per thread plus a
// colour cache of at most 1 MB per thread.
// progress receives the bar values 0..99 in order, on the calling thread.
// threads: 0 uses every core; the result does not depend on it.
// stop, when given, may be set from any thread: every band ends before its next row, no
// further progress is reported and the result is an empty list.
QList<quint16> findEdges(const QImage &picture, const std::function<void(int)> &progress = {},
    int threads = 0, const std::atomic<bool> *stop = nullptr);
