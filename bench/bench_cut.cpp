// Times velmora-cut's batch on ten 12-megapixel photos of one object with a 20-click outline,
// and shows where each picture's time goes: load, edges, trace, mask, save.
// Usage: bench_cut [pictures] [png|jpg]   (default 10 png; medians are printed)
//        bench_cut zigzag [clicks]        (a long zigzag outline on one 12-megapixel photo,
//                                          default 10000 clicks: time and peak memory, against
//                                          a replay that keeps whole snapshots, each in a child)

#include "composite.h"
#include "cutbatch.h"
#include "cutoptions.h"
#include "edgeanalysis.h"
#include "median.h"
#include "peakmemory.h"
#include "outlineevent.h"
#include "outlinereplay.h"
#include "selectionedit.h"
#include "selectionmask.h"
#include "tracing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtMath>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace
{

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kClicks = 20;

// A product on a shaded, noisy ground; `turn` moves it a little, as a turntable would.
QImage productShot(int turn)
{
    QImage picture(kWidth, kHeight, QImage::Format_ARGB32);
    quint32 seed = 977u * quint32(turn + 1);
    for (int y = 0; y < kHeight; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            const int shade = 170 + (x + y) * 60 / (kWidth + kHeight);
            row[x] = qRgb(shade + noise, shade + noise - 5, shade - 15);
        }
    }
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 60 + 8 * turn, 40));
    painter.drawEllipse(QPointF(kWidth / 2 + 6 * turn, kHeight / 2), 1300.0, 950.0);
    painter.setBrush(QColor(40, 40, 60));
    painter.drawRect(QRectF(kWidth / 2 - 200 + 6 * turn, kHeight / 2 - 150, 400, 300));
    return picture;
}

// Clicks around the object's rim, where a user would put them.
QList<OutlineEvent> rimOutline()
{
    QList<OutlineEvent> events;
    for (int k = 0; k < kClicks; ++k) {
        const double t = 2 * M_PI * k / kClicks;
        const QPoint p(qRound(kWidth / 2 + 1300 * qCos(t)), qRound(kHeight / 2 + 950 * qSin(t)));
        events.append({ OutlineEvent::Click, p, 0 });
    }
    events.append({ OutlineEvent::Close, QPoint(), 0 });
    return events;
}

// Clicks that zigzag between two rows 250 pixels apart, 3 pixels further right each time, in
// bands that move down the picture; the outline never comes back to its start.
QList<OutlineEvent> zigzagOutline(int clicks)
{
    QList<OutlineEvent> events;
    constexpr int perBand = 1200;
    for (int i = 0; i < clicks; ++i) {
        const int band = i / perBand;
        const int x = 150 + 3 * (i % perBand);
        const int y = 120 + 280 * band + (i % 2 ? 250 : 0);
        events.append({ OutlineEvent::Click, QPoint(x, y % (kHeight - 100)), i + 1 });
    }
    return events;
}

// The replay as it was: every press copies the selection, the trace and the shown path into
// its undo record, so memory grows with the square of the outline.
QPainterPath snapshotReplay(const QSize &size, const QList<quint16> &edges,
    const QList<OutlineEvent> &events, qsizetype *points)
{
    struct Saved {
        QPoint anchor;
        std::optional<QPainterPath> shown;
        QPainterPath selection, trace;
    };
    std::vector<Saved> undo;
    QPoint anchor = kNoTrace, start = kNoTrace;
    QPainterPath selection, trace;
    std::optional<QPainterPath> shown;
    *points = 0;
    for (const OutlineEvent &event : events) {
        const QRect probe = probeUnderPointer(event.pixel, 10);
        const QPoint target = probeTarget(probe, size);
        if (anchor == kNoTrace) {
            anchor = start = snapToEdge(target, probe.width(), probe.height(), size, edges);
            continue;
        }
        const QList<QPoint> steps = walkTrace(anchor, target, size, edges);
        *points += 1 + steps.size();
        undo.push_back({ anchor, shown, selection, trace });
        confirmStretch(trace, selection, anchor, stretchPath(anchor, steps), target, start, 10);
        shown = shownSelection(selection, trace);
    }
    return shown.value_or(QPainterPath());
}

// One run in this process: "old" or "new", with this many clicks.
int zigzagRun(const QString &variant, int clicks)
{
    const QImage picture = productShot(0);
    const QList<quint16> edges = findEdges(picture);
    const QList<OutlineEvent> events = zigzagOutline(clicks);
    const double baseline = peakMegabytes();

    QElapsedTimer clock;
    qsizetype points = 0;
    double trace = 0;
    double total = 0;
    QImage result;
    QString error;
    if (variant == QLatin1String("old")) {
        clock.start();
        const QPainterPath shown = snapshotReplay(picture.size(), edges, events, &points);
        trace = clock.nsecsElapsed() / 1e6;
        QImage object = picture;
        applySelectionMask(object, shown.translated(-kSceneOffset, -kSceneOffset));
        result = composeOnBackground(object, Qt::transparent);
        total = clock.nsecsElapsed() / 1e6;
    } else {
        OutlineReplay replay(picture.size(), edges, 10);
        replay.apply(events);
        points = replay.outlinePoints();
        clock.start();
        const int elements = replay.shownPath().elementCount();
        std::printf("     building the shown path of %d elements: %.0f ms\n", elements,
            clock.nsecsElapsed() / 1e6);
        // What the tool does for a picture: the replay, the mask and the background.
        CutTimes times;
        clock.start();
        result
            = cutOut(picture, edges, events, 10, TraceMode::Walk, Qt::transparent, &error, &times);
        total = clock.nsecsElapsed() / 1e6;
        trace = times.trace;
    }
    std::printf("%-4s %6d clicks %9lld points: trace %8.0f ms, all %8.0f ms, peak %6.0f MB "
                "(%5.0f MB above the picture and its edges)%s\n",
        qPrintable(variant), clicks, static_cast<long long>(points), trace, total, peakMegabytes(),
        peakMegabytes() - baseline, result.isNull() ? " FAILED" : "");
    if (result.isNull() && !error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return result.isNull() ? 1 : 0;
}

int zigzagTable(int clicks)
{
    std::printf(
        "zigzag outlines on a %d x %d photo, each run in its own process\n", kWidth, kHeight);
    std::fflush(stdout);
    const QList<QPair<QString, int>> runs = { { "old", 125 }, { "new", 125 }, { "old", 250 },
        { "new", 250 }, { "old", 500 }, { "new", 500 }, { "new", clicks } };
    int failed = 0;
    for (const auto &[variant, count] : runs) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("zigzag-run"), variant, QString::number(count) });
        process.waitForFinished(-1);
        failed += process.exitCode() != 0;
    }
    return failed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("zigzag-run"))
        return zigzagRun(args[2], args[3].toInt());
    if (args.size() >= 2 && args[1] == QLatin1String("zigzag"))
        return zigzagTable(args.size() >= 3 ? std::max(2, args[2].toInt()) : 10000);
    const int pictures = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const QByteArray format = argc > 2 ? QByteArray(argv[2]) : QByteArray("png");

    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    std::printf("making %d photos of %d x %d in %s ...\n", pictures, kWidth, kHeight,
        qPrintable(folder.path()));
    std::fflush(stdout);

    CutOptions options;
    options.events = rimOutline();
    options.background = Qt::transparent;
    options.format = format;
    options.output = QDir(folder.path()).filePath(QStringLiteral("out"));
    for (int i = 0; i < pictures; ++i) {
        const QString path
            = QDir(folder.path())
                  .filePath(QStringLiteral("shot%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        productShot(i).save(path, "jpg", 95);
        options.inputs << path;
    }

    CutBatch batch(options);
    QString error;
    if (!batch.plan(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    std::vector<double> load, edges, trace, mask, save, total;
    QElapsedTimer wall;
    wall.start();
    for (const CutJob &job : batch.jobs()) {
        const CutOutcome outcome = batch.runJob(job);
        if (!outcome.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(outcome.error));
            return 1;
        }
        const qint64 written = QFileInfo(job.output).size();
        // An uncompressed 12-megapixel PNG is 48 MB; ten of them need not pile up.
        QFile::remove(job.output);
        const CutTimes &t = outcome.times;
        std::printf("%s: load %6.0f  edges %6.0f  trace %5.1f  mask %5.0f  save %6.0f  = %6.0f ms"
                    "  (%lld MB)\n",
            qPrintable(QFileInfo(job.input).fileName()), t.load, t.edges, t.trace, t.mask, t.save,
            t.total(), written >> 20);
        std::fflush(stdout);
        load.push_back(t.load);
        edges.push_back(t.edges);
        trace.push_back(t.trace);
        mask.push_back(t.mask);
        save.push_back(t.save);
        total.push_back(t.total());
    }
    const double wallSeconds = wall.nsecsElapsed() / 1e9;

    const double perPicture = median(total);
    const auto share = [&](const char *name, const std::vector<double> &values) {
        std::printf("  %-6s %8.1f ms  %5.1f %%\n", name, median(values),
            100.0 * median(values) / perPicture);
    };
    std::printf("\nmedian per picture (%s output, %d clicks): %.0f ms\n", format.constData(),
        kClicks, perPicture);
    share("load", load);
    share("edges", edges);
    share("trace", trace);
    share("mask", mask);
    share("save", save);
    std::printf(
        "batch of %d: %.1f s, %.2f s per picture\n", pictures, wallSeconds, wallSeconds / pictures);
    return 0;
}
