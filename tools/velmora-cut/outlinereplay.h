#pragma once

#include "outlineevent.h"
#include "pathtracer.h"

#include <QList>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

// The probe rectangle (scene coordinates) of a press on picture pixel `pixel` at zoom 1, for
// which probeTarget gives back exactly `pixel`: size x size, the pixel at its centre, rounded
// up and left for even sizes the way QRect::center rounds.
QRect probeAround(QPoint pixel, int size);

// The probe rectangle the window's view makes for a press with the pointer on picture pixel
// `pixel` at zoom 1 (size 10), or at the zoom whose probe is size x size: it reaches size / 2
// up and left of the pointer, so for even sizes it aims one pixel up and left of `pixel`.
QRect probeUnderPointer(QPoint pixel, int size);

// How many points the stretches of one picture's outline may hold in all. A point costs about
// 120 bytes by the time the selection is built and rasterised (and a couple of microseconds),
// so the largest outline takes about a gigabyte; a 12-megapixel outline of 10,000 clicks
// holds about 4 million. One that needs more is surely a mistake: it fails its picture with a
// message instead of exhausting the memory.
constexpr qsizetype kMaxOutlinePoints = 8000000;

// How a press finds its stretch from the anchor, as the window's Follow edges toggle picks:
// the greedy walk (the window's default) or the cheapest path through the edge strengths.
enum class TraceMode { Walk, ShortestPath };

// Plays outline events through the tracing state machine of the window's smart-select tool:
// the snap on a trace's first press, the stretch, the confirmed stretch that closes near the
// start, undo of confirmed stretches, right press and invert; everything but the scene.
// Mouse moves are left out: they only redraw the live stretch, which every press rebuilds,
// and a cheapest path does not depend on the traces asked for before it.
//
// The outline is kept as a log that only grows at its end: the points of every confirmed
// stretch, and where traces closed and the selection was inverted. An undo record is a few
// numbers (the log's length and the anchor), so a press costs the length of its own stretch
// whatever came before it. The painter paths are built only when asked for, by replaying the
// log through the same path operations the window performs, in the same order, so they equal
// the window's element for element.
class OutlineReplay
{
public:
    // edgeMap: the picture's edge strengths, element x + y * W. probeSize: the width and
    // height of the probe rectangle in picture pixels, also the closing distance. maxPoints:
    // the most points the outline's stretches may hold (see kMaxOutlinePoints). trace: how
    // each stretch is found; one PathTracer serves the whole outline, as the window keeps
    // one per picture.
    OutlineReplay(const QSize &picture, const QList<quint16> &edgeMap, int probeSize,
        qsizetype maxPoints = kMaxOutlinePoints, TraceMode trace = TraceMode::Walk);

    // Events after a failure (see ok()) are ignored.
    void apply(const OutlineEvent &event);
    void apply(const QList<OutlineEvent> &events);

    // A left or right press with this probe rectangle, as the view reports it.
    void press(const QRect &probe, bool right);
    void click(QPoint pixel);
    // Presses on the trace's first point; does nothing when no trace is under way.
    void close();
    void abandon();
    void undo();
    void invert();

    // False once a press would have taken the outline past maxPoints; error() then says so.
    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // Whether the selection item would exist: false until the first confirmed stretch.
    bool hasSelection() const { return !m_log.empty(); }
    // What the selection item would show and what saving isolates, in scene coordinates;
    // empty without a selection. The paths are built on each call, in time and memory
    // linear in the outline.
    QPainterPath shownPath() const;
    QPainterPath selectionPath() const;
    QPainterPath tracePath() const;

    QPoint anchorPoint() const { return m_anchorPoint; }
    QPoint traceStart() const { return m_traceStart; }
    int undoDepth() const { return int(m_undo.size()); }
    // The points the stretches of the outline hold now.
    qsizetype outlinePoints() const { return qsizetype(m_points.size()); }

private:
    enum class Edit : quint8 {
        Stretch, // joins the points since the previous entry onto the trace
        Close, // closes the trace into the selection
        Invert, // swaps inside and outside
    };
    struct Entry {
        Edit edit;
        size_t pointsEnd; // m_points.size() after this entry
    };
    // What undoing one confirmed stretch puts back; the trace's start is not among it.
    struct Saved {
        QPoint anchorPoint;
        size_t logSize;
        bool traceDrawn;
    };
    struct Paths {
        QPainterPath selection;
        QPainterPath trace;
        std::optional<QPainterPath> inverted; // what Invert showed, until the next stretch
    };

    Paths replay() const;
    QList<QPoint> stretchTo(QPoint target);

    QSize m_picture;
    QList<quint16> m_edgeMap;
    int m_probeSize;
    qsizetype m_maxPoints;
    std::unique_ptr<PathTracer> m_pathTracer; // null for the walk
    int m_line = 0; // the line of the event being applied, for the message
    QPoint m_anchorPoint;
    QPoint m_traceStart;
    // Whether the trace path holds a line: then Invert folds it in and ends the trace.
    bool m_traceDrawn = false;
    std::vector<QPoint> m_points;
    std::vector<Entry> m_log;
    std::vector<Saved> m_undo;
    QString m_error;
};
