// The vector loops of BlurKernel, written once over a register type V and included by
// blurkernel.cpp once per instruction set (inside a namespace that defines V), so that the
// 16-byte and 32-byte versions cannot drift apart. Not a header to include elsewhere.
// V::kBytes bytes per step; every operation works within 128-bit halves, so the bytes of a
// step come out in the order they went in.

// The 23-bit fixed-point sums of four lanes from their (centre, first pair) and (second
// pair, third pair) words, and where they lie too close to an integer to truncate safely.
inline typename V::R fixedSum(typename V::R inner, typename V::R outer, typename V::R high01,
    typename V::R high23, typename V::R low01, typename V::R low23)
{
    const typename V::R high = V::add32(V::madd(inner, high01), V::madd(outer, high23));
    const typename V::R low = V::add32(V::madd(inner, low01), V::madd(outer, low23));
    return V::add32(V::template shiftLeft32<12>(high), low);
}

inline typename V::R nearInteger(
    typename V::R sum, typename V::R margin, typename V::R fraction, typename V::R window)
{
    return V::less32(V::bitAnd(V::add32(sum, margin), fraction), window);
}

// Sums of the samples d pixels left and right, low and high halves widened to 16 bits.
template <int Step, int D> inline typename V::R pairLo(const uchar *at)
{
    return V::add16(V::unpackLo8(V::load(at - Step * D), V::zero()),
        V::unpackLo8(V::load(at + Step * D), V::zero()));
}

template <int Step, int D> inline typename V::R pairHi(const uchar *at)
{
    return V::add16(V::unpackHi8(V::load(at - Step * D), V::zero()),
        V::unpackHi8(V::load(at + Step * D), V::zero()));
}

// Fixed-point horizontal pass over [i, end); lanes whose sum lies too close to an integer
// are handed to resolve(first byte, lane bits) sixteen bytes at a time.
// Returns the first byte left for the caller.
template <int H, int Step, typename Resolve>
int horizontalBlocks(
    const HorizontalFixed &f, const uchar *in, uchar *out, int i, int end, Resolve resolve)
{
    using R = typename V::R;
    const R high01 = V::pair(f.high[0], f.high[1]);
    const R high23 = V::pair(f.high[2], f.high[3]);
    const R low01 = V::pair(f.low[0], f.low[1]);
    const R low23 = V::pair(f.low[2], f.low[3]);
    const R fraction = V::set32((1 << 23) - 1);
    const R margin = V::set32(f.margin);
    const R window = V::set32(2 * f.margin);
    const R fullSum = V::set32(f.full);
    const R fullResult = V::set8(char(f.fullResult));
    const R zero = V::zero();
    const quint32 colourLanes = Step == 4 ? quint32(0x77777777u) : ~0u;
    for (; i + V::kBytes <= end; i += V::kBytes) {
        const R centre = V::load(in + i);
        const R lo[4] = { V::unpackLo8(centre, zero), pairLo<Step, 1>(in + i),
            pairLo<Step, 2>(in + i), H == 3 ? pairLo<Step, 3>(in + i) : zero };
        const R hi[4] = { V::unpackHi8(centre, zero), pairHi<Step, 1>(in + i),
            pairHi<Step, 2>(in + i), H == 3 ? pairHi<Step, 3>(in + i) : zero };
        // (centre, first pair) and (second pair, third pair) of each group of lanes.
        const R inner[4] = { V::unpackLo16(lo[0], lo[1]), V::unpackHi16(lo[0], lo[1]),
            V::unpackLo16(hi[0], hi[1]), V::unpackHi16(hi[0], hi[1]) };
        const R outer[4] = { V::unpackLo16(lo[2], lo[3]), V::unpackHi16(lo[2], lo[3]),
            V::unpackLo16(hi[2], hi[3]), V::unpackHi16(hi[2], hi[3]) };
        const R sum[4] = { fixedSum(inner[0], outer[0], high01, high23, low01, low23),
            fixedSum(inner[1], outer[1], high01, high23, low01, low23),
            fixedSum(inner[2], outer[2], high01, high23, low01, low23),
            fixedSum(inner[3], outer[3], high01, high23, low01, low23) };
        const R whole[4]
            = { V::template shiftRight32<23>(sum[0]), V::template shiftRight32<23>(sum[1]),
                  V::template shiftRight32<23>(sum[2]), V::template shiftRight32<23>(sum[3]) };
        const R near[4] = { nearInteger(sum[0], margin, fraction, window),
            nearInteger(sum[1], margin, fraction, window),
            nearInteger(sum[2], margin, fraction, window),
            nearInteger(sum[3], margin, fraction, window) };
        V::store(out + i,
            V::packUnsigned16(V::pack32(whole[0], whole[1]), V::pack32(whole[2], whole[3])));
        quint32 nearLanes
            = V::mask(V::pack16(V::pack32(near[0], near[1]), V::pack32(near[2], near[3])))
            & colourLanes;
        if (!nearLanes)
            continue;
        // All samples 0 give a fixed-point sum of exactly 0, all 255 exactly fullSum and no
        // other samples do: both results are known (clipped shadows and highlights, the two
        // values of a mask).
        const R fullBytes
            = V::pack16(V::pack32(V::equal32(sum[0], fullSum), V::equal32(sum[1], fullSum)),
                V::pack32(V::equal32(sum[2], fullSum), V::equal32(sum[3], fullSum)));
        const R emptyBytes
            = V::pack16(V::pack32(V::equal32(sum[0], zero), V::equal32(sum[1], zero)),
                V::pack32(V::equal32(sum[2], zero), V::equal32(sum[3], zero)));
        V::store(out + i,
            V::bitOr(V::bitAndNot(fullBytes, V::load(out + i)), V::bitAnd(fullBytes, fullResult)));
        nearLanes &= ~V::mask(V::bitOr(fullBytes, emptyBytes));
        for (int part = 0; part < V::kBytes; part += 16) {
            if ((nearLanes >> part) & 0xFFFF)
                resolve(i + part, int((nearLanes >> part) & 0xFFFF));
        }
    }
    return i;
}

// Integer vertical pass over [i, to): trunc(s * w) as a multiply-high and shift per tap.
// keepAlpha leaves every fourth byte of out as it was. Returns the first byte left.
template <int H>
int verticalBlocks(const uchar *const *rows, uchar *out, int i, int to, const quint16 *m,
    const int *shift, bool keepAlpha)
{
    using R = typename V::R;
    R multiplier[H + 1];
    __m128i count[H + 1];
    for (int k = 0; k <= H; ++k) {
        multiplier[k] = V::set16(short(m[k]));
        count[k] = _mm_cvtsi32_si128(shift[k]);
    }
    const R zero = V::zero();
    const R lowByte = V::set16(0xFF);
    const R written = keepAlpha ? V::set32(0x00FFFFFF) : V::set8(-1);
    for (; i + V::kBytes <= to; i += V::kBytes) {
        const R centre = V::load(rows[H] + i);
        R lo = V::shiftRight16(V::mulHigh16(V::unpackLo8(centre, zero), multiplier[H]), count[H]);
        R hi = V::shiftRight16(V::mulHigh16(V::unpackHi8(centre, zero), multiplier[H]), count[H]);
        for (int d = 1; d <= H; ++d) {
            const R above = V::load(rows[H - d] + i);
            const R below = V::load(rows[H + d] + i);
            const R sumLo = V::add16(V::unpackLo8(above, zero), V::unpackLo8(below, zero));
            const R sumHi = V::add16(V::unpackHi8(above, zero), V::unpackHi8(below, zero));
            lo = V::add16(
                lo, V::shiftRight16(V::mulHigh16(sumLo, multiplier[H - d]), count[H - d]));
            hi = V::add16(
                hi, V::shiftRight16(V::mulHigh16(sumHi, multiplier[H - d]), count[H - d]));
        }
        const R bytes = V::packUnsigned16(V::bitAnd(lo, lowByte), V::bitAnd(hi, lowByte));
        V::store(
            out + i, V::bitOr(V::bitAnd(bytes, written), V::bitAndNot(written, V::load(out + i))));
    }
    return i;
}
