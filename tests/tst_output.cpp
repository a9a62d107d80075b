#include "composite.h"
#include "selectionmask.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

// Random colour bytes, and an alpha that must be thrown away.
static QImage noisyPicture(QSize size)
{
    QImage picture(size, QImage::Format_ARGB32); // rows of 32-bit pixels have no padding
    QRandomGenerator(7).fillRange(
        reinterpret_cast<quint32 *>(picture.bits()), size.width() * size.height());
    return picture;
}

// The masked picture step by step: the path painted aliased, black inside; the 5-tap kernel
// with its square root across, truncated once, then down, truncated after each tap; alpha
// 255 minus that, and 0 on the two-pixel frame the kernel cannot reach; colours untouched.
static QImage maskedPlainly(QImage picture, const QPainterPath &path)
{
    const double sigma = 1.4;
    double w[5], sum = 0;
    for (int j = 0; j < 5; ++j)
        sum += w[j] = std::sqrt(
            std::exp(-(j - 2) * (j - 2) / (sigma * (sigma + sigma))) / (6.283 * (sigma * sigma)));
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
    for (int i = 0; i < picture.width() * picture.height(); ++i) {
        const int x = i % picture.width(), y = i / picture.width();
        int alpha = 0;
        if (x >= 2 && y >= 2 && x < picture.width() - 2 && y < picture.height() - 2) {
            int down = int(across(x, y) * w[2]);
            down = int(down + (across(x, y - 1) + across(x, y + 1)) * w[1]);
            alpha = 255 - int(down + (across(x, y - 2) + across(x, y + 2)) * w[0]);
        }
        picture.setPixel(x, y, (picture.pixel(x, y) & 0xFFFFFFu) | quint32(alpha) << 24);
    }
    return picture;
}

static QPainterPath rectangle(qreal x, qreal y, qreal width, qreal height)
{
    QPainterPath path;
    path.addRect(x, y, width, height);
    return path;
}

class TestOutput : public QObject
{
    Q_OBJECT

private slots:
    void maskEqualsPlainSteps_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPainterPath>("path");
        QTest::addColumn<int>("centre"); // alpha in the middle of the picture

        QPainterPath overlap = rectangle(5, 5, 25, 15);
        overlap.addRect(15, 10, 20, 15);
        QPainterPath ellipse;
        ellipse.addEllipse(QRectF(1.3, 2.2, 60.4, 33.9));
        QTest::newRow("rectangle") << QSize(40, 30) << rectangle(10, 8, 20, 14) << 255;
        QTest::newRow("empty path") << QSize(40, 30) << QPainterPath() << 1;
        QTest::newRow("beyond the picture") << QSize(40, 30) << rectangle(-9, -9, 99, 99) << 255;
        QTest::newRow("odd-even overlap is outside") << QSize(40, 30) << overlap << 1;
        QTest::newRow("4 wide") << QSize(4, 50) << rectangle(-9, -9, 99, 99) << 0;
        QTest::newRow("ellipse, 67 x 41") << QSize(67, 41) << ellipse << 255;
        // Large enough to be blurred in bands of rows on several threads.
        QTest::newRow("ellipse, 1900 x 1150")
            << QSize(1900, 1150) << QTransform::fromScale(28, 28).map(ellipse) << 255;
    }

    void maskEqualsPlainSteps()
    {
        QFETCH(QSize, size);
        QFETCH(QPainterPath, path);
        QFETCH(int, centre);
        QImage picture = noisyPicture(size);
        applySelectionMask(picture, path);
        QCOMPARE(qAlpha(picture.pixel(size.width() / 2, size.height() / 2)), centre);
        QCOMPARE(picture, maskedPlainly(noisyPicture(size), path));
        // A picture shared with the caller gets the same alpha; the caller's keeps its own.
        const QImage original = noisyPicture(size);
        QImage copy = original;
        applySelectionMask(copy, path);
        QCOMPARE(copy, picture);
        QCOMPARE(original, noisyPicture(size));
    }

    // The picture, the tiles, a filled backdrop, then the object, painted the plain way; 784 x
    // 592 already lays a second row and column of tiles, wholly outside the picture.
    void previewEqualsPlainSteps()
    {
        const QImage tile(QStringLiteral(":/icons/chessbackground.png"));
        for (const auto &[size, background] :
            { std::pair { QSize(784, 592), QColor(Qt::transparent) },
                { QSize(120, 40), QColor(30, 200, 90) },
                { QSize(120, 40), QColor(30, 200, 90, 128) },
                { QSize(1900, 1150), QColor(30, 200, 90, 128) } }) {
            QImage object = noisyPicture(size).convertToFormat(QImage::Format_RGB32);
            QImage expected = object.convertToFormat(QImage::Format_ARGB32);
            applySelectionMask(object, rectangle(20, 5, 70, 28) - rectangle(40, 10, 10, 10));
            QImage backdrop(size, QImage::Format_ARGB32);
            backdrop.fill(background.rgba());
            QImage saved = backdrop; // and as it is saved, with no chessboard
            QPainter(&saved).drawImage(0, 0, object);
            QVERIFY2(composeOnBackground(object, background) == saved,
                qPrintable(background.name(QColor::HexArgb)));
            QPainter painter(&expected);
            painter.fillRect(expected.rect(), QBrush(tile));
            painter.drawImage(0, 0, backdrop);
            painter.drawImage(0, 0, object);
            painter.end();
            QVERIFY2(composePreview(object, background, tile) == expected,
                qPrintable(background.name(QColor::HexArgb)));
        }
    }

    // Any alpha below 255, and only to .jpg or .jpeg names in any case.
    void losesTransparencyOnlyToJpeg()
    {
        for (const auto &[background, name, loses] :
            { std::tuple { QColor(Qt::transparent), "/tmp/cat.JPEG", true },
                { QColor(10, 20, 30, 254), "cat.jpg", true },
                { QColor(10, 20, 30, 255), "cat.jpg", false },
                { QColor(Qt::transparent), "cat.png", false },
                { QColor(Qt::transparent), "cat.jpe", false } })
            QVERIFY2(losesTransparency(background, QString::fromLatin1(name)) == loses, name);
    }
};

QTEST_MAIN(TestOutput)
#include "tst_output.moc"
