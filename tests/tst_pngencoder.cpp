#include "pngencoder.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

// Noise over a gradient, so every filter type wins on some row; alpha from 0 to 255 unless
// opaque, with colour kept under alpha 0 (a premultiplying encoder would lose it).
static QImage picture(int width, int height, bool opaque)
{
    QImage image(width, height, QImage::Format_ARGB32);
    quint32 seed = 7;
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = i / width;
        seed = seed * 1664525u + 1013904223u;
        image.setPixel(x, y,
            qRgba((x * 7 + int(seed >> 29)) & 255, (y * 5 + x) & 255, (seed >> 8) & 255,
                opaque ? 255 : int(seed >> 16) & 255));
    }
    return image;
}

static QByteArray encode(const QImage &image, const PngSettings &settings = {})
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QString error;
    if (!buffer.open(QIODevice::WriteOnly) || !writePng(image, buffer, settings, &error))
        qWarning() << "writePng failed:" << error;
    return bytes;
}

// Accepts the first `room` bytes, then refuses like a full disk.
class FillingDevice : public QIODevice
{
public:
    explicit FillingDevice(qint64 limit)
        : room(limit)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override
    {
        setErrorString(QStringLiteral("no room left"));
        return length > room ? -1 : (room -= length, length);
    }

private:
    qint64 room;
};

class TestPngEncoder : public QObject
{
    Q_OBJECT

private slots:
    void decodesToExactlyThePixels_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("bands");
        QTest::addColumn<int>("colourType");
        QTest::newRow("1x1 opaque") << picture(1, 1, true) << 0 << 0 << 2;
        QTest::newRow("1x1 transparent") << picture(1, 1, false) << 0 << 0 << 6;
        QTest::newRow("1x40 column, 3 bands") << picture(1, 40, false) << 2 << 3 << 6;
        QTest::newRow("40x1 row, more bands than rows") << picture(40, 1, true) << 2 << 9 << 2;
        QTest::newRow("37x23, 5 uneven bands on 3 threads")
            << picture(37, 23, false) << 3 << 5 << 6;
        QTest::newRow("7x7, 7 bands of one row") << picture(7, 7, true) << 2 << 7 << 2;
        QTest::newRow("300x200 automatic") << picture(300, 200, false) << 0 << 0 << 6;
        // One translucent pixel at the very end must still make the whole picture RGBA.
        QImage lastTranslucent = picture(9, 8, true);
        lastTranslucent.setPixel(8, 7, qRgba(1, 2, 3, 254));
        QTest::newRow("last pixel translucent") << lastTranslucent << 2 << 2 << 6;
        const QImage translucent = picture(33, 9, false);
        QTest::newRow("RGB32 input")
            << translucent.convertToFormat(QImage::Format_RGB32) << 0 << 0 << 2;
        QTest::newRow("premultiplied input")
            << translucent.convertToFormat(QImage::Format_ARGB32_Premultiplied) << 1 << 2 << 6;
        QTest::newRow("grey input")
            << picture(16, 16, true).convertToFormat(QImage::Format_Grayscale8) << 0 << 0 << 2;
    }

    // The signature, the header (8 bits, the colour type, deflate, adaptive filtering, no
    // interlace), the end chunk, and every pixel back as it was.
    void decodesToExactlyThePixels()
    {
        QFETCH(QImage, image);
        QFETCH(int, threads);
        QFETCH(int, bands);
        QFETCH(int, colourType);
        const QByteArray bytes = encode(image, { 1, true, threads, bands });
        char header[13] = { 0, 0, 0, 0, 0, 0, 0, 0, 8, char(colourType) };
        qToBigEndian(quint32(image.width()), header);
        qToBigEndian(quint32(image.height()), header + 4);
        QCOMPARE(bytes.left(29),
            QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + QByteArray(header, 13));
        QVERIFY(bytes.endsWith(QByteArray::fromHex("0000000049454e44ae426082")));
        QCOMPARE(QImage::fromData(bytes, "png").convertToFormat(QImage::Format_ARGB32),
            image.convertToFormat(QImage::Format_ARGB32));
    }

    // Threads never change the bytes; other levels and string matches change them, never the
    // pixels.
    void sameBytesWhateverTheThreadsOrLevel()
    {
        const QImage image = picture(301, 97, false);
        const QByteArray alone = encode(image, { 1, true, 1, 6 });
        QCOMPARE(encode(image, { 1, true, 4, 6 }), alone);
        for (const PngSettings &settings :
            { PngSettings { 9, false, 2, 1 }, PngSettings { 1, false, 2, 3 } }) {
            const QByteArray other = encode(image, settings);
            QVERIFY(other != alone);
            QCOMPARE(QImage::fromData(other, "png"), QImage::fromData(alone, "png"));
        }
    }

    // Smooth pictures are where a poor filter choice shows. At the same deflate effort as Qt's
    // writer at its best compression (every filter tried on every row), ours must keep up.
    void filtersAsWellAsQtsBestWriter()
    {
        QImage image(640, 480, QImage::Format_ARGB32);
        for (int i = 0; i < 640 * 480; ++i) {
            const int x = i % 640, y = i / 640;
            image.setPixel(
                x, y, qRgba(x * 255 / 640, y * 255 / 480, (x + y) / 5 % 256, 255 - y / 4));
        }
        QByteArray qt;
        QBuffer buffer(&qt);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png", 0));
        const QByteArray ours = encode(image, { 9, false, 1, 1 });
        QVERIFY2(ours.size() <= qt.size() * 11 / 10,
            qPrintable(QString("%1 bytes against Qt's %2").arg(ours.size()).arg(qt.size())));
    }

    // Refused in the signature, the header, the pixel data, and the last byte of the end chunk.
    void failingDeviceIsReported()
    {
        const QImage image = picture(200, 300, false);
        const qint64 whole = encode(image).size();
        for (qint64 room : { qint64(0), qint64(20), whole / 2, whole - 1 }) {
            FillingDevice device(room);
            QString error;
            QVERIFY2(!writePng(image, device, {}, &error), qPrintable(QString::number(room)));
            QCOMPARE(error, QStringLiteral("no room left"));
        }
        FillingDevice enough(whole);
        QVERIFY(writePng(image, enough));
    }
};

QTEST_GUILESS_MAIN(TestPngEncoder)
#include "tst_pngencoder.moc"
