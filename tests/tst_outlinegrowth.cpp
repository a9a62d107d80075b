// Long outlines: what the replay and the window's undo steps keep grows with the outline, not
// its square, and the replay still gives exactly the paths whole snapshots would.
#include "cmlassocommand.h"
#include "outlinereplay.h"
#include "selectionedit.h"
#include "tracing.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QRandomGenerator>
#include <QTest>

#include <optional>
#include <vector>

// The bytes the heap hands out at this moment, from the allocator itself.
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_ASAN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_ASAN_HEAP 1
#endif
#endif

// From the sanitizer's runtime (sanitizer/allocator_interface.h, which not every compiler ships).
#if defined(VELMORA_ASAN_HEAP)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
static qint64 heapInUse()
{
    return qint64(__sanitizer_get_current_allocated_bytes());
}
#elif defined(__GLIBC__)
#include <malloc.h>
static qint64 heapInUse()
{
#if __GLIBC_PREREQ(2, 33)
    const struct mallinfo2 info = mallinfo2();
#else
    const struct mallinfo info = mallinfo();
#endif
    return qint64(info.uordblks) + qint64(info.hblkhd);
}
#elif defined(Q_OS_DARWIN)
#include <malloc/malloc.h>
static qint64 heapInUse()
{
    return qint64(mstats().bytes_used);
}
#elif defined(Q_OS_WIN)
#include <malloc.h>
static qint64 heapInUse()
{
    _HEAPINFO entry {};
    qint64 used = 0;
    while (_heapwalk(&entry) == _HEAPOK)
        used += entry._useflag == _USEDENTRY ? qint64(entry._size) : 0;
    return used;
}
#else
#error "tst_outlinegrowth needs a way to read the heap's size on this platform"
#endif

namespace
{

const QSize kPicture(240, 160);

// Weak texture with a few strong ridges, so that walks bend and sometimes cross the frame.
QList<quint16> ridgedEdges(quint32 seed)
{
    QRandomGenerator rng(seed);
    QList<quint16> map(qsizetype(kPicture.width()) * kPicture.height());
    for (int i = 0; i < map.size(); ++i)
        map[i] = quint16(i % kPicture.width() % 37 == 5 || i / kPicture.width() % 29 == 3
                ? 700 + rng.bounded(66)
                : rng.bounded(120));
    return map;
}

// The replay written the plain way, with whole copies of the state before every stretch.
struct SnapshotReplay {
    struct State {
        QPoint anchor = kNoTrace;
        std::optional<QPainterPath> shown;
        QPainterPath selection, trace;
    };
    QList<quint16> edges;
    int probeSize = 10;
    State now;
    QPoint start = kNoTrace;
    std::vector<State> undo;

    void press(const QRect &probe)
    {
        const QPoint target = probeTarget(probe, kPicture);
        if (now.anchor == kNoTrace) {
            now.anchor = start = snapToEdge(target, probe.width(), probe.height(), kPicture, edges);
            return;
        }
        const QPainterPath stretch
            = stretchPath(now.anchor, walkTrace(now.anchor, target, kPicture, edges));
        undo.push_back(now);
        confirmStretch(now.trace, now.selection, now.anchor, stretch, target, start, probe.width());
        now.shown = shownSelection(now.selection, now.trace);
    }
    void apply(const OutlineEvent &event)
    {
        if (event.kind == OutlineEvent::Click)
            press(probeUnderPointer(event.pixel, probeSize));
        else if (event.kind == OutlineEvent::Close && now.anchor != kNoTrace)
            press(probeAround(start, probeSize));
        else if (event.kind == OutlineEvent::Abandon)
            now.anchor = kNoTrace;
        else if (event.kind == OutlineEvent::Undo && !undo.empty()) {
            now = undo.back();
            undo.pop_back();
        } else if (event.kind == OutlineEvent::Invert && now.shown)
            now.shown = invertSelection(kPicture, now.selection, now.trace, now.anchor, *now.shown);
    }
};

bool sameElements(const QPainterPath &a, const QPainterPath &b)
{
    bool same = a.fillRule() == b.fillRule() && a.elementCount() == b.elementCount();
    for (int i = 0; same && i < a.elementCount(); ++i) {
        const QPainterPath::Element &x = a.elementAt(i), &y = b.elementAt(i);
        same = x.type == y.type && x.x == y.x && x.y == y.y;
    }
    return same;
}

// A start in the bottom-left corner, then clicks that zigzag between two rows, stepping right
// and lower at every pass, never coming back near the start.
QList<OutlineEvent> zigzag(int clicks, int top, int bottom)
{
    QList<OutlineEvent> events { { OutlineEvent::Click, QPoint(8, kPicture.height() - 8), 1 } };
    for (int i = 1; i < clicks; ++i)
        events.append({ OutlineEvent::Click,
            QPoint(30 + i % 180, (i % 2 ? bottom : top) + 6 * (i / 180)), i + 1 });
    return events;
}

} // namespace

class TestOutlineGrowth : public QObject
{
    Q_OBJECT

private slots:
    // After every event the replay's paths equal, element for element, those of a replay
    // that snapshots everything; random scripts mix every event with closes and inverts.
    void replayMatchesWholeSnapshots_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : { 3u, 17u, 2024u, 90210u })
            QTest::addRow("%u", seed) << seed;
    }
    void replayMatchesWholeSnapshots()
    {
        QFETCH(quint32, seed);
        QRandomGenerator rng(seed);
        SnapshotReplay model;
        model.edges = ridgedEdges(seed);
        model.probeSize = 4 + int(seed % 9);
        OutlineReplay replay(kPicture, model.edges, model.probeSize);
        for (int i = 0; i < 161; ++i) {
            const int roll = rng.bounded(100);
            // Some clicks land beside the start, to close by a click, or beyond the picture.
            const OutlineEvent event { roll < 58 ? OutlineEvent::Click
                    : roll < 66                  ? OutlineEvent::Close
                    : roll < 74                  ? OutlineEvent::Abandon
                    : roll < 95                  ? OutlineEvent::Undo
                                                 : OutlineEvent::Invert,
                roll < 8 && model.start != kNoTrace
                    ? model.start + QPoint(1, 1)
                    : QPoint(rng.bounded(-10, kPicture.width() + 10),
                        rng.bounded(-10, kPicture.height() + 10)) };
            replay.apply(event);
            model.apply(event);
            const QByteArray at = "event " + QByteArray::number(i);
            QVERIFY2(replay.anchorPoint() == model.now.anchor && replay.traceStart() == model.start
                    && replay.hasSelection() == model.now.shown.has_value(),
                at);
            QCOMPARE(replay.undoDepth(), int(model.undo.size()));
            // Each look at the paths replays the whole outline, inverts included.
            if (i % 3 == 2)
                QVERIFY2(
                    sameElements(replay.shownPath(), model.now.shown.value_or(QPainterPath())), at);
            if (i % 9 == 8)
                QVERIFY2(sameElements(replay.selectionPath(), model.now.selection)
                        && sameElements(replay.tracePath(), model.now.trace),
                    at);
        }
    }

    // Every press used to copy the trace and the shown path into its undo record, so two
    // thousand presses kept hundreds of megabytes; now a press keeps its own stretch, in the
    // command-line replay and in the window's undo steps alike.
    void memoryGrowsWithTheOutline()
    {
        const QList<OutlineEvent> events = zigzag(2000, 40, 60);
        qint64 before = heapInUse();
        OutlineReplay replay(kPicture, ridgedEdges(5), 10);
        replay.apply(events);
        qint64 grown = heapInUse() - before;
        QVERIFY(replay.ok());
        QCOMPARE(replay.undoDepth(), 1999);
        // At least 20 points a stretch; 8 bytes a point and a few dozen per record, doubled
        // for the vectors' spare room (about 11 bytes a point in all).
        QVERIFY(replay.outlinePoints() >= 20 * 1999);
        QVERIFY2(grown < 64 * replay.outlinePoints() + 256 * 1024,
            qPrintable(QString("%1 bytes for %2 points").arg(grown).arg(replay.outlinePoints())));
        QCOMPARE(qsizetype(replay.shownPath().elementCount()), replay.outlinePoints() - 1998);

        QGraphicsScene scene(0, 0, 260, 180);
        QUndoStack undoStack;
        QGraphicsPathItem *traceItem = nullptr, *selectionItem = nullptr;
        QPoint anchorPoint(20, 40), traceStart(200, 150);
        QPainterPath selectionPath, tracePath;
        before = heapInUse();
        for (const OutlineEvent &event : events) {
            const QPoint to = event.pixel;
            QPainterPath stretch(anchorPoint + QPointF(10, 10));
            stretch.lineTo(QPoint(to.x(), anchorPoint.y()) + QPointF(10, 10));
            stretch.lineTo(to + QPointF(10, 10));
            traceItem = addSelectionItem(&scene, stretch);
            undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, to,
                &traceStart, &selectionPath, &tracePath, 10));
        }
        grown = heapInUse() - before;
        QCOMPARE(undoStack.count(), 2000);
        QVERIFY(tracePath.elementCount() > 3000);
        // The trace and the shown path hold 24 bytes an element; every step its stretch of
        // three elements, the command and the stack's bookkeeping (about 750 bytes in all).
        // Whole copies took 266 MB here.
        QVERIFY2(grown < 3 * 48 * tracePath.elementCount() + 2000 * 2048,
            qPrintable(
                QString("%1 bytes for %2 elements").arg(grown).arg(tracePath.elementCount())));
        // The prefixes still come back right at the far end.
        while (undoStack.canUndo())
            undoStack.undo();
        QVERIFY(tracePath.isEmpty() && !selectionItem && anchorPoint == QPoint(20, 40));
    }

    // An absurd outline fails its picture with a message instead of exhausting the memory;
    // nothing after it is played. Under the limit the same outline is fine.
    void tooLongOutlineFailsThePicture()
    {
        const QList<quint16> edges = ridgedEdges(9);
        const QList<OutlineEvent> events = zigzag(400, 30, 130)
            << OutlineEvent { OutlineEvent::Undo, QPoint(), 401 };
        OutlineReplay replay(kPicture, edges, 10, 5000);
        replay.apply(events);
        QVERIFY2(!replay.ok() && replay.error().contains("5000 points")
                && replay.error().contains("line "),
            qPrintable(replay.error()));
        QVERIFY(replay.outlinePoints() <= 5000 && replay.outlinePoints() > 5000 - 400);
        const int depth = replay.undoDepth();
        replay.undo();
        replay.click(QPoint(100, 100));
        QCOMPARE(replay.undoDepth(), depth);
        OutlineReplay roomy(kPicture, edges, 10, 1000000);
        roomy.apply(events);
        QVERIFY(roomy.ok() && roomy.error().isEmpty() && roomy.undoDepth() == 398);
    }
};

QTEST_MAIN(TestOutlineGrowth)
#include "tst_outlinegrowth.moc"
