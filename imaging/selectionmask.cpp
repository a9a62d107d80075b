#include "selectionmask.h"

#include "gaussianblur.h"

#include <QPainter>

namespace
{

constexpr int kEdgeTaps = 5;
constexpr double kEdgeSigma = 1.4;
// Half the kernel: the blur leaves this many rows and columns on each side unwritten.
constexpr int kFrame = kEdgeTaps / 2;

// Black (0) on exactly the pixels the aliased rasteriser puts inside path, white (255)
// elsewhere. One byte per pixel: the clip is rasterised the same whatever the format, and
// a mask's three channels would only ever be equal.
QImage paintMask(const QSize &size, const QPainterPath &path)
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(255);
    QPainter painter(&mask);
    // Aliased: the outline must be hard here, the blur is what softens it.
    painter.setRenderHints(painter.renderHints(), false);
    painter.setClipPath(path, Qt::ReplaceClip);
    painter.fillRect(mask.rect(), Qt::black);
    painter.end();
    return mask;
}

void clearAlpha(QImage &picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            row[4 * x + 3] = 0;
    }
}

} // namespace

void applySelectionMask(QImage &picture, const QPainterPath &path)
{
    if (picture.isNull())
        return;
    if (picture.format() != QImage::Format_ARGB32)
        picture = picture.convertToFormat(QImage::Format_ARGB32);

    const int width = picture.width();
    const int height = picture.height();
    // The blur writes nothing this small, so the white frame covers every pixel.
    if (width <= 2 * kFrame || height <= 2 * kFrame) {
        clearAlpha(picture);
        return;
    }

    const QImage mask = paintMask(picture.size(), path);
    // The blur overwrites the interior and the frame is white whatever was there: the
    // target needs no copy of the picture.
    QImage blurred(picture.size(), QImage::Format_Grayscale8);
    gaussianBlur(mask, blurred, kEdgeTaps, kEdgeSigma);

    for (int y = 0; y < height; ++y) {
        uchar *out = picture.scanLine(y);
        if (y < kFrame || y >= height - kFrame) {
            for (int x = 0; x < width; ++x)
                out[4 * x + 3] = 0;
            continue;
        }
        const uchar *soft = blurred.constScanLine(y);
        for (int x = 0; x < kFrame; ++x) {
            out[4 * x + 3] = 0;
            out[4 * (width - 1 - x) + 3] = 0;
        }
        for (int x = kFrame; x < width - kFrame; ++x)
            out[4 * x + 3] = uchar(255 - soft[x]);
    }
}
