#pragma once

#include "outlineevent.h"

#include <QList>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtGlobal>

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

// Plays outline events through the tracing state machine of the window's smart-select tool:
// the snap on a trace's first press, the walk, the confirmed stretch that closes near the
// start, undo of confirmed stretches, right press and invert; everything but the scene.
// Mouse moves are left out: they only redraw the live stretch, which every press rebuilds.
class OutlineReplay
{
public:
    // edgeMap: the picture's edge strengths, element x + y * W. probeSize: the width and
    // height of the probe rectangle in picture pixels, also the closing distance.
    OutlineReplay(const QSize &picture, const QList<quint16> &edgeMap, int probeSize);

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

    // What the selection item would show and what saving isolates, in scene coordinates;
    // absent (nothing to save) until the first confirmed stretch.
    bool hasSelection() const { return m_shown.has_value(); }
    QPainterPath shownPath() const { return m_shown.value_or(QPainterPath()); }

    QPoint anchorPoint() const { return m_anchorPoint; }
    QPoint traceStart() const { return m_traceStart; }
    QPainterPath selectionPath() const { return m_selectionPath; }
    QPainterPath tracePath() const { return m_tracePath; }
    int undoDepth() const { return int(m_undo.size()); }

private:
    // What undoing one confirmed stretch puts back; the trace's start is not among it.
    struct Saved {
        QPoint anchorPoint;
        std::optional<QPainterPath> shown;
        QPainterPath selectionPath;
        QPainterPath tracePath;
    };

    QSize m_picture;
    QList<quint16> m_edgeMap;
    int m_probeSize;
    QPoint m_anchorPoint;
    QPoint m_traceStart;
    QPainterPath m_selectionPath;
    QPainterPath m_tracePath;
    std::optional<QPainterPath> m_shown;
    std::vector<Saved> m_undo;
};
