#include "composite.h"
#include "gaussianblur.h"
#include "picturefile.h"
#include "selectionmask.h"

#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace
{

// Colour bytes that differ from pixel to pixel and an alpha that must be thrown away.
QImage noisyPicture(int width, int height, quint32 seed = 7)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random.generate();
    }
    return picture;
}

// Blur of a mask whose every row reads `row` (0 or 255 per column), worked out from the
// kernel formula: the 5-tap weights with their square root, one truncation across, and
// one truncation per tap down a column where every sample equals the row's result.
QList<int> blurredRow(const QList<int> &row)
{
    const double sigma = 1.4;
    double w[5];
    double sum = 0;
    for (int j = 0; j < 5; ++j) {
        const int i = j - 2;
        w[j] = std::sqrt(std::exp(-(i * i) / (sigma * (sigma + sigma))) / (6.283 * sigma * sigma));
        sum += w[j];
    }
    for (double &v : w)
        v /= sum;

    QList<int> out(row.size(), -1);
    for (int x = 2; x < row.size() - 2; ++x) {
        const double across
            = row[x] * w[2] + (row[x - 1] + row[x + 1]) * w[1] + (row[x - 2] + row[x + 2]) * w[0];
        const int h = int(across);
        int v = int(h * w[2]);
        v = int(v + (h + h) * w[1]);
        v = int(v + (h + h) * w[0]);
        out[x] = v;
    }
    return out;
}

QString describe(const QImage &image, QPoint at)
{
    return QStringLiteral("pixel (%1, %2) of %3 x %4 is %5")
        .arg(at.x())
        .arg(at.y())
        .arg(image.width())
        .arg(image.height())
        .arg(image.pixel(at), 8, 16, QLatin1Char('0'));
}

bool inFrame(const QImage &image, int x, int y)
{
    return x < 2 || y < 2 || x >= image.width() - 2 || y >= image.height() - 2;
}

// Every step of the masking done the plain way: full copies, painter, blur, frame, alpha.
QImage maskedPlainly(const QImage &picture, const QPainterPath &path)
{
    QImage result = picture;
    QImage mask = picture.convertToFormat(QImage::Format_ARGB32);
    mask.fill(0xFFFFFFFFu);
    QImage target = picture.copy();
    {
        QPainter painter(&mask);
        painter.setClipPath(path, Qt::ReplaceClip);
        painter.fillRect(mask.rect(), Qt::black);
    }
    gaussianBlur(mask, target, 5, 1.4);
    const int width = picture.width();
    const int height = picture.height();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < 2 || y < 2 || x >= width - 2 || y >= height - 2)
                target.setPixel(x, y, 0xFFFFFFFFu);
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb p = result.pixel(x, y);
            result.setPixel(
                x, y, qRgba(qRed(p), qGreen(p), qBlue(p), 255 - qRed(target.pixel(x, y))));
        }
    }
    return result;
}

// The preview made the plain way: picture copy, every tile, a filled backdrop, the object.
QImage previewPlainly(
    const QImage &picture, const QImage &object, const QColor &background, const QImage &tile)
{
    QImage canvas = picture.convertToFormat(QImage::Format_ARGB32);
    QImage backdrop = canvas.copy();
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

QImage chessboard()
{
    return QImage(QStringLiteral(":/icons/chessbackground.png"));
}

bool isGreySquare(int x, int y)
{
    return (x / 8 + y / 8) % 2 == 0;
}

// False with the first differing pixel in *where when the two differ.
bool samePixels(const QImage &a, const QImage &b, QString *where)
{
    if (a.size() != b.size()) {
        *where = QStringLiteral("sizes differ");
        return false;
    }
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            if (left.pixel(x, y) != right.pixel(x, y)) {
                *where = describe(left, { x, y })
                    + QStringLiteral(", expected %1")
                          .arg(right.pixel(x, y), 8, 16, QLatin1Char('0'));
                return false;
            }
        }
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(QPainterPath)

class TestOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void maskInsideOutsideAndFrame();
    void maskAcrossVerticalOutline_data();
    void maskAcrossVerticalOutline();
    void maskEmptyOrDistantPath();
    void maskPathBeyondPictureCountsWhereItOverlaps();
    void maskOfTinyPicturesIsTransparent_data();
    void maskOfTinyPicturesIsTransparent();
    void maskFollowsPathFillRule();
    void maskEqualsPlainSteps_data();
    void maskEqualsPlainSteps();
    void previewLaysTilesFromTopLeft_data();
    void previewLaysTilesFromTopLeft();
    void previewChessboardAcrossTileSeam();
    void previewEqualsPlainSteps_data();
    void previewEqualsPlainSteps();
    void previewWithoutTileShowsPicture();
    void composeOnBackgroundBlendsObject();
    void savedPngKeepsMaskAlpha();
    void losesTransparency_data();
    void losesTransparency();
};

void TestOutput::initTestCase()
{
    // The icons live in a static library; registering them here works however it was linked.
    Q_INIT_RESOURCE(velmora);
}

void TestOutput::maskInsideOutsideAndFrame()
{
    const QImage original = noisyPicture(40, 30);
    QImage picture = original;
    QPainterPath path;
    path.addRect(QRectF(10, 8, 20, 14));
    applySelectionMask(picture, path);

    QCOMPARE(picture.format(), QImage::Format_ARGB32);
    QCOMPARE(picture.size(), original.size());
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            QVERIFY2((p & 0xFFFFFF) == (original.pixel(x, y) & 0xFFFFFF),
                qPrintable(describe(picture, { x, y })));
            int expected = -1;
            if (inFrame(picture, x, y))
                expected = 0;
            else if (x >= 13 && x < 27 && y >= 11 && y < 19)
                expected = 255;
            else if (x < 7 || x >= 33 || y < 5 || y >= 25)
                expected = 1;
            if (expected >= 0)
                QVERIFY2(qAlpha(p) == expected, qPrintable(describe(picture, { x, y })));
        }
    }
}

void TestOutput::maskAcrossVerticalOutline_data()
{
    QTest::addColumn<qreal>("edge");
    QTest::addColumn<int>("firstOutside");

    // Pixel x is inside when its centre x + 0.5 lies left of the edge.
    QTest::newRow("on a pixel boundary") << qreal(12.0) << 12;
    QTest::newRow("between pixel centres") << qreal(12.3) << 12;
    QTest::newRow("just past a centre") << qreal(12.7) << 13;
    QTest::newRow("close to the frame") << qreal(3.0) << 3;
    QTest::newRow("close to the far frame") << qreal(22.0) << 22;
}

void TestOutput::maskAcrossVerticalOutline()
{
    QFETCH(qreal, edge);
    QFETCH(int, firstOutside);

    constexpr int width = 25;
    constexpr int height = 12;
    QImage picture = noisyPicture(width, height);
    QPainterPath path;
    path.addRect(QRectF(-5, -5, edge + 5, height + 10));
    applySelectionMask(picture, path);

    QList<int> maskRow;
    for (int x = 0; x < width; ++x)
        maskRow << (x < firstOutside ? 0 : 255);
    const QList<int> blurred = blurredRow(maskRow);

    bool sawIntermediate = false;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int expected = inFrame(picture, x, y) ? 0 : 255 - blurred[x];
            QVERIFY2(qAlpha(picture.pixel(x, y)) == expected,
                qPrintable(describe(picture, { x, y })
                    + QStringLiteral(", expected alpha %1").arg(expected)));
            sawIntermediate = sawIntermediate || (expected > 1 && expected < 255);
        }
    }
    QVERIFY(sawIntermediate);
}

void TestOutput::maskEmptyOrDistantPath()
{
    QPainterPath distant;
    distant.addRect(QRectF(500, 500, 40, 40));
    for (const QPainterPath &path : { QPainterPath(), distant }) {
        QImage picture = noisyPicture(30, 20);
        applySelectionMask(picture, path);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                QVERIFY2(qAlpha(picture.pixel(x, y)) == (inFrame(picture, x, y) ? 0 : 1),
                    qPrintable(describe(picture, { x, y })));
        }
    }
}

void TestOutput::maskPathBeyondPictureCountsWhereItOverlaps()
{
    QImage whole = noisyPicture(30, 20);
    QPainterPath everything;
    everything.addRect(QRectF(-100, -100, 300, 300));
    applySelectionMask(whole, everything);
    for (int y = 0; y < whole.height(); ++y) {
        for (int x = 0; x < whole.width(); ++x)
            QVERIFY2(qAlpha(whole.pixel(x, y)) == (inFrame(whole, x, y) ? 0 : 255),
                qPrintable(describe(whole, { x, y })));
    }

    // Reaching past the right edge: only the right part of the picture is selected.
    QImage part = noisyPicture(30, 20);
    QPainterPath rightSide;
    rightSide.addRect(QRectF(15, -50, 500, 500));
    applySelectionMask(part, rightSide);
    QCOMPARE(qAlpha(part.pixel(5, 10)), 1);
    QCOMPARE(qAlpha(part.pixel(20, 10)), 255);
    QCOMPARE(qAlpha(part.pixel(27, 10)), 255);
    QCOMPARE(qAlpha(part.pixel(28, 10)), 0);
}

void TestOutput::maskOfTinyPicturesIsTransparent_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("4 x 4") << QSize(4, 4);
    QTest::newRow("4 wide") << QSize(4, 50);
    QTest::newRow("4 high") << QSize(50, 4);
    QTest::newRow("1 x 9") << QSize(1, 9);
}

void TestOutput::maskOfTinyPicturesIsTransparent()
{
    QFETCH(QSize, size);
    const QImage original = noisyPicture(size.width(), size.height());
    QImage picture = original;
    QPainterPath everything;
    everything.addRect(QRectF(-10, -10, 100, 100));
    applySelectionMask(picture, everything);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            QCOMPARE(picture.pixel(x, y), original.pixel(x, y) & 0x00FFFFFFu);
    }
}

void TestOutput::maskFollowsPathFillRule()
{
    QPainterPath overlapping;
    overlapping.addRect(QRectF(5, 5, 30, 20));
    overlapping.addRect(QRectF(20, 10, 30, 20));

    QImage oddEven = noisyPicture(60, 40);
    applySelectionMask(oddEven, overlapping);
    QCOMPARE(qAlpha(oddEven.pixel(10, 12)), 255);
    QCOMPARE(qAlpha(oddEven.pixel(44, 22)), 255);
    QCOMPARE(qAlpha(oddEven.pixel(27, 17)), 1);

    // A hole outlined inside the object.
    QPainterPath withHole;
    withHole.addRect(QRectF(5, 5, 50, 30));
    withHole.addEllipse(QRectF(20, 12, 20, 16));
    QImage holed = noisyPicture(60, 40);
    applySelectionMask(holed, withHole);
    QCOMPARE(qAlpha(holed.pixel(30, 20)), 1);
    QCOMPARE(qAlpha(holed.pixel(10, 20)), 255);

    QPainterPath winding = overlapping;
    winding.setFillRule(Qt::WindingFill);
    QImage wound = noisyPicture(60, 40);
    applySelectionMask(wound, winding);
    QCOMPARE(qAlpha(wound.pixel(27, 17)), 255);
}

void TestOutput::maskEqualsPlainSteps_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPainterPath>("path");

    QPainterPath ellipse;
    ellipse.addEllipse(QRectF(1.3, 2.2, 60.4, 33.9));
    QPainterPath polygon;
    QRandomGenerator random(99);
    polygon.moveTo(30, 20);
    for (int k = 0; k < 40; ++k)
        polygon.lineTo(random.bounded(90.0) - 10.0, random.bounded(60.0) - 10.0);
    polygon.closeSubpath();

    for (const QSize &size : { QSize(5, 5), QSize(6, 9), QSize(7, 7), QSize(8, 8), QSize(9, 9),
             QSize(64, 40), QSize(67, 41), QSize(1, 30), QSize(30, 1) }) {
        const QByteArray name
            = QByteArray::number(size.width()) + " x " + QByteArray::number(size.height());
        QTest::newRow(name + ", ellipse") << size << ellipse;
        QTest::newRow(name + ", polygon") << size << polygon;
    }
}

void TestOutput::maskEqualsPlainSteps()
{
    QFETCH(QSize, size);
    QFETCH(QPainterPath, path);
    const QImage original = noisyPicture(size.width(), size.height(), 3);
    QImage picture = original;
    applySelectionMask(picture, path);
    QString where;
    QVERIFY2(samePixels(picture, maskedPlainly(original, path), &where), qPrintable(where));
}

void TestOutput::previewLaysTilesFromTopLeft_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("smaller than the tile") << QSize(7, 4);
    QTest::newRow("exactly two tiles wide") << QSize(20, 5);
    QTest::newRow("exactly one tile high") << QSize(9, 6);
    QTest::newRow("partial last tiles") << QSize(25, 13);
}

void TestOutput::previewLaysTilesFromTopLeft()
{
    QFETCH(QSize, size);
    QImage tile(10, 6, QImage::Format_RGB32);
    for (int y = 0; y < tile.height(); ++y) {
        for (int x = 0; x < tile.width(); ++x)
            tile.setPixel(x, y, qRgb(x * 20, y * 40, 77));
    }
    QImage object(size, QImage::Format_ARGB32);
    object.fill(qRgba(200, 10, 10, 0));

    const QImage preview = composePreview(object, Qt::transparent, tile);
    QCOMPARE(preview.size(), size);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            QVERIFY2(preview.pixel(x, y) == tile.pixel(x % 10, y % 6),
                qPrintable(describe(preview, { x, y })));
    }
}

void TestOutput::previewChessboardAcrossTileSeam()
{
    const QImage tile = chessboard();
    QCOMPARE(tile.size(), QSize(784, 592));
    QCOMPARE(tile.pixel(0, 0), qRgb(191, 191, 191));
    QCOMPARE(tile.pixel(8, 0), qRgb(255, 255, 255));

    // Below one tile, exactly one tile wide, and reaching into the second tile both ways.
    for (const QSize &size : { QSize(300, 200), QSize(784, 592), QSize(800, 600) }) {
        QImage object(size, QImage::Format_ARGB32);
        object.fill(Qt::transparent);
        const QImage preview = composePreview(object, Qt::transparent, tile);
        QCOMPARE(preview.size(), size);
        const int right = size.width() - 1;
        const int bottom = size.height() - 1;
        for (const QPoint &at :
            { QPoint(0, 0), QPoint(8, 0), QPoint(8, 8), QPoint(right, 0), QPoint(0, bottom),
                QPoint(right, bottom), QPoint(qMin(783, right), 5), QPoint(qMin(784, right), 5),
                QPoint(5, qMin(591, bottom)), QPoint(5, qMin(592, bottom)) }) {
            const QRgb expected
                = isGreySquare(at.x(), at.y()) ? qRgb(191, 191, 191) : qRgb(255, 255, 255);
            QVERIFY2(preview.pixel(at) == expected, qPrintable(describe(preview, at)));
        }
    }
}

void TestOutput::previewEqualsPlainSteps_data()
{
    QTest::addColumn<QColor>("background");
    QTest::newRow("white") << QColor(Qt::white);
    QTest::newRow("transparent") << QColor(Qt::transparent);
    QTest::newRow("colour with alpha 0") << QColor(30, 200, 90, 0);
    QTest::newRow("opaque colour") << QColor(30, 200, 90);
    QTest::newRow("half tint") << QColor(30, 200, 90, 128);
    QTest::newRow("faint tint") << QColor(250, 3, 90, 1);
    QTest::newRow("nearly opaque") << QColor(30, 200, 90, 254);
}

void TestOutput::previewEqualsPlainSteps()
{
    QFETCH(QColor, background);
    const QImage tile = chessboard();
    QVERIFY(!tile.isNull());
    // Every alpha value from 0 to 255 over both colours of the chessboard.
    const QImage picture = noisyPicture(801, 40, 11);
    QImage object = picture;
    QPainterPath path;
    path.addEllipse(QRectF(100, 3, 600, 30));
    applySelectionMask(object, path);
    for (int k = 0; k < 256; ++k)
        object.setPixel(k, 20, (object.pixel(k, 20) & 0xFFFFFF) | quint32(k) << 24);

    const QImage preview = composePreview(object, background, tile);
    QString where;
    QVERIFY2(samePixels(preview, previewPlainly(picture, object, background, tile), &where),
        qPrintable(where));

    // A see-through tile lets the picture under it show.
    QImage opaquePicture = picture;
    for (int y = 0; y < opaquePicture.height(); ++y) {
        for (int x = 0; x < opaquePicture.width(); ++x)
            opaquePicture.setPixel(x, y, opaquePicture.pixel(x, y) | 0xFF000000u);
    }
    QImage glassTile = tile.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < glassTile.height(); ++y) {
        for (int x = 0; x < glassTile.width(); ++x)
            glassTile.setPixel(x, y, (glassTile.pixel(x, y) & 0xFFFFFF) | quint32(x % 256) << 24);
    }
    QVERIFY2(samePixels(composePreview(object, background, glassTile),
                 previewPlainly(opaquePicture, object, background, glassTile), &where),
        qPrintable(where));

    if (background.alpha() == 0)
        QCOMPARE(preview, composePreview(object, Qt::transparent, tile));
    if (background.alpha() == 255) {
        QImage clear = object;
        clear.fill(Qt::transparent);
        const QImage flat = composePreview(clear, background, tile);
        for (const QPoint &at : { QPoint(0, 0), QPoint(8, 0), QPoint(800, 39) })
            QCOMPARE(flat.pixel(at), background.rgba());
    }
}

void TestOutput::previewWithoutTileShowsPicture()
{
    const QImage picture = noisyPicture(12, 9);
    QImage object = picture;
    applySelectionMask(object, QPainterPath());
    const QImage preview = composePreview(object, Qt::transparent, QImage());
    QCOMPARE(preview.size(), picture.size());
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = preview.pixel(x, y);
            QCOMPARE(qAlpha(p), 255);
            QVERIFY2(qAbs(qRed(p) - qRed(picture.pixel(x, y))) <= 1,
                qPrintable(describe(preview, { x, y })));
        }
    }
}

void TestOutput::composeOnBackgroundBlendsObject()
{
    QImage object(256, 3, QImage::Format_ARGB32);
    for (int a = 0; a < 256; ++a) {
        object.setPixel(a, 0, qRgba(200, 100, 0, a));
        object.setPixel(a, 1, qRgba(0, 255, 60, a));
        object.setPixel(a, 2, qRgba(255, 255, 255, a));
    }
    const QColor tint(20, 40, 250);
    for (const QColor &background : { QColor(Qt::white), tint }) {
        const QImage result = composeOnBackground(object, background);
        QCOMPARE(result.format(), QImage::Format_ARGB32);
        QCOMPARE(result.size(), object.size());
        for (int y = 0; y < 3; ++y) {
            for (int a = 0; a < 256; ++a) {
                const QRgb o = object.pixel(a, y);
                const QRgb r = result.pixel(a, y);
                QCOMPARE(qAlpha(r), 255);
                const auto blend
                    = [&](int fore, int back) { return (fore * a + back * (255 - a)) / 255.0; };
                QVERIFY2(qAbs(qRed(r) - blend(qRed(o), background.red())) <= 1.5
                        && qAbs(qGreen(r) - blend(qGreen(o), background.green())) <= 1.5
                        && qAbs(qBlue(r) - blend(qBlue(o), background.blue())) <= 1.5,
                    qPrintable(describe(result, { a, y })));
            }
        }
        QCOMPARE(result.pixel(255, 0), qRgb(200, 100, 0));
        QCOMPARE(result.pixel(0, 0), background.rgba());
    }

    const QImage clear = composeOnBackground(object, Qt::transparent);
    QCOMPARE(clear.pixel(0, 1), 0u);
    QCOMPARE(clear.pixel(255, 1), qRgba(0, 255, 60, 255));
    for (int a = 0; a < 256; ++a)
        QCOMPARE(qAlpha(clear.pixel(a, 2)), a);
}

void TestOutput::savedPngKeepsMaskAlpha()
{
    const QImage picture = noisyPicture(40, 30);
    QImage object = picture;
    QPainterPath path;
    path.addRect(QRectF(10, 8, 20, 14));
    applySelectionMask(object, path);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const QColor &background : { QColor(Qt::transparent), QColor(Qt::white) }) {
        const QString name
            = folder.filePath(QStringLiteral("object%1.png").arg(background.alpha()));
        QString error;
        QVERIFY2(writePicture(composeOnBackground(object, background), name, 100, &error),
            qPrintable(error));
        const QImage saved = readPicture(name, &error);
        QVERIFY2(!saved.isNull(), qPrintable(error));
        if (background.alpha() == 0) {
            QCOMPARE(saved.pixel(20, 15), picture.pixel(20, 15) | 0xFF000000u);
            QCOMPARE(qAlpha(saved.pixel(4, 4)), 1);
            QCOMPARE(saved.pixel(0, 0), 0u);
            QCOMPARE(saved.pixel(39, 29), 0u);
        } else {
            QCOMPARE(saved.pixel(20, 15), picture.pixel(20, 15) | 0xFF000000u);
            QCOMPARE(saved.pixel(0, 0), qRgb(255, 255, 255));
            QCOMPARE(saved.pixel(38, 1), qRgb(255, 255, 255));
        }
    }
}

void TestOutput::losesTransparency_data()
{
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("loses");

    QTest::newRow("white, .jpg") << QColor(Qt::white) << "/tmp/cat.jpg" << false;
    QTest::newRow("transparent, .JPEG") << QColor(Qt::transparent) << "/tmp/cat.JPEG" << true;
    QTest::newRow("transparent, .jpeg") << QColor(Qt::transparent) << "cat.jpeg" << true;
    QTest::newRow("transparent, .Jpg") << QColor(Qt::transparent) << "cat.Jpg" << true;
    QTest::newRow("transparent, .png") << QColor(Qt::transparent) << "cat.png" << false;
    QTest::newRow("alpha 254, .jpg") << QColor(10, 20, 30, 254) << "cat.jpg" << true;
    QTest::newRow("alpha 255, .jpg") << QColor(10, 20, 30, 255) << "cat.jpg" << false;
    QTest::newRow("transparent, .jpe") << QColor(Qt::transparent) << "cat.jpe" << false;
    QTest::newRow("transparent, no suffix") << QColor(Qt::transparent) << "jpg" << false;
    QTest::newRow("transparent, jpg folder")
        << QColor(Qt::transparent) << "/tmp/x.jpg/cat" << false;
    QTest::newRow("transparent, .jpg.png") << QColor(Qt::transparent) << "cat.jpg.png" << false;
}

void TestOutput::losesTransparency()
{
    QFETCH(QColor, background);
    QFETCH(QString, fileName);
    QFETCH(bool, loses);
    QCOMPARE(::losesTransparency(background, fileName), loses);
}

QTEST_MAIN(TestOutput)
#include "tst_output.moc"
