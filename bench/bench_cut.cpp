// Times velmora-cut's batch on ten 12-megapixel photos of one object with a 20-click outline,
// and shows where each picture's time goes: load, edges, trace, mask, save.
// Usage: bench_cut [pictures] [png|jpg]   (default 10 png; medians are printed)

#include "median.h"
#include "cutbatch.h"
#include "cutoptions.h"
#include "outlineevent.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtMath>

#include <algorithm>
#include <cstdio>
#include <functional>
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
