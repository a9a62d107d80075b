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
// The search is confined to a band: the rectangle around the segment from the anchor to
// the pointer, reaching margin(len) = min(256, 32 + len / 4) pixels to either side and
// behind the anchor and len / 2 + 64 past the pointer (len: the segment's length), clipped
// to the picture. An outline that needs to stray farther than that from the straight line
// is one the user places a click in anyway, and the bound keeps every array proportional
// to the band, never to the picture: for a 3000-pixel stretch under 1.5 M pixels (about
// 9 bytes each), for the longest stretch of a 50 MP picture under 9 M. The band is rebuilt
// (and the tree restarted) when the anchor changes or the pointer leaves it; it reaches
// ahead of the pointer so that a pointer moving away rebuilds it seldom.
//
// Within a band the result is the exact cheapest path; among equally cheap paths the one
// found first wins, so the same anchor, band and pointer always give the same pixels.
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
    bool inBand(int x, int y) const;
    qsizetype slot(int x, int y) const
    {
        const int r = y - m_top;
        return m_rowOffset[size_t(r)] + (x - m_rowFirst[size_t(r)]);
    }
    void buildBand(QPoint from, QPoint to);
    void settleUntil(int x, int y);

    QSize m_picture;
    QList<quint16> m_edgeMap;
    bool m_valid = false;
    bool m_reused = false;

    QPoint m_anchor;
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
