#include "edgeanalysis.h"

#include "blurkernel.h"
#include "blurvectors.h"

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
namespace sse2
{
#include "edgeblocks.h"
} // namespace sse2
#endif

#ifdef VELMORA_WIDE_VECTORS
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2
{
#include "edgeblocks.h"
} // namespace avx2
#pragma GCC pop_options
#endif

namespace
{

constexpr int kBlurTaps = 7;
constexpr double kBlurSigma = 1.4;

// Matrix rows of linear sRGB (scaled to 0..100) to X, Y and Z.
constexpr double kToXyz[3][3] = {
    { 0.4124, 0.3576, 0.1805 },
    { 0.2126, 0.7152, 0.0722 },
    { 0.0193, 0.1192, 0.9505 },
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

// The curve of X/Xn, Y/Yn and Z/Zn together, so that their latencies overlap, with cube
// roots by two Halley steps from a bit-level first guess instead of pow: several times
// faster and, over the range the curve takes cube roots of (0.008856 to about 1), within
// 1e-14 of pow, which the converter's exhaustive check in the tests confirms on every colour.
void quickCurves(const double (&t)[3], double (&f)[3])
{
    double root[3];
    for (int k = 0; k < 3; ++k) {
        quint64 bits;
        std::memcpy(&bits, &t[k], sizeof bits);
        bits = bits / 3 + 0x2A9F7893782DA1CEull;
        std::memcpy(&root[k], &bits, sizeof bits);
    }
    for (int step = 0; step < 2; ++step) {
        for (int k = 0; k < 3; ++k) {
            const double cube = root[k] * root[k] * root[k];
            root[k] *= (cube + 2.0 * t[k]) / (2.0 * cube + t[k]);
        }
    }
    for (int k = 0; k < 3; ++k)
        f[k] = t[k] > 0.008856 ? root[k] : 7.787 * t[k] + 16.0 / 116.0;
}

// Components computed from quickCurves are off by less than 1e-11. Their truncation is the
// exact one unless they lie within kUndecided of a whole number where truncation changes
// (every one but 0: truncation maps all of (-1, 1) to 0).
constexpr double kUndecided = 1e-9;

bool truncatesSafely(double v)
{
    const double magnitude = std::abs(v);
    if (!(magnitude < 30000.0))
        return false;
    const int whole = int(magnitude);
    return (whole == 0 || magnitude - whole > kUndecided) && whole + 1 - magnitude > kUndecided;
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
        , m_cache(size_t(1) << cacheBits)
        , m_wide(kernel.wideVectors())
    {
        const int blueBits = (cacheBits + 2) / 3;
        const int greenBits = (cacheBits + 1) / 3;
        m_blueMask = (1u << blueBits) - 1;
        m_greenShift = 8 - blueBits;
        m_greenMask = ((1u << greenBits) - 1) << blueBits;
        m_redShift = 16 - blueBits - greenBits;
        m_redMask = ((1u << (cacheBits / 3)) - 1) << (blueBits + greenBits);
    }

    // Edge rows [from, to), each within [1, H - 1); afterRow(count) is told of finished rows.
    // Ends before the next row once *stop is set.
    template <typename AfterRow>
    void run(int from, int to, quint16 *edges, const std::atomic<bool> *stop, AfterRow afterRow)
    {
        for (int y = from; y < to; ++y) {
            if (stop && stop->load(std::memory_order_relaxed))
                return;
            const qint16 *above = labRow(y - 1);
            const qint16 *middle = labRow(y);
            const qint16 *below = labRow(y + 1);
            gradientRow(above, middle, below, edges + size_t(y) * m_width);
            afterRow(y);
        }
    }

private:
    // A cache slot: the colour with kFilled set in the low half (0 marks an empty slot),
    // then L*, a* and b* as signed bytes, which hold the components of every colour.
    static constexpr quint32 kFilled = 0x01000000;

    static bool fitsSlot(const LabColor &lab)
    {
        return qint8(lab.l) == lab.l && qint8(lab.a) == lab.a && qint8(lab.b) == lab.b;
    }

    // Neighbouring pixels have neighbouring colours; taking the low bits of each channel
    // keeps their slots in the same few cache lines.
    quint32 slotIndex(quint32 value) const
    {
        return (value & m_blueMask) | ((value >> m_greenShift) & m_greenMask)
            | ((value >> m_redShift) & m_redMask);
    }

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
        // Only the frame columns come from the picture; alpha bytes are never looked at.
        const size_t frame = size_t(4) * half;
        std::memcpy(m_blurred.data(), source, frame);
        std::memcpy(m_blurred.data() + m_rowBytes - frame, source + m_rowBytes - frame, frame);
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
        for (int x = 0; x < m_width;) {
            int stop = m_width;
#ifdef __SSE2__
            x = labHits(pixels, l, a, b, x);
            stop = std::min(m_width, x + 4);
#endif
            for (; x < stop; ++x) {
                quint32 value;
                std::memcpy(&value, pixels + 4 * x, 4);
                const quint32 key = (value & 0xFFFFFF) | kFilled;
                quint64 &entry = m_cache[slotIndex(value)];
                if (quint32(entry) != key) {
                    const LabColor lab = m_converter(value);
                    if (!fitsSlot(lab)) {
                        l[x] = lab.l;
                        a[x] = lab.a;
                        b[x] = lab.b;
                        continue;
                    }
                    entry = key | quint64(quint8(lab.l)) << 32 | quint64(quint8(lab.a)) << 40
                        | quint64(quint8(lab.b)) << 48;
                }
                l[x] = qint8(entry >> 32);
                a[x] = qint8(entry >> 40);
                b[x] = qint8(entry >> 48);
            }
        }
        return planes;
    }

#ifdef __SSE2__
    // Four pixels per step while all four colours are in the cache: slot indices, key
    // comparison and the spreading of the components into the planes in vector registers.
    // Returns the first pixel of the block that missed, or of the last partial block.
    int labHits(const uchar *pixels, qint16 *l, qint16 *a, qint16 *b, int x) const
    {
        const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
        const __m128i filled = _mm_set1_epi32(int(kFilled));
        const __m128i blueMask = _mm_set1_epi32(int(m_blueMask));
        const __m128i greenMask = _mm_set1_epi32(int(m_greenMask));
        const __m128i redMask = _mm_set1_epi32(int(m_redMask));
        const __m128i greenShift = _mm_cvtsi32_si128(m_greenShift);
        const __m128i redShift = _mm_cvtsi32_si128(m_redShift);
        alignas(16) quint32 index[4];
        for (; x + 4 <= m_width; x += 4) {
            const __m128i value
                = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 4 * x));
            const __m128i key = _mm_or_si128(_mm_and_si128(value, colour), filled);
            _mm_store_si128(reinterpret_cast<__m128i *>(index),
                _mm_or_si128(_mm_and_si128(value, blueMask),
                    _mm_or_si128(_mm_and_si128(_mm_srl_epi32(value, greenShift), greenMask),
                        _mm_and_si128(_mm_srl_epi32(value, redShift), redMask))));
            const auto entry = [&](int k) {
                return _mm_loadl_epi64(
                    reinterpret_cast<const __m128i *>(m_cache.data() + index[k]));
            };
            const __m128 first = _mm_castsi128_ps(_mm_unpacklo_epi64(entry(0), entry(1)));
            const __m128 second = _mm_castsi128_ps(_mm_unpacklo_epi64(entry(2), entry(3)));
            const __m128i keys
                = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(keys, key)) != 0xFFFF)
                break;
            // Bytes l, a, b, 0 of each pixel, sign-extended to 16 bits and regrouped by plane.
            const __m128i lab
                = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
            const __m128i front = _mm_srai_epi16(_mm_unpacklo_epi8(lab, lab), 8);
            const __m128i back = _mm_srai_epi16(_mm_unpackhi_epi8(lab, lab), 8);
            const __m128i even = _mm_unpacklo_epi16(front, back);
            const __m128i odd = _mm_unpackhi_epi16(front, back);
            const __m128i la = _mm_unpacklo_epi16(even, odd);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(l + x), la);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(a + x), _mm_unpackhi_epi64(la, la));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(b + x), _mm_unpackhi_epi16(even, odd));
        }
        return x;
    }
#endif

    void gradientRow(
        const qint16 *above, const qint16 *middle, const qint16 *below, quint16 *out) const
    {
        const int w = m_width;
        int x = 1;
#ifdef VELMORA_WIDE_VECTORS
        if (m_wide)
            x = avx2::gradientBlocks(above, middle, below, w, out, x);
#endif
#ifdef __SSE2__
        x = sse2::gradientBlocks(above, middle, below, w, out, x);
#endif
        for (; x < w - 1; ++x) {
            int sum = 0;
            for (int plane = 0; plane < 3; ++plane) {
                const qint16 *u = above + plane * w;
                const qint16 *m = middle + plane * w;
                const qint16 *d = below + plane * w;
                const int gx
                    = (u[x + 1] + 2 * m[x + 1] + d[x + 1]) - (u[x - 1] + 2 * m[x - 1] + d[x - 1]);
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
    std::vector<quint64> m_cache;
    const bool m_wide;
    quint32 m_blueMask = 0;
    quint32 m_greenMask = 0;
    quint32 m_redMask = 0;
    int m_greenShift = 0;
    int m_redShift = 0;
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
    ProgressReporter(int width, qint64 totalRows, const std::function<void(int)> &progress,
        const std::atomic<bool> *stop)
        : m_values(progressValues(width))
        , m_totalRows(std::max<qint64>(totalRows, 1))
        , m_progress(progress)
        , m_stop(stop)
    {
    }

    // Silent once stopped, so a caller that stops from its progress callback hears no more.
    void reach(qint64 doneRows)
    {
        const size_t due
            = size_t(qint64(m_values.size()) * std::min(doneRows, m_totalRows) / m_totalRows);
        for (; m_sent < due && !stopped(); ++m_sent) {
            if (m_progress)
                m_progress(m_values[m_sent]);
        }
    }

    bool stopped() const { return m_stop && m_stop->load(std::memory_order_relaxed); }

    void finish() { reach(m_totalRows); }

private:
    const std::vector<int> m_values;
    const qint64 m_totalRows;
    const std::function<void(int)> &m_progress;
    const std::atomic<bool> *const m_stop;
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
    double f[3];
    quickCurves({ x / 95.047, y / 100.0, z / 108.883 }, f);
    const double l = 116.0 * f[1] - 16.0;
    const double a = 500.0 * (f[0] - f[1]);
    const double bb = 200.0 * (f[1] - f[2]);
    if (!truncatesSafely(l) || !truncatesSafely(a) || !truncatesSafely(bb))
        return labFromXyz(x, y, z);
    LabColor lab;
    lab.l = qint16(int(l));
    lab.a = qint16(int(a));
    lab.b = qint16(int(bb));
    return lab;
}

QList<quint16> findEdges(const QImage &input, const std::function<void(int)> &progress, int threads,
    const std::atomic<bool> *stop)
{
    const int width = input.width();
    const int height = input.height();
    QList<quint16> edges(qsizetype(width) * height, 0);
    const qint64 rows = height > 2 && width > 2 ? height - 2 : 0;
    ProgressReporter reporter(width, rows, progress, stop);
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

    std::atomic<qint64> done { 0 };
    std::mutex mutex;
    std::condition_variable finished;
    const auto runBand = [&](int band, auto afterRow) {
        BandWorker worker(picture, kernel, converter, cacheBits);
        worker.run(bounds[band], bounds[band + 1], out, stop, afterRow);
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
    const auto ownRow
        = [&](int) { reporter.reach(done.fetch_add(1, std::memory_order_relaxed) + 1); };
    runBand(0, ownRow);
    for (int band : leftOver)
        runBand(band, ownRow);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (done.load() < rows && !reporter.stopped()) {
            finished.wait_for(lock, std::chrono::milliseconds(20));
            reporter.reach(done.load());
        }
    }
    for (std::thread &helper : helpers)
        helper.join();
    if (reporter.stopped())
        return {};
    reporter.finish();
    return edges;
}
