#include "composite.h"
#include "selectionmask.h"

#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

namespace
{

// Random colour bytes, and an alpha that must be thrown away.
QImage noisyPicture(QSize size)
{
    QImage picture(size, QImage::Format_ARGB32); // rows of 32-bit pixels have no padding
    QRandomGenerator(7).fillRange(
        reinterpret_cast<quint32 *>(picture.bits()), size.width() * size.height());
    return picture;
}

// The masked picture step by step: the path painted aliased, black inside; the 5-tap kernel
// with its square root across, truncated once, then down, truncated after each tap; alpha
// 255 minus that, and 0 on the two-pixel frame the kernel cannot reach; colours untouched.
QImage maskedPlainly(const QImage &picture, const QPainterPath &path)
{
    const double sigma = 1.4;
    double w[5], sum = 0;
    for (int j = 0; j < 5; ++j)
        sum += w[j] = std::sqrt(
            std::exp(-(j - 2) * (j - 2) / (sigma * (sigma + sigma))) / (6.283 * sigma * sigma));
    for (double &weight : w)
        weight /= sum;
    QImage mask(picture.size(), QImage::Format_RGB32);
    mask.fill(Qt::white);
    QPainter painter(&mask);
    painter.setClipPath(path);
    painter.fillRect(mask.rect(), Qt::black);
    painter.end();
    const auto m = [&](int x, int y) { return qRed(mask.pixel(x, y)); };
    const auto across = [&](int x, int y) {
        return int(m(x, y) * w[2] + (m(x - 1, y) + m(x + 1, y)) * w[1]
            + (m(x - 2, y) + m(x + 2, y)) * w[0]);
    };
    QImage result = picture.copy();
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            int alpha = 0;
            if (x >= 2 && y >= 2 && x < picture.width() - 2 && y < picture.height() - 2) {
                int down = int(across(x, y) * w[2]);
                down = int(down + (across(x, y - 1) + across(x, y + 1)) * w[1]);
                alpha = 255 - int(down + (across(x, y - 2) + across(x, y + 2)) * w[0]);
            }
            result.setPixel(x, y, (picture.pixel(x, y) & 0xFFFFFFu) | quint32(alpha) << 24);
        }
    }
    return result;
}

// Empty when the two agree, else the first pixel that differs.
QString firstDifference(const QImage &found, const QImage &expected)
{
    if (found.size() != expected.size())
        return QStringLiteral("size differs");
    for (int i = 0; i < found.width() * found.height(); ++i) {
        const QPoint at(i % found.width(), i / found.width());
        if (found.pixel(at) != expected.pixel(at))
            return QString::asprintf("(%d, %d) of %d x %d is %08x, expected %08x", at.x(), at.y(),
                found.width(), found.height(), found.pixel(at), expected.pixel(at));
    }
    return {};
}

QPainterPath rectangle(qreal x, qreal y, qreal width, qreal height)
{
    QPainterPath path;
    path.addRect(x, y, width, height);
    return path;
}

} // namespace

class TestOutput : public QObject
{
    Q_OBJECT

private slots:
    void maskEqualsPlainSteps_data();
    void maskEqualsPlainSteps();
    void previewEqualsPlainSteps_data();
    void previewEqualsPlainSteps();
    void losesTransparencyOnlyToJpeg();
};

void TestOutput::maskEqualsPlainSteps_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPainterPath>("path");
    QTest::addColumn<int>("centre"); // alpha in the middle of the picture, -1 to leave it out

    QPainterPath overlap = rectangle(5, 5, 25, 15);
    overlap.addRect(15, 10, 20, 15);
    QPainterPath star; // self-intersecting: its inner pentagon is outside
    star.addPolygon(QPolygonF({ { 33, 1 }, { 52, 39 }, { 2, 15 }, { 64, 14 }, { 13, 40 } }));
    QPainterPath ellipse;
    ellipse.addEllipse(QRectF(1.3, 2.2, 60.4, 33.9));
    const QPainterPath everything = rectangle(-100, -100, 300, 300);
    QTest::newRow("rectangle") << QSize(40, 30) << rectangle(10, 8, 20, 14) << 255;
    QTest::newRow("empty path") << QSize(40, 30) << QPainterPath() << 1;
    QTest::newRow("beyond the picture") << QSize(40, 30) << everything << 255;
    QTest::newRow("past the right edge") << QSize(40, 30) << rectangle(25, -50, 500, 500) << 1;
    QTest::newRow("odd-even overlap is outside") << QSize(40, 30) << overlap << 1;
    QTest::newRow("edge just past a centre") << QSize(25, 12) << rectangle(-5, -5, 17.7, 22) << -1;
    QTest::newRow("edge by the frame") << QSize(25, 12) << rectangle(3, -5, 50, 22) << -1;
    QTest::newRow("4 wide") << QSize(4, 50) << everything << 0;
    QTest::newRow("4 high") << QSize(50, 4) << everything << 0;
    QTest::newRow("star, 67 x 41") << QSize(67, 41) << star << 1;
    for (const QSize size : { QSize(5, 5), QSize(8, 8), QSize(9, 9), QSize(67, 41) })
        QTest::addRow("ellipse, %d x %d", size.width(), size.height()) << size << ellipse << -1;
}

void TestOutput::maskEqualsPlainSteps()
{
    QFETCH(QSize, size);
    QFETCH(QPainterPath, path);
    QFETCH(int, centre);
    QImage picture = noisyPicture(size);
    applySelectionMask(picture, path);
    if (centre >= 0)
        QCOMPARE(qAlpha(picture.pixel(size.width() / 2, size.height() / 2)), centre);
    const QString difference = firstDifference(picture, maskedPlainly(noisyPicture(size), path));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestOutput::previewEqualsPlainSteps_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<bool>("withTile");
    // 784 x 592 already lays a second row and column of tiles, wholly outside the picture.
    QTest::newRow("784 x 592") << QSize(784, 592) << QColor(Qt::transparent) << true;
    QTest::newRow("800 x 600") << QSize(800, 600) << QColor(Qt::transparent) << true;
    QTest::newRow("alpha 0") << QSize(120, 40) << QColor(30, 200, 90, 0) << true;
    QTest::newRow("half tint") << QSize(120, 40) << QColor(30, 200, 90, 128) << true;
    QTest::newRow("opaque colour") << QSize(120, 40) << QColor(30, 200, 90) << true;
    QTest::newRow("half tint, no tile") << QSize(120, 40) << QColor(30, 200, 90, 128) << false;
}

void TestOutput::previewEqualsPlainSteps()
{
    QFETCH(QSize, size);
    QFETCH(QColor, background);
    QFETCH(bool, withTile);
    const QImage tile = withTile ? QImage(QStringLiteral(":/icons/chessbackground.png")) : QImage();
    QCOMPARE(tile.size(), withTile ? QSize(784, 592) : QSize(0, 0));
    // Without alpha, as most pictures are read.
    const QImage picture = noisyPicture(size).convertToFormat(QImage::Format_RGB32);
    QImage object = picture;
    applySelectionMask(object, rectangle(20, 5, 70, 28) - rectangle(40, 10, 10, 10));
    const QImage preview = composePreview(object, background, tile);
    // The same the plain way: the picture, every tile, a filled backdrop, then the object.
    QImage expected = picture.convertToFormat(QImage::Format_ARGB32);
    QImage backdrop(size, QImage::Format_ARGB32);
    backdrop.fill(background.rgba());
    QPainter painter(&expected);
    for (int i = 0; !tile.isNull() && i <= size.width() / tile.width(); ++i) {
        for (int j = 0; j <= size.height() / tile.height(); ++j)
            painter.drawImage(i * tile.width(), j * tile.height(), tile);
    }
    painter.drawImage(0, 0, backdrop);
    painter.drawImage(0, 0, object);
    painter.end();
    const QString difference = firstDifference(preview, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    if (background.alpha() == 0)
        QCOMPARE(preview, composePreview(object, Qt::transparent, tile));
    if (background.alpha() == 255) { // hides the chessboard where nothing is selected
        object.fill(Qt::transparent);
        QCOMPARE(composePreview(object, background, tile).pixel(8, 0), background.rgba());
    }
}

void TestOutput::losesTransparencyOnlyToJpeg()
{
    QVERIFY(!losesTransparency(Qt::white, QStringLiteral("cat.jpg")));
    QVERIFY(losesTransparency(Qt::transparent, QStringLiteral("/tmp/cat.JPEG")));
    QVERIFY(!losesTransparency(Qt::transparent, QStringLiteral("cat.png")));
    QVERIFY(losesTransparency(QColor(10, 20, 30, 254), QStringLiteral("cat.jpg")));
    QVERIFY(!losesTransparency(QColor(10, 20, 30, 255), QStringLiteral("cat.jpg")));
    QVERIFY(!losesTransparency(Qt::transparent, QStringLiteral("cat.jpe")));
}

QTEST_MAIN(TestOutput)
#include "tst_output.moc"
