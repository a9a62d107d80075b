#include "blurkernel.h"

#include "gaussianblur.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

#ifdef __SSE2__
// Bytes 0..2 of every pixel: the colour channels the passes may write.
const __m128i kColourBytes = _mm_set1_epi32(0x00FFFFFF);

inline __m128i load8(const uchar *p)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                             _mm_setzero_si128());
}

// Writes the colour bytes of eight 16-bit results (low 8 bits each) over out, keeping alpha.
inline void storeColour8(uchar *out, __m128i values)
{
    const __m128i bytes = _mm_packus_epi16(_mm_and_si128(values, _mm_set1_epi16(0xFF)),
                                           _mm_setzero_si128());
    const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(out));
    const __m128i merged = _mm_or_si128(_mm_and_si128(bytes, kColourBytes),
                                        _mm_andnot_si128(kColourBytes, old));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), merged);
}

struct Doubles8 {
    __m128d d[4];
};

inline Doubles8 toDoubles(__m128i u16)
{
    const __m128i lo = _mm_unpacklo_epi16(u16, _mm_setzero_si128());
    const __m128i hi = _mm_unpackhi_epi16(u16, _mm_setzero_si128());
    return {{_mm_cvtepi32_pd(lo), _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0xEE)),
             _mm_cvtepi32_pd(hi), _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0xEE))}};
}
#endif

#ifdef __SSE2__
// Sixteen bytes per step for the two kernel sizes the program uses, taps unrolled and the
// multipliers held in registers. Returns the first byte left for the caller.
template<int H>
int verticalIntegerBlocks(const uchar *const *rows, uchar *out, int i, int to, const quint16 *m,
                          const int *shift)
{
    __m128i multiplier[H + 1];
    __m128i count[H + 1];
    for (int k = 0; k <= H; ++k) {
        multiplier[k] = _mm_set1_epi16(short(m[k]));
        count[k] = _mm_cvtsi32_si128(shift[k]);
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    const auto load16 = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    for (; i + 16 <= to; i += 16) {
        const __m128i centre = load16(rows[H] + i);
        __m128i lo = _mm_srl_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(centre, zero), multiplier[H]), count[H]);
        __m128i hi = _mm_srl_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(centre, zero), multiplier[H]), count[H]);
        for (int d = 1; d <= H; ++d) {
            const __m128i above = load16(rows[H - d] + i);
            const __m128i below = load16(rows[H + d] + i);
            const __m128i sumLo = _mm_add_epi16(_mm_unpacklo_epi8(above, zero), _mm_unpacklo_epi8(below, zero));
            const __m128i sumHi = _mm_add_epi16(_mm_unpackhi_epi8(above, zero), _mm_unpackhi_epi8(below, zero));
            lo = _mm_add_epi16(lo, _mm_srl_epi16(_mm_mulhi_epu16(sumLo, multiplier[H - d]), count[H - d]));
            hi = _mm_add_epi16(hi, _mm_srl_epi16(_mm_mulhi_epu16(sumHi, multiplier[H - d]), count[H - d]));
        }
        const __m128i bytes = _mm_packus_epi16(_mm_and_si128(lo, lowByte), _mm_and_si128(hi, lowByte));
        const __m128i old = load16(out + i);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         _mm_or_si128(_mm_and_si128(bytes, kColourBytes), _mm_andnot_si128(kColourBytes, old)));
    }
    return i;
}
#endif

inline bool isColourByte(int i)
{
    return (i & 3) != 3;
}

} // namespace

BlurKernel::BlurKernel(int n, double sigma)
    : m_half(n / 2)
    , m_weights(gaussianKernel(n, sigma))
{
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
        const int inputs = k == 0 ? 255 : 510;
        bound += inputs * std::abs(double(fixed) - scaled);
        largest += inputs * fixed;
        m_fixedHigh[k] = qint16(fixed >> 12);
        m_fixedLow[k] = qint16(fixed & 0xFFF);
    }
    if (largest >= (qint64(1) << 31) - 4096)
        return;
    m_fixedMargin = int(std::ceil(bound)) + 2;
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
template<int H>
int BlurKernel::horizontalIntegerBlocks(const uchar *in, uchar *out, int i, int end) const
{
    const auto pairOf = [](const qint16 *w, int first) {
        return _mm_set1_epi32(int(quint32(quint16(w[first])) | quint32(quint16(w[first + 1])) << 16));
    };
    const __m128i high01 = pairOf(m_fixedHigh, 0);
    const __m128i high23 = pairOf(m_fixedHigh, 2);
    const __m128i low01 = pairOf(m_fixedLow, 0);
    const __m128i low23 = pairOf(m_fixedLow, 2);
    const __m128i fraction = _mm_set1_epi32((1 << 23) - 1);
    const __m128i margin = _mm_set1_epi32(m_fixedMargin);
    const __m128i window = _mm_set1_epi32(2 * m_fixedMargin);
    // 16-bit lanes 3 and 7 are alpha, whose sums are never stored.
    const __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i zero = _mm_setzero_si128();
    const auto fixedSum = [&](__m128i centreAndFirst, __m128i secondAndThird) {
        const __m128i high = _mm_add_epi32(_mm_madd_epi16(centreAndFirst, high01),
                                           _mm_madd_epi16(secondAndThird, high23));
        const __m128i low = _mm_add_epi32(_mm_madd_epi16(centreAndFirst, low01),
                                          _mm_madd_epi16(secondAndThird, low23));
        return _mm_add_epi32(_mm_slli_epi32(high, 12), low);
    };
    for (; i + 8 <= end; i += 8) {
        const auto pairAt = [&](int d) {
            return d <= H ? _mm_add_epi16(load8(in + i - 4 * d), load8(in + i + 4 * d)) : zero;
        };
        const __m128i pair[4] = {load8(in + i), pairAt(1), pairAt(2), pairAt(3)};
        const __m128i lo = fixedSum(_mm_unpacklo_epi16(pair[0], pair[1]), _mm_unpacklo_epi16(pair[2], pair[3]));
        const __m128i hi = fixedSum(_mm_unpackhi_epi16(pair[0], pair[1]), _mm_unpackhi_epi16(pair[2], pair[3]));
        const __m128i nearLo = _mm_cmplt_epi32(_mm_and_si128(_mm_add_epi32(lo, margin), fraction), window);
        const __m128i nearHi = _mm_cmplt_epi32(_mm_and_si128(_mm_add_epi32(hi, margin), fraction), window);
        storeColour8(out + i, _mm_packs_epi32(_mm_srli_epi32(lo, 23), _mm_srli_epi32(hi, 23)));
        const int near = _mm_movemask_epi8(_mm_and_si128(_mm_packs_epi32(nearLo, nearHi), colourLanes));
        if (near) {
            const __m128i twice = _mm_add_epi16(pair[0], pair[0]);
            __m128i flat = _mm_set1_epi16(-1);
            for (int d = 1; d <= H; ++d)
                flat = _mm_and_si128(flat, _mm_cmpeq_epi16(pair[d], twice));
            const int flatLanes = _mm_movemask_epi8(flat);
            for (int j = 0; j < 8; ++j) {
                const int bit = 1 << (2 * j);
                if (near & bit)
                    out[i + j] = flatLanes & bit ? m_flat[in[i + j]] : horizontalAt(in, i + j);
            }
        }
    }
    return i;
}
#endif

void BlurKernel::horizontal(const uchar *in, uchar *out, int width) const
{
    const int h = m_half;
    if (width <= 2 * h)
        return;
    const int end = 4 * (width - h);
    int i = 4 * h;
#ifdef __SSE2__
    if (m_integerHorizontal && h == 3)
        i = horizontalIntegerBlocks<3>(in, out, i, end);
    else if (m_integerHorizontal && h == 2)
        i = horizontalIntegerBlocks<2>(in, out, i, end);
#endif
    horizontalExact(in, out, i, end);
}

uchar BlurKernel::horizontalAt(const uchar *in, int i) const
{
    const int h = m_half;
    const int centre = in[i];
    bool flat = true;
    for (int d = 1; d <= h && flat; ++d)
        flat = in[i - 4 * d] + in[i + 4 * d] == 2 * centre;
    if (flat)
        return m_flat[centre];
    const double *w = m_weights.data();
    double acc = centre * w[h];
    for (int d = 1; d <= h; ++d)
        acc += (in[i - 4 * d] + in[i + 4 * d]) * w[h - d];
    return uchar(int(acc));
}

void BlurKernel::horizontalExact(const uchar *in, uchar *out, int from, int to) const
{
    const int h = m_half;
    const double *w = m_weights.data();
    int i = from;
#ifdef __SSE2__
    // Eight bytes (two pixels) per step, alpha computed and then discarded; the same double
    // products and sums as the scalar loop, in the same order, so the same truncations.
    for (; i + 8 <= to; i += 8) {
        Doubles8 acc = toDoubles(load8(in + i));
        const __m128d centre = _mm_set1_pd(w[h]);
        for (__m128d &a : acc.d)
            a = _mm_mul_pd(a, centre);
        for (int d = 1; d <= h; ++d) {
            const Doubles8 pair = toDoubles(_mm_add_epi16(load8(in + i - 4 * d), load8(in + i + 4 * d)));
            const __m128d weight = _mm_set1_pd(w[h - d]);
            for (int q = 0; q < 4; ++q)
                acc.d[q] = _mm_add_pd(acc.d[q], _mm_mul_pd(pair.d[q], weight));
        }
        const __m128i lo = _mm_unpacklo_epi64(_mm_cvttpd_epi32(acc.d[0]), _mm_cvttpd_epi32(acc.d[1]));
        const __m128i hi = _mm_unpacklo_epi64(_mm_cvttpd_epi32(acc.d[2]), _mm_cvttpd_epi32(acc.d[3]));
        storeColour8(out + i, _mm_packs_epi32(lo, hi));
    }
#endif
    for (; i < to; ++i) {
        if (!isColourByte(i))
            continue;
        double acc = in[i] * w[h];
        for (int d = 1; d <= h; ++d)
            acc += (in[i - 4 * d] + in[i + 4 * d]) * w[h - d];
        out[i] = uchar(int(acc));
    }

}

void BlurKernel::vertical(const uchar *const *rows, uchar *out, int width) const
{
    if (width <= 2 * m_half)
        return;
    if (m_integerVertical)
        verticalInteger(rows, out, 4 * m_half, 4 * (width - m_half));
    else
        verticalExact(rows, out, 4 * m_half, 4 * (width - m_half));
}

void BlurKernel::verticalExact(const uchar *const *rows, uchar *out, int from, int to) const
{
    const int h = m_half;
    const double *w = m_weights.data();
    for (int i = from; i < to; ++i) {
        if (!isColourByte(i))
            continue;
        uchar v = uchar(int(rows[h][i] * w[h]));
        for (int d = 1; d <= h; ++d)
            v = uchar(int(v + (rows[h - d][i] + rows[h + d][i]) * w[h - d]));
        out[i] = v;
    }
}

void BlurKernel::verticalInteger(const uchar *const *rows, uchar *out, int from, int to) const
{
    const int h = m_half;
    const quint16 *m = m_multiplier.data();
    const int *shift = m_shift.data();
    int i = from;
#ifdef __SSE2__
    if (h == 3)
        i = verticalIntegerBlocks<3>(rows, out, i, to, m, shift);
    else if (h == 2)
        i = verticalIntegerBlocks<2>(rows, out, i, to, m, shift);
    for (; i + 8 <= to; i += 8) {
        __m128i acc = _mm_srl_epi16(_mm_mulhi_epu16(load8(rows[h] + i), _mm_set1_epi16(short(m[h]))),
                                    _mm_cvtsi32_si128(shift[h]));
        for (int d = 1; d <= h; ++d) {
            const __m128i sum = _mm_add_epi16(load8(rows[h - d] + i), load8(rows[h + d] + i));
            acc = _mm_add_epi16(acc, _mm_srl_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(short(m[h - d]))),
                                                   _mm_cvtsi32_si128(shift[h - d])));
        }
        storeColour8(out + i, acc);
    }
#endif
    for (; i < to; ++i) {
        if (!isColourByte(i))
            continue;
        unsigned v = (rows[h][i] * unsigned(m[h])) >> (16 + shift[h]);
        for (int d = 1; d <= h; ++d)
            v += ((rows[h - d][i] + rows[h + d][i]) * unsigned(m[h - d])) >> (16 + shift[h - d]);
        out[i] = uchar(v);
    }
}
