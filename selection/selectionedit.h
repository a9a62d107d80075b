#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QSize>

// (-100, -100) in the anchor means no trace is under way.
inline const QPoint kNoTrace(-100, -100);

// The edits of the selection state, shared by the window's undo command and the
// command-line replay. Paths are in scene coordinates, points in picture pixels.

// Joins a confirmed stretch onto tracePath and moves the anchor to newAnchor; when newAnchor
// lies less than closeDistance (Manhattan) from traceStart, closes the trace into
// selectionPath and ends it. Returns true when it closed.
bool confirmStretch(QPainterPath &tracePath, QPainterPath &selectionPath, QPoint &anchorPoint,
    const QPainterPath &stretch, QPoint newAnchor, QPoint traceStart, int closeDistance);

// What the selection item shows and the output isolates: the closed traces and the
// confirmed stretches of the trace under way.
QPainterPath shownSelection(const QPainterPath &selectionPath, const QPainterPath &tracePath);

// Swaps inside and outside within the picture's frame. Folds a trace under way into the
// selection first. Returns the new shown path, computed from the old shown one.
QPainterPath invertSelection(const QSize &picture, QPainterPath &selectionPath,
    QPainterPath &tracePath, QPoint &anchorPoint, const QPainterPath &shownPath);
