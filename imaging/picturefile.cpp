#include "picturefile.h"

#include "heifreader.h"
#include "pngencoder.h"

#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMutex>
#include <QSaveFile>
#include <QStringList>

namespace
{

// A 50-megapixel camera photo is 200 MB as ARGB32 and the edge analysis keeps a few more
// buffers of that size, so 1 GiB of decoded pixels (268 megapixels) still fits on an
// ordinary machine while a header claiming 100000 x 100000 (40 GB) is refused unread.
constexpr qint64 kMaxPictureBytes = qint64(1024) * 1024 * 1024;

// Qt refuses to decode anything above its allocation limit (128 MB by default, too small
// for a 50-megapixel photo). The limit is process-wide; we raise it to our own ceiling
// plus room for decoders that hold 8 bytes a pixel (16-bit PNG, TIFF) before converting.
// Our own header check below is what keeps hostile sizes out.
constexpr int kDecoderLimitMb = 2 * 1024 + 64;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString describe(const QString &fileName, const QString &reason)
{
    return QStringLiteral("%1: %2").arg(fileName, reason);
}

qint64 argbBytes(const QSize &size)
{
    return qint64(size.width()) * qint64(size.height()) * 4;
}

QString tooLarge(const QString &fileName, const QSize &size)
{
    return describe(fileName,
        QStringLiteral("too large, %1 × %2 pixels, at most %3 megapixels")
            .arg(size.width())
            .arg(size.height())
            .arg(kMaxPictureBytes / 4 / 1000000));
}

// The suffix's writer format in lower case, "jpeg" for both JPEG suffixes; empty when no
// writer handles it.
QByteArray writerFormat(const QString &fileName)
{
    QByteArray format = QFileInfo(fileName).suffix().toLower().toLatin1();
    if (format == "jpg")
        format = "jpeg";
    if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format))
        return {};
    return format;
}

struct SizeLimit {
    const char *format;
    const char *name;
    int side; // the largest width and the largest height the format's readers accept
};

// libjpeg's dimension ceiling is 65500; libpng refuses above 1000000 either way by default,
// so a larger PNG would be valid but unreadable almost everywhere; WebP stores 14-bit sides.
constexpr SizeLimit kSizeLimits[] = {
    { "jpeg", "JPEG", 65500 },
    { "png", "PNG", 1000000 },
    { "webp", "WebP", 16383 },
};

// Why a device refused a write, in words: the file system's cause when the device is a file,
// else what the device or the writer said.
QString deviceProblem(const QIODevice &device, const QString &writerProblem)
{
    if (const auto *file = qobject_cast<const QFileDevice *>(&device)) {
        switch (file->error()) {
        case QFileDevice::ResourceError: // what Qt makes of ENOSPC and EDQUOT
            return QStringLiteral("disk full");
        case QFileDevice::PermissionsError:
            return QStringLiteral("permission denied");
        case QFileDevice::NoError:
            break;
        default:
            return file->errorString();
        }
    }
    if (!device.errorString().isEmpty() && device.errorString() != QLatin1String("Unknown error"))
        return device.errorString();
    return writerProblem.isEmpty() ? QStringLiteral("the writer gave up") : writerProblem;
}

// Why a save file could not be opened. Qt reports every failure to make the temporary file as
// an open error, so the common causes are told apart from the place itself.
QString openProblem(const QSaveFile &file)
{
    const QFileInfo target(file.fileName());
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists())
        return QStringLiteral("folder not found");
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder.fileName());
    if (!folder.isWritable() || (target.exists() && !target.isWritable()))
        return QStringLiteral("permission denied");
    if (target.isDir())
        return QStringLiteral("is a folder");
    return deviceProblem(file, {});
}

QString damaged(const QString &fileName, const QString &detail = {})
{
    return describe(fileName,
        detail.isEmpty() ? QStringLiteral("damaged or incomplete")
                         : QStringLiteral("damaged or incomplete (%1)").arg(detail));
}

// Why a name that does not lead to a file fails: a link that goes round in a circle or
// nowhere, or a name the file system could not be given, rather than a bare "not found".
QString missingReason(const QString &fileName)
{
    QFileInfo link(fileName);
    QStringList seen;
    while (link.isSymLink()) {
        const QString at = link.absoluteFilePath();
        if (seen.contains(at) || seen.size() > 40)
            return QStringLiteral("symbolic link loop");
        seen.append(at);
        link = QFileInfo(link.symLinkTarget());
    }
    if (!seen.isEmpty())
        return QStringLiteral("broken symbolic link (to %1)").arg(link.filePath());
    if (fileName.contains(QChar::ReplacementCharacter))
        return QStringLiteral("the name is not valid in this system's encoding");
    if (!QFileInfo(QFileInfo(fileName).absolutePath()).isDir())
        return QStringLiteral("folder not found");
    return QStringLiteral("file not found");
}

quint32 littleEndian(const QByteArray &bytes, int at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | quint8(bytes.at(at + i));
    return value;
}

// For formats that store their pixels raw, the file must hold every row its header
// announces; Qt's readers fill a short file's missing rows with garbage instead. Returns
// false when the head proves the file too short.
bool holdsItsRawPixels(const QByteArray &head, qint64 fileSize)
{
    // Uncompressed (BI_RGB) or bitfield BMP with a Windows info header.
    if (head.startsWith("BM") && head.size() >= 34 && littleEndian(head, 14, 4) >= 40) {
        const quint32 compression = littleEndian(head, 30, 4);
        if (compression != 0 && compression != 3)
            return true;
        const qint64 offset = littleEndian(head, 10, 4);
        const qint64 width = qint32(littleEndian(head, 18, 4));
        const qint64 height = qAbs(qint64(qint32(littleEndian(head, 22, 4))));
        const qint64 bits = littleEndian(head, 28, 2);
        const qint64 stride = (width * bits + 31) / 32 * 4;
        return width <= 0 || offset + stride * height <= fileSize;
    }
    // Binary PGM and PPM: "P5" or "P6", width, height and the largest value, each after white
    // space, then one white space character and the samples.
    if (head.size() > 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6')) {
        qint64 fields[3] = {};
        int at = 2;
        for (qint64 &field : fields) {
            while (at < head.size() && (QChar(head[at]).isSpace() || head[at] == '#')) {
                if (head[at] == '#') // a comment runs to the end of its line
                    at = head.indexOf('\n', at) < 0 ? int(head.size()) : head.indexOf('\n', at);
                else
                    ++at;
            }
            if (at >= head.size() || !QChar(head[at]).isDigit())
                return true; // not a head this check understands; the reader will judge
            for (; at < head.size() && QChar(head[at]).isDigit() && field < (qint64(1) << 32); ++at)
                field = field * 10 + (head[at] - '0');
        }
        const qint64 samples = fields[0] * fields[1] * (head[1] == '6' ? 3 : 1);
        return at + 1 + samples * (fields[2] > 255 ? 2 : 1) <= fileSize;
    }
    return true;
}

// Compressed formats can hold a flat picture in very few bytes, yet not this few: no PNG,
// GIF or JPEG reaches 65536 decoded bytes per stored byte (deflate stops near 1032, a 1-bit
// palette adds 32; a flat baseline JPEG needs a few bits per 8 x 8 block; libheif's HEVC
// encoder stores a flat 12-megapixel picture in 8 KB, about 6000 to 1).
constexpr qint64 kMaxExpansion = 65536;

// Collects what the image readers warn about while one picture is decoded on this thread;
// such a warning means the decoder met a damaged or cut-short file and made up the rest.
// Messages of other threads pass on to the handler that was there before; the handler stays
// installed while any thread decodes.
class DecoderWarnings
{
public:
    DecoderWarnings()
    {
        const QMutexLocker lock(&mutex);
        if (users++ == 0)
            previous = qInstallMessageHandler(&DecoderWarnings::handle);
        current = this;
    }
    ~DecoderWarnings()
    {
        const QMutexLocker lock(&mutex);
        current = nullptr;
        if (--users == 0)
            qInstallMessageHandler(previous);
    }
    DecoderWarnings(const DecoderWarnings &) = delete;
    DecoderWarnings &operator=(const DecoderWarnings &) = delete;

    QString first() const { return messages.isEmpty() ? QString() : messages.first(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (current && type == QtWarningMsg) {
            // libjpeg calls stray bytes between segments corrupt data, but the picture decodes
            // whole; many cameras write them.
            if (!text.contains(QLatin1String("extraneous bytes before marker")))
                current->messages.append(text.trimmed());
            return;
        }
        if (previous) // Qt hands back its default handler when none was installed
            previous(type, context, text);
    }

    static thread_local DecoderWarnings *current;
    static inline QMutex mutex;
    static inline int users = 0;
    static inline QtMessageHandler previous = nullptr;
    QStringList messages;
};

thread_local DecoderWarnings *DecoderWarnings::current = nullptr;

// Why a picture of this size, announced by a file of fileSize bytes, is refused before its
// pixels are decoded; empty when it may be read.
QString sizeProblem(const QString &fileName, const QSize &size, qint64 fileSize)
{
    if (size.isEmpty())
        return describe(fileName, QStringLiteral("damaged (the picture has no pixels)"));
    if (argbBytes(size) > kMaxPictureBytes)
        return tooLarge(fileName, size);
    if (argbBytes(size) > fileSize * kMaxExpansion)
        return damaged(fileName,
            QStringLiteral("%1 x %2 pixels claimed by %3 bytes")
                .arg(size.width())
                .arg(size.height())
                .arg(fileSize));
    return {};
}

bool isHeifSuffix(const QString &suffix)
{
    return HeifReader::suffixes().contains(suffix.toLower());
}

// The HEIF branch of readPicture, for a file already open: the same size checks as for the
// other formats run on the header before libheif decodes a pixel.
QImage readHeifPicture(QFile &file, qint64 fileSize, HeifReader::Kind kind, QString *error)
{
    const QString fileName = file.fileName();
    if (kind == HeifReader::Kind::Unreadable) {
        setError(error,
            describe(fileName,
                QStringLiteral("a HEIF picture coded in a way this program cannot decode")));
        return {};
    }
    // No picture we would decode is stored in more bytes than its pixels take.
    if (fileSize > kMaxPictureBytes) {
        setError(error,
            describe(fileName,
                QStringLiteral("too large, a %1 MB HEIF file").arg(fileSize / 1024 / 1024)));
        return {};
    }
    QByteArray bytes = file.readAll();
    if (bytes.size() != fileSize) {
        setError(error,
            describe(fileName, QStringLiteral("cannot be read (%1)").arg(file.errorString())));
        return {};
    }

    HeifReader reader(std::move(bytes));
    QImage picture;
    if (reader.readHeader()) {
        const QString problem = sizeProblem(fileName, reader.size(), fileSize);
        if (!problem.isEmpty()) {
            setError(error, problem);
            return {};
        }
        picture = reader.read();
    }
    if (!picture.isNull())
        return picture;
    switch (reader.problem()) {
    case HeifReader::Problem::Unsupported:
        setError(error,
            describe(fileName,
                QStringLiteral("unsupported HEIF picture (%1)").arg(reader.errorString())));
        break;
    case HeifReader::Problem::TooLarge:
        setError(
            error, describe(fileName, QStringLiteral("too large (%1)").arg(reader.errorString())));
        break;
    case HeifReader::Problem::None:
    case HeifReader::Problem::Damaged:
        setError(error, damaged(fileName, reader.errorString()));
        break;
    }
    return {};
}

} // namespace

bool checkPictureFits(const QSize &size, const QString &fileName, QString *reason)
{
    const QByteArray format = writerFormat(fileName);
    if (format.isEmpty()) {
        setError(reason,
            QStringLiteral("unknown picture format \"%1\"").arg(QFileInfo(fileName).suffix()));
        return false;
    }
    if (size.isEmpty()) {
        setError(reason, QStringLiteral("nothing to write (empty picture)"));
        return false;
    }
    for (const SizeLimit &limit : kSizeLimits) {
        if (format != limit.format)
            continue;
        if (size.width() > limit.side) {
            setError(reason,
                QStringLiteral("too wide for %1 (at most %2 pixels wide)")
                    .arg(QLatin1String(limit.name))
                    .arg(limit.side));
            return false;
        }
        if (size.height() > limit.side) {
            setError(reason,
                QStringLiteral("too tall for %1 (at most %2 pixels high)")
                    .arg(QLatin1String(limit.name))
                    .arg(limit.side));
            return false;
        }
    }
    return true;
}

QImage readPicture(const QString &fileName, QString *error)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        setError(error, describe(fileName, missingReason(fileName)));
        return {};
    }
    if (info.isDir()) {
        setError(error, describe(fileName, QStringLiteral("is a folder, not a picture")));
        return {};
    }
    // A pipe or a device would block or never end; pictures are regular files.
    if (!info.isFile()) {
        setError(error, describe(fileName, QStringLiteral("not a regular file")));
        return {};
    }
    if (info.size() == 0) {
        setError(error, describe(fileName, QStringLiteral("empty file")));
        return {};
    }

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error,
            describe(fileName, QStringLiteral("cannot be read (%1)").arg(file.errorString())));
        return {};
    }

    // HEIF is told by its content first: Qt has no reader for it, and a phone photo renamed
    // .jpg is still one. Too short to tell, the name decides.
    const QByteArray head = file.peek(512);
    const HeifReader::Kind heif = HeifReader::kindOf(head);
    if (heif == HeifReader::Kind::Readable || heif == HeifReader::Kind::Unreadable
        || (heif == HeifReader::Kind::Unsure && isHeifSuffix(info.suffix())))
        return readHeifPicture(file, info.size(), heif, error);

    QImageReader::setAllocationLimit(kDecoderLimitMb);
    // Given the file itself, the reader tries the suffix's format first and falls back to
    // recognising the content, so a JPEG named .png still opens.
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        setError(
            error, describe(fileName, QStringLiteral("not a picture or an unsupported format")));
        return {};
    }

    const QSize size = reader.size();
    if (size.isValid()) {
        const QString problem = sizeProblem(fileName, size, info.size());
        if (!problem.isEmpty()) {
            setError(error, problem);
            return {};
        }
    }

    if (!holdsItsRawPixels(head, info.size())) {
        setError(error, damaged(fileName, QStringLiteral("shorter than its header says")));
        return {};
    }

    QImage loaded;
    QString warning;
    bool read;
    {
        const DecoderWarnings warnings;
        read = reader.read(&loaded) && !loaded.isNull();
        warning = warnings.first();
    }
    if (!read) {
        setError(error, damaged(fileName, reader.errorString()));
        return {};
    }
    if (!warning.isEmpty()) {
        setError(error, damaged(fileName, warning));
        return {};
    }
    // GIF readers stop at a cut without a word; a whole file ends with the trailer byte.
    if (head.startsWith("GIF8") && (!file.seek(info.size() - 1) || file.read(1) != ";")) {
        setError(error, damaged(fileName, QStringLiteral("no end marker")));
        return {};
    }
    if (argbBytes(loaded.size()) > kMaxPictureBytes) {
        setError(error, tooLarge(fileName, loaded.size()));
        return {};
    }

    QImage picture = std::move(loaded).convertToFormat(QImage::Format_ARGB32);
    if (picture.isNull())
        setError(
            error, describe(fileName, QStringLiteral("not enough memory to convert the picture")));
    return picture;
}

QStringList readablePictureSuffixes()
{
    QStringList suffixes = HeifReader::suffixes();
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        suffixes.append(QString::fromLatin1(format).toLower());
    suffixes.sort();
    suffixes.removeDuplicates();
    return suffixes;
}

bool writePictureData(
    const QImage &image, QIODevice &device, const QByteArray &format, int quality, QString *reason)
{
    bool written;
    QString problem;
    if (format == "png" && quality == 100) {
        written = writePng(image, device, {}, &problem);
    } else {
        QImageWriter writer(&device, format);
        writer.setQuality(quality);
        written = writer.write(image);
        problem = writer.errorString();
    }
    // A buffered file shows a full disk only when it is flushed.
    auto *file = qobject_cast<QFileDevice *>(&device);
    if (written && file && !file->flush())
        written = false;
    if (!written)
        setError(reason, deviceProblem(device, problem));
    return written;
}

bool writePicture(const QImage &image, const QString &fileName, int quality, QString *error)
{
    if (image.isNull()) {
        setError(error, describe(fileName, QStringLiteral("nothing to write (empty picture)")));
        return false;
    }
    // The format follows the suffix, exactly as QImage::save picks it.
    QString reason;
    if (!checkPictureFits(image.size(), fileName, &reason)) {
        setError(error, describe(fileName, reason));
        return false;
    }
    const QByteArray format = writerFormat(fileName);

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error,
            describe(fileName, QStringLiteral("cannot be written (%1)").arg(openProblem(file))));
        return false;
    }
    if (!writePictureData(image, file, format, quality, &reason)) {
        file.cancelWriting();
        setError(error, describe(fileName, QStringLiteral("cannot be written (%1)").arg(reason)));
        return false;
    }
    if (!file.commit()) {
        setError(error,
            describe(
                fileName, QStringLiteral("cannot be written (%1)").arg(deviceProblem(file, {}))));
        return false;
    }
    return true;
}
