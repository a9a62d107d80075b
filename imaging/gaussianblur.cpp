#include "gaussianblur.h"

#include "blurkernel.h"

#include <QDebug>
#include <cmath>

std::vector<double> gaussianKernel(int n, double sigma)
{
    std::vector<double> w(n > 0 ? n : 0);
    const int half = n / 2;
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        const int i = j - half;
        // sigma squared is one quantity. Grouping it as (6.283 * sigma) * sigma moves the
        // weights by an ulp, which is enough to change where the passes truncate.
        w[j] = std::sqrt(
            std::exp(-(i * i) / (sigma * (sigma + sigma))) / (6.283 * (sigma * sigma)));
        sum += w[j];
    }
    for (double &v : w)
        v /= sum;
    return w;
}

void gaussianBlur(const QImage &src, QImage &dst, int n, double sigma)
{
    if ((src.depth() != 32 && src.depth() != 8) || dst.depth() != src.depth()
        || dst.size() != src.size() || dst.bytesPerLine() != src.bytesPerLine()) {
        qWarning(
            "gaussianBlur: source and target must be 32-bit or 8-bit pictures of the same size");
        return;
    }
    if (n < 1 || !(sigma > 0.0) || !std::isfinite(sigma)) {
        qWarning("gaussianBlur: kernel size must be positive and sigma a positive number");
        return;
    }
    const BlurKernel kernel(n, sigma);
    const int half = kernel.half();
    const int width = src.width();
    const int height = src.height();
    if (width <= 2 * half || height <= 2 * half)
        return;

    // The vertical pass only ever needs 2 * half + 1 consecutive rows of the horizontal
    // result, so those live in a ring instead of a whole-picture buffer.
    const int window = 2 * half + 1;
    const qsizetype stride = src.bytesPerLine();
    std::vector<uchar> ring(size_t(stride) * window);
    const auto slot = [&](int y) { return ring.data() + size_t(y % window) * stride; };
    std::vector<const uchar *> rows(window);

    const bool plane = src.depth() == 8;
    const auto horizontal = [&](int y) {
        if (plane)
            kernel.horizontalPlane(src.constScanLine(y), slot(y), width);
        else
            kernel.horizontal(src.constScanLine(y), slot(y), width);
    };
    uchar *target = dst.bits();
    for (int y = 0; y < 2 * half; ++y)
        horizontal(y);
    for (int y = half; y < height - half; ++y) {
        horizontal(y + half);
        for (int r = 0; r < window; ++r)
            rows[r] = slot(y - half + r);
        if (plane)
            kernel.verticalPlane(rows.data(), target + y * stride, width);
        else
            kernel.vertical(rows.data(), target + y * stride, width);
    }
}
