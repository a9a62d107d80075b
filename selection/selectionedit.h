#pragma once

#include <QPainterPath>
#include <QPoint>
#include <QSize>

// (-100, -100) in the anchor means no trace is under way.
inline const QPoint kNoTrace(-100, -100);

// The edits of the selection state, shared by the window's undo command and the
// command-line replay. Paths are in scene coordinates, points in picture pixels.

// Joins a confirmed stretch onto the end of tracePath (a stretch onto an empty trace becomes
// the trace). Appends to tracePath without touching its earlier elements.
void joinStretch(QPainterPath &tracePath, const QPainterPath &stretch);

// Closes the trace and adds it to selectionPath as one more subpath; empties tracePath.
void closeTrace(QPainterPath &tracePath, QPainterPath &selectionPath);

// Joins a confirmed stretch onto tracePath and moves the anchor to newAnchor; when newAnchor
// lies less than closeDistance (Manhattan) from traceStart, closes the trace into
// selectionPath and ends it. Returns true when it closed.
bool confirmStretch(QPainterPath &tracePath, QPainterPath &selectionPath, QPoint &anchorPoint,
    const QPainterPath &stretch, QPoint newAnchor, QPoint traceStart, int closeDistance);

// Whether a close lies within reach: Manhattan distance strictly below closeDistance.
bool closesTrace(QPoint newAnchor, QPoint traceStart, int closeDistance);

// What the selection item shows and the output isolates: the closed traces and the
// confirmed stretches of the trace under way. Taken by value so that a caller done with its
// selection can move it in and save the copy.
QPainterPath shownSelection(QPainterPath selectionPath, const QPainterPath &tracePath);

// Swaps inside and outside within the picture's frame. Folds a trace under way into the
// selection first. Returns the new shown path, computed from the old shown one.
QPainterPath invertSelection(const QSize &picture, QPainterPath &selectionPath,
    QPainterPath &tracePath, QPoint &anchorPoint, const QPainterPath &shownPath);
