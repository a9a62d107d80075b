#include "gaussianblur.h"

#include <cmath>

std::vector<double> gaussianKernel(int n, double sigma)
{
    std::vector<double> w(n > 0 ? n : 0);
    const int half = n / 2;
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        const int i = j - half;
        w[j] = std::sqrt(std::exp(-(i * i) / (sigma * (sigma + sigma))) / (6.283 * sigma * sigma));
        sum += w[j];
    }
    for (double &v : w)
        v /= sum;
    return w;
}

void gaussianBlur(const QImage &src, QImage &dst, int n, double sigma)
{
    const int half = n / 2;
    const int width = src.width();
    const int height = src.height();
    if (width <= 2 * half || height <= 2 * half)
        return;
    const std::vector<double> w = gaussianKernel(n, sigma);
    const qsizetype stride = src.bytesPerLine();
    std::vector<uchar> temp(size_t(stride) * height);

    for (int y = 0; y < height; ++y) {
        const uchar *in = src.constScanLine(y);
        uchar *out = temp.data() + y * stride;
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                double acc = in[4 * x + c] * w[half];
                for (int d = 1; d <= half; ++d)
                    acc += (in[4 * (x - d) + c] + in[4 * (x + d) + c]) * w[half - d];
                out[4 * x + c] = uchar(int(acc));
            }
        }
    }
    uchar *bits = dst.bits();
    for (int y = half; y < height - half; ++y) {
        uchar *out = bits + y * stride;
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                const qsizetype at = y * stride + 4 * x + c;
                uchar v = uchar(int(temp[at] * w[half]));
                for (int d = 1; d <= half; ++d)
                    v = uchar(int(v + (temp[at - d * stride] + temp[at + d * stride]) * w[half - d]));
                out[4 * x + c] = v;
            }
        }
    }
}
