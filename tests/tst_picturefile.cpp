#include "picturefile.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <libheif/heif.h>

// Four 16 x 16 blocks, by default red, cyan, black and white like the committed sample files.
static QImage blocks(QRgb second = qRgb(0, 255, 255))
{
    const QRgb colours[] = { qRgb(255, 0, 0), second, qRgb(0, 0, 0), qRgb(255, 255, 255) };
    return QImage(reinterpret_cast<const uchar *>(colours), 4, 1, QImage::Format_ARGB32)
        .scaled(64, 16);
}

// The name once the bytes are written to it, else empty.
static QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

// The x265 encoder keeps tables for the life of the process, and this libheif's x265 plugin
// never hands them back (its cleanup is empty); LeakSanitizer reads this hook when it runs.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

static heif_error appendTo(heif_context *, const void *data, size_t size, void *bytes)
{
    static_cast<QByteArray *>(bytes)->append(static_cast<const char *>(data), qsizetype(size));
    return { heif_error_Ok, heif_suberror_Unspecified, "" };
}

// picture as a HEIF file coded by libheif's own encoder (lossy, with alpha when the picture has
// it), its display turned by the irot and imir boxes of orientation, and an Exif block when
// given. Empty when libheif has no encoder for the coding.
static QByteArray encodedHeif(const QImage &picture, heif_compression_format coding,
    heif_orientation orientation = heif_orientation_normal, const QByteArray &exif = {})
{
    const bool alpha = picture.hasAlphaChannel();
    const QImage rows
        = picture.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    std::unique_ptr<heif_context, void (*)(heif_context *)> context(
        heif_context_alloc(), heif_context_free);
    heif_encoder *coder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), coding, &coder).code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, void (*)(heif_encoder *)> encoder(coder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    heif_image *made = nullptr;
    heif_image_create(rows.width(), rows.height(), heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &made);
    std::unique_ptr<heif_image, void (*)(const heif_image *)> image(made, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, rows.width(), rows.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rows.height(); ++y)
        memcpy(plane + qsizetype(y) * stride, rows.constScanLine(y),
            size_t(rows.width()) * (alpha ? 4 : 3));
    std::unique_ptr<heif_encoding_options, void (*)(heif_encoding_options *)> options(
        heif_encoding_options_alloc(), heif_encoding_options_free);
    options->image_orientation = orientation;
    heif_image_handle *coded = nullptr;
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &coded)
            .code
        != heif_error_Ok)
        return {};
    if (!exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), coded, exif.constData(), int(exif.size()));
    heif_image_handle_release(coded);
    QByteArray bytes;
    heif_writer writer = { 1, &appendTo };
    heif_context_write(context.get(), &writer, &bytes);
    return bytes;
}

// The first pixel of found, away from wanted's colour seams, that differs from wanted's by more
// than tolerance in a channel, described; empty when there is none. Lossy codings blur seams.
static QString differsInside(const QImage &found, const QImage &wanted, int tolerance)
{
    if (found.size() != wanted.size())
        return QStringLiteral("size %1 x %2").arg(found.width()).arg(found.height());
    int compared = 0;
    for (int y = 2; y < wanted.height() - 2; ++y) {
        for (int x = 2; x < wanted.width() - 2; ++x) {
            const QRgb a = found.pixel(x, y), b = wanted.pixel(x, y);
            // The pictures are blocks, so a seam within two pixels shows at a corner.
            if (b != wanted.pixel(x - 2, y - 2) || b != wanted.pixel(x + 2, y + 2)
                || b != wanted.pixel(x - 2, y + 2) || b != wanted.pixel(x + 2, y - 2))
                continue;
            ++compared;
            for (int shift = 0; shift < 32; shift += 8)
                if (qAbs(int(a >> shift & 255) - int(b >> shift & 255)) > tolerance)
                    return QStringLiteral("at (%1, %2): %3 instead of %4")
                        .arg(x)
                        .arg(y)
                        .arg(a, 8, 16, QLatin1Char('0'))
                        .arg(b, 8, 16, QLatin1Char('0'));
        }
    }
    return compared == 0 ? QStringLiteral("no pixel away from the seams") : QString();
}

// heif with the bytes after the version and flags of every box named box replaced by value:
// the ispe boxes' picture sizes, or the canvas of the grid libheif stores a picture in (idat,
// its size fields 16 bits wide). Empty when heif holds no such box.
static QByteArray patched(QByteArray heif, const char *box, const QByteArray &value)
{
    int found = 0;
    for (int at = heif.indexOf(box); at >= 0; at = heif.indexOf(box, at + 1), ++found)
        heif.replace(at + 8, value.size(), value);
    return found > 0 ? heif : QByteArray();
}

class TestPictureFile : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    // Every read either gives the picture upright, as ARGB32, or a reason naming the file.
    void readsPictureOrSaysWhy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QImage>("expected"); // null when the file must be refused
        QTest::addColumn<QString>("error"); // part of the reason given
        const auto reads = [](const char *tag, const QString &name, const QImage &expected) {
            QTest::newRow(tag) << name << expected << QString();
        };
        const auto refused = [](const char *tag, const QString &name, const QString &error) {
            QTest::newRow(tag) << name << QImage() << error;
        };

        // Plain relative names, so each reason can be matched against the name as given.
        QVERIFY(QDir::setCurrent(folder.path()));
        const QImage opaque = blocks(), faint = blocks(qRgba(20, 200, 100, 3));
        // Without an alpha channel, so that the HEIF files have none either.
        const QImage rgb = opaque.convertToFormat(QImage::Format_RGB32), odd = rgb.scaled(61, 15);
        QFile cmyk(QStringLiteral(VELMORA_SOURCE_DIR "/tests/data/cmyk.jpg"));
        const QByteArray jpeg = cmyk.open(QIODevice::ReadOnly) ? cmyk.readAll() : QByteArray();
        // Exif holding only the orientation tag, 6: the camera was turned clockwise.
        const QByteArray exif6
            = QByteArray::fromHex("4d4d002a00000008000101120003000000010006000000000000");
        const QTransform quarter = QTransform().rotate(90);
        const heif_compression_format hevc = heif_compression_HEVC;

        // Written by the own PNG encoder, which must not store it premultiplied.
        reads("PNG with alpha", writePicture(faint, "alpha.png") ? "alpha.png" : "", faint);
        reads("EXIF orientation 6",
            writeFile("turned.jpg",
                jpeg.left(2) + QByteArray::fromHex("ffe10022457869660000") + exif6 + jpeg.mid(2)),
            opaque.transformed(quarter));
        // Phone photos are stored sideways with a turn to apply (irot, imir), once only even
        // when an Exif block repeats it.
        reads("HEIC turned and mirrored",
            writeFile("transposed.heic",
                encodedHeif(rgb, hevc, heif_orientation_rotate_90_cw_then_flip_horizontally)),
            rgb.transformed(QTransform(0, 1, 1, 0, 0, 0)));
        reads("HEIC turned, with Exif orientation too",
            writeFile("exif.heic", encodedHeif(rgb, hevc, heif_orientation_rotate_90_cw, exif6)),
            rgb.transformed(quarter));
        // Odd sides are coded padded to even ones and cropped back before the turn.
        reads("HEIC of odd size, turned",
            writeFile("odd.heic", encodedHeif(odd, hevc, heif_orientation_rotate_90_cw)),
            odd.transformed(quarter));
        reads("AVIF turned a quarter clockwise",
            writeFile("quarter.avif",
                encodedHeif(rgb, heif_compression_AV1, heif_orientation_rotate_90_cw)),
            rgb.transformed(quarter));
        const QImage translucent = blocks(qRgba(0, 255, 255, 128));
        reads("HEIC with alpha", writeFile("alpha.heic", encodedHeif(translucent, hevc)),
            translucent);
        reads("HEIC named .jpg", writeFile("phone.jpg", encodedHeif(rgb, hevc)), rgb);
        // Many phones name the generic brand first and HEVC only among the compatible ones.
        reads("HEIF of the generic brand mif1, renamed",
            writeFile("generic.jpeg", encodedHeif(rgb, hevc).replace(8, 4, "mif1")), rgb);

        refused("empty file", writeFile("empty.png", ""), "empty.png: empty");
        refused("text named .png", writeFile("words.png", "a shopping list\n"),
            "words.png: not a picture");
        refused("vanished file", "gone.jpg", "gone.jpg: file not found");
        refused("PPM too large", writeFile("huge.ppm", "P6 16385 16384 255\n"),
            "huge.ppm: too large, 16385 × 16384 pixels, at most 268 megapixels");
        // Headers alone, claiming pictures that would fit in memory: refused unread.
        const QByteArray bmp
            = QByteArray::fromHex("424d00000000000000003600000028000000a00f0000a00f000001001800");
        refused("70-byte BMP claiming 4000 x 4000",
            writeFile("short.bmp", bmp.leftJustified(70, '\0')),
            "short.bmp: damaged or incomplete");
        refused("PPM shorter than its header",
            writeFile("short.ppm", "P6\n# a comment\n20 10\n255\n" + QByteArray(599, 'x')),
            "short.ppm: damaged or incomplete");
        const QByteArray heic = encodedHeif(opaque, hevc);
        refused("HEIC claiming 100000 x 100000",
            writeFile("huge.heic", patched(heic, "ispe", QByteArray::fromHex("000186a0000186a0"))),
            "huge.heic: too large, 100000 × 100000 pixels");
        // libheif stores it as a one-tile grid; 60000 x 60000 for its canvas would take 10 GB
        // before the picture's own size is ever compared.
        refused("HEIC grid with a canvas larger than its size",
            writeFile("canvas.heic", patched(heic, "idat", QByteArray::fromHex("ea60ea60"))),
            "canvas.heic: too large");
        refused("HEIF image sequence",
            writeFile("burst.heic", QByteArray(heic).replace(8, 4, "msf1")),
            "burst.heic: a HEIF picture coded in a way");
        QFile::link("loop-b.png", "loop-a.png");
        QFile::link("loop-a.png", "loop-b.png");
        refused("symbolic link loop", "loop-a.png", "loop-a.png: symbolic link loop");
        QFile::link("nowhere.png", "dangling.png");
        refused("broken link", "dangling.png", "dangling.png: broken symbolic link");
        // What a name with bytes invalid in the locale's encoding becomes once decoded.
        refused("undecodable name", QString::fromUtf8("bad\xff.png"),
            "bad\uFFFD.png: the name is not valid");
        QVERIFY(QDir().mkdir("folder.png"));
        refused("folder", "folder.png", "folder.png: is a folder");
    }

    void readsPictureOrSaysWhy()
    {
        QFETCH(QString, name);
        QFETCH(QImage, expected);
        QFETCH(QString, error);
        QString why;
        const QImage picture = readPicture(name, &why);
        QVERIFY2(picture.isNull() == expected.isNull() && why.contains(error), qPrintable(why));
        if (expected.isNull())
            return;
        QCOMPARE(picture.format(), QImage::Format_ARGB32);
        const bool lossy = QRegularExpression("\\.(jpe?g|webp|heic|avif)$").match(name).hasMatch();
        const QString difference = differsInside(
            picture, expected.convertToFormat(QImage::Format_ARGB32), lossy ? 8 : 0);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void opensFiftyMegapixelPhoto()
    {
        const QString path = folder.filePath(QStringLiteral("fifty.jpg"));
        QImage photo(8660, 5773, QImage::Format_RGB32);
        photo.fill(qRgb(40, 120, 200));
        QVERIFY(photo.save(path, "jpeg", 90));
        QCOMPARE(readPicture(path).size(), QSize(8660, 5773));
    }

    // The Open dialog's list: every suffix readPicture knows, and each one that can be written here
    // opens again under that name.
    void offersEveryReadableSuffix()
    {
        const QStringList suffixes = readablePictureSuffixes();
        for (const QByteArray &format :
            QImageReader::supportedImageFormats() + QByteArrayList { "heic", "heif" })
            QVERIFY2(suffixes.contains(QString::fromLatin1(format.toLower())), format.constData());

        // Square, for the icon formats.
        const QImage picture = blocks().scaled(64, 64);
        for (const QString &suffix : suffixes) {
            QByteArray bytes;
            if (suffix.startsWith(QLatin1String("hei")) || suffix == QLatin1String("avif")) {
                bytes = encodedHeif(picture,
                    suffix == QLatin1String("avif") ? heif_compression_AV1 : heif_compression_HEVC);
            } else {
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                QImageWriter writer(&buffer, suffix.toLatin1());
                if (!writer.canWrite() || !writer.write(picture))
                    continue; // a format Qt only reads
            }
            QString why;
            const QImage read
                = readPicture(writeFile(folder.filePath("offered." + suffix), bytes), &why);
            QVERIFY2(read.size() == picture.size(), qPrintable(suffix + ": " + why));
        }
    }

    // What does not fit its format is refused by checkPictureFits before any work; a write
    // that fails for any reason says why and leaves the file already under its name alone.
    void refusedWritesSayWhyAndKeepTheOldFile_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("name"); // its first part is a file that is already there
        QTest::addColumn<bool>("fits");
        QTest::addColumn<QString>("reason"); // empty when the write may go ahead

        QTest::newRow("JPEG at the limit") << QSize(65500, 65500) << "a.JPEG" << true << "";
        QTest::newRow("PNG at the limit") << QSize(1000000, 1000000) << "a.png" << true << "";
        QTest::newRow("BMP with no side limit") << QSize(70000, 2) << "a.bmp" << true << "";
        QTest::newRow("JPEG too wide")
            << QSize(65501, 2) << "keep.jpg" << false << "too wide for JPEG";
        QTest::newRow("PNG too tall") << QSize(3, 1000001) << "keep.PNG" << false
                                      << "too tall for PNG (at most 1000000 pixels high)";
        QTest::newRow("unknown suffix")
            << QSize(2, 2) << "keep.xyz" << false << "unknown picture format \"xyz\"";
        QTest::newRow("empty picture") << QSize(0, 5) << "keep.png" << false << "nothing to write";
        QTest::newRow("parent is a file")
            << QSize(2, 2) << "parent.txt/keep.png" << true << "parent.txt is not a folder";
        QTest::newRow("missing folder")
            << QSize(2, 2) << "keep.txt/../gone/keep.png" << true << "folder not found";
    }

    void refusedWritesSayWhyAndKeepTheOldFile()
    {
        QFETCH(QSize, size);
        QFETCH(QString, name);
        QFETCH(bool, fits);
        QFETCH(QString, reason);
        QString why;
        QCOMPARE(checkPictureFits(size, name, &why), fits);
        QVERIFY2(fits ? why.isEmpty() : why.startsWith(reason), qPrintable(why));
        if (reason.isEmpty())
            return;
        QTemporaryDir place;
        const QString existing = name.section(QLatin1Char('/'), 0, 0);
        const QByteArray old("the picture that was here before\n");
        QVERIFY(!writeFile(place.filePath(existing), old).isEmpty());
        QImage image(size, QImage::Format_ARGB32);
        image.fill(qRgba(1, 2, 3, 4));
        QVERIFY(!writePicture(image, place.filePath(name), 100, &why));
        QVERIFY2(
            why.startsWith(place.filePath(name) + ": ") && why.contains(reason), qPrintable(why));
        QFile kept(place.filePath(existing));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == old);
        QCOMPARE(
            QDir(place.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList(existing));
    }

    // Every cut of a good file either reads as the whole picture or is refused with a reason,
    // never shown with made-up rows.
    void truncatedFilesNeverReadAsGarbage_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("bytes");

        QImage noisy(24, 17, QImage::Format_RGB32);
        QRandomGenerator noise(99);
        for (int y = 0; y < noisy.height(); ++y)
            for (int x = 0; x < noisy.width(); ++x)
                noisy.setPixel(x, y, qRgb(x * 10, y * 15, int(noise.bounded(256))));
        for (const char *format : { "bmp", "png", "jpeg", "ppm" }) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(
                writePictureData(noisy, buffer, format, format == QByteArray("jpeg") ? 90 : 100));
            QTest::newRow(format) << QString::fromLatin1(format) << bytes;
        }
        QTest::newRow("heic") << "heic" << encodedHeif(noisy, heif_compression_HEVC);
        QTest::newRow("avif") << "avif" << encodedHeif(noisy, heif_compression_AV1);
        QFile gif(QStringLiteral(VELMORA_SOURCE_DIR "/tests/data/indexed.gif"));
        QTest::newRow("gif") << "gif"
                             << (gif.open(QIODevice::ReadOnly) ? gif.readAll() : QByteArray());
    }

    void truncatedFilesNeverReadAsGarbage()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, bytes);
        QVERIFY(bytes.size() > 100);
        const QString whole = folder.filePath("whole." + suffix);
        const QImage complete = readPicture(writeFile(whole, bytes));
        QVERIFY(!complete.isNull());
        const QString cut = folder.filePath("cut." + suffix);
        const QStringList reasons = { "damaged or incomplete", "not a picture", "empty file" };
        for (int length = 0; length < bytes.size(); ++length) {
            QString why;
            const QImage picture = readPicture(writeFile(cut, bytes.left(length)), &why);
            const bool clear = why.startsWith(cut + ": ")
                && std::any_of(reasons.begin(), reasons.end(),
                    [&](const QString &reason) { return why.contains(reason); });
            QVERIFY2(picture.isNull() ? clear : picture == complete,
                qPrintable(QStringLiteral("%1 of %2 bytes: %3")
                               .arg(length)
                               .arg(bytes.size())
                               .arg(picture.isNull() ? why : QStringLiteral("garbage"))));
        }
    }

    // A full disk used to be reported as "Unknown error".
    void fullDiskIsNamed()
    {
        const QImage image = blocks(qRgba(20, 200, 100, 3)).scaled(640, 480);
        for (const char *format : { "png", "jpeg" }) {
            QFile full(QStringLiteral("/dev/full"));
            QVERIFY(full.open(QIODevice::WriteOnly));
            QString reason;
            QVERIFY(!writePictureData(image, full, format, 100, &reason));
            QVERIFY2(reason == QLatin1String("disk full"), qPrintable(format + (": " + reason)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPictureFile)
#include "tst_picturefile.moc"
