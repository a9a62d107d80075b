#include "blurkernel.h"

#include "blurvectors.h"
#include "gaussianblur.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

inline bool isColourByte(int i, int step)
{
    return step == 1 || (i & 3) != 3;
}

#ifdef __SSE2__
// What blurblocks.h needs of a fixed-point sum: weights times 2^23 in 11 high and 12 low
// bits, the margin of doubt, the sum of all-255 samples and its result.
struct HorizontalFixed {
    const qint16 *high;
    const qint16 *low;
    int margin;
    int full;
    uchar fullResult;
};
#endif

} // namespace

#ifdef __SSE2__
namespace sse2
{
#include "blurblocks.h"
} // namespace sse2
#endif

#ifdef VELMORA_WIDE_VECTORS
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2
{
#include "blurblocks.h"
} // namespace avx2
#pragma GCC pop_options
#endif

BlurKernel::BlurKernel(int n, double sigma, bool wideVectors)
    : m_half(n / 2)
    , m_weights(gaussianKernel(n, sigma))
{
#ifdef VELMORA_WIDE_VECTORS
    m_wide = wideVectors && processorHasAvx2();
#else
    Q_UNUSED(wideVectors);
#endif
    m_integerVertical = proveIntegerVertical();
    prepareIntegerHorizontal();
}

// The vertical pass truncates after every tap: v = trunc(v + s * w). With v a whole number
// that equals v + trunc(s * w) unless s * w lies within rounding distance below an integer,
// and trunc(s * w) is a multiply-high and shift when some 16-bit multiplier reproduces it for
// every s. Both conditions are checked here on every sum a tap can see (0..510, the centre
// tap 0..255), so the integer pass is exact whenever it is used.
bool BlurKernel::proveIntegerVertical()
{
    const int taps = m_half + 1;
    if (int(m_weights.size()) < taps)
        return false;
    m_multiplier.assign(taps, 0);
    m_shift.assign(taps, 0);
    for (int k = 0; k < taps; ++k) {
        const double w = m_weights[k];
        if (!(w >= 0.0 && w < 1.0))
            return false;
        const int largest = k == m_half ? 255 : 510;
        std::vector<qint64> wanted(largest + 1);
        for (int s = 0; s <= largest; ++s) {
            const double x = s * w;
            wanted[s] = qint64(x);
            if (k != m_half && x - std::floor(x) >= 1.0 - std::ldexp(1.0, -40))
                return false;
        }
        bool found = false;
        for (int shift = 15; shift >= 0 && !found; --shift) {
            const int bits = 16 + shift;
            qint64 low = 0;
            qint64 high = 0xFFFF;
            for (int s = 1; s <= largest; ++s) {
                low = std::max(low, ((wanted[s] << bits) + s - 1) / s);
                high = std::min(high, (((wanted[s] + 1) << bits) - 1) / s);
            }
            if (low > high)
                continue;
            found = true;
            for (int s = 0; s <= largest && found; ++s)
                found = ((s * low) >> bits) == wanted[s];
            m_multiplier[k] = quint16(low);
            m_shift[k] = shift;
        }
        if (!found)
            return false;
    }
    return true;
}

// The horizontal sum of a channel is one truncation of a double-precision sum of four
// products. In fixed point with 23 fractional bits the same sum is off by at most
// m_fixedMargin units (weight rounding, plus far less than one unit for the rounding of the
// doubles), so wherever the fixed-point fraction keeps that distance from an integer both
// truncate to the same value; the few sums closer than that are recomputed in doubles.
void BlurKernel::prepareIntegerHorizontal()
{
    const int h = m_half;
    if ((h != 2 && h != 3) || int(m_weights.size()) <= h)
        return;
    constexpr int kFraction = 23;
    double bound = 0;
    qint64 largest = 0;
    for (int k = 0; k < 4; ++k) {
        const double w = k <= h ? m_weights[h - k] : 0.0;
        if (!(w >= 0.0 && w < 1.0))
            return;
        const double scaled = std::ldexp(w, kFraction);
        const qint64 fixed = std::llround(scaled);
        if (k <= h && fixed < 1)
            return; // every sample must count for the all-0 and all-255 shortcuts
        const int inputs = k == 0 ? 255 : 510;
        bound += inputs * std::abs(double(fixed) - scaled);
        largest += inputs * fixed;
        m_fixedHigh[k] = qint16(fixed >> 12);
        m_fixedLow[k] = qint16(fixed & 0xFFF);
    }
    if (largest >= (qint64(1) << 31) - 4096)
        return;
    m_fixedMargin = int(std::ceil(bound)) + 2;
    m_fixedFull = int(largest);
    // Flat stretches are where sums land next to integers (v * sum of weights is v give or
    // take an ulp), and they are common; their exact results only depend on v.
    const double *w = m_weights.data();
    for (int v = 0; v < 256; ++v) {
        double acc = v * w[h];
        for (int d = 1; d <= h; ++d)
            acc += (v + v) * w[h - d];
        m_flat[v] = uchar(int(acc));
    }
    m_integerHorizontal = true;
}

#ifdef __SSE2__
// Uniform stretches (blown highlights, flat graphics, the inside of a mask) put every sum
// next to an integer, but there the result only depends on the value.
template <int Step>
void BlurKernel::resolveNear(const uchar *in, uchar *out, int i, int nearLanes) const
{
    const int h = m_half;
    const uchar *first = in + i - Step * h;
    const int span = 16 + 2 * Step * h;
    bool uniform = true;
    for (int k = Step; k < span && uniform; k += Step)
        uniform = first[k] == first[0]
            && (Step == 1 || (first[k + 1] == first[1] && first[k + 2] == first[2]));
    if (uniform) {
        for (int k = 0; k < 16; k += Step) {
            for (int c = 0; c < std::min(Step, 3); ++c)
                out[i + k + c] = m_flat[first[c]];
        }
        return;
    }
    for (int j = 0; j < 16; ++j) {
        if (nearLanes & (1 << j))
            out[i + j] = horizontalAt(in, i + j, Step);
    }
}
#endif

void BlurKernel::horizontal(const uchar *in, uchar *out, int width) const
{
    horizontalBytes(in, out, width, 4);
}

void BlurKernel::horizontalPlane(const uchar *in, uchar *out, int width) const
{
    horizontalBytes(in, out, width, 1);
}

void BlurKernel::horizontalBytes(const uchar *in, uchar *out, int width, int step) const
{
    const int h = m_half;
    if (width <= 2 * h)
        return;
    const int end = step * (width - h);
    int i = step * h;
#ifdef __SSE2__
    if (m_integerHorizontal) {
        const HorizontalFixed fixed { m_fixedHigh, m_fixedLow, m_fixedMargin, m_fixedFull,
            m_flat[255] };
        const auto resolve = [&](int at, int lanes) {
            if (step == 4)
                resolveNear<4>(in, out, at, lanes);
            else
                resolveNear<1>(in, out, at, lanes);
        };
        const auto blocks = [&](auto loop3x4, auto loop2x4, auto loop3x1, auto loop2x1) {
            if (step == 4)
                i = h == 3 ? loop3x4(fixed, in, out, i, end, resolve)
                           : loop2x4(fixed, in, out, i, end, resolve);
            else
                i = h == 3 ? loop3x1(fixed, in, out, i, end, resolve)
                           : loop2x1(fixed, in, out, i, end, resolve);
        };
#ifdef VELMORA_WIDE_VECTORS
        if (m_wide)
            blocks(avx2::horizontalBlocks<3, 4, decltype(resolve)>,
                avx2::horizontalBlocks<2, 4, decltype(resolve)>,
                avx2::horizontalBlocks<3, 1, decltype(resolve)>,
                avx2::horizontalBlocks<2, 1, decltype(resolve)>);
#endif
        blocks(sse2::horizontalBlocks<3, 4, decltype(resolve)>,
            sse2::horizontalBlocks<2, 4, decltype(resolve)>,
            sse2::horizontalBlocks<3, 1, decltype(resolve)>,
            sse2::horizontalBlocks<2, 1, decltype(resolve)>);
    }
#endif
    horizontalExact(in, out, i, end, step);
}

uchar BlurKernel::horizontalAt(const uchar *in, int i, int step) const
{
    const int h = m_half;
    const int centre = in[i];
    bool flat = true;
    for (int d = 1; d <= h && flat; ++d)
        flat = in[i - step * d] + in[i + step * d] == 2 * centre;
    if (flat)
        return m_flat[centre];
    const double *w = m_weights.data();
    double acc = centre * w[h];
    for (int d = 1; d <= h; ++d)
        acc += (in[i - step * d] + in[i + step * d]) * w[h - d];
    return uchar(int(acc));
}

void BlurKernel::horizontalExact(const uchar *in, uchar *out, int from, int to, int step) const
{
    const int h = m_half;
    const double *w = m_weights.data();
    for (int i = from; i < to; ++i) {
        if (!isColourByte(i, step))
            continue;
        double acc = in[i] * w[h];
        for (int d = 1; d <= h; ++d)
            acc += (in[i - step * d] + in[i + step * d]) * w[h - d];
        out[i] = uchar(int(acc));
    }
}

void BlurKernel::vertical(const uchar *const *rows, uchar *out, int width) const
{
    verticalBytes(rows, out, width, 4);
}

void BlurKernel::verticalPlane(const uchar *const *rows, uchar *out, int width) const
{
    verticalBytes(rows, out, width, 1);
}

void BlurKernel::verticalBytes(const uchar *const *rows, uchar *out, int width, int step) const
{
    if (width <= 2 * m_half)
        return;
    if (m_integerVertical)
        verticalInteger(rows, out, step * m_half, step * (width - m_half), step);
    else
        verticalExact(rows, out, step * m_half, step * (width - m_half), step);
}

void BlurKernel::verticalExact(
    const uchar *const *rows, uchar *out, int from, int to, int step) const
{
    const int h = m_half;
    const double *w = m_weights.data();
    for (int i = from; i < to; ++i) {
        if (!isColourByte(i, step))
            continue;
        uchar v = uchar(int(rows[h][i] * w[h]));
        for (int d = 1; d <= h; ++d)
            v = uchar(int(v + (rows[h - d][i] + rows[h + d][i]) * w[h - d]));
        out[i] = v;
    }
}

void BlurKernel::verticalInteger(
    const uchar *const *rows, uchar *out, int from, int to, int step) const
{
    const int h = m_half;
    const quint16 *m = m_multiplier.data();
    const int *shift = m_shift.data();
    int i = from;
#ifdef VELMORA_WIDE_VECTORS
    if (m_wide && h == 3)
        i = avx2::verticalBlocks<3>(rows, out, i, to, m, shift, step == 4);
    else if (m_wide && h == 2)
        i = avx2::verticalBlocks<2>(rows, out, i, to, m, shift, step == 4);
#endif
#ifdef __SSE2__
    if (h == 3)
        i = sse2::verticalBlocks<3>(rows, out, i, to, m, shift, step == 4);
    else if (h == 2)
        i = sse2::verticalBlocks<2>(rows, out, i, to, m, shift, step == 4);
#endif
    for (; i < to; ++i) {
        if (!isColourByte(i, step))
            continue;
        unsigned v = (rows[h][i] * unsigned(m[h])) >> (16 + shift[h]);
        for (int d = 1; d <= h; ++d)
            v += ((rows[h - d][i] + rows[h + d][i]) * unsigned(m[h - d])) >> (16 + shift[h - d]);
        out[i] = uchar(v);
    }
}
