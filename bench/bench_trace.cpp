// Times one live-stretch update (walk plus painter path) over a long stretch on a 24 MP
// picture, the worst a pointer move asks for. Run by hand: bench_trace [runs]
#include "median.h"
#include "tracing.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

// Photo-like strengths: ridges along the contour lines of a smooth random field over weak
// texture, so the walk meets long edges, crossings and flat stretches.
QList<quint16> photoLikeEdges(const QSize &size, quint32 seed)
{
    constexpr int cell = 96;
    QRandomGenerator rng(seed);
    const int gw = size.width() / cell + 2;
    const int gh = size.height() / cell + 2;
    std::vector<float> grid(size_t(gw) * gh);
    for (float &v : grid)
        v = float(rng.generateDouble());

    QList<quint16> map(qsizetype(size.width()) * size.height());
    quint16 *out = map.data();
    for (int y = 0; y < size.height(); ++y) {
        const int gy = y / cell;
        const float fy = float(y % cell) / cell;
        for (int x = 0; x < size.width(); ++x) {
            const int gx = x / cell;
            const float fx = float(x % cell) / cell;
            const float *g = grid.data() + size_t(gy) * gw + gx;
            const float s = (g[0] * (1 - fx) + g[1] * fx) * (1 - fy)
                + (g[gw] * (1 - fx) + g[gw + 1] * fx) * fy;
            const float ridge = std::max(0.0f, 1.0f - std::abs(s - 0.5f) * 25.0f);
            out[x] = quint16(std::min(765.0f, 725.0f * ridge + float(rng.bounded(40))));
        }
        out += size.width();
    }
    return map;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const QSize picture(6000, 4000);
    const QList<quint16> edgeMap = photoLikeEdges(picture, 1234);

    // Three 3000-pixel stretches: along a row, along a column and diagonally.
    const QPair<QPoint, QPoint> stretches[] = { { QPoint(1500, 2000), QPoint(4500, 2000) },
        { QPoint(3000, 500), QPoint(3000, 3500) }, { QPoint(1000, 800), QPoint(3121, 2921) } };
    for (const auto &[from, to] : stretches) {
        std::vector<double> walkMs;
        std::vector<double> totalMs;
        qsizetype steps = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QList<QPoint> walk = walkTrace(from, to, picture, edgeMap);
            const qint64 walked = timer.nsecsElapsed();
            const QPainterPath path = stretchPath(from, walk);
            const qint64 total = timer.nsecsElapsed();
            if (path.elementCount() != walk.size() + 1)
                return 1;
            steps = walk.size();
            walkMs.push_back(walked / 1e6);
            totalMs.push_back(total / 1e6);
        }
        std::printf(
            "(%d,%d)->(%d,%d): %lld steps, walk %.3f ms, walk+path %.3f ms (median of %d)\n",
            from.x(), from.y(), to.x(), to.y(), static_cast<long long>(steps), median(walkMs),
            median(totalMs), runs);
    }
    return 0;
}
