#include "heifreader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <limits>

namespace
{

// Room for padding to whole coding blocks: HEVC's largest is 64 pixels, AV1's 128, and
// encoders code tiny pictures at least 64 pixels a side.
constexpr int kCodingPadding = 256;

struct ContextDeleter {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};

HeifReader::Problem problemOf(const heif_error &error)
{
    switch (error.code) {
    case heif_error_Ok:
        return HeifReader::Problem::None;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        return HeifReader::Problem::Unsupported;
    case heif_error_Memory_allocation_error: // also libheif's security limits
        return HeifReader::Problem::TooLarge;
    default: // invalid input, end of data, the decoder's own complaints
        return HeifReader::Problem::Damaged;
    }
}

} // namespace

struct HeifReader::Private {
    QByteArray file;
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle;
    QSize size;
    QSize stored; // the coded size before rotation and cropping
    Problem problem = Problem::None;
    QString error;

    bool fail(const heif_error &failure)
    {
        problem = problemOf(failure);
        if (problem == Problem::None)
            problem = Problem::Damaged;
        error = QString::fromUtf8(failure.message).trimmed();
        return false;
    }
    bool fail(Problem kind, const QString &text)
    {
        problem = kind;
        error = text;
        return false;
    }
};

HeifReader::Kind HeifReader::kindOf(const QByteArray &head)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(head.constData());
    const int length = int(std::min<qsizetype>(head.size(), std::numeric_limits<int>::max()));
    // libheif wants 12 bytes. A shorter head may still be the start of a box named "ftyp",
    // which every HEIF file opens with after the box's length.
    if (length < 12)
        return QByteArray("ftyp").startsWith(head.mid(4, 4)) ? Kind::Unsure : Kind::No;
    switch (heif_check_filetype(bytes, length)) {
    case heif_filetype_yes_supported:
        return Kind::Readable;
    case heif_filetype_yes_unsupported:
        return Kind::Unreadable;
    case heif_filetype_maybe: // the generic brands (mif1), which many phones write
        return Kind::Readable;
    case heif_filetype_no:
        break;
    }
    return Kind::No;
}

QStringList HeifReader::suffixes()
{
    QStringList names;
    if (heif_have_decoder_for_format(heif_compression_HEVC))
        names << QStringLiteral("heic") << QStringLiteral("heif");
    if (heif_have_decoder_for_format(heif_compression_AV1))
        names << QStringLiteral("avif");
    return names;
}

HeifReader::HeifReader(QByteArray file)
    : d(std::make_unique<Private>())
{
    d->file = std::move(file);
}

HeifReader::~HeifReader() = default;

bool HeifReader::readHeader()
{
    d->handle.reset();
    d->context.reset(heif_context_alloc());
    if (!d->context)
        return d->fail(Problem::TooLarge, QStringLiteral("not enough memory"));
    // Parsing allocates no pixels, so libheif's own side limit (32768) is lifted here: the
    // caller's size check judges every header, and names the size it refuses.
    heif_context_set_maximum_image_size_limit(d->context.get(), std::numeric_limits<int>::max());
    const heif_error parsed = heif_context_read_from_memory_without_copy(
        d->context.get(), d->file.constData(), size_t(d->file.size()), nullptr);
    if (parsed.code != heif_error_Ok)
        return d->fail(parsed);
    heif_image_handle *primary = nullptr;
    const heif_error found = heif_context_get_primary_image_handle(d->context.get(), &primary);
    d->handle.reset(primary);
    if (found.code != heif_error_Ok)
        return d->fail(found);
    d->size = QSize(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    d->stored = QSize(
        heif_image_handle_get_ispe_width(primary), heif_image_handle_get_ispe_height(primary));
    return true;
}

QSize HeifReader::size() const
{
    return d->handle ? d->size : QSize();
}

QImage HeifReader::read()
{
    if (!d->handle && !readHeader())
        return {};
    if (d->size.isEmpty()) {
        d->fail(Problem::Damaged, QStringLiteral("the picture has no pixels"));
        return {};
    }
    // Grids and overlays declare their canvas apart from the size checked, and coded pictures
    // are padded to whole coding blocks (a 61 x 15 picture may be coded 64 x 64); libheif
    // refuses any canvas or coded picture with a side at or above this limit.
    const int limit
        = std::max({ d->size.width(), d->size.height(), d->stored.width(), d->stored.height() })
        + kCodingPadding + 1;
    heif_context_set_maximum_image_size_limit(d->context.get(), limit);

    const bool alpha = heif_image_handle_has_alpha_channel(d->handle.get()) != 0;
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (options && options->version >= 2)
        options->convert_hdr_to_8bit = 1; // 10-bit phone photos come out as 8 bits a channel
    heif_image *decoded = nullptr;
    // Rotation, mirroring and cropping are applied: ignore_transformations stays 0. Decoding
    // stays lenient (strict_decoding 0): a cut file or a broken stream still fails, while the
    // metadata slips some phones make only earn a warning.
    const heif_error failure = heif_decode_image(d->handle.get(), &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    if (failure.code != heif_error_Ok || !image) {
        d->fail(failure);
        return {};
    }

    const QSize size(heif_image_get_width(image.get(), heif_channel_interleaved),
        heif_image_get_height(image.get(), heif_channel_interleaved));
    int stride = 0;
    const uint8_t *pixels
        = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!pixels || size != d->size) {
        d->fail(Problem::Damaged,
            QStringLiteral("decoded %1 x %2 pixels instead of %3 x %4")
                .arg(size.width())
                .arg(size.height())
                .arg(d->size.width())
                .arg(d->size.height()));
        return {};
    }
    if (heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
        d->fail(Problem::Unsupported, QStringLiteral("no 8-bit version of its colours"));
        return {};
    }
    const QImage::Format format = !alpha ? QImage::Format_RGB888
        : heif_image_handle_is_premultiplied_alpha(d->handle.get())
        ? QImage::Format_RGBA8888_Premultiplied
        : QImage::Format_RGBA8888;
    // Wraps libheif's buffer; the conversion copies it before the buffer goes.
    QImage picture = QImage(pixels, size.width(), size.height(), stride, format)
                         .convertToFormat(QImage::Format_ARGB32);
    if (picture.isNull())
        d->fail(Problem::TooLarge, QStringLiteral("not enough memory"));
    return picture;
}

HeifReader::Problem HeifReader::problem() const
{
    return d->problem;
}

QString HeifReader::errorString() const
{
    return d->error;
}
