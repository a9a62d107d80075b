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

OutlineReplay::OutlineReplay(const QSize &picture, const QList<quint16> &edgeMap, int probeSize,
    qsizetype maxPoints, TraceMode trace)
    : m_picture(picture)
    , m_edgeMap(edgeMap)
    , m_probeSize(probeSize)
    , m_maxPoints(maxPoints)
    , m_pathTracer(trace == TraceMode::ShortestPath ? std::make_unique<PathTracer>(picture, edgeMap)
                                                    : nullptr)
    , m_anchorPoint(kNoTrace)
    , m_traceStart(kNoTrace)
{
}

void OutlineReplay::apply(const OutlineEvent &event)
{
    m_line = event.line;
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
    m_line = 0;
}

void OutlineReplay::apply(const QList<OutlineEvent> &events)
{
    for (const OutlineEvent &event : events) {
        if (!ok())
            return;
        apply(event);
    }
}

void OutlineReplay::press(const QRect &probe, bool right)
{
    if (!ok())
        return;
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

    const QList<QPoint> steps = stretchTo(target);
    if (qsizetype(m_points.size()) + 1 + steps.size() > m_maxPoints) {
        const QString where = m_line > 0 ? QStringLiteral(" (line %1)").arg(m_line) : QString();
        m_error = QStringLiteral("the outline is too long: its stretches pass %1 points at the "
                                 "press on %2,%3%4")
                      .arg(m_maxPoints)
                      .arg(target.x())
                      .arg(target.y())
                      .arg(where);
        return;
    }

    m_undo.push_back({ m_anchorPoint, m_log.size(), m_traceDrawn });
    m_points.push_back(m_anchorPoint);
    m_points.insert(m_points.end(), steps.cbegin(), steps.cend());
    m_log.push_back({ Edit::Stretch, m_points.size() });
    // A stretch of a single point leaves an empty trace empty.
    m_traceDrawn = m_traceDrawn || !steps.isEmpty();
    m_anchorPoint = target;
    if (closesTrace(target, m_traceStart, probe.width())) {
        m_log.push_back({ Edit::Close, m_points.size() });
        m_traceDrawn = false;
        m_anchorPoint = kNoTrace;
    }
}

QList<QPoint> OutlineReplay::stretchTo(QPoint target)
{
    return m_pathTracer ? m_pathTracer->trace(m_anchorPoint, target)
                        : walkTrace(m_anchorPoint, target, m_picture, m_edgeMap);
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
    if (!ok() || m_undo.empty())
        return;
    const Saved saved = m_undo.back();
    m_undo.pop_back();
    // Undoing a stretch from before an Invert takes the Invert back too, as the window's
    // undo restores the paths saved before that stretch.
    m_log.resize(saved.logSize);
    m_points.resize(m_log.empty() ? 0 : m_log.back().pointsEnd);
    m_anchorPoint = saved.anchorPoint;
    m_traceDrawn = saved.traceDrawn;
}

void OutlineReplay::invert()
{
    // Nothing shown, nothing to invert; and the inversion itself cannot be undone.
    if (!ok() || !hasSelection())
        return;
    m_log.push_back({ Edit::Invert, m_points.size() });
    if (m_traceDrawn) {
        m_traceDrawn = false;
        m_anchorPoint = kNoTrace;
    }
}

OutlineReplay::Paths OutlineReplay::replay() const
{
    Paths paths;
    size_t begin = 0;
    for (const Entry &entry : m_log) {
        switch (entry.edit) {
        case Edit::Stretch:
            joinStretch(paths.trace,
                stretchPath(m_points[begin], m_points.data() + begin + 1,
                    qsizetype(entry.pointsEnd - begin - 1)));
            begin = entry.pointsEnd;
            paths.inverted.reset();
            break;
        case Edit::Close:
            closeTrace(paths.trace, paths.selection);
            break;
        case Edit::Invert: {
            QPoint anchor; // tracked as the events are applied
            const QPainterPath shown
                = paths.inverted ? *paths.inverted : shownSelection(paths.selection, paths.trace);
            paths.inverted
                = invertSelection(m_picture, paths.selection, paths.trace, anchor, shown);
            break;
        }
        }
    }
    return paths;
}

QPainterPath OutlineReplay::shownPath() const
{
    Paths paths = replay();
    if (paths.inverted)
        return *paths.inverted;
    if (!hasSelection())
        return {};
    return shownSelection(std::move(paths.selection), paths.trace);
}

QPainterPath OutlineReplay::selectionPath() const
{
    return replay().selection;
}

QPainterPath OutlineReplay::tracePath() const
{
    return replay().trace;
}
