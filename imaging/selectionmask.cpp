#include "selectionmask.h"

#include "gaussianblur.h"
#include "rowbands.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

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
    uchar *const bits = mask.bits();
    // The rasteriser spends its time on the parts of the outline inside the target, so bands
    // of rows painted at once share a long outline's work (a 10000-click one takes seconds).
    // Moved by whole pixels, each band's outline falls on its pixels as the whole picture's
    // does.
    inRowBands(size.height(), qint64(size.width()) * size.height(), [&](int first, int last) {
        QImage band(bits + first * mask.bytesPerLine(), size.width(), last - first,
            mask.bytesPerLine(), QImage::Format_Grayscale8);
        QPainter painter(&band);
        // Aliased: the outline must be hard here, the blur is what softens it.
        painter.setRenderHints(painter.renderHints(), false);
        painter.setClipPath(first == 0 ? path : path.translated(0, -first), Qt::ReplaceClip);
        painter.fillRect(band.rect(), Qt::black);
    });
    return mask;
}

// Alpha of rows [first, last): 255 less the blurred mask inside, 0 on the two-pixel frame the
// blur does not reach.
void writeAlpha(const uchar *colours, uchar *pixels, qsizetype pixelStride, const uchar *soft,
    qsizetype softStride, int width, int height, int first, int last)
{
    for (int y = first; y < last; ++y) {
        uchar *out = pixels + y * pixelStride;
        if (colours != pixels)
            std::memcpy(out, colours + y * pixelStride, size_t(width) * 4);
        if (y < kFrame || y >= height - kFrame) {
            for (int x = 0; x < width; ++x)
                out[4 * x + 3] = 0;
            continue;
        }
        const uchar *in = soft + y * softStride;
        for (int x = 0; x < kFrame; ++x) {
            out[4 * x + 3] = 0;
            out[4 * (width - 1 - x) + 3] = 0;
        }
        for (int x = kFrame; x < width - kFrame; ++x)
            out[4 * x + 3] = uchar(255 - in[x]);
    }
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
    uchar *const soft = blurred.bits();
    // A picture shared with its caller would first be copied whole, on one thread; instead
    // the bands copy their rows as they write the alpha.
    const bool shared = !picture.isDetached();
    const QImage colours = shared ? picture : QImage();
    if (shared)
        picture = QImage(colours.size(), QImage::Format_ARGB32);
    uchar *const pixels = picture.bits();
    const uchar *const colourRows = shared ? colours.constBits() : pixels;
    // Each band blurs through a view of its rows and the frame-wide margin around them, which
    // gives its rows exactly what the whole picture would.
    inRowBands(height, qint64(width) * height, [&](int first, int last) {
        const int from = std::max(first - kFrame, 0);
        const int to = std::min(last + kFrame, height);
        const qsizetype stride = mask.bytesPerLine();
        const QImage in(mask.constScanLine(from), width, to - from, stride, mask.format());
        QImage out(soft + from * stride, width, to - from, stride, QImage::Format_Grayscale8);
        gaussianBlur(in, out, kEdgeTaps, kEdgeSigma);
        writeAlpha(
            colourRows, pixels, picture.bytesPerLine(), soft, stride, width, height, first, last);
    });
}