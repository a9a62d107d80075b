// The vector loop of the edge analysis's gradient, written once over a register type V and
// included by edgeanalysis.cpp once per instruction set (inside a namespace where V is
// blurvectors.h's struct). Not a header to include elsewhere.

inline typename V::R loadWords(const qint16 *p)
{
    return V::load(reinterpret_cast<const uchar *>(p));
}

// Clamped Sobel magnitude of one plane for the pixels of a step, added to total (low and
// high halves of the 16-bit lanes, as 32-bit sums).
inline void addPlaneMagnitudes(const qint16 *u, const qint16 *m, const qint16 *d,
    typename V::F limit, typename V::R (&total)[2])
{
    using R = typename V::R;
    const R left
        = V::add16(V::add16(loadWords(u - 1), loadWords(d - 1)), V::twice16(loadWords(m - 1)));
    const R right
        = V::add16(V::add16(loadWords(u + 1), loadWords(d + 1)), V::twice16(loadWords(m + 1)));
    const R top = V::add16(V::add16(loadWords(u - 1), loadWords(u + 1)), V::twice16(loadWords(u)));
    const R bottom
        = V::add16(V::add16(loadWords(d - 1), loadWords(d + 1)), V::twice16(loadWords(d)));
    const R gx = V::sub16(right, left);
    const R gy = V::sub16(bottom, top);
    const R low = V::unpackLo16(gx, gy);
    const R high = V::unpackHi16(gx, gy);
    // Squares up to 255^2 are exact in a float, and there the float square root truncates to
    // the integer root: sqrt(n) stays more than 1/512 below the next integer.
    total[0] = V::add32(
        total[0], V::truncate(V::sqrtFloat(V::minFloat(V::toFloat(V::madd(low, low)), limit))));
    total[1] = V::add32(
        total[1], V::truncate(V::sqrtFloat(V::minFloat(V::toFloat(V::madd(high, high)), limit))));
}

// Edge strengths of pixels [x, w - 1) of a row from the three planes (L*, a*, b* one after
// another, w values each) of the rows above, at and below it. Returns the first pixel left.
inline int gradientBlocks(
    const qint16 *above, const qint16 *middle, const qint16 *below, int w, quint16 *out, int x)
{
    using R = typename V::R;
    constexpr int kPixels = V::kBytes / 2;
    const typename V::F limit = V::setFloat(255.0f * 255.0f);
    for (; x + kPixels <= w - 1; x += kPixels) {
        R total[2] = { V::zero(), V::zero() };
        addPlaneMagnitudes(above + x, middle + x, below + x, limit, total);
        addPlaneMagnitudes(above + w + x, middle + w + x, below + w + x, limit, total);
        addPlaneMagnitudes(above + 2 * w + x, middle + 2 * w + x, below + 2 * w + x, limit, total);
        V::store(reinterpret_cast<uchar *>(out + x), V::pack32(total[0], total[1]));
    }
    return x;
}
