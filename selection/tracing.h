#pragma once

#include <QList>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtGlobal>

// Picture pixel (x, y) is scene point (x + 10, y + 10).
constexpr int kSceneOffset = 10;

// The pixel a probe rectangle (scene coordinates) aims at: its centre less the picture
// offset, clamped into the picture.
QPoint probeTarget(const QRect &probe, const QSize &picture);

// Where a trace starts: the strongest edge in the 2*(w/2) x 2*(h/2) window around target,
// target winning ties, then the first in column-major scan order. w, h: probe size.
// edgeMap holds W*H strengths, element x + y*W; with a map of any other size, or a target
// outside the picture, the target itself is returned.
QPoint snapToEdge(QPoint target, int w, int h, const QSize &picture, const QList<quint16> &edgeMap);

// The greedy walk from `from` to `to` over the cheapest neighbours (cost 756 - strength,
// 0 on the picture's outer frame). Returns the pixels stepped on, `to` last; empty when
// from == to, when either end lies outside the picture or when edgeMap does not hold W*H
// strengths. Each step lowers the squared distance to `to`, so there are at most that many
// steps, each reading at most 8 strengths; nothing is allocated but the result.
QList<QPoint> walkTrace(
    QPoint from, QPoint to, const QSize &picture, const QList<quint16> &edgeMap);

// The stretch as a painter path in scene coordinates: moves to `from`, a line to every step.
QPainterPath stretchPath(QPoint from, const QList<QPoint> &steps);
QPainterPath stretchPath(QPoint from, const QPoint *steps, qsizetype count);
