#include "tracing.h"

#include <QRandomGenerator>
#include <QTest>

#include <tuple>

using EdgeMap = QList<quint16>;

// One greedy step written plainly: the cheapest neighbour that gets strictly closer, the
// earliest (x first, then y) among equals; the frame is free. No step costs as much as 1000.
static QPoint referenceStep(QPoint q, QPoint t, const QSize &size, const EdgeMap &map)
{
    QPoint best;
    int bestCost = 1000;
    for (int i = 0; i < 9; ++i) {
        const QPoint n = q + QPoint(i / 3 - 1, i % 3 - 1);
        const bool inner = QRect(1, 1, size.width() - 2, size.height() - 2).contains(n);
        const int cost = inner ? 756 - map[n.x() + n.y() * size.width()] : 0;
        if (cost < bestCost && QRect(QPoint(), size).contains(n)
            && QPoint::dotProduct(n - t, n - t) < QPoint::dotProduct(q - t, q - t))
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
        const QPair<QRect, QPoint> aims[] = { { QRect(), { 0, 0 } },
            { QRect(51, 41, 10, 12), { 45, 36 } }, { QRect(0, 2, 10, 10), { 0, 0 } },
            { QRect(212, 112, 8, 8), { 199, 99 } }, { QRect(205, 105, 10, 10), { 199, 99 } } };
        for (const auto &[probe, expected] : aims)
            QCOMPARE(probeTarget(probe, QSize(200, 100)), expected);

        // Peaks, target, probe width (all are 10 high), where it snaps. A 10x10 probe around a
        // looks at columns 15..24 and rows 10..19: ties keep the target, then column order;
        // windows reaching past the picture are clipped.
        const QPoint a(20, 15);
        const std::tuple<QList<QPair<QPoint, quint16>>, QPoint, int, QPoint> cases[]
            = { { { { a, 9 }, { { 15, 10 }, 9 } }, a, 10, a },
                  { { { a, 9 }, { { 24, 19 }, 10 } }, a, 10, { 24, 19 } },
                  { { { { 22, 11 }, 7 }, { { 15, 19 }, 7 } }, a, 10, { 15, 19 } },
                  { { { { 18, 17 }, 7 }, { { 18, 12 }, 7 } }, a, 10, { 18, 12 } },
                  { { { { 25, 15 }, 765 }, { { 20, 20 }, 765 }, { { 14, 15 }, 765 } }, a, 10, a },
                  { { { { 22, 15 }, 765 }, { { 21, 16 }, 1 } }, a, 5, { 21, 16 } },
                  { { { { 20, 14 }, 765 } }, a, 1, a },
                  { { { { 4, 4 }, 3 }, { { 5, 0 }, 765 } }, { 0, 0 }, 10, { 4, 4 } },
                  { { { { 33, 29 }, 9 }, { { 34, 24 }, 3 } }, { 39, 29 }, 10, { 34, 24 } } };
        for (const auto &[peaks, target, width, expected] : cases) {
            EdgeMap map(40 * 30, 0);
            for (const auto &[at, value] : peaks)
                map[at.x() + at.y() * 40] = value;
            QCOMPARE(snapToEdge(target, width, 10, QSize(40, 30), map), expected);
        }
    }

    void walksFollowTheGreedyRule()
    {
        // A single point has no steps; ends outside the picture or a map of the wrong size must
        // not be read.
        const EdgeMap flat(300 * 200, 0), shortMap(flat.size() - 1, 765);
        QVERIFY(walkTrace(QPoint(12, 7), QPoint(12, 7), QSize(300, 200), flat).isEmpty());
        QCOMPARE(stretchPath(QPoint(12, 7), {}), QPainterPath(QPointF(22, 17)));
        QVERIFY(walkTrace(QPoint(-1, 3), QPoint(5, 5), QSize(300, 200), flat).isEmpty());
        QVERIFY(walkTrace(QPoint(5, 5), QPoint(300, 5), QSize(300, 200), flat).isEmpty());
        QVERIFY(walkTrace(QPoint(1, 1), QPoint(15, 8), QSize(300, 200), shortMap).isEmpty());
        QCOMPARE(snapToEdge(QPoint(5, 5), 10, 10, QSize(300, 200), shortMap), QPoint(5, 5));

        // Random maps against the rule written plainly above: weak ones, full of ties, and
        // varied ones; a few above 756, whose steps cost less than nothing.
        QRandomGenerator rng(20240611);
        const QSize sizes[] = { { 1, 1 }, { 1, 9 }, { 9, 1 }, { 7, 9 }, { 40, 30 }, { 60, 50 } };
        for (int round = 0; round < 12; ++round) {
            const QSize size = sizes[round / 2];
            EdgeMap map(size.width() * size.height());
            for (quint16 &v : map)
                v = rng.bounded(10) ? rng.bounded(round % 2 ? 4 : 766) : 756 + rng.bounded(10);
            QList<QPoint> ends { { 0, 0 }, { size.width() - 1, size.height() - 1 } };
            while (ends.size() < 8)
                ends << QPoint(rng.bounded(size.width()), rng.bounded(size.height()));
            for (const QPoint from : ends)
                for (const QPoint to : ends) {
                    QList<QPoint> expected;
                    for (QPoint q = from; q != to; q = expected.last())
                        expected << referenceStep(q, to, size, map);
                    QCOMPARE(walkTrace(from, to, size, map), expected);
                }
        }
    }
};

QTEST_GUILESS_MAIN(TestTracing)
#include "tst_tracing.moc"
