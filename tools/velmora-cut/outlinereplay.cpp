#include "outlinereplay.h"

#include "selectionedit.h"
#include "tracing.h"

QRect probeAround(QPoint pixel, int size)
{
    // probeTarget aims at (left + right) / 2; with right = left + size - 1 this puts the
    // pixel at the centre for odd sizes and one right of the middle pair for even ones.
    const int half = (size - 1) / 2;
    return QRect(pixel.x() + kSceneOffset - half, pixel.y() + kSceneOffset - half, size, size);
}

QRect probeUnderPointer(QPoint pixel, int size)
{
    // The view maps the pointer's scene point less (5, 5) and plus (5, 5) at zoom 1 and
    // truncates: the rectangle starts size / 2 before the pointer's pixel.
    return QRect(
        pixel.x() + kSceneOffset - size / 2, pixel.y() + kSceneOffset - size / 2, size, size);
}

OutlineReplay::OutlineReplay(const QSize &picture, const QList<quint16> &edgeMap, int probeSize)
    : m_picture(picture)
    , m_edgeMap(edgeMap)
    , m_probeSize(probeSize)
    , m_anchorPoint(kNoTrace)
    , m_traceStart(kNoTrace)
{
}

void OutlineReplay::apply(const OutlineEvent &event)
{
    switch (event.kind) {
    case OutlineEvent::Click:
        click(event.pixel);
        break;
    case OutlineEvent::Close:
        close();
        break;
    case OutlineEvent::Abandon:
        abandon();
        break;
    case OutlineEvent::Undo:
        undo();
        break;
    case OutlineEvent::Invert:
        invert();
        break;
    }
}

void OutlineReplay::apply(const QList<OutlineEvent> &events)
{
    for (const OutlineEvent &event : events)
        apply(event);
}

void OutlineReplay::press(const QRect &probe, bool right)
{
    if (right) {
        // The confirmed stretches stay; the next trace's are joined onto them.
        m_anchorPoint = kNoTrace;
        return;
    }

    const QPoint target = probeTarget(probe, m_picture);
    if (m_anchorPoint == kNoTrace) {
        m_anchorPoint = snapToEdge(target, probe.width(), probe.height(), m_picture, m_edgeMap);
        m_traceStart = m_anchorPoint;
        return;
    }

    const QPainterPath stretch
        = stretchPath(m_anchorPoint, walkTrace(m_anchorPoint, target, m_picture, m_edgeMap));
    m_undo.push_back({ m_anchorPoint, m_shown, m_selectionPath, m_tracePath });
    confirmStretch(
        m_tracePath, m_selectionPath, m_anchorPoint, stretch, target, m_traceStart, probe.width());
    m_shown = shownSelection(m_selectionPath, m_tracePath);
}

void OutlineReplay::click(QPoint pixel)
{
    press(probeUnderPointer(pixel, m_probeSize), false);
}

void OutlineReplay::close()
{
    if (m_anchorPoint != kNoTrace)
        press(probeAround(m_traceStart, m_probeSize), false);
}

void OutlineReplay::abandon()
{
    press(QRect(), true);
}

void OutlineReplay::undo()
{
    if (m_undo.empty())
        return;
    Saved saved = std::move(m_undo.back());
    m_undo.pop_back();
    m_anchorPoint = saved.anchorPoint;
    m_shown = std::move(saved.shown);
    m_selectionPath = std::move(saved.selectionPath);
    m_tracePath = std::move(saved.tracePath);
}

void OutlineReplay::invert()
{
    // Nothing shown, nothing to invert; and the inversion itself cannot be undone.
    if (!m_shown)
        return;
    m_shown = invertSelection(m_picture, m_selectionPath, m_tracePath, m_anchorPoint, *m_shown);
}
