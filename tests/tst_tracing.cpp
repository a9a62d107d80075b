#include "tracing.h"

#include <QRandomGenerator>
#include <QTest>

#include <climits>

using EdgeMap = QList<quint16>;
using Peaks = QList<QPair<QPoint, quint16>>;

namespace
{

EdgeMap randomMap(const QSize &size, QRandomGenerator &rng, int maxStrength, int strongOneIn = 0)
{
    EdgeMap map(qsizetype(size.width()) * size.height());
    for (quint16 &v : map)
        v = strongOneIn && rng.bounded(strongOneIn) == 0 ? quint16(756 + rng.bounded(10))
                                                         : quint16(rng.bounded(maxStrength + 1));
    return map;
}

qint64 squared(QPoint a, QPoint b)
{
    return qint64(a.x() - b.x()) * (a.x() - b.x()) + qint64(a.y() - b.y()) * (a.y() - b.y());
}

// One greedy step written plainly: the cheapest neighbour that gets strictly closer, the
// earliest (x first, then y) among equals.
QPoint referenceStep(QPoint q, QPoint t, const QSize &size, const EdgeMap &map)
{
    QPoint best(-1, -1);
    int bestCost = INT_MAX;
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            const QPoint n = q + QPoint(dx, dy);
            if (!QRect(QPoint(0, 0), size).contains(n) || squared(n, t) >= squared(q, t))
                continue;
            const bool frame = n.x() == 0 || n.y() == 0 || n.x() == size.width() - 1
                || n.y() == size.height() - 1;
            const int cost = frame ? 0 : 756 - map.at(n.x() + n.y() * size.width());
            if (cost < bestCost) {
                bestCost = cost;
                best = n;
            }
        }
    }
    return best;
}

} // namespace

class TestTracing : public QObject
{
    Q_OBJECT

private slots:
    void probeTargetAimsAtCentre_data();
    void probeTargetAimsAtCentre();
    void snapToEdge_data();
    void snapToEdge();
    void flatWalkShape_data();
    void flatWalkShape();
    void walkRunsAlongTheFrame();
    void walkToTheAnchorIsASinglePoint();
    void walkFollowsTheGreedyRule();
    void mismatchedInputIsRefused();
};

void TestTracing::probeTargetAimsAtCentre_data()
{
    QTest::addColumn<QRect>("probe");
    QTest::addColumn<QPoint>("expected");

    // The null rectangle's centre (0 + -1) / 2 truncates to 0.
    QTest::newRow("null rectangle") << QRect() << QPoint(0, 0);
    QTest::newRow("odd sums truncate") << QRect(51, 41, 10, 12) << QPoint(45, 36);
    QTest::newRow("left clamp") << QRect(0, 40, 10, 10) << QPoint(0, 34);
    QTest::newRow("top clamp") << QRect(50, 2, 10, 10) << QPoint(44, 0);
    QTest::newRow("right clamp") << QRect(212, 40, 8, 10) << QPoint(199, 34);
    QTest::newRow("bottom clamp") << QRect(50, 112, 10, 8) << QPoint(44, 99);
    QTest::newRow("last pixel unclamped") << QRect(205, 105, 10, 10) << QPoint(199, 99);
}

void TestTracing::probeTargetAimsAtCentre()
{
    QFETCH(QRect, probe);
    QFETCH(QPoint, expected);
    QCOMPARE(probeTarget(probe, QSize(200, 100)), expected);
}

void TestTracing::snapToEdge_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<Peaks>("peaks");
    QTest::addColumn<QPoint>("target");
    QTest::addColumn<QSize>("probe");
    QTest::addColumn<QPoint>("expected");

    const QSize pic(40, 30);
    const QPoint a(20, 15);
    const QSize p10(10, 10); // window: columns 15..24, rows 10..19
    QTest::newRow("equal to target: target wins")
        << pic << Peaks { { a, 500 }, { QPoint(15, 10), 500 } } << a << p10 << a;
    QTest::newRow("strictly greater moves")
        << pic << Peaks { { a, 500 }, { QPoint(24, 19), 501 } } << a << p10 << QPoint(24, 19);
    QTest::newRow("tie: smaller x wins")
        << pic << Peaks { { QPoint(22, 11), 7 }, { QPoint(15, 19), 7 } } << a << p10
        << QPoint(15, 19);
    QTest::newRow("tie: then smaller y")
        << pic << Peaks { { QPoint(18, 17), 7 }, { QPoint(18, 12), 7 } } << a << p10
        << QPoint(18, 12);
    QTest::newRow("window ends before a+hw")
        << pic
        << Peaks { { QPoint(25, 15), 765 }, { QPoint(20, 20), 765 }, { QPoint(14, 15), 765 } } << a
        << p10 << a;
    QTest::newRow("odd width halves down")
        << pic << Peaks { { QPoint(22, 15), 765 }, { QPoint(21, 16), 1 } } << a << QSize(5, 10)
        << QPoint(21, 16);
    QTest::newRow("1 wide: no window")
        << pic << Peaks { { QPoint(20, 14), 765 } } << a << QSize(1, 10) << a;
    QTest::newRow("1 high: no window")
        << pic << Peaks { { QPoint(19, 15), 765 } } << a << QSize(10, 1) << a;
    QTest::newRow("clipped top-left") << pic << Peaks { { QPoint(4, 4), 3 }, { QPoint(5, 0), 765 } }
                                      << QPoint(0, 0) << p10 << QPoint(4, 4);
    QTest::newRow("clipped bottom-right")
        << pic << Peaks { { QPoint(33, 29), 765 }, { QPoint(34, 24), 3 } } << QPoint(39, 29) << p10
        << QPoint(34, 24);
}

void TestTracing::snapToEdge()
{
    QFETCH(QSize, picture);
    QFETCH(Peaks, peaks);
    QFETCH(QPoint, target);
    QFETCH(QSize, probe);
    QFETCH(QPoint, expected);

    EdgeMap map(picture.width() * picture.height(), 0);
    for (const auto &[p, value] : peaks)
        map[p.x() + p.y() * picture.width()] = value;
    QCOMPARE(::snapToEdge(target, probe.width(), probe.height(), picture, map), expected);
}

void TestTracing::flatWalkShape_data()
{
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QList<QPoint>>("expected");

    // Equal costs: the first qualifying neighbour wins, so the walk zigzags.
    QList<QPoint> right;
    for (int x = 101; x <= 119; ++x)
        right << QPoint(x, 99) << QPoint(x, 100);
    QTest::newRow("to (120,100)") << QPoint(120, 100) << (right << QPoint(120, 100));

    QList<QPoint> down;
    for (int i = 1; i <= 10; ++i)
        down << QPoint(100 - i, 100 + i);
    for (int y = 111; y <= 120; ++y)
        down << QPoint(90, y);
    for (int x = 91; x <= 99; ++x)
        down << QPoint(x, 119) << QPoint(x, 120);
    QTest::newRow("to (100,120)") << QPoint(100, 120) << (down << QPoint(100, 120));
    QTest::newRow("to (101,101): straight before diagonal")
        << QPoint(101, 101) << QList<QPoint> { QPoint(100, 101), QPoint(101, 101) };
}

void TestTracing::flatWalkShape()
{
    QFETCH(QPoint, to);
    QFETCH(QList<QPoint>, expected);
    const QSize picture(300, 200);
    const EdgeMap flat(picture.width() * picture.height(), 0);
    QCOMPARE(walkTrace(QPoint(100, 100), to, picture, flat), expected);
}

void TestTracing::walkRunsAlongTheFrame()
{
    // Inner strengths up to 755 keep every inner step dearer than the free frame; the ring
    // next to the frame is at 755, one above the frame's cost.
    const QSize picture(60, 70);
    QRandomGenerator rng(7);
    EdgeMap map = randomMap(picture, rng, 755);
    for (int y = 1; y < 69; ++y)
        for (int x = 1; x < 59; ++x)
            if (x == 1 || y == 1 || x == 58 || y == 68)
                map[x + y * 60] = 755;

    const QPoint ends[][2] = { { QPoint(5, 0), QPoint(50, 0) }, { QPoint(0, 5), QPoint(0, 50) },
        { QPoint(59, 5), QPoint(59, 50) }, { QPoint(5, 69), QPoint(50, 69) } };
    for (const auto &side : ends) {
        for (const bool reverse : { false, true }) {
            const QPoint from = side[reverse], to = side[!reverse];
            const QPoint unit = (to - from) / 45;
            QList<QPoint> straight;
            for (int i = 1; i <= 45; ++i)
                straight << from + unit * i;
            QCOMPARE(walkTrace(from, to, picture, map), straight);
        }
    }
}

void TestTracing::walkToTheAnchorIsASinglePoint()
{
    const QSize picture(30, 20);
    const EdgeMap map(600, 100);
    for (const QPoint a : { QPoint(12, 7), QPoint(0, 0), QPoint(29, 19) }) {
        const QList<QPoint> steps = walkTrace(a, a, picture, map);
        QVERIFY(steps.isEmpty());
        const QPainterPath path = stretchPath(a, steps);
        QCOMPARE(path.elementCount(), 1);
        QCOMPARE(QPointF(path.elementAt(0)), QPointF(a + QPoint(10, 10)));
    }
    const QPainterPath path = stretchPath(QPoint(3, 5), { QPoint(4, 6), QPoint(5, 6) });
    QCOMPARE(path.elementCount(), 3);
    QVERIFY(path.elementAt(0).isMoveTo() && path.elementAt(2).isLineTo());
    QCOMPARE(QPointF(path.elementAt(0)), QPointF(13, 15));
    QCOMPARE(QPointF(path.elementAt(2)), QPointF(15, 16));
}

void TestTracing::walkFollowsTheGreedyRule()
{
    QRandomGenerator rng(20240611);
    for (const QSize size : { QSize(1, 1), QSize(1, 17), QSize(17, 1), QSize(2, 2), QSize(3, 3),
             QSize(7, 9), QSize(8, 8), QSize(64, 48) }) {
        for (int round = 0; round < 6; ++round) {
            const EdgeMap map = round % 2 ? randomMap(size, rng, 3, 10) : randomMap(size, rng, 765);
            const int w = size.width() - 1, h = size.height() - 1;
            QList<QPoint> ends { QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h) };
            for (int i = 0; i < 8; ++i)
                ends << QPoint(rng.bounded(w + 1), rng.bounded(h + 1));

            for (const QPoint from : ends) {
                for (const QPoint to : ends) {
                    const QList<QPoint> steps = walkTrace(from, to, size, map);
                    const QByteArray where = QStringLiteral("%1x%2 (%3,%4)->(%5,%6)")
                                                 .arg(size.width())
                                                 .arg(size.height())
                                                 .arg(from.x())
                                                 .arg(from.y())
                                                 .arg(to.x())
                                                 .arg(to.y())
                                                 .toUtf8();
                    QVERIFY2(from == to ? steps.isEmpty() : !steps.isEmpty() && steps.last() == to,
                        where.constData());
                    QVERIFY2(steps.size() <= squared(from, to), where.constData());
                    QPoint q = from;
                    for (const QPoint next : steps) {
                        QVERIFY2(next == referenceStep(q, to, size, map), where.constData());
                        q = next;
                    }
                }
            }
        }
    }
}

void TestTracing::mismatchedInputIsRefused()
{
    const QSize picture(20, 10);
    const EdgeMap shortMap(199, 765);
    QVERIFY(walkTrace(QPoint(1, 1), QPoint(15, 8), picture, shortMap).isEmpty());
    QCOMPARE(::snapToEdge(QPoint(5, 5), 10, 10, picture, shortMap), QPoint(5, 5));
    const EdgeMap map(200, 0);
    QVERIFY(walkTrace(QPoint(-1, 3), QPoint(5, 5), picture, map).isEmpty());
    QVERIFY(walkTrace(QPoint(5, 5), QPoint(20, 5), picture, map).isEmpty());
}

QTEST_GUILESS_MAIN(TestTracing)
#include "tst_tracing.moc"
