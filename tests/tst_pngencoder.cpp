#include "pngencoder.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

// Noise over a gradient, so every filter type wins on some row; alpha from 0 to 255 unless
// opaque, with colour kept under alpha 0 (a premultiplying encoder would lose it).
static QImage picture(int width, int height, bool opaque, quint32 seed = 7)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29);
            row[x] = qRgba((x * 7 + noise) & 255, (y * 5 + x) & 255, (seed >> 8) & 255,
                opaque ? 255 : int(seed >> 16) & 255);
        }
    }
    return image;
}

static QByteArray encode(const QImage &image, const PngSettings &settings = {})
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!writePng(image, buffer, settings, &error))
        qWarning() << "writePng failed:" << error;
    return bytes;
}

// Accepts the first limit bytes, then refuses like a full disk.
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
        if (length > room) {
            setErrorString(QStringLiteral("no room left"));
            return -1;
        }
        room -= length;
        return length;
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
        QTest::newRow("RGB32 input")
            << picture(33, 9, false).convertToFormat(QImage::Format_RGB32) << 0 << 0 << 2;
        QTest::newRow("premultiplied input")
            << picture(33, 9, false).convertToFormat(QImage::Format_ARGB32_Premultiplied) << 1 << 2
            << 6;
        QTest::newRow("grey input")
            << picture(16, 16, true).convertToFormat(QImage::Format_Grayscale8) << 0 << 0 << 2;
    }

    void decodesToExactlyThePixels()
    {
        QFETCH(QImage, image);
        QFETCH(int, threads);
        QFETCH(int, bands);
        QFETCH(int, colourType);
        const QByteArray bytes = encode(image, { 1, true, threads, bands });
        QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
        // IHDR: size, 8 bits, colour type, deflate, adaptive filtering, no interlace.
        QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
        QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 16), quint32(image.width()));
        QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 20), quint32(image.height()));
        QCOMPARE(bytes.mid(24, 5), QByteArray(1, 8) + char(colourType) + QByteArray(3, 0));
        QVERIFY(bytes.endsWith(QByteArray::fromHex("0000000049454e44ae426082")));

        const QImage expected = image.convertToFormat(QImage::Format_ARGB32);
        const QImage decoded
            = QImage::fromData(bytes, "png").convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(decoded.size(), expected.size());
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x) {
                if (decoded.pixel(x, y) != expected.pixel(x, y))
                    QFAIL(
                        qPrintable(QStringLiteral("%1x%2: first difference at (%3, %4): %5 for %6")
                                       .arg(image.width())
                                       .arg(image.height())
                                       .arg(x)
                                       .arg(y)
                                       .arg(decoded.pixel(x, y), 8, 16)
                                       .arg(expected.pixel(x, y), 8, 16)));
            }
        }
    }

    void sameBytesWhateverTheThreadsOrLevel()
    {
        const QImage image = picture(301, 97, false);
        const QByteArray alone = encode(image, { 1, true, 1, 6 });
        QCOMPARE(encode(image, { 1, true, 4, 6 }), alone);
        // Other levels and string matches change the bytes, never the pixels.
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
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = qRgba(x * 255 / 640, y * 255 / 480, (x + y) / 5 % 256, 255 - y / 4);
        }
        QByteArray qt;
        QBuffer buffer(&qt);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png", 0));
        const QByteArray ours = encode(image, { 9, false, 1, 1 });
        QVERIFY2(ours.size() <= qt.size() * 11 / 10,
            qPrintable(QStringLiteral("%1 bytes against Qt's %2").arg(ours.size()).arg(qt.size())));
    }

    void failingDeviceIsReported()
    {
        const QImage image = picture(200, 300, false);
        const qint64 whole = encode(image).size();
        // In the signature, the header, the pixel data, and the last byte of the end chunk.
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
