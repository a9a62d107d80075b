// How many clicks a careful user needs to cut an object out with each way of following edges,
// and how fast a pointer move is on a big photo.
//
// Cases: an object cut from one real photo with a soft, anti-aliased mask of a known shape
// is pasted into another. A scripted user starts on the true outline (snapped as the
// window's first press), then keeps clicking at the farthest point along the outline whose
// stretch from the last click stays within 2 pixels of the part of the outline between the
// two clicks, until back at the start; holes are outlined the same way inside. The selection is
// built as the window builds it and compared with the true mask (IoU).
//
// Run by hand: bench_clicks PHOTO PHOTO... (two or more photos; Debian's ukui-wallpapers
// puts some in /usr/share/backgrounds).
#include "edgeanalysis.h"
#include "median.h"
#include "pathtracer.h"
#include "selectionedit.h"
#include "selectionmask.h"
#include "tracing.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

namespace
{

using Tracer = std::function<QList<QPoint>(QPoint, QPoint)>;

constexpr int kProbe = 10; // the window's probe at zoom 1: snap window and closing distance
constexpr int kTolerance = 2; // pixels a stretch may stray from the true outline
const QSize kCaseSize(1600, 1000);

QImage loadPhoto(const QString &file, const QSize &size)
{
    QImageReader reader(file);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return image;
    return image.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
        .copy(QRect(QPoint(), size))
        .convertToFormat(QImage::Format_ARGB32);
}

QPainterPath cupShape()
{
    QPainterPath body;
    body.addRoundedRect(QRectF(560, 250, 360, 500), 60, 60);
    QPainterPath handle;
    handle.addEllipse(QPointF(960, 480), 120, 150);
    QPainterPath hole;
    hole.addEllipse(QPointF(985, 480), 55, 90);
    return body.united(handle).subtracted(hole);
}

QPainterPath blobShape()
{
    QPolygonF points;
    for (int i = 0; i < 720; ++i) {
        const double a = i * 3.14159265358979 / 360;
        const double r = 290 * (1 + 0.18 * std::sin(3 * a) + 0.08 * std::cos(5 * a + 1));
        points << QPointF(800 + r * std::cos(a), 500 + r * std::sin(a));
    }
    QPainterPath blob;
    blob.addPolygon(points);
    blob.closeSubpath();
    return blob;
}

QPainterPath crescentShape()
{
    QPainterPath disc;
    disc.addEllipse(QPointF(780, 520), 330, 330);
    QPainterPath bite;
    bite.addEllipse(QPointF(960, 420), 230, 230);
    return disc.subtracted(bite);
}

// Soft coverage of the shape, 0..255, as an anti-aliased painter draws it.
QImage coverage(const QPainterPath &shape, const QSize &size)
{
    QImage alpha(size, QImage::Format_Grayscale8);
    alpha.fill(0);
    QPainter painter(&alpha);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, Qt::white);
    return alpha;
}

QImage pasteObject(const QImage &background, const QImage &object, const QImage &alpha)
{
    QImage out = background.copy();
    for (int y = 0; y < out.height(); ++y) {
        QRgb *o = reinterpret_cast<QRgb *>(out.scanLine(y));
        const QRgb *s = reinterpret_cast<const QRgb *>(object.constScanLine(y));
        const uchar *a = alpha.constScanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            const int w = a[x];
            auto mix = [w](int b, int f) { return (b * (255 - w) + f * w + 127) / 255; };
            o[x] = qRgb(mix(qRed(o[x]), qRed(s[x])), mix(qGreen(o[x]), qGreen(s[x])),
                mix(qBlue(o[x]), qBlue(s[x])));
        }
    }
    return out;
}

// 3-4 chamfer distance to the nearest pixel on either side of the mask's boundary, in
// thirds of a pixel.
std::vector<int> outlineDistance(const QImage &alpha)
{
    const int w = alpha.width();
    const int h = alpha.height();
    auto inside = [&](int x, int y) { return alpha.constScanLine(y)[x] >= 128; };
    std::vector<int> d(size_t(w) * h, 1 << 28);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((x + 1 < w && inside(x, y) != inside(x + 1, y))
                || (x > 0 && inside(x, y) != inside(x - 1, y))
                || (y + 1 < h && inside(x, y) != inside(x, y + 1))
                || (y > 0 && inside(x, y) != inside(x, y - 1)))
                d[size_t(x + y * w)] = 0;
    auto relax = [&](int x, int y, int dx, int dy, int c) {
        const int nx = x + dx;
        const int ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < w && ny < h)
            d[size_t(x + y * w)] = std::min(d[size_t(x + y * w)], d[size_t(nx + ny * w)] + c);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            relax(x, y, -1, 0, 3);
            relax(x, y, 0, -1, 3);
            relax(x, y, -1, -1, 4);
            relax(x, y, 1, -1, 4);
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            relax(x, y, 1, 0, 3);
            relax(x, y, 0, 1, 3);
            relax(x, y, 1, 1, 4);
            relax(x, y, -1, 1, 4);
        }
    return d;
}

// The contours of the shape as pixel chains one pixel apart, outer outline first.
QList<QList<QPoint>> contours(const QPainterPath &shape)
{
    QList<QList<QPoint>> chains;
    for (const QPolygonF &polygon : shape.simplified().toSubpathPolygons()) {
        QList<QPoint> chain;
        for (qsizetype i = 0; i + 1 < polygon.size(); ++i) {
            const QPointF a = polygon[i];
            const QPointF b = polygon[i + 1];
            const int n = std::max(1, int(std::ceil(QLineF(a, b).length())));
            for (int k = 0; k < n; ++k) {
                const QPoint p = (a + (b - a) * (double(k) / n)).toPoint();
                if (chain.isEmpty() || chain.last() != p)
                    chain << p;
            }
        }
        while (chain.size() > 1 && chain.first() == chain.last())
            chain.removeLast();
        if (chain.size() > 20)
            chains << chain;
    }
    std::sort(chains.begin(), chains.end(),
        [](const QList<QPoint> &a, const QList<QPoint> &b) { return a.size() > b.size(); });
    return chains;
}

struct Outcome {
    int clicks = 0;
    int strays = 0; // confirmed stretches that leave the outline
    double iou = 0;
    double seconds = 0;
};

struct Case {
    const char *name;
    QImage picture;
    QImage truth; // coverage, 0..255
    QList<QList<QPoint>> outlines;
    std::vector<int> distance;
    QList<quint16> edgeMap;
};

Outcome runUser(const Case &c, const Tracer &trace)
{
    QElapsedTimer timer;
    timer.start();
    const QSize size = c.picture.size();
    const int width = size.width();
    // Where along the outline being traced each pixel near it lies: the position of the
    // outline's nearest point, -1 for pixels farther than the tolerance.
    std::vector<qsizetype> along;
    std::vector<int> nearest;
    auto mapOutline = [&](const QList<QPoint> &outline) {
        along.assign(size_t(width) * size.height(), -1);
        nearest.assign(along.size(), std::numeric_limits<int>::max());
        for (qsizetype i = 0; i < outline.size(); ++i)
            for (int dy = -kTolerance; dy <= kTolerance; ++dy)
                for (int dx = -kTolerance; dx <= kTolerance; ++dx) {
                    const QPoint p = outline[i] + QPoint(dx, dy);
                    const size_t k = size_t(p.x() + p.y() * width);
                    if (QRect(QPoint(), size).contains(p) && dx * dx + dy * dy < nearest[k]) {
                        nearest[k] = dx * dx + dy * dy;
                        along[k] = i;
                    }
                }
    };
    // A stretch from outline position `from` to `to` hugs the outline when it stays near it
    // and runs along the part between the two, not back and forth beyond them nor the other
    // way round a hole.
    auto close = [&](const QList<QPoint> &steps, qsizetype from, qsizetype to, qsizetype n) {
        constexpr qsizetype slack = 3 * kTolerance;
        for (const QPoint p : steps) {
            const size_t k = size_t(p.x() + p.y() * width);
            if (c.distance[k] > 3 * kTolerance)
                return false;
            if (along[k] >= 0) {
                const qsizetype offset = ((along[k] - from) % n + n) % n;
                if (offset > to - from + slack && offset < n - slack)
                    return false;
            }
        }
        return true;
    };

    Outcome outcome;
    QPainterPath selectionPath;
    QPainterPath tracePath;
    for (const QList<QPoint> &outline : c.outlines) {
        const qsizetype n = outline.size();
        mapOutline(outline);
        const QPoint start = snapToEdge(outline[0], kProbe, kProbe, size, c.edgeMap);
        QPoint anchor = start;
        ++outcome.clicks;
        qsizetype at = 0; // position of the last click along the outline
        bool open = true;
        while (open) {
            // The farthest point ahead whose stretch hugs the outline, looking past a short
            // run of failing ones (a stretch may cut a corner just before it catches up);
            // position n is the start again. Points by the start but short of it would
            // close the trace, so the user does not click there.
            qsizetype best = -1;
            qsizetype ahead = -1; // the nearest point a click may go to
            for (qsizetype j = at + 3; j <= n; j += 3) {
                const QPoint target = j >= n ? start : outline[j];
                if (j < n && (target - start).manhattanLength() < kProbe)
                    continue;
                if (ahead < 0)
                    ahead = j;
                if (close(trace(anchor, target), at, j, n))
                    best = j;
                else if (j - std::max(best, ahead) > 30)
                    break;
            }
            if (best < 0) // nothing hugs the outline: the user clicks right ahead
                best = ahead < 0 ? n : ahead;
            const QPoint target = best >= n ? start : outline[best];
            const QList<QPoint> steps = trace(anchor, target);
            outcome.strays += close(steps, at, best, n) ? 0 : 1;
            const QPainterPath stretch = stretchPath(anchor, steps);
            ++outcome.clicks;
            open
                = !confirmStretch(tracePath, selectionPath, anchor, stretch, target, start, kProbe);
            at = best;
            if (open && at >= n) // the snapped start is off the outline; close on it
                open = !confirmStretch(tracePath, selectionPath, anchor,
                    stretchPath(anchor, trace(anchor, start)), start, start, kProbe);
        }
    }
    outcome.seconds = timer.nsecsElapsed() / 1e9;

    QImage mask(size, QImage::Format_ARGB32);
    mask.fill(0);
    applySelectionMask(
        mask, shownSelection(selectionPath, tracePath).translated(-kSceneOffset, -kSceneOffset));
    qint64 both = 0;
    qint64 either = 0;
    for (int y = 0; y < size.height(); ++y) {
        const uchar *t = c.truth.constScanLine(y);
        const QRgb *m = reinterpret_cast<const QRgb *>(mask.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const bool a = t[x] >= 128;
            const bool b = qAlpha(m[x]) >= 128;
            both += a && b;
            either += a || b;
        }
    }
    outcome.iou = either ? double(both) / double(either) : 0.0;
    return outcome;
}

void timePointerMoves(const QImage &photo)
{
    const QSize big(6000, 4000);
    const QImage picture = photo.scaled(big, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_ARGB32);
    QElapsedTimer timer;
    timer.start();
    const QList<quint16> edgeMap = findEdges(picture);
    std::printf("\n24 MP photo: edges in %.2f s\n", timer.nsecsElapsed() / 1e9);

    // A pointer gliding from near the anchor to 3000 pixels away, wobbling a little, as a
    // hand does; then one sweeping round the anchor 600 pixels away, as a hand following a
    // curved outline does. Every move redraws the stretch from the same anchor.
    const QPoint anchor(1500, 1000);
    const QPointF direction(0.8, 0.6);
    std::printf("%-14s %11s %9s %11s %9s %12s %9s\n", "mode", "glide median", "max ms",
        "sweep median", "max ms", "cold 3000 ms", "steps");
    for (const char *mode : { "walk", "shortest path" }) {
        PathTracer tracer(big, edgeMap);
        auto move = [&](QPoint pointer) {
            timer.restart();
            const QList<QPoint> stretch = mode[0] == 'w' ? walkTrace(anchor, pointer, big, edgeMap)
                                                         : tracer.trace(anchor, pointer);
            const QPainterPath path = stretchPath(anchor, stretch);
            return timer.nsecsElapsed() / 1e6;
        };
        std::vector<double> glide;
        for (int i = 1; i <= 300; ++i) {
            const double along = 10.0 * i;
            const double wobble = 6.0 * std::sin(i * 0.7);
            glide.push_back(move((QPointF(anchor) + direction * along
                + QPointF(-direction.y(), direction.x()) * wobble)
                                     .toPoint()));
        }
        std::vector<double> sweep;
        for (int i = 0; i < 200; ++i) {
            const double angle = i * 10.0 / 600.0;
            sweep.push_back(
                move(anchor + QPointF(600 * std::cos(angle), 600 * std::sin(angle)).toPoint()));
        }
        // A pointer jumping straight to 3000 pixels away, with nothing kept.
        qsizetype coldSteps = 0;
        const double coldMs = medianMs(5, [&] {
            coldSteps = (mode[0] == 'w'
                    ? walkTrace(anchor, anchor + QPoint(2400, 1800), big, edgeMap)
                    : shortestTrace(anchor, anchor + QPoint(2400, 1800), big, edgeMap))
                            .size();
        });
        std::printf("%-14s %11.3f %9.3f %11.3f %9.3f %12.1f %9lld\n", mode, median(glide),
            *std::max_element(glide.begin(), glide.end()), median(sweep),
            *std::max_element(sweep.begin(), sweep.end()), coldMs,
            static_cast<long long>(coldSteps));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    if (files.size() < 2) {
        std::fprintf(stderr,
            "usage: bench_clicks PHOTO PHOTO...\n"
            "Give two or more real photos; on Debian, 'apt-get install ukui-wallpapers' puts\n"
            "some in /usr/share/backgrounds (e.g. the-mouse.jpg, string.jpg, rhythm.jpg).\n");
        return 2;
    }
    QList<QImage> photos;
    for (const QString &file : files) {
        const QImage photo = loadPhoto(file, kCaseSize);
        if (photo.isNull()) {
            std::fprintf(stderr, "bench_clicks: cannot read %s\n", qPrintable(file));
            return 2;
        }
        photos << photo;
    }

    const std::pair<const char *, QPainterPath> shapes[]
        = { { "cup", cupShape() }, { "blob", blobShape() }, { "crescent", crescentShape() } };
    std::printf("%-10s %-24s %6s %6s %8s %6s %6s %8s %6s\n", "shape", "photo (object)", "walk",
        "strays", "IoU", "path", "strays", "IoU", "ratio");
    std::vector<double> ratios;
    for (qsizetype p = 0; p < photos.size(); ++p) {
        const QImage &background = photos[p];
        const QImage &object = photos[(p + 1) % photos.size()];
        for (const auto &[name, shape] : shapes) {
            Case c;
            c.name = name;
            c.truth = coverage(shape, kCaseSize);
            c.picture = pasteObject(background, object, c.truth);
            c.outlines = contours(shape);
            c.distance = outlineDistance(c.truth);
            c.edgeMap = findEdges(c.picture);

            const Outcome walk = runUser(c,
                [&](QPoint from, QPoint to) { return walkTrace(from, to, kCaseSize, c.edgeMap); });
            PathTracer tracer(kCaseSize, c.edgeMap);
            const Outcome path
                = runUser(c, [&](QPoint from, QPoint to) { return tracer.trace(from, to); });
            const double ratio = double(path.clicks) / walk.clicks;
            ratios.push_back(ratio);
            const QString label = QFileInfo(files[p]).fileName() + " ("
                + QFileInfo(files[(p + 1) % files.size()]).fileName() + ")";
            std::printf("%-10s %-24s %6d %6d %8.4f %6d %6d %8.4f %6.2f\n", name,
                qPrintable(label.left(24)), walk.clicks, walk.strays, walk.iou, path.clicks,
                path.strays, path.iou, ratio);
        }
    }
    std::printf("median clicks ratio (path / walk): %.2f\n", median(ratios));

    timePointerMoves(loadPhoto(files[0], QSize(3000, 2000)));
    return 0;
}
