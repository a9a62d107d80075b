// Times PNG saving on a 24-megapixel cut-out of a real photo, against Qt's writer at its default
// compression, in one run.
// Usage: bench_png PHOTO [runs]   (default 5; medians are printed)
// Any photo works; Debian's plasma-workspace-wallpapers has one:
//   apt-get install plasma-workspace-wallpapers
//   bench_png /usr/share/wallpapers/ColorfulCups/contents/images/2560x1600.jpg
// The photo is scaled to 6000 x 4000 and cut out along a wavy ellipse, as a traced object.

#include "composite.h"
#include "median.h"
#include "tracedoutline.h"
#include "picturefile.h"
#include "pngencoder.h"
#include "selectionmask.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QtMath>

#include <cstdio>

namespace
{

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

struct Timing {
    double ms;
    qint64 bytes;
};

void row(const char *name, const Timing &timing, const Timing &reference)
{
    std::printf("%-40s %8.0f ms %6.2fx  %7.1f MB %6.3fx\n", name, timing.ms,
        timing.ms / reference.ms, timing.bytes / 1e6,
        double(timing.bytes) / double(reference.bytes));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
            "usage: bench_png PHOTO [runs]\n"
            "  e.g. apt-get install plasma-workspace-wallpapers, then\n"
            "  bench_png /usr/share/wallpapers/ColorfulCups/contents/images/"
            "2560x1600.jpg\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QString error;
    const QImage photo = readPicture(QString::fromLocal8Bit(argv[1]), &error);
    if (photo.isNull()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QImage picture
        = photo.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
              .convertToFormat(QImage::Format_ARGB32);
    const QPainterPath outline = tracedOutline(kWidth, kHeight);
    QImage object = picture;
    applySelectionMask(object, outline);
    const QImage cutOut = composeOnBackground(object, Qt::transparent);
    const QImage onWhite = composeOnBackground(object, Qt::white);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("out.png"));
    const auto timeSave = [&](auto &&save) {
        const double ms = medianMs(runs, save);
        return Timing { ms, QFileInfo(path).size() };
    };
    const auto timeSettings = [&](const QImage &image, const PngSettings &settings) {
        return timeSave([&] {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || !writePng(image, file, settings))
                std::fprintf(stderr, "writePng failed\n");
        });
    };

    std::printf("%s scaled to %d x %d, %d runs, medians; ratios against Qt's default writer\n",
        argv[1], kWidth, kHeight, runs);
    for (const auto &[name, image] :
        { std::pair("transparent cut-out (RGBA)", cutOut), std::pair("on white (RGB)", onWhite) }) {
        std::printf("\n%s\n", name);
        const Timing qt = timeSave([&] { image.save(path, "png", -1); });
        row("Qt's writer, default compression", qt, qt);
        row("Qt's writer, quality 100 (no deflate)",
            timeSave([&] { image.save(path, "png", 100); }), qt);
        row("writePicture .png (ours: runs)", timeSave([&] { writePicture(image, path); }), qt);
        row("  one thread", timeSettings(image, { 1, true, 1, 0 }), qt);
        row("  level 1 matches", timeSettings(image, { 1, false, 0, 0 }), qt);
        row("  level 2", timeSettings(image, { 2, false, 0, 0 }), qt);
        row("  level 3", timeSettings(image, { 3, false, 0, 0 }), qt);
        row("  run-length only", timeSettings(image, { 1, true, 0, 0 }), qt);
    }

    const double whole = medianMs(runs, [&] {
        QImage copy = picture;
        applySelectionMask(copy, outline);
        writePicture(composeOnBackground(copy, Qt::transparent), path);
    });
    std::printf("\nwhole save (mask + compose + write, transparent): %.0f ms\n", whole);
    return 0;
}
