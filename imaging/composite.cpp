#include "composite.h"

#include "rowbands.h"

#include <QFileInfo>
#include <QPainter>

namespace
{

QImage plainBackground(const QSize &size, const QColor &background)
{
    QImage backdrop(size, QImage::Format_ARGB32);
    backdrop.fill(background.rgba());
    return backdrop;
}

// The picture's colours, opaque: what shows when no chessboard covers the canvas.
QImage opaqueCopy(const QImage &object)
{
    QImage canvas = object.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < canvas.height(); ++y) {
        uchar *row = canvas.scanLine(y);
        for (int x = 0; x < canvas.width(); ++x)
            row[4 * x + 3] = 255;
    }
    return canvas;
}

} // namespace

QImage composeOnBackground(const QImage &object, const QColor &background)
{
    if (object.isNull())
        return {};
    const QImage source
        = object.depth() < 8 ? object.convertToFormat(QImage::Format_ARGB32) : object;
    QImage result(source.size(), QImage::Format_ARGB32);
    uchar *const bits = result.bits();
    // Each pixel is laid over the background on its own, so bands of rows can be painted at
    // once, each through a view of its rows.
    inRowBands(result.height(), qint64(result.width()) * result.height(), [&](int first, int last) {
        QImage rows(bits + first * result.bytesPerLine(), result.width(), last - first,
            result.bytesPerLine(), QImage::Format_ARGB32);
        rows.fill(background.rgba());
        const QImage from(source.constScanLine(first), source.width(), last - first,
            source.bytesPerLine(), source.format());
        QPainter painter(&rows);
        painter.drawImage(0, 0, from);
    });
    return result;
}

QImage composePreview(const QImage &object, const QColor &background, const QImage &tile)
{
    if (object.isNull())
        return {};
    const QRgb backdrop = background.rgba();
    QImage canvas;
    if (qAlpha(backdrop) == 255) {
        // An opaque backdrop hides whatever lies under it.
        canvas = QImage(object.size(), QImage::Format_ARGB32);
        canvas.fill(backdrop);
    } else if (!tile.isNull() && !tile.hasAlphaChannel()) {
        // The backdrop blends with each pixel on its own, so tinting one tile and laying
        // copies gives the same pixels as tinting the whole chessboard.
        QImage square = tile.convertToFormat(QImage::Format_ARGB32);
        if (qAlpha(backdrop) != 0) {
            QPainter tint(&square);
            tint.drawImage(0, 0, plainBackground(square.size(), background));
        }
        // Still opaque: copies need no blending.
        square.reinterpretAsFormat(QImage::Format_RGB32);
        canvas = QImage(object.size(), QImage::Format_ARGB32);
        QPainter painter(&canvas);
        for (int i = 0; i <= canvas.width() / square.width(); ++i) {
            for (int j = 0; j <= canvas.height() / square.height(); ++j)
                painter.drawImage(i * square.width(), j * square.height(), square);
        }
    } else {
        canvas = opaqueCopy(object);
        QPainter painter(&canvas);
        if (!tile.isNull()) {
            for (int i = 0; i <= canvas.width() / tile.width(); ++i) {
                for (int j = 0; j <= canvas.height() / tile.height(); ++j)
                    painter.drawImage(i * tile.width(), j * tile.height(), tile);
            }
        }
        if (qAlpha(backdrop) != 0)
            painter.drawImage(0, 0, plainBackground(canvas.size(), background));
    }
    QPainter painter(&canvas);
    painter.drawImage(0, 0, object);
    painter.end();
    return canvas;
}

bool losesTransparency(const QColor &background, const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    const bool jpeg = suffix.compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0
        || suffix.compare(QLatin1String("jpeg"), Qt::CaseInsensitive) == 0;
    return jpeg && background.alpha() != 255;
}
