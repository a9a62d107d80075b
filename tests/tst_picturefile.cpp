#include "picturefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

namespace
{

// Files are built byte by byte here, so the reader is checked against what the formats
// say rather than against what Qt's own writers happen to produce.

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    const QByteArray typed = QByteArray(type) + data;
    return be32(quint32(data.size())) + typed + be32(crc32(typed));
}

// rows: the raw bytes of each scan line, without the filter byte.
QByteArray png(quint32 width, quint32 height, int depth, int colourType,
    const QList<QByteArray> &rows, const QByteArray &palette = {})
{
    QByteArray header = be32(width) + be32(height);
    header += char(depth);
    header += char(colourType);
    header += QByteArray(3, '\0');
    QByteArray raw;
    for (const QByteArray &row : rows)
        raw += '\0' + row;
    // qCompress puts a four-byte length in front of a plain zlib stream.
    const QByteArray zlib = qCompress(raw).mid(4);
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    file += pngChunk("IHDR", header);
    if (!palette.isEmpty())
        file += pngChunk("PLTE", palette);
    file += pngChunk("IDAT", zlib);
    file += pngChunk("IEND", {});
    return file;
}

QByteArray be16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A GIF with a four-colour table whose index 3 is transparent. The LZW stream restarts
// with a clear code every two pixels, so the code width never grows past three bits.
QByteArray gif(int width, int height, const QByteArray &indices, const QByteArray &colours)
{
    QByteArray file("GIF89a");
    file += le16(quint16(width)) + le16(quint16(height));
    file += char(0x91); // global table of 4 entries
    file += char(0);
    file += char(0);
    file += colours;
    file += QByteArray("\x21\xF9\x04\x01\x00\x00\x03\x00", 8);
    file += char(0x2C);
    file += le16(0) + le16(0) + le16(quint16(width)) + le16(quint16(height));
    file += char(0);
    file += char(2); // minimum code size

    QList<int> codes;
    for (int k = 0; k < indices.size(); ++k) {
        if (k % 2 == 0)
            codes << 4;
        codes << int(indices[k]);
    }
    codes << 5;
    QByteArray packed;
    quint32 buffer = 0;
    int bits = 0;
    for (int code : codes) {
        buffer |= quint32(code) << bits;
        bits += 3;
        while (bits >= 8) {
            packed += char(buffer & 0xFF);
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        packed += char(buffer & 0xFF);
    for (int at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        file += char(block.size());
        file += block;
    }
    file += char(0);
    file += char(0x3B);
    return file;
}

// A bottom-up 24-bit BMP; pixels are given top row first.
QByteArray bmp(int width, int height, const QList<QRgb> &pixels)
{
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray data;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row;
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels[y * width + x];
            row += char(qBlue(p));
            row += char(qGreen(p));
            row += char(qRed(p));
        }
        row.append(stride - row.size(), '\0');
        data += row;
    }
    QByteArray file("BM");
    file += le32(quint32(54 + data.size())) + le32(0) + le32(54);
    file += le32(40) + le32(quint32(width)) + le32(quint32(height)) + le16(1) + le16(24) + le32(0);
    file += le32(quint32(data.size())) + le32(2835) + le32(2835) + le32(0) + le32(0);
    return file + data;
}

QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        qWarning("cannot encode %s: %s", format, qPrintable(writer.errorString()));
    return bytes;
}

// Four flat 16 x 16 blocks side by side, so lossy formats keep each block's colour.
QImage blocks(const QList<QRgb> &colours)
{
    QImage image(16 * int(colours.size()), 16, QImage::Format_ARGB32);
    for (int k = 0; k < colours.size(); ++k) {
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                image.setPixel(16 * k + x, y, colours[k]);
        }
    }
    return image;
}

// An Exif block holding only the orientation tag, inserted right after the JPEG's SOI.
QByteArray withOrientation(const QByteArray &jpeg, quint16 orientation)
{
    QByteArray tiff("MM\0*", 4);
    tiff += be32(8);
    tiff += be16(1);
    tiff += be16(0x0112) + be16(3) + be32(1) + be16(orientation) + be16(0);
    tiff += be32(0);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray segment
        = QByteArray("\xFF\xE1", 2) + be16(quint16(payload.size() + 2)) + payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int channelDistance(QRgb a, QRgb b)
{
    return qMax(qMax(qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b))),
        qMax(qAbs(qBlue(a) - qBlue(b)), qAbs(qAlpha(a) - qAlpha(b))));
}

struct Probe {
    QPoint at;
    QRgb expected;
};

} // namespace

Q_DECLARE_METATYPE(QList<Probe>)

class TestPictureFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsEveryFormat_data();
    void readsEveryFormat();
    void exifOrientationIsShownUpright_data();
    void exifOrientationIsShownUpright();
    void opensFiftyMegapixelPhoto();
    void badFilesGiveReasonNotCrash_data();
    void badFilesGiveReasonNotCrash();
    void truncatedJpegLoadsWhatSurvives();
    void pngRoundTripKeepsAlpha();
    void jpegIsWrittenAtRequestedQuality();
    void failedWriteLeavesExistingFile_data();
    void failedWriteLeavesExistingFile();
    void writeReplacesLongerFileCompletely();

private:
    QTemporaryDir folder;
};

void TestPictureFile::initTestCase()
{
    QVERIFY(folder.isValid());
    for (const char *format : { "tiff", "webp", "gif", "jpeg" })
        QVERIFY2(QImageReader::supportedImageFormats().contains(format), format);
}

void TestPictureFile::readsEveryFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<QList<Probe>>("probes");
    QTest::addColumn<QPoint>("transparentAt");

    QTest::newRow("8-bit grey PNG")
        << "grey.png"
        << png(3, 2, 8, 0, { QByteArray("\x00\x80\xFF", 3), QByteArray("\x10\x20\x30", 3) })
        << QSize(3, 2) << 0
        << QList<Probe> { { { 0, 0 }, qRgb(0, 0, 0) }, { { 1, 0 }, qRgb(0x80, 0x80, 0x80) },
               { { 2, 0 }, qRgb(255, 255, 255) }, { { 2, 1 }, qRgb(0x30, 0x30, 0x30) } }
        << QPoint();

    // Channel values that are multiples of 257 come down to 8 bits without rounding.
    QTest::newRow("16-bit RGB PNG")
        << "deep.png"
        << png(2, 1, 16, 2,
               { be16(200 * 257) + be16(10 * 257) + be16(0) + be16(65535) + be16(0)
                   + be16(77 * 257) })
        << QSize(2, 1) << 0
        << QList<Probe> { { { 0, 0 }, qRgb(200, 10, 0) }, { { 1, 0 }, qRgb(255, 0, 77) } }
        << QPoint();

    // Colour kept as stored, not premultiplied away, even where alpha is low.
    QTest::newRow("PNG with alpha") << "alpha.png"
                                    << png(3, 1, 8, 6,
                                           { QByteArray("\xC8\x64\x32\x80"
                                                        "\x0A\x14\x1E\x00"
                                                        "\xFA\x01\x02\x01",
                                               12) })
                                    << QSize(3, 1) << 0
                                    << QList<Probe> { { { 0, 0 }, qRgba(200, 100, 50, 128) },
                                           { { 2, 0 }, qRgba(250, 1, 2, 1) } }
                                    << QPoint();

    QTest::newRow("palette PNG") << "palette.png"
                                 << png(2, 2, 8, 3,
                                        { QByteArray("\x00\x01", 2), QByteArray("\x01\x00", 2) },
                                        QByteArray("\x0C\x22\x38"
                                                   "\xF0\xE0\xD0",
                                            6))
                                 << QSize(2, 2) << 0
                                 << QList<Probe> { { { 0, 0 }, qRgb(12, 34, 56) },
                                        { { 1, 0 }, qRgb(240, 224, 208) },
                                        { { 0, 1 }, qRgb(240, 224, 208) } }
                                 << QPoint();

    const QByteArray table("\xFF\x00\x00"
                           "\x00\xFF\x00"
                           "\x00\x00\xFF"
                           "\x11\x22\x33",
        12);
    QTest::newRow("indexed GIF with a transparent colour")
        << "indexed.gif" << gif(3, 2, QByteArray("\x00\x01\x02\x02\x03\x00", 6), table)
        << QSize(3, 2) << 0
        << QList<Probe> { { { 0, 0 }, qRgb(255, 0, 0) }, { { 1, 0 }, qRgb(0, 255, 0) },
               { { 2, 0 }, qRgb(0, 0, 255) }, { { 2, 1 }, qRgb(255, 0, 0) } }
        << QPoint(1, 1);

    QTest::newRow("24-bit BMP, stored bottom-up")
        << "plain.bmp"
        << bmp(3, 2,
               { qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9), qRgb(250, 0, 0), qRgb(0, 250, 0),
                   qRgb(0, 0, 250) })
        << QSize(3, 2) << 0
        << QList<Probe> { { { 0, 0 }, qRgb(1, 2, 3) }, { { 2, 0 }, qRgb(7, 8, 9) },
               { { 0, 1 }, qRgb(250, 0, 0) }, { { 2, 1 }, qRgb(0, 0, 250) } }
        << QPoint();

    const QList<QRgb> colours { qRgb(230, 20, 20), qRgb(20, 200, 40), qRgb(30, 40, 220),
        qRgb(250, 250, 250) };
    QList<Probe> centres;
    for (int k = 0; k < colours.size(); ++k)
        centres << Probe { { 16 * k + 8, 8 }, colours[k] };

    QTest::newRow("TIFF") << "blocks.tiff" << encoded(blocks(colours), "tiff") << QSize(64, 16) << 0
                          << centres << QPoint();
    QTest::newRow("WebP") << "blocks.webp" << encoded(blocks(colours), "webp", 100) << QSize(64, 16)
                          << 6 << centres << QPoint();
    QTest::newRow("JPEG") << "blocks.jpg" << encoded(blocks(colours), "jpeg", 95) << QSize(64, 16)
                          << 6 << centres << QPoint();

    QList<QRgb> translucent = colours;
    translucent[1] = qRgba(20, 200, 40, 90);
    QList<Probe> translucentCentres = centres;
    translucentCentres[1].expected = translucent[1];
    // The TIFF writer stores premultiplied colour, which costs a unit on the way back.
    QTest::newRow("TIFF with alpha") << "alpha.tif" << encoded(blocks(translucent), "tiff")
                                     << QSize(64, 16) << 2 << translucentCentres << QPoint();

    // Made with an image editor: red, cyan, black and white blocks in CMYK, Adobe style.
    QTest::newRow("CMYK JPEG")
        << "cmyk.jpg" << readFile(QStringLiteral(VELMORA_SOURCE_DIR "/tests/data/cmyk.jpg"))
        << QSize(64, 16) << 8
        << QList<Probe> { { { 8, 8 }, qRgb(255, 0, 0) }, { { 24, 8 }, qRgb(0, 255, 255) },
               { { 40, 8 }, qRgb(0, 0, 0) }, { { 56, 8 }, qRgb(255, 255, 255) } }
        << QPoint();

    // The content decides, not the name.
    QTest::newRow("JPEG named .png") << "mislabelled.png" << encoded(blocks(colours), "jpeg", 95)
                                     << QSize(64, 16) << 6 << centres << QPoint();
}

void TestPictureFile::readsEveryFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(int, tolerance);
    QFETCH(QList<Probe>, probes);
    QFETCH(QPoint, transparentAt);

    QVERIFY(!bytes.isEmpty());
    const QString path = folder.filePath(name);
    QVERIFY(writeFile(path, bytes));
    QString error;
    const QImage picture = readPicture(path, &error);
    QVERIFY2(!picture.isNull(), qPrintable(error));
    QCOMPARE(picture.format(), QImage::Format_ARGB32);
    QCOMPARE(picture.size(), size);
    for (const Probe &probe : probes) {
        const QRgb found = picture.pixel(probe.at);
        QVERIFY2(channelDistance(found, probe.expected) <= tolerance,
            qPrintable(QStringLiteral("at (%1, %2): %3, expected %4")
                           .arg(probe.at.x())
                           .arg(probe.at.y())
                           .arg(found, 8, 16, QLatin1Char('0'))
                           .arg(probe.expected, 8, 16, QLatin1Char('0'))));
    }
    if (!transparentAt.isNull())
        QCOMPARE(qAlpha(picture.pixel(transparentAt)), 0);
}

void TestPictureFile::exifOrientationIsShownUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("redAt");
    QTest::addColumn<QPoint>("blueAt");

    // The stored picture: 32 x 16, red left half, blue right half.
    QTest::newRow("1 as stored") << 1 << QSize(32, 16) << QPoint(4, 8) << QPoint(28, 8);
    QTest::newRow("3 turned half round") << 3 << QSize(32, 16) << QPoint(28, 8) << QPoint(4, 8);
    QTest::newRow("6 turned clockwise") << 6 << QSize(16, 32) << QPoint(8, 4) << QPoint(8, 28);
    QTest::newRow("8 turned anticlockwise") << 8 << QSize(16, 32) << QPoint(8, 28) << QPoint(8, 4);
}

void TestPictureFile::exifOrientationIsShownUpright()
{
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QPoint, redAt);
    QFETCH(QPoint, blueAt);

    const QRgb red = qRgb(240, 10, 10);
    const QRgb blue = qRgb(10, 10, 240);
    QImage stored(32, 16, QImage::Format_RGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x)
            stored.setPixel(x, y, x < 16 ? red : blue);
    }
    const QString path = folder.filePath(QStringLiteral("turned%1.jpg").arg(orientation));
    QVERIFY(writeFile(path, withOrientation(encoded(stored, "jpeg", 95), quint16(orientation))));

    QString error;
    const QImage picture = readPicture(path, &error);
    QVERIFY2(!picture.isNull(), qPrintable(error));
    QCOMPARE(picture.size(), size);
    QVERIFY(channelDistance(picture.pixel(redAt), red) <= 8);
    QVERIFY(channelDistance(picture.pixel(blueAt), blue) <= 8);
}

void TestPictureFile::opensFiftyMegapixelPhoto()
{
    constexpr int width = 8660;
    constexpr int height = 5773;
    QImage photo(width, height, QImage::Format_RGB32);
    photo.fill(qRgb(40, 120, 200));
    for (int y = height - 64; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = width - 64; x < width; ++x)
            row[x] = qRgb(250, 200, 10);
    }
    const QString path = folder.filePath(QStringLiteral("fifty.jpg"));
    QVERIFY(writeFile(path, encoded(photo, "jpeg", 90)));
    photo = QImage();

    QString error;
    const QImage picture = readPicture(path, &error);
    QVERIFY2(!picture.isNull(), qPrintable(error));
    QCOMPARE(picture.size(), QSize(width, height));
    QCOMPARE(picture.format(), QImage::Format_ARGB32);
    QVERIFY(channelDistance(picture.pixel(10, 10), qRgb(40, 120, 200)) <= 6);
    QVERIFY(channelDistance(picture.pixel(width - 20, height - 20), qRgb(250, 200, 10)) <= 6);
    QFile::remove(path);
}

void TestPictureFile::badFilesGiveReasonNotCrash_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty file") << "empty.png"
                                << "empty";
    QTest::newRow("text named .png") << "words.png"
                                     << "not a picture";
    QTest::newRow("PNG claiming 100000 x 100000") << "huge.png"
                                                  << "100000 x 100000";
    QTest::newRow("JPEG claiming 60000 x 50000") << "huge.jpg"
                                                 << "60000 x 50000";
    QTest::newRow("file that vanished") << "gone.jpg"
                                        << "not found";
    QTest::newRow("folder") << "folder.png"
                            << "folder";
    QTest::newRow("named pipe") << "pipe.png"
                                << "not a regular file";
    QTest::newRow("PNG with its data cut off") << "cut.png"
                                               << "damaged";
}

void TestPictureFile::badFilesGiveReasonNotCrash()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);

    const QString path = folder.filePath(name);
    if (name == QLatin1String("empty.png")) {
        QVERIFY(writeFile(path, {}));
    } else if (name == QLatin1String("words.png")) {
        QVERIFY(writeFile(path, "This is a shopping list, not a picture.\n"));
    } else if (name == QLatin1String("huge.png")) {
        QVERIFY(writeFile(path, png(100000, 100000, 8, 6, { QByteArray(16, '\x7F') })));
    } else if (name == QLatin1String("huge.jpg")) {
        QByteArray file = encoded(blocks({ qRgb(1, 2, 3) }), "jpeg");
        // Baseline frame header: marker, length, precision, then height and width.
        const qsizetype frame = file.indexOf("\xFF\xC0");
        QVERIFY(frame > 0);
        qToBigEndian(quint16(50000), file.data() + frame + 5);
        qToBigEndian(quint16(60000), file.data() + frame + 7);
        QVERIFY(writeFile(path, file));
    } else if (name == QLatin1String("gone.jpg")) {
        QVERIFY(writeFile(path, encoded(blocks({ qRgb(1, 2, 3) }), "jpeg")));
        QVERIFY(QFile::remove(path));
    } else if (name == QLatin1String("folder.png")) {
        QVERIFY(QDir(folder.path()).mkdir(name));
    } else if (name == QLatin1String("pipe.png")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (name == QLatin1String("cut.png")) {
        QList<QByteArray> rows;
        for (int y = 0; y < 64; ++y)
            rows << QByteArray(64 * 3, char(y * 3));
        const QByteArray whole = png(64, 64, 8, 2, rows);
        // Header and the start of the data only.
        QVERIFY(writeFile(path, whole.left(whole.indexOf("IDAT") + 12)));
    }

    QString error;
    const QImage picture = readPicture(path, &error);
    QVERIFY(picture.isNull());
    QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY2(error.contains(name), qPrintable(error));
}

void TestPictureFile::truncatedJpegLoadsWhatSurvives()
{
    QImage photo(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            photo.setPixel(x, y, qRgb(x, y, (x * y) & 0xFF));
    }
    const QByteArray whole = encoded(photo, "jpeg", 90);
    for (int keep : { 2, 40, int(whole.size() / 2), int(whole.size()) - 2 }) {
        const QString path = folder.filePath(QStringLiteral("cut%1.jpg").arg(keep));
        QVERIFY(writeFile(path, whole.left(keep)));
        QString error;
        const QImage picture = readPicture(path, &error);
        if (picture.isNull()) {
            QVERIFY2(!error.isEmpty(), qPrintable(path));
        } else {
            QCOMPARE(picture.size(), photo.size());
            QCOMPARE(picture.format(), QImage::Format_ARGB32);
        }
    }
}

void TestPictureFile::pngRoundTripKeepsAlpha()
{
    QImage image(17, 9, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 15, y * 28, 255 - x * 7, (x * 16 + y) % 256));
    }
    const QString path = folder.filePath(QStringLiteral("round.png"));
    QString error;
    QVERIFY2(writePicture(image, path, 100, &error), qPrintable(error));
    const QImage back = readPicture(path, &error);
    QVERIFY2(!back.isNull(), qPrintable(error));
    QCOMPARE(back, image);
    QCOMPARE(back.pixel(0, 1), qRgba(0, 28, 255, 1));
}

void TestPictureFile::jpegIsWrittenAtRequestedQuality()
{
    QImage image(128, 128, QImage::Format_ARGB32);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x)
            image.setPixel(x, y, qRgb(x * 2, y * 2, (x + y) % 256));
    }
    QString error;
    const QString best = folder.filePath(QStringLiteral("best.JPEG"));
    const QString rough = folder.filePath(QStringLiteral("rough.jpg"));
    QVERIFY2(writePicture(image, best, 100, &error), qPrintable(error));
    QVERIFY2(writePicture(image, rough, 10, &error), qPrintable(error));
    QVERIFY(readFile(best).startsWith("\xFF\xD8"));
    QVERIFY(QFileInfo(rough).size() * 3 < QFileInfo(best).size());

    const QImage back = readPicture(best, &error);
    QVERIFY2(!back.isNull(), qPrintable(error));
    int worst = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x)
            worst = qMax(worst, channelDistance(back.pixel(x, y), image.pixel(x, y)));
    }
    QVERIFY2(worst <= 4, qPrintable(QString::number(worst)));
}

void TestPictureFile::failedWriteLeavesExistingFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    QTest::newRow("unknown suffix") << "keep.xyz" << QSize(4, 4);
    QTest::newRow("no suffix") << "keep" << QSize(4, 4);
    QTest::newRow("jpe is not a format") << "keep.jpe" << QSize(4, 4);
    QTest::newRow("empty picture") << "keep.png" << QSize();
    // Wider than JPEG can say: the encoder gives up after the file was opened.
    QTest::newRow("encoder fails midway") << "keep.jpg" << QSize(70000, 2);
    QTest::newRow("parent is a file") << "parent.txt/keep.png" << QSize(4, 4);
}

void TestPictureFile::failedWriteLeavesExistingFile()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    QTemporaryDir place;
    QVERIFY(place.isValid());
    const QByteArray old("the picture that was here before\n");
    const QString path = place.filePath(name);
    if (name.startsWith(QLatin1String("parent.txt/")))
        QVERIFY(writeFile(place.filePath(QStringLiteral("parent.txt")), old));
    else
        QVERIFY(writeFile(path, old));
    const QStringList before
        = QDir(place.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    QImage image;
    if (size.isValid()) {
        image = QImage(size, QImage::Format_ARGB32);
        image.fill(qRgba(1, 2, 3, 4));
    }
    QString error;
    QVERIFY(!writePicture(image, path, 100, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(name.section(QLatin1Char('/'), -1)), qPrintable(error));
    const QString kept = name.startsWith(QLatin1String("parent.txt/"))
        ? place.filePath(QStringLiteral("parent.txt"))
        : path;
    QCOMPARE(readFile(kept), old);
    QCOMPARE(QDir(place.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        before);
}

void TestPictureFile::writeReplacesLongerFileCompletely()
{
    const QString path = folder.filePath(QStringLiteral("replaced.png"));
    QVERIFY(writeFile(path, QByteArray(100000, 'x')));
    QImage image(5, 3, QImage::Format_ARGB32);
    image.fill(qRgba(9, 99, 199, 255));
    QString error;
    QVERIFY2(writePicture(image, path, 100, &error), qPrintable(error));
    QVERIFY(QFileInfo(path).size() < 100000);
    QCOMPARE(readPicture(path, &error), image);
}

QTEST_GUILESS_MAIN(TestPictureFile)
#include "tst_picturefile.moc"
