#pragma once

#include <QList>
#include <QPoint>
#include <QSize>
#include <QtGlobal>

#include <vector>

// The cost of stepping onto a pixel of the given strength (0..765), straight or diagonal.
// Always at least 1, smaller for stronger edges; a diagonal step costs about sqrt(2) times a
// straight one. A straight step from one pixel of the picture's outer frame to another is
// priced as an edge of strength 200, so outlines can run along the border as the greedy
// walk's do; a step onto the frame from inside costs what the map says there.
int pathStepCost(int strength, bool diagonal);

// The cheapest 8-connected path from an anchor to the pointer, the stretch a pointer move
// redraws. Its cost is the sum of pathStepCost over its steps, each priced by the pixel it
// steps onto.
//
// The search is Dijkstra's with an integer bucket queue, rooted at the anchor and expanded
// only until the pointer's pixel is settled. The tree is kept: further moves from the same
// anchor extend it where needed and walk back from the pointer, so a pointer gliding away
// from its anchor costs little more per move than the stretch's length.
//
// The search is confined to a band, a rectangle that depends only on the anchor and the
// pointer, so an answer never depends on the moves before it: its axis points from the
// anchor in the nearest of 64 directions to the pointer, and reaches L = 64 * 1.5^k ahead
// (the smallest such length not short of the pointer) and 32 more, margin(L) =
// min(256, 32 + L / 8) (at least 8 + 0.06 L, so that the pointer is always inside) behind
// and to either side; clipped to the picture. An outline that strays farther than that
// from the straight line is one the user places a click in anyway, and the bound keeps
// every array proportional to the band, never to the picture: a 3000-pixel stretch gets
// about 2 M pixels of 5 bytes each (cost and step) plus the queue. The tree is rebuilt when
// the anchor, the direction or the length step changes; a pointer gliding away from its
// anchor changes the length step every 50 % of distance.
//
// Within its band the result is the exact cheapest path; among equally cheap paths the one
// found first wins.
class PathTracer
{
public:
    // Keeps a shallow copy of edgeMap (W*H strengths, element x + y*W).
    PathTracer(const QSize &picture, const QList<quint16> &edgeMap);

    // The pixels stepped on from `from` to `to`, `to` last; empty when from == to, when
    // either end lies outside the picture or when the map does not hold W*H strengths.
    QList<QPoint> trace(QPoint from, QPoint to);

    // Whether the last trace reused the tree of the one before it (for tests and timing).
    bool reusedTree() const { return m_reused; }

private:
    struct BandKey {
        int angle = 0;
        int level = 0;
    };
    static BandKey bandKey(QPoint from, QPoint to);
    bool inBand(int x, int y) const;
    qsizetype slot(int x, int y) const
    {
        const int r = y - m_top;
        return m_rowOffset[size_t(r)] + (x - m_rowFirst[size_t(r)]);
    }
    void buildBand(QPoint from, BandKey key);
    void settleUntil(int x, int y);

    QSize m_picture;
    QList<quint16> m_edgeMap;
    bool m_valid = false;
    bool m_reused = false;

    QPoint m_anchor;
    BandKey m_key;
    // The band: rows m_top .. m_top + rows - 1, row r covering columns
    // m_rowFirst[r] .. m_rowLast[r]; its pixels are numbered row after row from
    // m_rowOffset[r].
    int m_top = 0;
    std::vector<int> m_rowFirst;
    std::vector<int> m_rowLast;
    std::vector<qsizetype> m_rowOffset;

    // Per band pixel: the best cost found so far (kUnreached when none) and the step that
    // reached it (0..7, or kSettled added once final).
    std::vector<quint32> m_cost;
    std::vector<quint8> m_step;

    // Dial's queue: bucket c % size holds the pixels (x + y*W) whose tentative cost is c.
    std::vector<std::vector<quint32>> m_buckets;
    quint32 m_current = 0;
    qsizetype m_queued = 0;
};

// A one-off cheapest path, as PathTracer::trace on a fresh tracer.
QList<QPoint> shortestTrace(
    QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap);
