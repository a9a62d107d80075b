#include "pathtracer.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <set>

using EdgeMap = QList<quint16>;

namespace
{

bool onFrame(QPoint p, const QSize &size)
{
    return p.x() == 0 || p.y() == 0 || p.x() == size.width() - 1 || p.y() == size.height() - 1;
}

int stepCost(QPoint p, QPoint n, const QSize &size, const EdgeMap &map)
{
    const bool along = onFrame(p, size) && onFrame(n, size) && (p.x() == n.x() || p.y() == n.y());
    return pathStepCost(
        along ? 200 : map[n.x() + n.y() * size.width()], p.x() != n.x() && p.y() != n.y());
}

// Plain Dijkstra over the whole picture with a priority queue: the cheapest cost of any
// 8-connected path from `from` to `to`.
qint64 referenceCost(QPoint from, QPoint to, const QSize &size, const EdgeMap &map)
{
    const QRect picture(QPoint(), size);
    std::vector<qint64> best(size_t(size.width() * size.height()), -1);
    using Entry = std::pair<qint64, QPoint>;
    auto later = [](const Entry &a, const Entry &b) { return a.first > b.first; };
    std::priority_queue<Entry, std::vector<Entry>, decltype(later)> queue(later);
    queue.push({ 0, from });
    while (!queue.empty()) {
        const auto [cost, p] = queue.top();
        queue.pop();
        qint64 &known = best[size_t(p.x() + p.y() * size.width())];
        if (known >= 0)
            continue;
        known = cost;
        if (p == to)
            return cost;
        for (int i = 0; i < 9; ++i) {
            const QPoint n = p + QPoint(i % 3 - 1, i / 3 - 1);
            if (n != p && picture.contains(n))
                queue.push({ cost + stepCost(p, n, size, map), n });
        }
    }
    return -1;
}

// The cost of a traced path; fails the test unless it is a proper stretch: inside the
// picture, 8-connected from `from`, no pixel twice, `to` last.
qint64 checkedCost(
    QPoint from, QPoint to, const QList<QPoint> &steps, const QSize &size, const EdgeMap &map)
{
    if (from == to) {
        if (!steps.isEmpty())
            qWarning("a stretch onto its own anchor has %lld steps", qlonglong(steps.size()));
        return steps.isEmpty() ? 0 : -1;
    }
    std::set<std::pair<int, int>> seen { { from.x(), from.y() } };
    qint64 cost = 0;
    QPoint previous = from;
    for (const QPoint p : steps) {
        const QPoint d = p - previous;
        if (!QRect(QPoint(), size).contains(p) || std::max(std::abs(d.x()), std::abs(d.y())) != 1
            || !seen.insert({ p.x(), p.y() }).second) {
            qWarning(
                "bad step from (%d, %d) to (%d, %d)", previous.x(), previous.y(), p.x(), p.y());
            return -1;
        }
        cost += stepCost(previous, p, size, map);
        previous = p;
    }
    if (steps.isEmpty() || steps.last() != to) {
        qWarning("the stretch does not end at (%d, %d)", to.x(), to.y());
        return -1;
    }
    return cost;
}

EdgeMap randomMap(const QSize &size, QRandomGenerator &rng)
{
    EdgeMap map(size.width() * size.height());
    // Mostly texture, some edge pixels, so that ties and detours both occur.
    for (quint16 &v : map)
        v = rng.bounded(6) ? rng.bounded(40) : rng.bounded(766);
    return map;
}

} // namespace

class TestPathTrace : public QObject
{
    Q_OBJECT

private slots:
    void stepCostsFallWithStrength()
    {
        for (int s = 1; s <= 765; ++s) {
            QVERIFY(pathStepCost(s, false) <= pathStepCost(s - 1, false));
            QVERIFY(pathStepCost(s, false) >= 1);
            // sqrt(2) within rounding: a diagonal is dearer than one straight step, cheaper
            // than two.
            QVERIFY(pathStepCost(s, true) > pathStepCost(s, false) || pathStepCost(s, false) == 1);
            QVERIFY(pathStepCost(s, true) < 2 * pathStepCost(s, false));
        }
        // A clear edge must be well worth a detour: five times cheaper than flat ground, and
        // texture already half price.
        QVERIFY(pathStepCost(300, false) * 5 <= pathStepCost(0, false));
        QVERIFY(pathStepCost(40, false) * 2 <= pathStepCost(0, false) + 1);
        QCOMPARE(pathStepCost(-5, true), pathStepCost(0, true));
        QCOMPARE(pathStepCost(9000, false), pathStepCost(765, false));
    }

    void followsRidges_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::newRow("straight") << "line" << QPoint(5, 20) << QPoint(70, 20);
        QTest::newRow("straight backwards") << "line" << QPoint(74, 20) << QPoint(3, 20);
        QTest::newRow("gap in the ridge") << "gap" << QPoint(5, 20) << QPoint(70, 20);
        QTest::newRow("a third of a circle") << "circle" << QPoint(100, 60) << QPoint(40, 95);
        QTest::newRow("half a circle") << "circle" << QPoint(60, 100) << QPoint(60, 20);
        QTest::newRow("along the frame") << "frame" << QPoint(5, 0) << QPoint(50, 0);
        QTest::newRow("down the right side") << "frame" << QPoint(129, 3) << QPoint(129, 120);
    }

    void followsRidges()
    {
        QFETCH(QString, shape);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        const QSize size(130, 130);
        // How far a pixel lies from the ridge the path should follow.
        std::function<double(QPoint)> offRidge;
        if (shape == "circle")
            offRidge = [](QPoint p) { return std::abs(std::hypot(p.x() - 60, p.y() - 60) - 40); };
        else if (shape == "frame")
            offRidge = [size](QPoint p) { return onFrame(p, size) ? 0.0 : 1.0; };
        else
            offRidge = [](QPoint p) { return std::abs(p.y() - 20.0); };

        // Ridge strength 300 over texture up to 40; the frame case has stronger texture
        // everywhere, still weaker than the border's price.
        QRandomGenerator rng(7);
        EdgeMap map(size.width() * size.height());
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const QPoint p(x, y);
                const bool gap = shape == "gap" && x >= 40 && x < 46;
                const bool ridge = shape != "frame" && offRidge(p) < 0.5 && !gap;
                map[x + y * size.width()]
                    = ridge ? 300 : quint16(rng.bounded(shape == "frame" ? 190 : 40));
            }

        const QList<QPoint> steps = shortestTrace(from, to, size, map);
        QVERIFY(checkedCost(from, to, steps, size, map) >= 0);
        for (const QPoint p : steps)
            QVERIFY2(offRidge(p) <= 1.0,
                qPrintable(QString("(%1, %2) strays from the ridge").arg(p.x()).arg(p.y())));
        if (shape != "circle")
            QCOMPARE(steps.size(), qMax(std::abs(to.x() - from.x()), std::abs(to.y() - from.y())));
    }

    void flatGroundGivesTheShortestStretch()
    {
        // Equal costs everywhere: any cheapest path takes exactly the Chebyshev number of
        // steps, the diagonal ones all going the same way.
        // The ends lie far enough from the border that running along it never pays.
        const QSize size(800, 800);
        const EdgeMap flat(size.width() * size.height(), 0);
        const QPair<QPoint, QPoint> ends[]
            = { { { 270, 350 }, { 520, 400 } }, { { 400, 590 }, { 399, 210 } },
                  { { 303, 303 }, { 301, 301 } }, { { 500, 500 }, { 380, 430 } } };
        for (const auto &[from, to] : ends) {
            const QList<QPoint> steps = shortestTrace(from, to, size, flat);
            QVERIFY(checkedCost(from, to, steps, size, flat) >= 0);
            const QPoint d = to - from;
            QCOMPARE(steps.size(), qMax(std::abs(d.x()), std::abs(d.y())));
            // Of all those paths, the one drawn is the straight line, not an elbow.
            for (const QPoint p : steps) {
                const QPoint v = p - from;
                const double off = std::abs(double(v.x()) * d.y() - double(v.y()) * d.x())
                    / std::hypot(d.x(), d.y());
                QVERIFY2(off <= 1.0,
                    qPrintable(
                        QString("(%1, %2) lies %3 off the line").arg(p.x()).arg(p.y()).arg(off)));
            }
        }
    }

    void refusesWhatItCannotTrace()
    {
        const QSize size(30, 20);
        const EdgeMap map(size.width() * size.height(), 100);
        QVERIFY(shortestTrace({ 4, 4 }, { 4, 4 }, size, map).isEmpty());
        QVERIFY(shortestTrace({ -1, 4 }, { 4, 4 }, size, map).isEmpty());
        QVERIFY(shortestTrace({ 4, 4 }, { 4, 20 }, size, map).isEmpty());
        QVERIFY(shortestTrace({ 4, 4 }, { 30, 4 }, size, map).isEmpty());
        QVERIFY(shortestTrace({ 1, 1 }, { 5, 5 }, size, map.mid(1)).isEmpty());
        QVERIFY(shortestTrace({ 0, 0 }, { 0, 0 }, QSize(), EdgeMap()).isEmpty());
        // A one-pixel picture has nowhere to go; a one-row picture goes straight.
        QVERIFY(shortestTrace({ 0, 0 }, { 0, 0 }, QSize(1, 1), EdgeMap(1)).isEmpty());
        QCOMPARE(shortestTrace({ 8, 0 }, { 5, 0 }, QSize(9, 1), EdgeMap(9)),
            QList<QPoint>({ { 7, 0 }, { 6, 0 }, { 5, 0 } }));
    }

    void matchesPlainDijkstra()
    {
        // Pictures small enough for the band to cover them whole, so the kept tree and a
        // fresh search number the same pixels and must give the very same paths.
        QRandomGenerator rng(20240611);
        const QSize sizes[] = { { 1, 9 }, { 9, 1 }, { 2, 2 }, { 7, 9 }, { 20, 17 }, { 22, 22 } };
        for (const QSize &size : sizes) {
            for (int round = 0; round < 3; ++round) {
                const EdgeMap map = randomMap(size, rng);
                QList<QPoint> ends { { 0, 0 }, { size.width() - 1, size.height() - 1 } };
                while (ends.size() < 7)
                    ends << QPoint(rng.bounded(size.width()), rng.bounded(size.height()));
                for (const QPoint from : ends) {
                    PathTracer kept(size, map);
                    QList<QList<QPoint>> firstTime;
                    for (const QPoint to : ends) {
                        const QList<QPoint> steps = kept.trace(from, to);
                        const qint64 cost = checkedCost(from, to, steps, size, map);
                        QCOMPARE(cost, referenceCost(from, to, size, map));
                        QCOMPARE(steps, shortestTrace(from, to, size, map));
                        firstTime << steps;
                    }
                    // The pointer comes back over the same pixels: whatever came between,
                    // the answers are the same.
                    for (qsizetype i = ends.size() - 1; i >= 0; --i)
                        QCOMPARE(kept.trace(from, ends[i]), firstTime[i]);
                }
            }
        }
    }

    void keepsTheTreeWhileThePointerGlides()
    {
        // A pointer moving away from one anchor along a long ridge, wobbling by a pixel: the
        // direction it points in changes only near the anchor, so the tree is rebuilt there
        // and never again however far the pointer goes; every answer follows the ridge
        // exactly and equals a fresh search's.
        const QSize size(2000, 300);
        EdgeMap map(size.width() * size.height(), 10);
        for (int x = 0; x < size.width(); ++x)
            map[x + 150 * size.width()] = 400;
        PathTracer tracer(size, map);
        const QPoint anchor(50, 150);
        for (int x = 60; x < 1990; x += 5) {
            const QPoint pointer(x, 150 + (x / 5) % 3 - 1);
            const QList<QPoint> steps = tracer.trace(anchor, pointer);
            // Off the ridge by one, the last step may leave it straight rather than diagonally.
            QVERIFY(std::abs(steps.size() - (x - anchor.x())) <= 1);
            for (const QPoint p : steps.first(x - anchor.x() - 1))
                QCOMPARE(p.y(), 150);
            if (x == 60 || x - anchor.x() > 100)
                QVERIFY2(tracer.reusedTree() == (x != 60),
                    qPrintable(QString("built or rebuilt at %1").arg(x)));
            if (x % 400 == 0)
                QCOMPARE(steps, shortestTrace(anchor, pointer, size, map));
        }

        // A new anchor starts a new tree.
        tracer.trace(QPoint(51, 150), QPoint(60, 150));
        QVERIFY(!tracer.reusedTree());
        // A pointer far off to the side points elsewhere and so rebuilds the band; the answer
        // still reaches it.
        const QPoint aside(1900, 10);
        const QList<QPoint> steps = tracer.trace(QPoint(51, 150), aside);
        QVERIFY(!tracer.reusedTree());
        QVERIFY(checkedCost(QPoint(51, 150), aside, steps, size, map) >= 0);
    }

    void reachesThePointerInEveryDirection()
    {
        // Pointers all round the anchor, near and far, up to the picture's corners and along
        // its frame: each band holds its pointer and the way to it, whatever its slope, and a
        // tree that has served every move before gives what a fresh search gives.
        QRandomGenerator rng(99);
        const QSize size(600, 500);
        const EdgeMap map = randomMap(size, rng);
        const QPoint anchor(290, 260);
        QList<QPoint> pointers { { 0, 0 }, { 599, 0 }, { 0, 499 }, { 599, 499 }, { 290, 0 },
            { 599, 261 } };
        for (int i = 0; i < 30; ++i) {
            const double angle = i * 2 * 3.14159265358979 / 30 + 0.01;
            const double reach = i % 2 ? 280 : 37;
            pointers << QPoint(std::clamp(int(anchor.x() + reach * std::cos(angle)), 0, 599),
                std::clamp(int(anchor.y() + reach * std::sin(angle)), 0, 499));
        }
        PathTracer kept(size, map);
        for (const QPoint to : pointers) {
            const QList<QPoint> steps = kept.trace(anchor, to);
            QVERIFY2(checkedCost(anchor, to, steps, size, map) >= 0,
                qPrintable(QString("to (%1, %2)").arg(to.x()).arg(to.y())));
            QCOMPARE(steps, shortestTrace(anchor, to, size, map));
        }
        // Far from the anchor the band widens with the distance: pointers near the edges of
        // their direction's sector, more than the band's straight part away.
        const QSize wide(2200, 240);
        const EdgeMap flat(wide.width() * wide.height(), 0);
        PathTracer far(wide, flat);
        for (const int y : { 0, 14, 226 }) {
            const QPoint from(10, 120);
            const QPoint to(2199, y);
            QVERIFY2(checkedCost(from, to, far.trace(from, to), wide, flat) >= 0,
                qPrintable(QString("to (%1, %2)").arg(to.x()).arg(to.y())));
        }
        // From a corner of the picture, where the band is clipped to a sliver.
        for (const QPoint to : pointers.mid(0, 8)) {
            if (to == QPoint(599, 499))
                continue;
            QVERIFY(checkedCost({ 599, 499 }, to, kept.trace({ 599, 499 }, to), size, map) >= 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestPathTrace)
#include "tst_pathtrace.moc"
