#include "picturefile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace
{

// Four 16 x 16 blocks, by default red, cyan, black and white like the committed sample files.
QImage blocks(QRgb second = qRgb(0, 255, 255))
{
    const QRgb colours[] = { qRgb(255, 0, 0), second, qRgb(0, 0, 0), qRgb(255, 255, 255) };
    QImage image(64, 16, QImage::Format_ARGB32);
    for (int i = 0; i < 64 * 16; ++i)
        image.setPixel(i % 64, i / 64, colours[i % 64 / 16]);
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int distance(QRgb a, QRgb b)
{
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8)
        most = qMax(most, qAbs(int(a >> shift & 255) - int(b >> shift & 255)));
    return most;
}

// A PNG whose header, its checksum made to match, claims width x height; no pixel data.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray file("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\0\0\0\0\0\x08\x06\0\0\0\0\0\0\0"
                    "\0\0\0\0IDAT\x35\xAF\x06\x1E\0\0\0\0IEND\xAE\x42\x60\x82",
        57);
    qToBigEndian(width, file.data() + 16);
    qToBigEndian(height, file.data() + 20);
    quint32 crc = 0xFFFFFFFFu;
    for (char c : file.mid(12, 17)) { // chunk type and header data
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    qToBigEndian(~crc, file.data() + 29);
    return file;
}

} // namespace

class TestPictureFile : public QObject
{
    Q_OBJECT

private slots:
    void readsPictureOrSaysWhy_data();
    void readsPictureOrSaysWhy();
    void opensFiftyMegapixelPhoto();
    void failedWriteLeavesExistingFile();

private:
    QTemporaryDir folder;
};

void TestPictureFile::readsPictureOrSaysWhy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QImage>("expected"); // null when the file must be refused
    QTest::addColumn<QString>("error"); // part of the reason given

    // Plain relative names, so each reason can be matched against the name as given.
    QVERIFY(QDir::setCurrent(folder.path()));
    // Every format Qt can write goes through writePicture, so those rows are round trips.
    const auto written = [](const QImage &image, const QString &name) {
        return writePicture(image, name) ? name : QString();
    };
    const auto file = [](const QString &name, const QByteArray &bytes) {
        return writeFile(name, bytes) ? name : QString();
    };
    const QImage opaque = blocks();
    // A faint colour that would not survive being stored premultiplied.
    const QImage faint = blocks(qRgba(20, 200, 100, 3));
    const QImage rgb = opaque.convertToFormat(QImage::Format_RGB32);
    const QImage grey = opaque.convertToFormat(QImage::Format_Grayscale8);
    const QString data = QStringLiteral(VELMORA_SOURCE_DIR "/tests/data/");
    QFile cmyk(data + "cmyk.jpg");
    const QByteArray jpeg = cmyk.open(QIODevice::ReadOnly) ? cmyk.readAll() : QByteArray();
    // An Exif block holding only the orientation tag, 6: the camera was turned clockwise.
    const QByteArray turned = jpeg.left(2)
        + QByteArray("\xFF\xE1\0\x22"
                     "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
            36)
        + jpeg.mid(2);

    QTest::newRow("8-bit grey PNG")
        << written(grey, "grey.png") << grey.convertToFormat(QImage::Format_ARGB32) << "";
    QTest::newRow("16-bit PNG") << written(faint.convertToFormat(QImage::Format_RGBA64), "deep.png")
                                << faint << "";
    QTest::newRow("PNG with alpha") << written(faint, "alpha.png") << faint << "";
    QTest::newRow("indexed GIF") << data + "indexed.gif" << opaque << "";
    QTest::newRow("CMYK JPEG") << data + "cmyk.jpg" << opaque << "";
    QTest::newRow("BMP") << written(rgb, "plain.bmp") << opaque << "";
    QTest::newRow("TIFF") << written(rgb, "plain.tif") << opaque << "";
    QTest::newRow("WebP") << written(rgb, "plain.webp") << opaque << "";
    // Turned upright, the picture's left end goes on top.
    QTest::newRow("EXIF orientation 6")
        << file("turned.jpg", turned) << opaque.transformed(QTransform().rotate(90)) << "";

    QTest::newRow("empty file") << file("empty.png", "") << QImage() << "empty.png: empty";
    QTest::newRow("JPEG cut before its scan")
        << file("cut.jpg", jpeg.left(jpeg.indexOf("\xFF\xDA"))) << QImage() << "cut.jpg: damaged";
    QTest::newRow("text named .png")
        << file("words.png", "a shopping list\n") << QImage() << "words.png: not a picture";
    QTest::newRow("PNG claiming 100000 x 100000") << file("huge.png",
        pngClaiming(100000, 100000)) << QImage() << "huge.png: too large (100000 x 100000";
    QTest::newRow("vanished file") << "gone.jpg" << QImage() << "gone.jpg: file not found";
    QVERIFY(QDir().mkdir("folder.png"));
    QTest::newRow("folder") << "folder.png" << QImage() << "folder.png: is a folder";
}

void TestPictureFile::readsPictureOrSaysWhy()
{
    QFETCH(QString, name);
    QFETCH(QImage, expected);
    QFETCH(QString, error);
    QString reason;
    const QImage picture = readPicture(name, &reason);
    QVERIFY2(picture.isNull() == expected.isNull() && reason.contains(error), qPrintable(reason));
    if (picture.isNull())
        return;
    QCOMPARE(picture.format(), QImage::Format_ARGB32);
    QCOMPARE(picture.size(), expected.size());
    const int tolerance = QStringList { "jpg", "webp" }.contains(QFileInfo(name).suffix()) ? 8 : 0;
    // Block centres only: lossy formats blur the seams.
    for (int y = 8; y < expected.height(); y += 16) {
        for (int x = 8; x < expected.width(); x += 16)
            QVERIFY2(distance(picture.pixel(x, y), expected.pixel(x, y)) <= tolerance,
                qPrintable(QString::number(picture.pixel(x, y), 16)));
    }
}

void TestPictureFile::opensFiftyMegapixelPhoto()
{
    const QString path = folder.filePath(QStringLiteral("fifty.jpg"));
    QImage photo(8660, 5773, QImage::Format_RGB32);
    photo.fill(qRgb(40, 120, 200));
    QVERIFY(photo.save(path, "jpeg", 90));
    QCOMPARE(readPicture(path).size(), QSize(8660, 5773));
}

void TestPictureFile::failedWriteLeavesExistingFile()
{
    // Each name's first part is a file that is already there. No JPEG can be 70000 wide, so
    // the encoder gives up only after the file was opened.
    for (const QString name : { "keep.xyz", "parent.txt/keep.png", "keep.jpg" }) {
        QTemporaryDir place;
        const QString existing = name.section(QLatin1Char('/'), 0, 0);
        const QByteArray old("the picture that was here before\n");
        QVERIFY(writeFile(place.filePath(existing), old));
        QImage image(70000, 2, QImage::Format_ARGB32);
        image.fill(qRgba(1, 2, 3, 4));
        QString error;
        QVERIFY(!writePicture(image, place.filePath(name), 100, &error));
        QVERIFY2(error.contains(QFileInfo(name).fileName()), qPrintable(error));
        QFile kept(place.filePath(existing));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == old);
        QCOMPARE(
            QDir(place.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList(existing));
    }
}

QTEST_GUILESS_MAIN(TestPictureFile)
#include "tst_picturefile.moc"
