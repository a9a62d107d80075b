#include "edgeanalysis.h"

#include "blurkernel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr int kBlurTaps = 7;
constexpr double kBlurSigma = 1.4;

// Matrix rows of linear sRGB (scaled to 0..100) to X, Y and Z.
constexpr double kToXyz[3][3] = {
    {0.4124, 0.3576, 0.1805},
    {0.2126, 0.7152, 0.0722},
    {0.0193, 0.1192, 0.9505},
};

double linearChannel(int byte)
{
    const double c = byte / 255.0;
    return (c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92) * 100.0;
}

double labCurve(double t)
{
    return t > 0.008856 ? std::pow(t, 0.3333333333333333) : 7.787 * t + 16.0 / 116.0;
}

LabColor labFromXyz(double x, double y, double z)
{
    const double fx = labCurve(x / 95.047);
    const double fy = labCurve(y / 100.0);
    const double fz = labCurve(z / 108.883);
    LabColor lab;
    lab.l = qint16(int(116.0 * fy - 16.0));
    lab.a = qint16(int(500.0 * (fx - fy)));
    lab.b = qint16(int(200.0 * (fy - fz)));
    return lab;
}

// The edge analysis, one band of rows at a time: blur, colour conversion and gradient are
// streamed through a few rows of scratch memory, so no whole-picture temporary is needed.
class BandWorker
{
public:
    BandWorker(const QImage &picture, const BlurKernel &kernel, const LabConverter &converter,
               int cacheBits)
        : m_picture(picture)
        , m_kernel(kernel)
        , m_converter(converter)
        , m_width(picture.width())
        , m_height(picture.height())
        , m_rowBytes(size_t(m_width) * 4)
        , m_window(2 * kernel.half() + 1)
        , m_horizontal(m_rowBytes * m_window)
        , m_horizontalRow(m_window, -1)
        , m_rowPointers(m_window)
        , m_blurred(m_rowBytes)
        , m_lab(size_t(m_width) * 9)
        , m_labRow(3, -1)
        , m_cacheBits(cacheBits)
        , m_cache(size_t(1) << cacheBits)
    {
    }

    // Edge rows [from, to), each within [1, H - 1); afterRow(count) is told of finished rows.
    template<typename AfterRow>
    void run(int from, int to, quint16 *edges, AfterRow afterRow)
    {
        for (int y = from; y < to; ++y) {
            const qint16 *above = labRow(y - 1);
            const qint16 *middle = labRow(y);
            const qint16 *below = labRow(y + 1);
            gradientRow(above, middle, below, edges + size_t(y) * m_width);
            afterRow(y);
        }
    }

private:
    struct CacheEntry {
        quint32 key = 0; // colour | kFilled; 0 marks an empty slot
        LabColor lab;
    };
    static constexpr quint32 kFilled = 0x01000000;

    const uchar *horizontalRow(int y)
    {
        const int slot = y % m_window;
        uchar *row = m_horizontal.data() + slot * m_rowBytes;
        if (m_horizontalRow[slot] != y) {
            m_kernel.horizontal(m_picture.constScanLine(y), row, m_width);
            m_horizontalRow[slot] = y;
        }
        return row;
    }

    // Row y of the blurred copy; outside the blurred interior that is the picture itself.
    const uchar *blurredRow(int y)
    {
        const int half = m_kernel.half();
        const uchar *source = m_picture.constScanLine(y);
        if (y < half || y >= m_height - half || m_width <= 2 * half)
            return source;
        std::memcpy(m_blurred.data(), source, m_rowBytes);
        for (int r = 0; r < m_window; ++r)
            m_rowPointers[r] = horizontalRow(y - half + r);
        m_kernel.vertical(m_rowPointers.data(), m_blurred.data(), m_width);
        return m_blurred.data();
    }

    // L*, a* and b* planes of row y, one after another.
    const qint16 *labRow(int y)
    {
        const int slot = y % 3;
        qint16 *planes = m_lab.data() + size_t(slot) * 3 * m_width;
        if (m_labRow[slot] == y)
            return planes;
        m_labRow[slot] = y;
        const uchar *pixels = blurredRow(y);
        qint16 *l = planes;
        qint16 *a = planes + m_width;
        qint16 *b = planes + 2 * m_width;
        const int shift = 32 - m_cacheBits;
        for (int x = 0; x < m_width; ++x) {
            quint32 value;
            std::memcpy(&value, pixels + 4 * x, 4);
            const quint32 key = (value & 0xFFFFFF) | kFilled;
            CacheEntry &entry = m_cache[(key * 0x9E3779B1u) >> shift];
            if (entry.key != key) {
                entry.key = key;
                entry.lab = m_converter(value);
            }
            l[x] = entry.lab.l;
            a[x] = entry.lab.a;
            b[x] = entry.lab.b;
        }
        return planes;
    }

    void gradientRow(const qint16 *above, const qint16 *middle, const qint16 *below, quint16 *out) const
    {
        const int w = m_width;
        int x = 1;
#ifdef __SSE2__
        const auto load = [](const qint16 *p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        };
        const __m128i limit = _mm_set1_epi32(255 * 255);
        for (; x + 8 <= w - 1; x += 8) {
            __m128i total[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
            for (int plane = 0; plane < 3; ++plane) {
                const qint16 *u = above + plane * w + x;
                const qint16 *m = middle + plane * w + x;
                const qint16 *d = below + plane * w + x;
                const __m128i left = _mm_add_epi16(_mm_add_epi16(load(u - 1), load(d - 1)),
                                                   _mm_slli_epi16(load(m - 1), 1));
                const __m128i right = _mm_add_epi16(_mm_add_epi16(load(u + 1), load(d + 1)),
                                                    _mm_slli_epi16(load(m + 1), 1));
                const __m128i top = _mm_add_epi16(_mm_add_epi16(load(u - 1), load(u + 1)),
                                                  _mm_slli_epi16(load(u), 1));
                const __m128i bottom = _mm_add_epi16(_mm_add_epi16(load(d - 1), load(d + 1)),
                                                     _mm_slli_epi16(load(d), 1));
                const __m128i gx = _mm_sub_epi16(right, left);
                const __m128i gy = _mm_sub_epi16(bottom, top);
                const __m128i halves[2] = {_mm_unpacklo_epi16(gx, gy), _mm_unpackhi_epi16(gx, gy)};
                for (int q = 0; q < 2; ++q) {
                    __m128i n = _mm_madd_epi16(halves[q], halves[q]);
                    // Below 255^2 the float square root is exact enough to truncate to the
                    // integer root: sqrt(n) stays more than 1/512 below the next integer.
                    const __m128i over = _mm_cmpgt_epi32(n, limit);
                    n = _mm_or_si128(_mm_and_si128(over, limit), _mm_andnot_si128(over, n));
                    const __m128i root = _mm_cvttps_epi32(_mm_sqrt_ps(_mm_cvtepi32_ps(n)));
                    total[q] = _mm_add_epi32(total[q], root);
                }
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_packs_epi32(total[0], total[1]));
        }
#endif
        for (; x < w - 1; ++x) {
            int sum = 0;
            for (int plane = 0; plane < 3; ++plane) {
                const qint16 *u = above + plane * w;
                const qint16 *m = middle + plane * w;
                const qint16 *d = below + plane * w;
                const int gx = (u[x + 1] + 2 * m[x + 1] + d[x + 1]) - (u[x - 1] + 2 * m[x - 1] + d[x - 1]);
                const int gy = (d[x - 1] + 2 * d[x] + d[x + 1]) - (u[x - 1] + 2 * u[x] + u[x + 1]);
                sum += std::min(255, int(std::sqrt(double(gx * gx + gy * gy))));
            }
            out[x] = quint16(sum);
        }
    }

    const QImage &m_picture;
    const BlurKernel &m_kernel;
    const LabConverter &m_converter;
    const int m_width;
    const int m_height;
    const size_t m_rowBytes;
    const int m_window;
    std::vector<uchar> m_horizontal;
    std::vector<int> m_horizontalRow;
    std::vector<const uchar *> m_rowPointers;
    std::vector<uchar> m_blurred;
    std::vector<qint16> m_lab;
    std::vector<int> m_labRow;
    const int m_cacheBits;
    std::vector<CacheEntry> m_cache;
};

// The bar values the column-by-column passes would set, consecutive repeats dropped.
std::vector<int> progressValues(int width)
{
    std::vector<int> values;
    const auto add = [&values](qint64 value) {
        if (values.empty() || values.back() != int(value))
            values.push_back(int(value));
    };
    for (qint64 x = 0; x < width; ++x)
        add(30 * x / width);
    add(40);
    for (qint64 x = 0; x < width; ++x)
        add(30 * x / width + 40);
    for (qint64 x = 1; x < width - 1; ++x)
        add(30 * x / width + 70);
    return values;
}

// Hands the bar values out in proportion to the finished rows, from the calling thread only.
class ProgressReporter
{
public:
    ProgressReporter(int width, qint64 totalRows, const std::function<void(int)> &progress)
        : m_values(progressValues(width))
        , m_totalRows(std::max<qint64>(totalRows, 1))
        , m_progress(progress)
    {
    }

    void reach(qint64 doneRows)
    {
        const size_t due = size_t(qint64(m_values.size()) * std::min(doneRows, m_totalRows) / m_totalRows);
        for (; m_sent < due; ++m_sent) {
            if (m_progress)
                m_progress(m_values[m_sent]);
        }
    }

    void finish() { reach(m_totalRows); }

private:
    const std::vector<int> m_values;
    const qint64 m_totalRows;
    const std::function<void(int)> &m_progress;
    size_t m_sent = 0;
};

int cacheBitsFor(qint64 pixels)
{
    int bits = 8;
    while (bits < 17 && (qint64(1) << bits) < pixels)
        ++bits;
    return bits;
}

} // namespace

LabColor labFromRgb(QRgb value)
{
    const double r = linearChannel(qRed(value));
    const double g = linearChannel(qGreen(value));
    const double b = linearChannel(qBlue(value));
    const double x = kToXyz[0][0] * r + kToXyz[0][1] * g + kToXyz[0][2] * b;
    const double y = kToXyz[1][0] * r + kToXyz[1][1] * g + kToXyz[1][2] * b;
    const double z = kToXyz[2][0] * r + kToXyz[2][1] * g + kToXyz[2][2] * b;
    return labFromXyz(x, y, z);
}

LabConverter::LabConverter()
{
    for (int byte = 0; byte < 256; ++byte) {
        const double linear = linearChannel(byte);
        for (int row = 0; row < 3; ++row) {
            for (int channel = 0; channel < 3; ++channel)
                m_terms[row * 3 + channel][byte] = kToXyz[row][channel] * linear;
        }
    }
}

LabColor LabConverter::operator()(QRgb value) const
{
    const int r = qRed(value);
    const int g = qGreen(value);
    const int b = qBlue(value);
    // Same products, summed in the same order as labFromRgb, hence the same doubles.
    const double x = m_terms[0][r] + m_terms[1][g] + m_terms[2][b];
    const double y = m_terms[3][r] + m_terms[4][g] + m_terms[5][b];
    const double z = m_terms[6][r] + m_terms[7][g] + m_terms[8][b];
    return labFromXyz(x, y, z);
}

QList<quint16> findEdges(const QImage &input, const std::function<void(int)> &progress, int threads)
{
    const int width = input.width();
    const int height = input.height();
    QList<quint16> edges(qsizetype(width) * height, 0);
    const qint64 rows = height > 2 && width > 2 ? height - 2 : 0;
    ProgressReporter reporter(width, rows, progress);
    if (rows == 0) {
        reporter.finish();
        return edges;
    }

    // The passes read colour bytes 0..2 of 32-bit pixels; other layouts are converted once.
    QImage picture = input;
    const QImage::Format format = input.format();
    if (format != QImage::Format_ARGB32 && format != QImage::Format_RGB32
        && format != QImage::Format_ARGB32_Premultiplied)
        picture = input.convertToFormat(QImage::Format_ARGB32);

    const BlurKernel kernel(kBlurTaps, kBlurSigma);
    const LabConverter converter;
    quint16 *out = edges.data();

    int bands = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    bands = int(std::min<qint64>(bands, std::max<qint64>(1, rows / 32)));
    std::vector<int> bounds(bands + 1);
    for (int i = 0; i <= bands; ++i)
        bounds[i] = 1 + int(rows * i / bands);
    const int cacheBits = cacheBitsFor(qint64(width) * (bounds[1] - bounds[0]));

    std::atomic<qint64> done{0};
    std::mutex mutex;
    std::condition_variable finished;
    const auto runBand = [&](int band, auto afterRow) {
        BandWorker worker(picture, kernel, converter, cacheBits);
        worker.run(bounds[band], bounds[band + 1], out, afterRow);
    };

    std::vector<std::thread> helpers;
    std::vector<int> leftOver;
    for (int band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(runBand, band, [&](int) {
                done.fetch_add(1, std::memory_order_relaxed);
                finished.notify_one();
            });
        } catch (const std::system_error &) {
            leftOver.push_back(band); // no thread to spare: this band runs here instead
        }
    }
    const auto ownRow = [&](int) {
        reporter.reach(done.fetch_add(1, std::memory_order_relaxed) + 1);
    };
    runBand(0, ownRow);
    for (int band : leftOver)
        runBand(band, ownRow);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (done.load() < rows) {
            finished.wait_for(lock, std::chrono::milliseconds(20));
            reporter.reach(done.load());
        }
    }
    for (std::thread &helper : helpers)
        helper.join();
    reporter.finish();
    return edges;
}
