#include "pathtracer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

constexpr quint32 kUnreached = std::numeric_limits<quint32>::max();
constexpr quint32 kWall = 0;

constexpr int kStepX[8] = { -1, 0, 1, -1, 1, -1, 0, 1 };
constexpr int kStepY[8] = { -1, -1, -1, 0, 0, 1, 1, 1 };

// A straight step onto flat ground costs kFlatCost, onto an edge of strength s the share
// sqrt(kEdgeScale / (kEdgeScale + s)) of it. Texture stays below a strength of about 40 and
// real object boundaries mostly lie between 60 and 300, so the price falls steeply at first
// (to a half at 40) and then slowly (a fifth at 300): a boundary is well worth a detour, yet a
// strong edge in the background is not so much cheaper than a fair boundary that it draws the
// outline off it. A steeper fall (kEdgeScale / (kEdgeScale + s) itself) needed more clicks
// on real photos: the outline jumped to the strongest texture nearby.
constexpr int kFlatCost = 240;
constexpr double kEdgeScale = 12.0;

// A band points from its anchor in one of kAngles directions, the nearest to the pointer's,
// and reaches kMargin pixels to either side of that axis and behind the anchor.
constexpr int kAngles = 64;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMargin = 96.0;
constexpr double kSlack = 8.0;

constexpr int kMaxStrength = 765;
constexpr int kFrameStrength = 200;

int straightCost(int strength)
{
    const double share = std::sqrt(kEdgeScale / (kEdgeScale + strength));
    return std::max(1, int(std::lround(kFlatCost * share)));
}

// Tables of both step costs for every strength, built once.
struct CostTables {
    int straight[kMaxStrength + 1];
    int diagonal[kMaxStrength + 1];
    int maxStep = 0;
    int minStep = std::numeric_limits<int>::max();
    CostTables()
    {
        for (int s = 0; s <= kMaxStrength; ++s) {
            straight[s] = straightCost(s);
            diagonal[s] = int(std::lround(straight[s] * std::sqrt(2.0)));
            maxStep = std::max(maxStep, diagonal[s]);
            minStep = std::min(minStep, straight[s]);
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
    // A bucket spans the largest power of two no dearer than the cheapest step, so no pixel
    // can lower the cost of another in its own bucket; the ring spans more than the dearest
    // step, a power of two of buckets for the index.
    while ((2 << m_shift) <= costTables().minStep)
        ++m_shift;
    size_t ring = 1;
    while (ring <= size_t((costTables().maxStep >> m_shift) + 1))
        ring *= 2;
    m_buckets.resize(ring);
}

bool PathTracer::inBand(int x, int y) const
{
    const int r = y - m_top;
    return r >= 0 && size_t(r) < m_rowFirst.size() && x >= m_rowFirst[size_t(r)]
        && x <= m_rowLast[size_t(r)];
}

int PathTracer::stepCost(QPoint p, QPoint q) const
{
    const int width = m_picture.width();
    const int height = m_picture.height();
    const bool diagonal = p.x() != q.x() && p.y() != q.y();
    // Along the frame, where the map holds nothing, a step is priced as a fair edge so
    // outlines can run along the border; stepping onto it is not, and a clear edge stays
    // cheaper, or the border would draw in every stretch that passes near it.
    const bool alongFrame = !diagonal
        && (((p.x() == 0 || p.x() == width - 1) && (q.x() == 0 || q.x() == width - 1))
            || ((p.y() == 0 || p.y() == height - 1) && (q.y() == 0 || q.y() == height - 1)));
    return pathStepCost(
        alongFrame ? kFrameStrength : m_edgeMap[q.x() + qsizetype(q.y()) * width], diagonal);
}

int PathTracer::bandAngle(QPoint from, QPoint to)
{
    const double turn
        = std::atan2(double(to.y() - from.y()), double(to.x() - from.x())) / (2 * kPi);
    return int(std::lround(turn * kAngles) + kAngles) % kAngles;
}

void PathTracer::buildBand(QPoint from, int angleStep)
{
    const double angle = 2 * kPi * angleStep / kAngles;
    const double ux = std::cos(angle);
    const double uy = std::sin(angle);
    const double margin = kMargin;
    // Beyond `flare` along the axis the band widens with the distance, as the pointer may
    // lie half an angle step off the axis: across it at most along * spread.
    const double spread = std::tan(kPi / kAngles);
    const double flare = (margin - kSlack) / spread;
    const double far = std::max(flare, std::hypot(m_picture.width(), m_picture.height()));
    const double farAcross = kSlack + far * spread;

    double top = 1e18;
    double bottom = -1e18;
    for (const auto &[along, across] :
        { std::pair { -margin, margin }, { flare, margin }, { far, farAcross } })
        for (const double side : { -1.0, 1.0 }) {
            const double y = from.y() + along * uy + side * across * ux;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    const int firstRow = std::max(0, int(std::floor(top)));
    const int lastRow = std::min(m_picture.height() - 1, int(std::ceil(bottom)));

    m_anchor = from;
    m_angle = angleStep;
    m_top = firstRow;
    const size_t rows = size_t(std::max(0, lastRow - firstRow + 1));
    m_rowFirst.assign(rows, 0);
    m_rowLast.assign(rows, -1);
    for (size_t r = 0; r < rows; ++r) {
        const double ry = double(firstRow + int(r) - from.y());
        // Offsets x - from.x with along = x*ux + ry*uy and across = -x*uy + ry*ux in range:
        // the straight part, then the flared one; the row spans both.
        double lo = -1e18;
        double hi = 1e18;
        narrow(ux, -margin - ry * uy, flare - ry * uy, lo, hi);
        narrow(-uy, -margin - ry * ux, margin - ry * ux, lo, hi);
        double flaredLo = -1e18;
        double flaredHi = 1e18;
        narrow(ux, flare - ry * uy, far - ry * uy, flaredLo, flaredHi);
        // across - along * spread <= kSlack and -across - along * spread <= kSlack.
        narrow(-uy - spread * ux, -1e18, kSlack - ry * (ux - spread * uy), flaredLo, flaredHi);
        narrow(uy - spread * ux, -1e18, kSlack + ry * (ux + spread * uy), flaredLo, flaredHi);
        if (flaredLo <= flaredHi && lo <= hi) {
            lo = std::min(lo, flaredLo);
            hi = std::max(hi, flaredHi);
        } else if (flaredLo <= flaredHi) {
            lo = flaredLo;
            hi = flaredHi;
        }
        const double first = std::max(0.0, std::ceil(lo + from.x()));
        const double last = std::min(double(m_picture.width() - 1), std::floor(hi + from.x()));
        if (first <= last) {
            m_rowFirst[r] = int(first);
            m_rowLast[r] = int(last);
        }
    }

    // Kept row k holds band row k - 1 and, as wall, the columns next to band rows k - 2 .. k.
    m_rowBase.assign(rows + 2, 0);
    qsizetype cells = 0;
    for (size_t k = 0; k < rows + 2; ++k) {
        int first = std::numeric_limits<int>::max();
        int last = std::numeric_limits<int>::min();
        for (size_t r = std::max<size_t>(k, 2) - 2; r <= k && r < rows; ++r)
            if (m_rowFirst[r] <= m_rowLast[r]) {
                first = std::min(first, m_rowFirst[r] - 1);
                last = std::max(last, m_rowLast[r] + 1);
            }
        if (first > last)
            first = last = 0;
        m_rowBase[k] = cells - first;
        cells += last - first + 1;
    }
    m_cost.assign(size_t(cells), kWall);
    for (size_t r = 0; r < rows; ++r)
        if (m_rowFirst[r] <= m_rowLast[r])
            std::fill_n(m_cost.begin() + m_rowBase[r + 1] + m_rowFirst[r],
                m_rowLast[r] - m_rowFirst[r] + 1, kUnreached);

    for (std::vector<Queued> &bucket : m_buckets)
        bucket.clear();
    m_current = 0;
    m_cost[size_t(cell(from.x(), from.y()))] = 0;
    m_buckets[0].push_back(
        { quint32(from.x()) + quint32(from.y()) * quint32(m_picture.width()), 0 });
    m_queued = 1;
}

void PathTracer::settleOnFrame(int x, int y, quint32 cost)
{
    const QPoint p(x, y);
    for (int d = 0; d < 8; ++d) {
        const QPoint n = p + QPoint(kStepX[d], kStepY[d]);
        if (!insidePicture(n, m_picture))
            continue;
        const size_t i = size_t(cell(n.x(), n.y()));
        const quint32 reached = cost + quint32(stepCost(p, n));
        if (reached < m_cost[i]) {
            m_cost[i] = reached;
            m_buckets[(reached >> m_shift) & (m_buckets.size() - 1)].push_back(
                { quint32(n.x()) + quint32(n.y()) * quint32(m_picture.width()), reached });
            ++m_queued;
        }
    }
}

void PathTracer::settleUntil(qsizetype target)
{
    const CostTables &tables = costTables();
    const quint16 *strength = m_edgeMap.constData();
    const int width = m_picture.width();
    const int height = m_picture.height();
    const quint32 w = quint32(width);
    const double perRow = 1.0 / width;
    const qsizetype *rowBase = m_rowBase.data();
    quint32 *costs = m_cost.data();
    std::vector<Queued> *buckets = m_buckets.data();
    const quint32 ring = quint32(m_buckets.size() - 1);
    const int shift = m_shift;
    const quint32 final = quint32(costTables().minStep);
    // Kept in locals in the loop, where the compiler cannot tell them from what the queue's
    // vectors write.
    quint32 current = m_current;
    qsizetype queued = m_queued;
    auto relaxHere = [&](qsizetype n, quint32 pixel, quint32 cost) {
        if (cost < costs[n]) {
            costs[n] = cost;
            buckets[(cost >> shift) & ring].push_back({ pixel, cost });
            ++queued;
        }
    };

    // With every bucket before the current one settled, no pixel left can reach another for
    // less than the current bucket's start plus the cheapest step: below that a cost is final.
    while (costs[target] >= (current << shift) + final && queued > 0) {
        std::vector<Queued> &bucket = buckets[current & ring];
        if (bucket.empty()) {
            ++current;
            continue;
        }
        const quint32 pixel = bucket.back().pixel;
        const quint32 c = bucket.back().cost;
        bucket.pop_back();
        --queued;
        // pixel / w by a multiplication, off by one row at most in huge pictures.
        int y = int((double(pixel) + 0.5) * perRow);
        int x = int(qint64(pixel) - qint64(y) * width);
        if (x < 0) {
            --y;
            x += width;
        } else if (x >= width) {
            ++y;
            x -= width;
        }
        const size_t k = size_t(y - m_top + 1);
        // Entries left behind by a later, cheaper find of the same pixel are skipped.
        if (costs[rowBase[k] + x] != c)
            continue;
        if (x == 0 || y == 0 || x == width - 1 || y == height - 1) {
            m_queued = queued;
            settleOnFrame(x, y, c);
            queued = m_queued;
            continue;
        }
        // Inside the frame every neighbour is in the picture and priced by the map; the
        // wall around the band is never cheaper to reach than it is.
        const qsizetype above = rowBase[k - 1] + x;
        const qsizetype here = rowBase[k] + x;
        const qsizetype below = rowBase[k + 1] + x;
        const quint16 *s = strength + x + qsizetype(y) * width;
        const quint16 *sAbove = s - width;
        const quint16 *sBelow = s + width;
        relaxHere(above - 1, pixel - w - 1, c + quint32(tables.diagonal[sAbove[-1]]));
        relaxHere(above, pixel - w, c + quint32(tables.straight[sAbove[0]]));
        relaxHere(above + 1, pixel - w + 1, c + quint32(tables.diagonal[sAbove[1]]));
        relaxHere(here - 1, pixel - 1, c + quint32(tables.straight[s[-1]]));
        relaxHere(here + 1, pixel + 1, c + quint32(tables.straight[s[1]]));
        relaxHere(below - 1, pixel + w - 1, c + quint32(tables.diagonal[sBelow[-1]]));
        relaxHere(below, pixel + w, c + quint32(tables.straight[sBelow[0]]));
        relaxHere(below + 1, pixel + w + 1, c + quint32(tables.diagonal[sBelow[1]]));
    }
    m_current = current;
    m_queued = queued;
}

QList<QPoint> PathTracer::trace(QPoint from, QPoint to)
{
    QList<QPoint> steps;
    if (!m_valid || from == to || !insidePicture(from, m_picture) || !insidePicture(to, m_picture))
        return steps;

    const int angle = bandAngle(from, to);
    m_reused = !m_cost.empty() && from == m_anchor && angle == m_angle;
    if (!m_reused)
        buildBand(from, angle);
    // The band is built to hold the pointer well inside; never index outside it regardless.
    if (!inBand(to.x(), to.y()))
        return steps;
    const qsizetype target = cell(to.x(), to.y());
    settleUntil(target);
    if (m_cost[size_t(target)] == kUnreached)
        return steps;

    // Walking back from the pointer, each step goes to a neighbour whose settled cost plus
    // the step's equals the pixel's own; among several, to the one nearest the straight line
    // from the anchor to the pointer. The costs are the band's exact ones whatever order the
    // queue settled them in, so the answer depends on nothing but the ends.
    const QPoint axis = to - from;
    for (QPoint q = to; q != from;) {
        steps.append(q);
        const quint32 cost = m_cost[size_t(cell(q.x(), q.y()))];
        QPoint best;
        qint64 bestOff = std::numeric_limits<qint64>::max();
        for (int d = 0; d < 8; ++d) {
            const QPoint p = q - QPoint(kStepX[d], kStepY[d]);
            if (!inBand(p.x(), p.y()))
                continue;
            const quint32 before = m_cost[size_t(cell(p.x(), p.y()))];
            if (before == kUnreached || before + quint32(stepCost(p, q)) != cost)
                continue;
            const QPoint v = p - from;
            const qint64 off = std::abs(qint64(v.x()) * axis.y() - qint64(v.y()) * axis.x());
            if (off < bestOff) {
                bestOff = off;
                best = p;
            }
        }
        if (bestOff == std::numeric_limits<qint64>::max())
            return {};
        q = best;
    }
    std::reverse(steps.begin(), steps.end());
    return steps;
}

QList<QPoint> shortestTrace(
    QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap)
{
    return PathTracer(picture, edgeMap).trace(from, to);
}
