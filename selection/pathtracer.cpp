#include "pathtracer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

constexpr quint32 kUnreached = std::numeric_limits<quint32>::max();
// m_step values: 0..7 the step that reached a pixel, kNoStep for none (the anchor and the
// unreached), plus kSettled once its cost is final.
constexpr quint8 kNoStep = 8;
constexpr quint8 kSettled = 16;
constexpr quint8 kStepMask = 15;

constexpr int kStepX[8] = { -1, 0, 1, -1, 1, -1, 0, 1 };
constexpr int kStepY[8] = { -1, -1, -1, 0, 0, 1, 1, 1 };
constexpr bool kDiagonal[8] = { true, false, true, false, false, true, false, true };

// A straight step onto flat ground costs kFlatCost, onto an edge of strength s a share
// kEdgeScale / (kEdgeScale + s) of it, never below kEdgeCost. The strengths of real object
// boundaries sit mostly between 60 and 300 while texture stays below about 40, so the cost
// falls steeply over that range rather than linearly over 0..765, where a boundary would
// hardly be cheaper than the texture beside it.
constexpr int kFlatCost = 240;
constexpr int kEdgeCost = 2;
constexpr double kEdgeScale = 24.0;

// Bands point in one of kAngles directions and reach kShortestBand * kBandGrowth^level
// pixels ahead.
constexpr int kAngles = 64;
constexpr double kPi = 3.14159265358979323846;
constexpr double kShortestBand = 64.0;
constexpr double kBandGrowth = 1.5;

constexpr int kMaxStrength = 765;
constexpr int kFrameStrength = 200;

int straightCost(int strength)
{
    const double share = kEdgeScale / (kEdgeScale + strength);
    return std::max(kEdgeCost, int(std::lround(kFlatCost * share)));
}

// Tables of both step costs for every strength, built once.
struct CostTables {
    int straight[kMaxStrength + 1];
    int diagonal[kMaxStrength + 1];
    int maxStep = 0;
    CostTables()
    {
        for (int s = 0; s <= kMaxStrength; ++s) {
            straight[s] = straightCost(s);
            diagonal[s] = int(std::lround(straight[s] * std::sqrt(2.0)));
            maxStep = std::max(maxStep, diagonal[s]);
        }
    }
};

const CostTables &costTables()
{
    static const CostTables tables;
    return tables;
}

bool insidePicture(QPoint p, const QSize &picture)
{
    return p.x() >= 0 && p.y() >= 0 && p.x() < picture.width() && p.y() < picture.height();
}

// Narrows [lo, hi] to the x with lo' <= a * x <= hi' (a line of the band's inequalities).
void narrow(double a, double low, double high, double &lo, double &hi)
{
    if (std::abs(a) < 1e-12) {
        if (low > 0.0 || high < 0.0) {
            lo = 1.0;
            hi = 0.0;
        }
        return;
    }
    double from = low / a;
    double to = high / a;
    if (a < 0.0)
        std::swap(from, to);
    lo = std::max(lo, from);
    hi = std::min(hi, to);
}

} // namespace

int pathStepCost(int strength, bool diagonal)
{
    const int s = std::clamp(strength, 0, kMaxStrength);
    return diagonal ? costTables().diagonal[s] : costTables().straight[s];
}

PathTracer::PathTracer(const QSize &picture, const QList<quint16> &edgeMap)
    : m_picture(picture)
    , m_edgeMap(edgeMap)
    , m_valid(!picture.isEmpty()
          && edgeMap.size() == qsizetype(picture.width()) * qsizetype(picture.height()))
{
    m_buckets.resize(size_t(costTables().maxStep) + 1);
}

bool PathTracer::inBand(int x, int y) const
{
    const int r = y - m_top;
    return r >= 0 && size_t(r) < m_rowFirst.size() && x >= m_rowFirst[size_t(r)]
        && x <= m_rowLast[size_t(r)];
}

PathTracer::BandKey PathTracer::bandKey(QPoint from, QPoint to)
{
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double len = std::sqrt(dx * dx + dy * dy);
    BandKey key;
    key.angle = int(std::lround(std::atan2(dy, dx) / (2 * kPi) * kAngles) + kAngles) % kAngles;
    while (kShortestBand * std::pow(kBandGrowth, key.level) < len)
        ++key.level;
    return key;
}

void PathTracer::buildBand(QPoint from, BandKey key)
{
    const double angle = 2 * kPi * key.angle / kAngles;
    const double ux = std::cos(angle);
    const double uy = std::sin(angle);
    const double len = kShortestBand * std::pow(kBandGrowth, key.level);
    // The pointer lies within len of the anchor and half an angle step off the axis, at
    // most len * 0.05 across it.
    const double margin = std::max(std::min(256.0, 32.0 + len / 8.0), 8.0 + len * 0.06);
    const double alongLow = -margin;
    const double alongHigh = len + 32.0;

    double top = 1e18;
    double bottom = -1e18;
    for (const double along : { alongLow, alongHigh })
        for (const double across : { -margin, margin }) {
            const double y = from.y() + along * uy + across * ux;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    const int firstRow = std::max(0, int(std::floor(top)));
    const int lastRow = std::min(m_picture.height() - 1, int(std::ceil(bottom)));

    m_anchor = from;
    m_key = key;
    m_top = firstRow;
    const size_t rows = size_t(std::max(0, lastRow - firstRow + 1));
    m_rowFirst.assign(rows, 0);
    m_rowLast.assign(rows, -1);
    m_rowOffset.assign(rows, 0);
    qsizetype area = 0;
    for (size_t r = 0; r < rows; ++r) {
        const double ry = double(firstRow + int(r) - from.y());
        // Offsets x - from.x with along = x*ux + ry*uy and across = -x*uy + ry*ux in range.
        double lo = -1e18;
        double hi = 1e18;
        narrow(ux, alongLow - ry * uy, alongHigh - ry * uy, lo, hi);
        narrow(-uy, -margin - ry * ux, margin - ry * ux, lo, hi);
        const double first = std::max(0.0, std::ceil(lo + from.x()));
        const double last = std::min(double(m_picture.width() - 1), std::floor(hi + from.x()));
        m_rowOffset[r] = area;
        if (first <= last) {
            m_rowFirst[r] = int(first);
            m_rowLast[r] = int(last);
            area += m_rowLast[r] - m_rowFirst[r] + 1;
        }
    }

    m_cost.assign(size_t(area), kUnreached);
    m_step.assign(size_t(area), kNoStep);
    for (std::vector<quint32> &bucket : m_buckets)
        bucket.clear();
    m_current = 0;
    m_queued = 0;

    const qsizetype start = slot(from.x(), from.y());
    m_cost[size_t(start)] = 0;
    m_buckets[0].push_back(quint32(from.x()) + quint32(from.y()) * quint32(m_picture.width()));
    m_queued = 1;
}

void PathTracer::settleUntil(int tx, int ty)
{
    const CostTables &tables = costTables();
    const quint16 *strength = m_edgeMap.constData();
    const int width = m_picture.width();
    const int height = m_picture.height();
    const size_t ring = m_buckets.size();
    const size_t target = size_t(slot(tx, ty));

    while (!(m_step[target] & kSettled) && m_queued > 0) {
        std::vector<quint32> *bucket = &m_buckets[m_current % ring];
        while (bucket->empty()) {
            ++m_current;
            bucket = &m_buckets[m_current % ring];
        }
        const quint32 pixel = bucket->back();
        bucket->pop_back();
        --m_queued;
        const int x = int(pixel % quint32(width));
        const int y = int(pixel / quint32(width));
        const size_t i = size_t(slot(x, y));
        // Entries left behind by a later, cheaper find of the same pixel are skipped.
        if ((m_step[i] & kSettled) || m_cost[i] != m_current)
            continue;
        m_step[i] |= kSettled;
        const bool frameX = x == 0 || x == width - 1;
        const bool frameY = y == 0 || y == height - 1;

        for (int d = 0; d < 8; ++d) {
            const int nx = x + kStepX[d];
            const int ny = y + kStepY[d];
            if (!inBand(nx, ny))
                continue;
            const size_t n = size_t(slot(nx, ny));
            if (m_step[n] & kSettled)
                continue;
            // Along the frame, where the map holds nothing, a step is priced as a fair edge so
            // outlines can run along the border; stepping onto it is not, and a clear edge
            // stays cheaper, or the border would draw in every stretch that passes near it.
            const bool alongFrame = !kDiagonal[d]
                && ((frameX && (nx == 0 || nx == width - 1))
                    || (frameY && (ny == 0 || ny == height - 1)));
            const int s = alongFrame ? kFrameStrength : strength[nx + qsizetype(ny) * width];
            const quint32 cost
                = m_current + quint32(kDiagonal[d] ? tables.diagonal[s] : tables.straight[s]);
            if (cost < m_cost[n]) {
                m_cost[n] = cost;
                m_step[n] = quint8(d);
                m_buckets[cost % ring].push_back(quint32(nx) + quint32(ny) * quint32(width));
                ++m_queued;
            }
        }
    }
}

QList<QPoint> PathTracer::trace(QPoint from, QPoint to)
{
    QList<QPoint> steps;
    if (!m_valid || from == to || !insidePicture(from, m_picture) || !insidePicture(to, m_picture))
        return steps;

    const BandKey key = bandKey(from, to);
    m_reused = !m_cost.empty() && from == m_anchor && key.angle == m_key.angle
        && key.level == m_key.level;
    if (!m_reused)
        buildBand(from, key);
    settleUntil(to.x(), to.y());

    // The band is 8-connected and holds both ends, so the walk back always reaches `from`.
    for (QPoint q = to; q != from;) {
        steps.append(q);
        const int d = m_step[size_t(slot(q.x(), q.y()))] & kStepMask;
        q -= QPoint(kStepX[d], kStepY[d]);
    }
    std::reverse(steps.begin(), steps.end());
    return steps;
}

QList<QPoint> shortestTrace(
    QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap)
{
    return PathTracer(picture, edgeMap).trace(from, to);
}
