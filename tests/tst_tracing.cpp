#include "tracing.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <tuple>

using EdgeMap = QList<quint16>;

// One greedy step written plainly: the cheapest neighbour that gets strictly closer, the
// earliest (x first, then y) among equals. No step costs as much as 1000.
static QPoint referenceStep(QPoint q, QPoint t, const QSize &size, const EdgeMap &map)
{
    QPoint best;
    int bestCost = 1000;
    for (int i = 0; i < 9; ++i) {
        const QPoint n = q + QPoint(i / 3 - 1, i % 3 - 1);
        const int x = n.x(), y = n.y(), w = size.width(), h = size.height();
        if (x < 0 || y < 0 || x >= w || y >= h
            || QPoint::dotProduct(n - t, n - t) >= QPoint::dotProduct(q - t, q - t))
            continue;
        const int cost = x > 0 && y > 0 && x < w - 1 && y < h - 1 ? 756 - map[x + y * w] : 0;
        if (cost < bestCost)
            std::tie(best, bestCost) = std::pair(n, cost);
    }
    return best;
}

class TestTracing : public QObject
{
    Q_OBJECT

private slots:
    void firstClickAimsAndSnaps()
    {
        // The null rectangle's centre (0 + -1) / 2 truncates to 0; the rest clamp or truncate.
        const QPair<QRect, QPoint> cases[] = { { QRect(), { 0, 0 } },
            { QRect(51, 41, 10, 12), { 45, 36 } }, { QRect(0, 2, 10, 10), { 0, 0 } },
            { QRect(212, 112, 8, 8), { 199, 99 } }, { QRect(205, 105, 10, 10), { 199, 99 } } };
        for (const auto &[probe, expected] : cases)
            QCOMPARE(probeTarget(probe, QSize(200, 100)), expected);

        const auto snap = [](QList<QPair<QPoint, quint16>> peaks, QPoint target, QSize probe) {
            EdgeMap map(40 * 30, 0);
            for (const auto &[at, value] : peaks)
                map[at.x() + at.y() * 40] = value;
            return snapToEdge(target, probe.width(), probe.height(), QSize(40, 30), map);
        };
        // A 10x10 probe around a looks at columns 15..24 and rows 10..19.
        const QPoint a(20, 15);
        const QSize p(10, 10);
        QCOMPARE(snap({ { a, 9 }, { { 15, 10 }, 9 } }, a, p), a);
        QCOMPARE(snap({ { a, 9 }, { { 24, 19 }, 10 } }, a, p), QPoint(24, 19));
        QCOMPARE(snap({ { { 22, 11 }, 7 }, { { 15, 19 }, 7 } }, a, p), QPoint(15, 19));
        QCOMPARE(snap({ { { 18, 17 }, 7 }, { { 18, 12 }, 7 } }, a, p), QPoint(18, 12));
        QCOMPARE(snap({ { { 25, 15 }, 765 }, { { 20, 20 }, 765 }, { { 14, 15 }, 765 } }, a, p), a);
        QCOMPARE(snap({ { { 22, 15 }, 765 }, { { 21, 16 }, 1 } }, a, QSize(5, 10)), QPoint(21, 16));
        QCOMPARE(snap({ { { 20, 14 }, 765 } }, a, QSize(1, 10)), a);
        // Windows reaching past the picture are clipped.
        QCOMPARE(snap({ { { 4, 4 }, 3 }, { { 5, 0 }, 765 } }, QPoint(0, 0), p), QPoint(4, 4));
        QCOMPARE(snap({ { { 33, 29 }, 9 }, { { 34, 24 }, 3 } }, QPoint(39, 29), p), QPoint(34, 24));
    }

    void flatWalkShape()
    {
        // Equal costs: the first qualifying neighbour wins, so both walks zigzag in 39 steps.
        QList<QPoint> right, down;
        for (int x = 101; x <= 119; ++x)
            right << QPoint(x, 99) << QPoint(x, 100);
        for (int i = 1; i <= 10; ++i)
            down << QPoint(100 - i, 100 + i);
        for (int y = 111; y <= 120; ++y)
            down << QPoint(90, y);
        for (int x = 91; x <= 99; ++x)
            down << QPoint(x, 119) << QPoint(x, 120);
        const EdgeMap flat(300 * 200, 0);
        for (const QList<QPoint> &expected :
            { right << QPoint(120, 100), down << QPoint(100, 120) })
            QCOMPARE(walkTrace(QPoint(100, 100), expected.last(), QSize(300, 200), flat), expected);
    }

    void walkRunsAlongTheFrame()
    {
        // Strength 0 on the frame would cost 756 were the frame not free; inner steps cost 1.
        EdgeMap map(60 * 70, 0);
        for (int y = 1; y < 69; ++y)
            std::fill_n(map.begin() + y * 60 + 1, 58, 755);
        const QPoint ends[][2]
            = { { { 5, 0 }, { 50, 0 } }, { { 50, 69 }, { 5, 69 } }, { { 59, 5 }, { 59, 50 } } };
        for (const auto &[from, to] : ends) {
            QList<QPoint> straight;
            for (int i = 1; i <= 45; ++i)
                straight << from + (to - from) / 45 * i;
            QCOMPARE(walkTrace(from, to, QSize(60, 70), map), straight);
        }
    }

    void degenerateWalksHaveNoSteps()
    {
        const QSize picture(20, 10);
        const EdgeMap map(200, 0), shortMap(199, 765);
        QVERIFY(walkTrace(QPoint(12, 7), QPoint(12, 7), picture, map).isEmpty());
        QCOMPARE(stretchPath(QPoint(12, 7), {}), QPainterPath(QPointF(22, 17)));
        // Ends outside the picture or a map of the wrong size must not be read.
        QVERIFY(walkTrace(QPoint(-1, 3), QPoint(5, 5), picture, map).isEmpty());
        QVERIFY(walkTrace(QPoint(5, 5), QPoint(20, 5), picture, map).isEmpty());
        QVERIFY(walkTrace(QPoint(1, 1), QPoint(15, 8), picture, shortMap).isEmpty());
        QCOMPARE(snapToEdge(QPoint(5, 5), 10, 10, picture, shortMap), QPoint(5, 5));
    }

    void walkFollowsTheGreedyRule()
    {
        QRandomGenerator rng(20240611);
        const QSize sizes[] = { { 1, 1 }, { 1, 9 }, { 9, 1 }, { 7, 9 }, { 40, 30 } };
        for (int round = 0; round < 10; ++round) {
            // Weak or flat strengths with a few above 756, whose steps cost less than nothing.
            const QSize size = sizes[round / 2];
            EdgeMap map(size.width() * size.height());
            for (quint16 &v : map)
                v = rng.bounded(10) ? rng.bounded(round % 2 ? 4 : 766) : 756 + rng.bounded(10);
            QList<QPoint> ends { { 0, 0 }, { size.width() - 1, size.height() - 1 } };
            while (ends.size() < 8)
                ends << QPoint(rng.bounded(size.width()), rng.bounded(size.height()));
            for (const QPoint from : ends) {
                for (const QPoint to : ends) {
                    QList<QPoint> expected;
                    for (QPoint q = from; q != to; q = expected.last())
                        expected << referenceStep(q, to, size, map);
                    const QList<QPoint> steps = walkTrace(from, to, size, map);
                    if (steps != expected)
                        qWarning() << size << from << to;
                    QCOMPARE(steps, expected);
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTracing)
#include "tst_tracing.moc"
