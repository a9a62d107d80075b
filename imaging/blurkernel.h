#pragma once

#include <QtGlobal>
#include <vector>

// One row at a time of the square-root Gaussian blur, so that callers can stream a picture
// through a few rows of scratch memory instead of a whole-picture buffer.
// Rows are 32-bit pixels whose bytes 0, 1 and 2 are the colour channels; byte 3 (alpha) is
// never written by either pass.
class BlurKernel
{
public:
    BlurKernel(int n, double sigma);

    int half() const { return m_half; }
    const std::vector<double> &weights() const { return m_weights; }

    // Colour bytes of columns [half, width - half) of out from the same row of in.
    // Other columns of out and every alpha byte are left alone. O(width * n).
    void horizontal(const uchar *in, uchar *out, int width) const;

    // Colour bytes of columns [half, width - half) of out from 2 * half + 1 rows of the
    // horizontal result, rows[0] being the row half above out's row. Alpha bytes and the
    // columns outside that range keep what out held. O(width * n).
    void vertical(const uchar *const *rows, uchar *out, int width) const;

    // True when the vertical pass runs on the integer multipliers below, which were checked
    // against the floating-point taps on every input they can meet.
    bool hasIntegerVertical() const { return m_integerVertical; }
    // True when the horizontal pass estimates in fixed point and recomputes in double
    // precision only the pixels whose sum lies too close to an integer to be sure.
    bool hasIntegerHorizontal() const { return m_integerHorizontal; }

private:
    template<int H>
    int horizontalIntegerBlocks(const uchar *in, uchar *out, int i, int end) const;
    uchar horizontalAt(const uchar *in, int i) const;
    void horizontalExact(const uchar *in, uchar *out, int from, int to) const;
    void prepareIntegerHorizontal();
    void verticalExact(const uchar *const *rows, uchar *out, int from, int to) const;
    void verticalInteger(const uchar *const *rows, uchar *out, int from, int to) const;
    bool proveIntegerVertical();

    int m_half = 0;
    std::vector<double> m_weights;
    // trunc(s * w[k]) == (s * m_multiplier[k]) >> (16 + m_shift[k]) for every sum s a tap sees.
    std::vector<quint16> m_multiplier;
    std::vector<int> m_shift;
    bool m_integerVertical = false;
    // Weights times 2^23 split into 11 high and 12 low bits, paired for multiply-add:
    // (centre, first pair) and (second pair, third pair).
    qint16 m_fixedHigh[4] = {};
    qint16 m_fixedLow[4] = {};
    int m_fixedMargin = 0; // fractions within this many 2^-23 of an integer are recomputed
    bool m_integerHorizontal = false;
    uchar m_flat[256] = {}; // horizontal result where all 2 * half + 1 samples are equal
};
