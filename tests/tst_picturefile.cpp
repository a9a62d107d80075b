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

// The first pixel away from found's colour seams that differs from wanted's by more than
// tolerance in a channel, described; empty when there is none. Lossy codings blur the seams.
static QString differsInside(const QImage &found, const QImage &wanted, int tolerance)
{
    if (found.size() != wanted.size())
        return QStringLiteral("size %1 x %2").arg(found.width()).arg(found.height());
    const auto inside = [&](int x, int y) {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                if (wanted.pixel(qBound(0, x + dx, wanted.width() - 1),
                        qBound(0, y + dy, wanted.height() - 1))
                    != wanted.pixel(x, y))
                    return false;
        return true;
    };
    int compared = 0;
    for (int y = 0; y < wanted.height(); ++y) {
        for (int x = 0; x < wanted.width(); ++x) {
            if (!inside(x, y))
                continue;
            ++compared;
            const QRgb a = found.pixel(x, y), b = wanted.pixel(x, y);
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

// heif with every picture size it declares (its ispe boxes: the picture's and, when libheif
// wrapped it in a grid, the tile's) replaced by width x height.
static QByteArray claimingSize(QByteArray heif, quint32 width, quint32 height)
{
    int found = 0;
    for (int box = heif.indexOf("ispe"); box >= 0; box = heif.indexOf("ispe", box + 1), ++found) {
        for (int i = 0; i < 4; ++i) {
            heif[box + 8 + i] = char(width >> (24 - 8 * i) & 255);
            heif[box + 12 + i] = char(height >> (24 - 8 * i) & 255);
        }
    }
    return found > 0 ? heif : QByteArray();
}

// heif, stored by libheif as a one-tile grid, with the grid's canvas (in the idat box) set to
// width x height while its declared size stays. Empty when heif holds no 16-bit grid.
static QByteArray claimingCanvas(QByteArray heif, quint16 width, quint16 height)
{
    const int box = heif.indexOf("idat");
    if (box < 0 || (heif.at(box + 5) & 1) != 0)
        return {};
    heif[box + 8] = char(width >> 8);
    heif[box + 9] = char(width & 255);
    heif[box + 10] = char(height >> 8);
    heif[box + 11] = char(height & 255);
    return heif;
}

class TestPictureFile : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void readsPictureOrSaysWhy_data()
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
            + QByteArray::fromHex(
                "ffe100224578696600004d4d002a00000008000101120003000000010006000000000000")
            + jpeg.mid(2);

        QTest::newRow("8-bit grey PNG")
            << written(grey, "grey.png") << grey.convertToFormat(QImage::Format_ARGB32) << "";
        QTest::newRow("16-bit PNG")
            << written(faint.convertToFormat(QImage::Format_RGBA64), "deep.png") << faint << "";
        QTest::newRow("PNG with alpha") << written(faint, "alpha.png") << faint << "";
        QTest::newRow("indexed GIF") << data + "indexed.gif" << opaque << "";
        QTest::newRow("CMYK JPEG") << data + "cmyk.jpg" << opaque << "";
        for (const char *name : { "plain.bmp", "plain.tif", "plain.webp" })
            QTest::newRow(name) << written(rgb, name) << opaque << "";
        // Turned upright, the picture's left end goes on top.
        QTest::newRow("EXIF orientation 6")
            << writeFile("turned.jpg", turned) << opaque.transformed(QTransform().rotate(90)) << "";

        QTest::newRow("empty file") << writeFile("empty.png", "") << QImage() << "empty.png: empty";
        QTest::newRow("JPEG cut before its scan")
            << writeFile("cut.jpg", jpeg.left(jpeg.indexOf("\xFF\xDA"))) << QImage()
            << "cut.jpg: damaged";
        QTest::newRow("text named .png") << writeFile("words.png", "a shopping list\n") << QImage()
                                         << "words.png: not a picture";
        // A PNG header, checksum and all, claiming 100000 x 100000; no pixel data.
        QTest::newRow("PNG claiming 100000 x 100000")
            << writeFile("huge.png",
                   QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000186a0000186a00806000000"
                                       "a8520bc8000000004944415435af061e0000000049454e44ae426082"))
            << QImage() << "huge.png: too large, 100000 × 100000 pixels";
        QTest::newRow("vanished file") << "gone.jpg" << QImage() << "gone.jpg: file not found";
        QTest::newRow("PPM too large")
            << writeFile("huge.ppm", "P6 16385 16384 255\n") << QImage()
            << "huge.ppm: too large, 16385 × 16384 pixels, at most 268 megapixels";
        // Headers alone, claiming pictures that would fit in memory: refused unread.
        QByteArray bmp
            = QByteArray::fromHex("424d00000000000000003600000028000000a00f0000a00f000001001800"
                                  "000000000000000000000000000000000000000000000000");
        QTest::newRow("70-byte BMP claiming 4000 x 4000") << writeFile("short.bmp",
            bmp.leftJustified(70, '\0')) << QImage() << "short.bmp: damaged or incomplete";
        QTest::newRow("PPM shorter than its header")
            << writeFile("short.ppm", "P6\n# a comment\n20 10\n255\n" + QByteArray(599, 'x'))
            << QImage() << "short.ppm: damaged or incomplete";
        QByteArray claiming = jpeg;
        const int frame = claiming.indexOf("\xFF\xC0");
        claiming.replace(frame + 5, 4, QByteArray::fromHex("3e803e80")); // 16000 x 16000
        QTest::newRow("1 KB JPEG claiming 16000 x 16000")
            << writeFile("claims.jpg", claiming) << QImage() << "claims.jpg: damaged or incomplete";
        const QByteArray heic = encodedHeif(opaque, heif_compression_HEVC);
        QTest::newRow("HEIC claiming 100000 x 100000")
            << writeFile("huge.heic", claimingSize(heic, 100000, 100000)) << QImage()
            << "huge.heic: too large, 100000 × 100000 pixels";
        QTest::newRow("HEIC claiming 16000 x 16000")
            << writeFile("claims.heic", claimingSize(heic, 16000, 16000)) << QImage()
            << "claims.heic: damaged or incomplete";
        // 60000 x 60000 would take 10 GB before the picture's own size is ever compared.
        QTest::newRow("HEIC grid with a canvas larger than its size") << writeFile("canvas.heic",
            claimingCanvas(heic, 60000, 60000)) << QImage() << "canvas.heic: too large";
        QTest::newRow("HEIF image sequence")
            << writeFile("burst.heic", QByteArray(heic).replace(8, 4, "msf1")) << QImage()
            << "burst.heic: a HEIF picture coded in a way";
        QTest::newRow("HEIC cut to its first 10 bytes") << writeFile(
            "ten.heic", heic.left(10)) << QImage() << "ten.heic: damaged or incomplete";
        QTest::newRow("text named .heic") << writeFile("words.heic", "a shopping list\n")
                                          << QImage() << "words.heic: not a picture";
        QFile::link("loop-b.png", "loop-a.png");
        QFile::link("loop-a.png", "loop-b.png");
        QTest::newRow("symbolic link loop")
            << "loop-a.png" << QImage() << "loop-a.png: symbolic link loop";
        QFile::link("nowhere.png", "dangling.png");
        // What a name with bytes invalid in the locale's encoding becomes once decoded.
        QTest::newRow("undecodable name") << QString::fromUtf8("bad\xff.png") << QImage()
                                          << "bad\uFFFD.png: the name is not valid";
        QTest::newRow("broken link")
            << "dangling.png" << QImage() << "dangling.png: broken symbolic link";
        QVERIFY(QDir().mkdir("folder.png"));
        QTest::newRow("folder") << "folder.png" << QImage() << "folder.png: is a folder";
    }

    void readsPictureOrSaysWhy()
    {
        QFETCH(QString, name);
        QFETCH(QImage, expected);
        QFETCH(QString, error);
        QString why;
        const QImage picture = readPicture(name, &why);
        QVERIFY2(picture.isNull() == expected.isNull() && why.contains(error), qPrintable(why));
        QVERIFY(picture.isNull() || picture.format() == QImage::Format_ARGB32);
        QCOMPARE(picture.size(), expected.size());
        const int tolerance = name.endsWith(".jpg") || name.endsWith(".webp") ? 8 : 0;
        // Block centres only: lossy formats blur the seams.
        for (int i = 0; i < expected.width() * expected.height() / 256; ++i) {
            const QPoint at(8 + i * 16 % expected.width(), 8 + i * 16 / expected.width() * 16);
            const QRgb found = picture.pixel(at), wanted = expected.pixel(at);
            for (int shift = 0; shift < 32; shift += 8)
                QVERIFY2(qAbs(int(found >> shift & 255) - int(wanted >> shift & 255)) <= tolerance,
                    qPrintable(QString::number(found, 16)));
        }
    }

    void opensFiftyMegapixelPhoto()
    {
        const QString path = folder.filePath(QStringLiteral("fifty.jpg"));
        QImage photo(8660, 5773, QImage::Format_RGB32);
        photo.fill(qRgb(40, 120, 200));
        QVERIFY(photo.save(path, "jpeg", 90));
        QCOMPARE(readPicture(path).size(), QSize(8660, 5773));
    }

    // Phone photos are stored sideways with a rotation to apply (irot, imir); they must come
    // out upright, turned once only even when an Exif block repeats the orientation.
    void readsHeifUpright_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QImage>("expected");

        // Without an alpha channel, so that the files have none either.
        const QImage opaque = blocks().convertToFormat(QImage::Format_RGB32);
        const QImage odd = opaque.scaled(61, 15);
        const QImage translucent = blocks(qRgba(0, 255, 255, 128));
        const QTransform quarter = QTransform().rotate(90);
        // Exif orientation 6, the TIFF structure alone.
        const QByteArray exif6
            = QByteArray::fromHex("4d4d002a00000008000101120003000000010006000000000000");
        const heif_compression_format hevc = heif_compression_HEVC;

        QTest::newRow("HEIC") << "plain.heic" << encodedHeif(opaque, hevc) << opaque;
        QTest::newRow("HEIC turned a quarter clockwise")
            << "quarter.heic" << encodedHeif(opaque, hevc, heif_orientation_rotate_90_cw)
            << opaque.transformed(quarter);
        QTest::newRow("HEIC turned three quarters")
            << "three.heif" << encodedHeif(opaque, hevc, heif_orientation_rotate_270_cw)
            << opaque.transformed(QTransform().rotate(270));
        QTest::newRow("HEIC mirrored")
            << "mirror.heic" << encodedHeif(opaque, hevc, heif_orientation_flip_horizontally)
            << opaque.mirrored(true, false);
        QTest::newRow("HEIC turned and mirrored")
            << "transposed.heic"
            << encodedHeif(opaque, hevc, heif_orientation_rotate_90_cw_then_flip_horizontally)
            << opaque.transformed(QTransform(0, 1, 1, 0, 0, 0));
        // Odd sides are coded padded to even ones and cropped back before the turn.
        QTest::newRow("HEIC of odd size, turned")
            << "odd.heic" << encodedHeif(odd, hevc, heif_orientation_rotate_90_cw)
            << odd.transformed(quarter);
        QTest::newRow("HEIC with alpha")
            << "alpha.heic" << encodedHeif(translucent, hevc) << translucent;
        QTest::newRow("HEIC named .jpg") << "phone.jpg" << encodedHeif(opaque, hevc) << opaque;
        // Many phones name the generic brand first and HEVC only among the compatible ones.
        QTest::newRow("HEIF of the generic brand mif1, renamed")
            << "generic.jpeg" << encodedHeif(opaque, hevc).replace(8, 4, "mif1") << opaque;
        QTest::newRow("HEIC turned, with Exif orientation too")
            << "exif.heic" << encodedHeif(opaque, hevc, heif_orientation_rotate_90_cw, exif6)
            << opaque.transformed(quarter);
        QTest::newRow("AVIF turned a quarter clockwise")
            << "quarter.avif"
            << encodedHeif(opaque, heif_compression_AV1, heif_orientation_rotate_90_cw)
            << opaque.transformed(quarter);
    }

    void readsHeifUpright()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QImage, expected);
        QVERIFY2(!bytes.isEmpty(), "libheif has no encoder for this coding");
        QString why;
        const QImage picture = readPicture(writeFile(folder.filePath(name), bytes), &why);
        QVERIFY2(!picture.isNull(), qPrintable(why));
        QCOMPARE(picture.format(), QImage::Format_ARGB32);
        const QString difference
            = differsInside(picture, expected.convertToFormat(QImage::Format_ARGB32), 8);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // The Open dialog's list: every suffix readPicture knows, and each one that can be written
    // here opens again under that name.
    void offersEveryReadableSuffix()
    {
        const QStringList suffixes = readablePictureSuffixes();
        QStringList tidy = suffixes;
        tidy.sort();
        tidy.removeDuplicates();
        QCOMPARE(suffixes, tidy);
        for (const QString &suffix : suffixes)
            QCOMPARE(suffix, suffix.toLower());
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            QVERIFY2(suffixes.contains(QString::fromLatin1(format.toLower())), format.constData());
        for (const char *wanted :
            { "png", "jpg", "bmp", "jpeg", "tiff", "tif", "gif", "webp", "heic", "heif" })
            QVERIFY2(suffixes.contains(QLatin1String(wanted)), wanted);

        // Square, for the icon formats.
        const QImage picture = blocks().scaled(64, 64);
        for (const QString &suffix : suffixes) {
            QByteArray bytes;
            if (suffix == QLatin1String("heic") || suffix == QLatin1String("heif")) {
                bytes = encodedHeif(picture, heif_compression_HEVC);
            } else if (suffix == QLatin1String("avif")) {
                bytes = encodedHeif(picture, heif_compression_AV1);
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

    void checksWhatTheWriterCanHold_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // empty when the picture fits

        QTest::newRow("JPEG at the limit") << QSize(65500, 65500) << "a.JPEG"
                                           << "";
        QTest::newRow("JPEG too wide") << QSize(65501, 2) << "a.jpg"
                                       << "too wide for JPEG";
        QTest::newRow("JPEG too tall") << QSize(2, 65501) << "a.jpeg"
                                       << "too tall for JPEG";
        QTest::newRow("PNG at the limit") << QSize(1000000, 1000000) << "a.png"
                                          << "";
        QTest::newRow("PNG too tall") << QSize(3, 1000001) << "a.png"
                                      << "too tall for PNG (at most 1000000 pixels high)";
        QTest::newRow("PNG too wide") << QSize(1000001, 3) << "a.Png"
                                      << "too wide for PNG";
        QTest::newRow("BMP with no side limit") << QSize(70000, 2) << "a.bmp"
                                                << "";
        QTest::newRow("unknown suffix") << QSize(5, 5) << "a.xyz"
                                        << "unknown picture format \"xyz\"";
        QTest::newRow("no suffix") << QSize(5, 5) << "folder.d/a"
                                   << "unknown picture format \"\"";
        QTest::newRow("empty picture") << QSize(0, 5) << "a.png"
                                       << "nothing to write";
    }

    void checksWhatTheWriterCanHold()
    {
        QFETCH(QSize, size);
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QString why;
        QCOMPARE(checkPictureFits(size, name, &why), reason.isEmpty());
        QVERIFY2(reason.isEmpty() ? why.isEmpty() : why.startsWith(reason), qPrintable(why));
    }

    // Every cut of a good file either reads as the whole picture or is refused with a reason,
    // never shown with made-up rows.
    void truncatedFilesNeverReadAsGarbage_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("bytes");

        QImage noisy(24, 17, QImage::Format_RGB32);
        quint32 seed = 99;
        for (int y = 0; y < noisy.height(); ++y) {
            for (int x = 0; x < noisy.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                noisy.setPixel(x, y, qRgb(x * 10, y * 15, int(seed >> 24)));
            }
        }
        const auto encoded = [&](const char *format) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            return writePictureData(noisy, buffer, format, format == QByteArray("jpeg") ? 90 : 100)
                ? bytes
                : QByteArray();
        };
        for (const char *format : { "bmp", "png", "jpeg", "ppm" })
            QTest::newRow(format) << QString::fromLatin1(format) << encoded(format);
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

    void failedWriteSaysWhyAndKeepsExistingFile_data()
    {
        QTest::addColumn<QString>("name"); // its first part is a file that is already there
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("reason");

        QTest::newRow("unknown suffix") << "keep.xyz" << QSize(2, 2) << "unknown picture format";
        QTest::newRow("parent is a file")
            << "parent.txt/keep.png" << QSize(2, 2) << "parent.txt is not a folder";
        QTest::newRow("too wide for JPEG") << "keep.jpg" << QSize(70000, 2) << "too wide for JPEG";
        QTest::newRow("too tall for PNG") << "keep.png" << QSize(1, 1000001) << "too tall for PNG";
        QTest::newRow("missing folder")
            << "keep.txt/../gone/keep.png" << QSize(2, 2) << "folder not found";
    }

    void failedWriteSaysWhyAndKeepsExistingFile()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(QString, reason);
        QTemporaryDir place;
        const QString existing = name.section(QLatin1Char('/'), 0, 0);
        const QByteArray old("the picture that was here before\n");
        QVERIFY(!writeFile(place.filePath(existing), old).isEmpty());
        QImage image(size, QImage::Format_ARGB32);
        image.fill(qRgba(1, 2, 3, 4));
        QString error;
        QVERIFY(!writePicture(image, place.filePath(name), 100, &error));
        QVERIFY2(error.startsWith(place.filePath(name) + ": ") && error.contains(reason),
            qPrintable(error));
        QFile kept(place.filePath(existing));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == old);
        QCOMPARE(
            QDir(place.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList(existing));
    }

    // A full disk used to be reported as "Unknown error".
    void fullDiskIsNamed()
    {
        const QImage image = blocks(qRgba(20, 200, 100, 3)).scaled(640, 480);
        for (const char *format : { "png", "jpeg", "bmp" }) {
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
