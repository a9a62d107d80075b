// Times the output path on a 24-megapixel photo: masking, preview, composition and writing.
// Usage: bench_output [runs]   (default 5; medians are printed)

#include "median.h"
#include "tracedoutline.h"
#include "composite.h"
#include "gaussianblur.h"
#include "picturefile.h"
#include "selectionmask.h"

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QtMath>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Smooth gradients with a little deterministic noise, so that PNG and JPEG have photo-like
// work to do rather than flat areas.
QImage photoLike()
{
    QImage picture(kWidth, kHeight, QImage::Format_ARGB32);
    quint32 seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            const int r = std::clamp(x * 255 / kWidth + noise, 0, 255);
            const int g = std::clamp(y * 255 / kHeight + noise, 0, 255);
            const int b
                = std::clamp(128 + int(60 * qSin(x * 0.01) * qCos(y * 0.013)) + noise, 0, 255);
            row[x] = qRgb(r, g, b);
        }
    }
    return picture;
}

// The masking step by step with every full-size copy, to compare against in the same run.
void maskPlainly(QImage &picture, const QPainterPath &path)
{
    QImage mask = picture.convertToFormat(QImage::Format_ARGB32);
    mask.fill(0xFFFFFFFFu);
    QImage target = picture.copy();
    QPainter painter(&mask);
    painter.setClipPath(path, Qt::ReplaceClip);
    painter.fillRect(mask.rect(), Qt::black);
    painter.end();
    gaussianBlur(mask, target, 5, 1.4);
    const int width = picture.width();
    const int height = picture.height();
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (x < 2 || y < 2 || x >= width - 2 || y >= height - 2)
                row[x] = 0xFFFFFFFFu;
        }
    }
    for (int y = 0; y < height; ++y) {
        uchar *out = picture.scanLine(y);
        const uchar *soft = target.constScanLine(y);
        for (int x = 0; x < width; ++x)
            out[4 * x + 3] = uchar(255 - soft[4 * x + 2]);
    }
}

// The preview with a full-size backdrop drawn over the whole tiled canvas.
QImage previewPlainly(
    const QImage &picture, const QImage &object, const QColor &background, const QImage &tile)
{
    QImage canvas = picture.copy();
    QImage backdrop = picture.copy();
    backdrop.fill(background.rgba());
    QPainter painter(&canvas);
    for (int i = 0; i <= canvas.width() / tile.width(); ++i) {
        for (int j = 0; j <= canvas.height() / tile.height(); ++j)
            painter.drawImage(i * tile.width(), j * tile.height(), tile);
    }
    painter.drawImage(0, 0, backdrop);
    painter.drawImage(0, 0, object);
    painter.end();
    return canvas;
}


void report(const char *name, double ms, const QString &note = {})
{
    std::printf("%-38s %9.1f ms  %s\n", name, ms, qPrintable(note));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The icons live in a static library; registering them here works however it was linked.
    Q_INIT_RESOURCE(velmora);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    const QImage picture = photoLike();
    const QPainterPath outline = tracedOutline(kWidth, kHeight);
    QPainterPath ellipse;
    ellipse.addEllipse(QRectF(kWidth * 0.1, kHeight * 0.1, kWidth * 0.8, kHeight * 0.8));
    const QImage tile(QStringLiteral(":/icons/chessbackground.png"));

    std::printf("%d x %d, %d runs, medians; tile %d x %d\n", kWidth, kHeight, runs, tile.width(),
        tile.height());

    QImage object;
    report("applySelectionMask (2000-point outline)", medianMs(runs, [&] {
        object = picture;
        applySelectionMask(object, outline);
    }));
    report("applySelectionMask (ellipse)", medianMs(runs, [&] {
        QImage copy = picture;
        applySelectionMask(copy, ellipse);
    }));
    report("  same, every step plainly", medianMs(runs, [&] {
        QImage copy = picture;
        maskPlainly(copy, ellipse);
    }));
    report("  of which gaussianBlur alone", medianMs(runs, [&] {
        QImage target(picture.size(), QImage::Format_ARGB32);
        gaussianBlur(picture, target, 5, 1.4);
    }));

    const QColor tint(40, 90, 200, 128);
    QImage preview;
    report("composePreview (transparent)",
        medianMs(runs, [&] { preview = composePreview(object, Qt::transparent, tile); }));
    report("  same, plainly",
        medianMs(runs, [&] { preview = previewPlainly(picture, object, Qt::transparent, tile); }));
    report("composePreview (translucent tint)",
        medianMs(runs, [&] { preview = composePreview(object, tint, tile); }));
    report("  same, plainly",
        medianMs(runs, [&] { preview = previewPlainly(picture, object, tint, tile); }));
    report("composePreview (white)",
        medianMs(runs, [&] { preview = composePreview(object, Qt::white, tile); }));
    report("composeOnBackground (white)",
        medianMs(runs, [&] { preview = composeOnBackground(object, Qt::white); }));
    report("composeOnBackground (transparent)",
        medianMs(runs, [&] { preview = composeOnBackground(object, Qt::transparent); }));

    QTemporaryDir folder;
    const QImage result = composeOnBackground(object, Qt::transparent);
    const QString png = folder.filePath(QStringLiteral("result.png"));
    const QString jpg = folder.filePath(QStringLiteral("result.jpg"));
    QString error;
    const double pngMs = medianMs(runs, [&] { writePicture(result, png, 100, &error); });
    report("writePicture PNG (quality 100)", pngMs,
        QStringLiteral("%1 MB").arg(QFileInfo(png).size() / 1e6, 0, 'f', 1));
    const double jpgMs = medianMs(runs, [&] { writePicture(result, jpg, 100, &error); });
    report("writePicture JPEG (quality 100)", jpgMs,
        QStringLiteral("%1 MB").arg(QFileInfo(jpg).size() / 1e6, 0, 'f', 1));
    report("readPicture JPEG", medianMs(runs, [&] { readPicture(jpg, &error); }));
    return 0;
}
