// Times the edge analysis on photo-like pictures of 1, 12 and 24 megapixels against the
// literal algorithm (sets and ordered maps, one pixel at a time) and, when available, the
// same work done with OpenCV. Prints medians, ratios and the extra peak memory.

#include "edgeanalysis.h"
#include "gaussianblur.h"
#include "median.h"

#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <string>
#include <vector>

#if VELMORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace
{

QImage photoLikePicture(int width, int height)
{
    QRandomGenerator random(42);
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const quint32 noise = random.generate();
            int r = int(255 * u * u) + int(noise & 7) - 3;
            int g = int(200 * v + 40 * std::sin(9 * u)) + int((noise >> 3) & 7) - 3;
            int b = int(128 + 120 * std::cos(5 * (u + v))) + int((noise >> 6) & 7) - 3;
            const int dx = x - width / 3;
            const int dy = y - height / 2;
            if (qint64(dx) * dx + qint64(dy) * dy < qint64(height) * height / 16)
                r = 250, g = 30, b = 20;
            if (x > 2 * width / 3 && y < height / 3)
                r = g = b = 255;
            if (x < width / 5 && y > 4 * height / 5)
                r = g = b = 0;
            line[x] = qRgba(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255), 255);
        }
    }
    return picture;
}

// The blur exactly as a first, literal version would write it: a whole-picture buffer,
// per-sample double arithmetic.
void literalBlur(const QImage &src, QImage &dst, int n, double sigma)
{
    const std::vector<double> w = gaussianKernel(n, sigma);
    const int half = n / 2;
    const int width = src.width();
    const int height = src.height();
    const qsizetype bpl = src.bytesPerLine();
    std::vector<uchar> temp(size_t(bpl) * height);
    const uchar *in = src.constBits();
    for (int y = 0; y < height; ++y) {
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                double acc = in[y * bpl + 4 * x + c] * w[half];
                for (int d = 1; d <= half; ++d)
                    acc += (in[y * bpl + 4 * (x - d) + c] + in[y * bpl + 4 * (x + d) + c])
                        * w[half - d];
                temp[y * bpl + 4 * x + c] = uchar(int(acc));
            }
        }
    }
    uchar *out = dst.bits();
    for (int y = half; y < height - half; ++y) {
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                uchar &t = out[y * bpl + 4 * x + c];
                t = uchar(int(temp[y * bpl + 4 * x + c] * w[half]));
                for (int d = 1; d <= half; ++d)
                    t = uchar(int(t
                        + (temp[(y - d) * bpl + 4 * x + c] + temp[(y + d) * bpl + 4 * x + c])
                            * w[half - d]));
            }
        }
    }
}

// The analysis exactly as a first, literal version would write it.
QList<quint16> literalEdges(const QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    QList<quint16> edgeMap(qsizetype(w) * h, 0);
    QImage blurred = image.copy();
    literalBlur(image, blurred, 7, 1.4);
    QSet<quint32> colours;
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            colours.insert(blurred.pixel(x, y));
    }
    QMap<quint32, qint16> lMap, aMap, bMap;
    for (quint32 colour : colours) {
        const LabColor lab = labFromRgb(colour);
        lMap[colour] = lab.l;
        aMap[colour] = lab.a;
        bMap[colour] = lab.b;
    }
    std::vector<qint16> planes[3];
    for (auto &plane : planes)
        plane.resize(size_t(w) * h);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            const quint32 colour = blurred.pixel(x, y);
            planes[0][x + size_t(y) * w] = lMap.value(colour);
            planes[1][x + size_t(y) * w] = aMap.value(colour);
            planes[2][x + size_t(y) * w] = bMap.value(colour);
        }
    }
    for (int x = 1; x < w - 1; ++x) {
        for (int y = 1; y < h - 1; ++y) {
            int sum = 0;
            for (auto &plane : planes) {
                const auto p = [&](int px, int py) { return int(plane[px + size_t(py) * w]); };
                const int gx = (p(x + 1, y - 1) + 2 * p(x + 1, y) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x - 1, y) + p(x - 1, y + 1));
                const int gy = (p(x - 1, y + 1) + 2 * p(x, y + 1) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x, y - 1) + p(x + 1, y - 1));
                sum += std::min(255, int(std::sqrt(double(gx * gx + gy * gy))));
            }
            edgeMap[x + qsizetype(y) * w] = quint16(sum);
        }
    }
    return edgeMap;
}

#if VELMORA_HAVE_OPENCV
cv::Mat openCvEdges(const QImage &image)
{
    const cv::Mat bgra(image.height(), image.width(), CV_8UC4,
        const_cast<uchar *>(image.constBits()), size_t(image.bytesPerLine()));
    cv::Mat blurred, lab, dx, dy, fx, fy, magnitude;
    cv::GaussianBlur(bgra, blurred, cv::Size(7, 7), 1.4);
    cv::cvtColor(blurred, lab, cv::COLOR_BGRA2BGR);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    cv::Sobel(lab, dx, CV_16S, 1, 0);
    cv::Sobel(lab, dy, CV_16S, 0, 1);
    dx.convertTo(fx, CV_32F);
    dy.convertTo(fy, CV_32F);
    cv::magnitude(fx.reshape(1), fy.reshape(1), magnitude);
    magnitude = cv::min(magnitude, 255.0);
    cv::Mat channels[3];
    cv::split(magnitude.reshape(3), channels);
    cv::Mat sum = channels[0] + channels[1] + channels[2];
    cv::Mat result;
    sum.convertTo(result, CV_16U);
    return result;
}
#endif

// Heap bytes held through operator new (the analysis's scratch rows and colour caches;
// the edge map itself is a QList and not counted), current and highest since reset.
std::atomic<qint64> heapNow { 0 };
std::atomic<qint64> heapPeak { 0 };

// Peak scratch memory of one analysis in bytes per pixel.
double extraBytesPerPixel(const QImage &picture, int threads)
{
    heapPeak = heapNow.load();
    const qint64 before = heapNow.load();
    findEdges(picture, {}, threads);
    return double(heapPeak.load() - before) / (double(picture.width()) * picture.height());
}

} // namespace

void *operator new(std::size_t size)
{
    void *p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    const qint64 now = heapNow += qint64(malloc_usable_size(p));
    qint64 peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) { }
    return p;
}

void operator delete(void *p) noexcept
{
    if (p)
        heapNow -= qint64(malloc_usable_size(p));
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    operator delete(p);
}

int main(int argc, char **argv)
{
    // --literal-everywhere times the literal version at every size instead of extrapolating.
    const bool literalEverywhere = argc > 1 && std::string(argv[1]) == "--literal-everywhere";
    struct Size {
        const char *name;
        int width;
        int height;
        int runs;
    };
    const Size sizes[]
        = { { "1 MP", 1224, 816, 7 }, { "12 MP", 4240, 2832, 3 }, { "24 MP", 6000, 4000, 3 } };
    double literalPerPixel = 0;
    std::printf("%-6s %9s %9s %10s %9s %9s %9s %8s %8s %8s %8s %5s\n", "size", "ours 1t", "ours 2t",
        "literal", "cv 1t", "cv 2t", "lit/1t", "1t/cv1", "2t/cv2", "B/px 1t", "B/px 2t", "same");
    for (const Size &size : sizes) {
        const QImage picture = photoLikePicture(size.width, size.height);
        const double pixels = double(size.width) * size.height;
        const double one = medianMs(size.runs, [&] { findEdges(picture, {}, 1); });
        const double two = medianMs(size.runs, [&] { findEdges(picture, {}, 2); });
        double literal = 0;
        const bool extrapolated = literalPerPixel > 0 && !literalEverywhere;
        const char *same = "-";
        if (!extrapolated) {
            QList<quint16> reference;
            literal = medianMs(1, [&] { reference = literalEdges(picture); });
            literalPerPixel = literal / pixels;
            same = reference == findEdges(picture, {}, 1) && reference == findEdges(picture, {}, 2)
                ? "yes"
                : "NO";
        } else {
            literal = literalPerPixel * pixels; // extrapolated from the smallest size
        }
        double cvOne = 0;
        double cvTwo = 0;
#if VELMORA_HAVE_OPENCV
        cv::setNumThreads(1);
        cvOne = medianMs(size.runs, [&] { openCvEdges(picture); });
        cv::setNumThreads(2);
        cvTwo = medianMs(size.runs, [&] { openCvEdges(picture); });
#endif
        const double memOne = extraBytesPerPixel(picture, 1);
        const double memTwo = extraBytesPerPixel(picture, 2);
        std::printf(
            "%-6s %7.1fms %7.1fms %7.0fms%s %7.1fms %7.1fms %8.0fx %8.2f %8.2f %8.2f %8.2f %5s\n",
            size.name, one, two, literal, extrapolated ? "*" : " ", cvOne, cvTwo, literal / one,
            cvOne > 0 ? one / cvOne : 0.0, cvTwo > 0 ? two / cvTwo : 0.0, memOne, memTwo, same);
        std::fflush(stdout);
    }
    std::printf("* extrapolated per pixel from 1 MP. B/px: peak scratch bytes per pixel beyond "
                "picture and edge map.\n"
                "same: 1 and 2 threads give exactly the literal version's edges.\n");
    return 0;
}
