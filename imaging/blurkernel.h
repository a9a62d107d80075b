#pragma once

#include <QtGlobal>
#include <vector>

// One row at a time of the square-root Gaussian blur, so that callers can stream a picture
// through a few rows of scratch memory instead of a whole-picture buffer.
// Two row layouts: 32-bit pixels whose bytes 0, 1 and 2 are the colour channels (byte 3,
// alpha, is skipped), and planes of one byte per pixel, all of which are blurred. A plane
// gives a channel exactly what the 32-bit layout gives it, at a quarter of the work.
class BlurKernel
{
public:
    // wideVectors: use 32-byte vectors where the processor has them (same results).
    BlurKernel(int n, double sigma, bool wideVectors = true);

    int half() const { return m_half; }
    // True when the passes run on 32-byte vectors.
    bool wideVectors() const { return m_wide; }
    const std::vector<double> &weights() const { return m_weights; }

    // Colour bytes of columns [half, width - half) of out from the same row of in; the other
    // columns are left alone and out's alpha bytes are undefined afterwards. O(width * n).
    void horizontal(const uchar *in, uchar *out, int width) const;
    // Colour bytes of columns [half, width - half) of out from 2 * half + 1 rows of the
    // horizontal result, rows[0] being the row half above out's row. Alpha bytes and the
    // columns outside that range keep what out held. O(width * n).
    void vertical(const uchar *const *rows, uchar *out, int width) const;

    // The same two passes on rows of one byte per pixel.
    void horizontalPlane(const uchar *in, uchar *out, int width) const;
    void verticalPlane(const uchar *const *rows, uchar *out, int width) const;

    // True when the vertical pass runs on the integer multipliers below, which were checked
    // against the floating-point taps on every input they can meet.
    bool hasIntegerVertical() const { return m_integerVertical; }
    // True when the horizontal pass estimates in fixed point and recomputes in double
    // precision only the sums that lie too close to an integer to be sure.
    bool hasIntegerHorizontal() const { return m_integerHorizontal; }

private:
    template<int Step>
    void resolveNear(const uchar *in, uchar *out, int i, int nearLanes) const;
    void horizontalBytes(const uchar *in, uchar *out, int width, int step) const;
    uchar horizontalAt(const uchar *in, int i, int step) const;
    void horizontalExact(const uchar *in, uchar *out, int from, int to, int step) const;
    void verticalBytes(const uchar *const *rows, uchar *out, int width, int step) const;
    void verticalExact(const uchar *const *rows, uchar *out, int from, int to, int step) const;
    void verticalInteger(const uchar *const *rows, uchar *out, int from, int to, int step) const;
    void prepareIntegerHorizontal();
    bool proveIntegerVertical();

    int m_half = 0;
    bool m_wide = false;
    std::vector<double> m_weights;
    // trunc(s * w[k]) == (s * m_multiplier[k]) >> (16 + m_shift[k]) for every sum s a tap sees.
    std::vector<quint16> m_multiplier;
    std::vector<int> m_shift;
    bool m_integerVertical = false;
    // Weights times 2^23 split into 11 high and 12 low bits, paired for multiply-add:
    // (centre, first pair) and (second pair, third pair).
    qint16 m_fixedHigh[4] = {};
    qint16 m_fixedLow[4] = {};
    int m_fixedFull = 0; // the fixed-point sum of samples that are all 255
    int m_fixedMargin = 0; // fractions within this many 2^-23 of an integer are recomputed
    bool m_integerHorizontal = false;
    uchar m_flat[256] = {}; // horizontal result where all 2 * half + 1 samples are equal
};
