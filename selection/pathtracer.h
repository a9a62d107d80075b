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
// The search is confined to a band that depends only on the anchor and the direction to the
// pointer, so an answer never depends on the moves before it: a strip along the nearest of
// 64 directions, from 96 pixels behind the anchor and 96 pixels to either side of its axis,
// widening from about 1800 pixels ahead by the 2.8 degrees the pointer may lie off the axis,
// to the picture's far side; clipped to the picture. An outline that strays farther than
// that from the straight line is one the user places a click in anyway, and the bound keeps
// the work proportional to the stretch's length, never to the picture: a 3000-pixel stretch
// settles about 600 000 pixels. Its distance does not matter, so a pointer gliding straight
// away from its anchor keeps one tree; the tree is rebuilt when the anchor or the direction
// step changes, which a wobbling hand does only near the anchor, where the search is small,
// and a pointer sweeping round the anchor every 0.1 radian.
//
// Within its band the result is an exact cheapest path. Among equally cheap ones, walking
// back from the pointer, each step goes to the neighbour nearest the straight line from the
// anchor to the pointer: a stretch over even ground is that line, and the answer does not
// depend on the order in which the queue settled the pixels.
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
    static int bandAngle(QPoint from, QPoint to);
    bool inBand(int x, int y) const;
    // Where pixel (x, y) of the band, or of the wall of unreachable cells around it, is kept.
    qsizetype cell(int x, int y) const { return m_rowBase[size_t(y - m_top + 1)] + x; }
    int stepCost(QPoint p, QPoint q) const;
    void buildBand(QPoint from, int angleStep);
    void settleUntil(qsizetype target);
    void settleOnFrame(int x, int y, quint32 cost);

    QSize m_picture;
    QList<quint16> m_edgeMap;
    bool m_valid = false;
    bool m_reused = false;

    QPoint m_anchor;
    int m_angle = 0;
    // The band: rows m_top .. m_top + rows - 1, row r covering columns
    // m_rowFirst[r] .. m_rowLast[r]. Each row is kept one column wider on both sides than
    // the band's rows above and below it, and a row of the same kind lies above and below
    // the band, so that every neighbour of a band pixel has a cell: cell(x, y) is
    // m_rowBase[y - m_top + 1] + x.
    int m_top = 0;
    std::vector<int> m_rowFirst;
    std::vector<int> m_rowLast;
    std::vector<qsizetype> m_rowBase;

    // Per cell: the best cost found so far, kUnreached when none, 0 for the wall (so that
    // no cheaper way to it is ever found).
    std::vector<quint32> m_cost;

    // Dial's queue with wide buckets: bucket (c >> m_shift) % size holds the pixels
    // (x + y*W) found at cost c; m_current is the bucket being settled, c >> m_shift.
    struct Queued {
        quint32 pixel;
        quint32 cost;
    };
    std::vector<std::vector<Queued>> m_buckets;
    int m_shift = 0;
    quint32 m_current = 0;
    qsizetype m_queued = 0;
};

// A one-off cheapest path, as PathTracer::trace on a fresh tracer.
QList<QPoint> shortestTrace(
    QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap);
