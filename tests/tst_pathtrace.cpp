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

// Plain Dijkstra over the whole picture.
qint64 referenceCost(QPoint from, QPoint to, const QSize &size, const EdgeMap &map)
{
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
        for (int i = 0; i < 9; ++i)
            if (const QPoint n = p + QPoint(i % 3 - 1, i / 3 - 1);
                n != p && QRect(QPoint(), size).contains(n))
                queue.push({ cost + stepCost(p, n, size, map), n });
    }
    return -1;
}

// The cost of a traced path, or -1 unless it is a proper stretch: inside the picture,
// 8-connected from `from`, no pixel twice, `to` last (and empty when from == to).
qint64 checkedCost(
    QPoint from, QPoint to, const QList<QPoint> &steps, const QSize &size, const EdgeMap &map)
{
    std::set<std::pair<int, int>> seen { { from.x(), from.y() } };
    qint64 cost = 0;
    QPoint previous = from;
    for (const QPoint p : steps) {
        const QPoint d = p - previous;
        if (!QRect(QPoint(), size).contains(p) || std::max(std::abs(d.x()), std::abs(d.y())) != 1
            || !seen.insert({ p.x(), p.y() }).second)
            return -1;
        cost += stepCost(previous, p, size, map);
        previous = p;
    }
    return previous == to && (from == to) == steps.isEmpty() ? cost : -1;
}

// Mostly texture, some edge pixels, so that ties and detours both occur.
EdgeMap randomMap(const QSize &size, QRandomGenerator &rng)
{
    EdgeMap map(size.width() * size.height());
    for (quint16 &v : map)
        v = rng.bounded(6) ? rng.bounded(40) : rng.bounded(766);
    return map;
}

QByteArray at(QPoint p)
{
    return QByteArray::number(p.x()) + ", " + QByteArray::number(p.y());
}

} // namespace

class TestPathTrace : public QObject
{
    Q_OBJECT

private slots:
    void stepCostsFallWithStrength()
    {
        for (int s = 1; s <= 765; ++s) {
            const int straight = pathStepCost(s, false), diagonal = pathStepCost(s, true);
            QVERIFY(straight <= pathStepCost(s - 1, false) && straight >= 1);
            // sqrt(2) within rounding: dearer than one straight step, cheaper than two.
            QVERIFY((diagonal > straight || straight == 1) && diagonal < 2 * straight);
        }
        // A clear edge is well worth a detour; texture is already half price.
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
        QTest::newRow("straight backwards") << "line" << QPoint(74, 20) << QPoint(3, 20);
        QTest::newRow("gap in the ridge") << "gap" << QPoint(5, 20) << QPoint(70, 20);
        QTest::newRow("a third of a circle") << "circle" << QPoint(100, 60) << QPoint(40, 95);
        QTest::newRow("half a circle") << "circle" << QPoint(60, 100) << QPoint(60, 20);
        QTest::newRow("along the frame") << "frame" << QPoint(5, 0) << QPoint(50, 0);
        QTest::newRow("down the right side") << "frame" << QPoint(129, 3) << QPoint(129, 120);
        // Even ground, far enough from the border that running along it never pays: the
        // straight line, not an elbow of the same length.
        QTest::newRow("flat, shallow") << "flat" << QPoint(270, 350) << QPoint(520, 400);
        QTest::newRow("flat, steep") << "flat" << QPoint(400, 590) << QPoint(399, 210);
        QTest::newRow("flat, two diagonals") << "flat" << QPoint(303, 303) << QPoint(301, 301);
        QTest::newRow("flat, up left") << "flat" << QPoint(500, 500) << QPoint(380, 430);
    }

    // A ridge of 300 over texture up to 40 (the frame case: texture up to 190, still weaker
    // than the border's price); every step within a pixel of the ridge, and as few steps as
    // the ends allow wherever the ridge is straight.
    void followsRidges()
    {
        QFETCH(QString, shape);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        const QSize size = shape == "flat" ? QSize(800, 800) : QSize(130, 130);
        const QPoint d = to - from;
        std::function<double(QPoint)> offRidge = [](QPoint p) { return std::abs(p.y() - 20.0); };
        if (shape == "circle")
            offRidge = [](QPoint p) { return std::abs(std::hypot(p.x() - 60, p.y() - 60) - 40); };
        else if (shape == "frame")
            offRidge = [size](QPoint p) { return onFrame(p, size) ? 0.0 : 1.0; };
        else if (shape == "flat")
            offRidge = [&](QPoint p) {
                const QPoint v = p - from;
                return std::abs(double(v.x()) * d.y() - double(v.y()) * d.x())
                    / std::hypot(d.x(), d.y());
            };
        QRandomGenerator rng(7);
        EdgeMap map(size.width() * size.height(), 0);
        for (int i = 0; shape != "flat" && i < map.size(); ++i) {
            const QPoint p(i % size.width(), i / size.width());
            const bool gap = shape == "gap" && p.x() >= 40 && p.x() < 46;
            map[i] = shape != "frame" && offRidge(p) < 0.5 && !gap
                ? 300
                : quint16(rng.bounded(shape == "frame" ? 190 : 40));
        }
        const QList<QPoint> steps = shortestTrace(from, to, size, map);
        QVERIFY(checkedCost(from, to, steps, size, map) >= 0);
        for (const QPoint p : steps)
            QVERIFY2(offRidge(p) <= 1.0, at(p) + " strays");
        if (shape != "circle")
            QCOMPARE(steps.size(), qMax(std::abs(d.x()), std::abs(d.y())));
    }

    void refusesWhatItCannotTrace()
    {
        const QSize size(30, 20);
        const EdgeMap map(size.width() * size.height(), 100);
        for (const auto &[from, to] :
            { std::pair { QPoint(4, 4), QPoint(4, 4) }, { QPoint(-1, 4), QPoint(4, 4) },
                { QPoint(4, 4), QPoint(4, 20) }, { QPoint(4, 4), QPoint(30, 4) } })
            QVERIFY2(shortestTrace(from, to, size, map).isEmpty(), at(from) + " to " + at(to));
        QVERIFY(shortestTrace({ 1, 1 }, { 5, 5 }, size, map.mid(1)).isEmpty());
        QVERIFY(shortestTrace({ 0, 0 }, { 0, 0 }, QSize(), EdgeMap()).isEmpty());
        // A one-pixel picture has nowhere to go; a one-row picture goes straight.
        QVERIFY(shortestTrace({ 0, 0 }, { 0, 0 }, QSize(1, 1), EdgeMap(1)).isEmpty());
        QCOMPARE(shortestTrace({ 8, 0 }, { 5, 0 }, QSize(9, 1), EdgeMap(9)),
            QList<QPoint>({ { 7, 0 }, { 6, 0 }, { 5, 0 } }));
    }

    // Pictures small enough for the band to cover them whole, so the kept tree and a fresh
    // search number the same pixels and must give the very same paths, whatever came between.
    void matchesPlainDijkstra()
    {
        QRandomGenerator rng(20240611);
        for (const QSize size :
            { QSize(1, 9), QSize(9, 1), QSize(2, 2), QSize(7, 9), QSize(20, 17), QSize(22, 22) }) {
            for (int round = 0; round < 3; ++round) {
                const EdgeMap map = randomMap(size, rng);
                QList<QPoint> ends { { 0, 0 }, { size.width() - 1, size.height() - 1 } };
                while (ends.size() < 7)
                    ends << QPoint(rng.bounded(size.width()), rng.bounded(size.height()));
                for (const QPoint from : ends) {
                    PathTracer kept(size, map);
                    QList<QList<QPoint>> firstTime;
                    for (const QPoint to : ends) {
                        firstTime << kept.trace(from, to);
                        QCOMPARE(checkedCost(from, to, firstTime.last(), size, map),
                            referenceCost(from, to, size, map));
                        QCOMPARE(firstTime.last(), shortestTrace(from, to, size, map));
                    }
                    for (qsizetype i = ends.size() - 1; i >= 0; --i)
                        QCOMPARE(kept.trace(from, ends[i]), firstTime[i]);
                }
            }
        }
    }

    // A pointer gliding away from its anchor along a long ridge, wobbling by a pixel, points
    // in a new direction only near the anchor: the tree is rebuilt there and never again,
    // and every answer follows the ridge and equals a fresh search's.
    void keepsTheTreeWhileThePointerGlides()
    {
        const QSize size(2000, 300);
        EdgeMap map(size.width() * size.height(), 10);
        std::fill_n(map.begin() + 150 * size.width(), size.width(), quint16(400));
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
                QVERIFY2(tracer.reusedTree() == (x != 60), "built or rebuilt at " + at(pointer));
            if (x % 400 == 0)
                QCOMPARE(steps, shortestTrace(anchor, pointer, size, map));
        }
        // A new anchor starts a new tree; a pointer far off to the side rebuilds the band and
        // is still reached.
        tracer.trace(QPoint(51, 150), QPoint(60, 150));
        QVERIFY(!tracer.reusedTree());
        const QList<QPoint> steps = tracer.trace(QPoint(51, 150), QPoint(1900, 10));
        QVERIFY(!tracer.reusedTree());
        QVERIFY(checkedCost(QPoint(51, 150), QPoint(1900, 10), steps, size, map) >= 0);
    }

    // Pointers all round the anchor and from a corner (where the band is clipped to a sliver),
    // near and far: each band holds its pointer and the way to it, and a tree that served
    // every move before gives what a fresh search gives; far away the band must widen.
    void reachesThePointerInEveryDirection()
    {
        QRandomGenerator rng(99);
        const QSize size(600, 500);
        const EdgeMap map = randomMap(size, rng);
        const QPoint anchor(290, 260), corner(599, 499);
        QList<QPoint> pointers { { 0, 0 }, { 599, 0 }, { 0, 499 }, corner, { 290, 0 },
            { 599, 261 } };
        for (int i = 0; i < 30; ++i) {
            const double angle = i * 2 * 3.14159265358979 / 30 + 0.01, reach = i % 2 ? 280 : 37;
            pointers << QPoint(std::clamp(int(anchor.x() + reach * std::cos(angle)), 0, 599),
                std::clamp(int(anchor.y() + reach * std::sin(angle)), 0, 499));
        }
        PathTracer kept(size, map);
        for (const QPoint from : { anchor, corner })
            for (const QPoint to : pointers) {
                const QList<QPoint> steps = kept.trace(from, to);
                QVERIFY2(checkedCost(from, to, steps, size, map) >= 0, at(from) + " to " + at(to));
                QCOMPARE(steps, shortestTrace(from, to, size, map));
            }
        // Pointers near the edges of their direction's sector, beyond the band's straight part.
        const QSize wide(2200, 240);
        const EdgeMap flat(wide.width() * wide.height(), 0);
        PathTracer far(wide, flat);
        for (const QPoint to : { QPoint(2199, 0), QPoint(2199, 14), QPoint(2199, 226) })
            QVERIFY2(checkedCost({ 10, 120 }, to, far.trace({ 10, 120 }, to), wide, flat) >= 0,
                "to " + at(to));
    }
};

QTEST_GUILESS_MAIN(TestPathTrace)
#include "tst_pathtrace.moc"
