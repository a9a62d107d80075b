#include "pngencoder.h"

#include <zlib.h>

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace
{

// Readers handle any IDAT length up to 2^31 - 1; a megabyte keeps each one's checksum cheap
// to verify and is what streaming readers expect.
constexpr int kChunkBytes = 1 << 20;
// Filtered rows are handed to zlib in batches of about this many bytes: fewer calls, and the
// batch stays in the second-level cache.
constexpr int kBatchBytes = 256 * 1024;
// Below this much raw data per band, a thread costs more than it saves.
constexpr qint64 kMinBandBytes = 256 * 1024;
constexpr int kBandsPerThread = 4;

enum Filter : uchar { None, Sub, Up, Average, Paeth };

// One band of rows, deflated on its own: its bytes, a CRC for every IDAT chunk they fill,
// and the Adler-32 of its filtered input, joined into the stream's checksum afterwards.
struct Band {
    int first = 0;
    int end = 0;
    std::vector<uchar> deflated;
    std::vector<quint32> chunkCrcs;
    uLong adler = 1;
    qint64 rawBytes = 0;
    bool ok = false;
};

// A filtered byte's distance from zero, read as a signed difference.
inline int magnitude(uchar v)
{
    return std::min<int>(v, 256 - v);
}

// Paeth's predictor without branches: the row data is noise to a branch predictor.
inline uchar paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int takeA = -int(pa <= pb && pa <= pc);
    const int takeB = ~takeA & -int(pb <= pc);
    return uchar((a & takeA) | (b & takeB) | (c & ~(takeA | takeB)));
}

long sumOfMagnitudes(const uchar *__restrict row, int n)
{
    long sum = 0;
    for (int i = 0; i < n; ++i)
        sum += magnitude(row[i]);
    return sum;
}

// Every filter's output for one row, with the sums that pick among them. Each filter is its
// own loop over bytes with no dependence between them, so that the compiler vectorises it;
// this is the hot part with deflate.
class RowFilter
{
public:
    RowFilter(int rowBytes, int bytesPerPixel)
        : n(rowBytes)
        , bpp(bytesPerPixel)
    {
        for (auto &candidate : candidates)
            candidate.resize(size_t(n));
    }

    // Writes the filter type byte and the filtered row to out (n + 1 bytes).
    void filter(const uchar *__restrict cur, const uchar *__restrict prev, uchar *out)
    {
        uchar *__restrict sub = candidates[0].data();
        uchar *__restrict up = candidates[1].data();
        uchar *__restrict average = candidates[2].data();
        uchar *__restrict paeth = candidates[3].data();
        // The first pixel has no left neighbour: zero stands in for it, and Paeth predicts up.
        for (int i = 0; i < bpp; ++i) {
            sub[i] = cur[i];
            average[i] = uchar(cur[i] - (prev[i] >> 1));
            paeth[i] = uchar(cur[i] - prev[i]);
        }
        for (int i = 0; i < n; ++i)
            up[i] = uchar(cur[i] - prev[i]);
        const uchar *__restrict left = cur;
        const uchar *__restrict upLeft = prev;
        for (int i = bpp; i < n; ++i)
            sub[i] = uchar(cur[i] - left[i - bpp]);
        for (int i = bpp; i < n; ++i)
            average[i] = uchar(cur[i] - ((left[i - bpp] + prev[i]) >> 1));
        for (int i = bpp; i < n; ++i)
            paeth[i] = uchar(cur[i] - paethPredictor(left[i - bpp], prev[i], upLeft[i - bpp]));

        const uchar *rows[] = { cur, sub, up, average, paeth };
        int best = 0;
        long bestSum = -1;
        for (int f = 0; f < 5; ++f) {
            const long sum = sumOfMagnitudes(rows[f], n);
            if (bestSum < 0 || sum < bestSum) {
                bestSum = sum;
                best = f;
            }
        }
        out[0] = uchar(best);
        std::copy(rows[best], rows[best] + n, out + 1);
    }

private:
    int n;
    int bpp;
    std::vector<uchar> candidates[4];
};

// The row's pixels in PNG byte order: R, G, B and, for RGBA, A.
void packRow(const QImage &image, int y, int bpp, uchar *out)
{
    const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
    const int width = image.width();
    if (bpp == 4) {
        for (int x = 0; x < width; ++x) {
            out[4 * x] = uchar(qRed(in[x]));
            out[4 * x + 1] = uchar(qGreen(in[x]));
            out[4 * x + 2] = uchar(qBlue(in[x]));
            out[4 * x + 3] = uchar(qAlpha(in[x]));
        }
    } else {
        for (int x = 0; x < width; ++x) {
            out[3 * x] = uchar(qRed(in[x]));
            out[3 * x + 1] = uchar(qGreen(in[x]));
            out[3 * x + 2] = uchar(qBlue(in[x]));
        }
    }
}

// Feeds avail_in to zlib with flush, growing out as needed; false when zlib fails.
bool deflateInto(z_stream &stream, std::vector<uchar> &out, int flush)
{
    for (;;) {
        if (out.size() - stream.total_out < 64 * 1024) // stream.total_out counts from its start
            out.resize(out.size() + std::max<size_t>(out.size() / 2, 256 * 1024));
        uchar *const start = out.data() + stream.total_out;
        const uInt room = uInt(std::min<size_t>(out.size() - stream.total_out, 1u << 30));
        stream.next_out = start;
        stream.avail_out = room;
        const int result = deflate(&stream, flush);
        if (result == Z_STREAM_ERROR)
            return false;
        if (flush == Z_FINISH ? result == Z_STREAM_END
                              : stream.avail_in == 0 && stream.avail_out != 0)
            return true;
    }
}

void compressBand(
    const QImage &image, int bpp, const PngSettings &settings, bool last, size_t offset, Band &band)
{
    const int rowBytes = image.width() * bpp;
    z_stream stream {};
    if (deflateInit2(&stream, settings.level, Z_DEFLATED, -15, 8,
            settings.runsOnly ? Z_RLE : Z_DEFAULT_STRATEGY)
        != Z_OK)
        return;
    struct End {
        z_stream &stream;
        ~End() { deflateEnd(&stream); }
    } end { stream };

    band.rawBytes = qint64(band.end - band.first) * (rowBytes + 1);
    // The first band carries the zlib header, so offset bytes are reserved before the data.
    band.deflated.resize(offset + size_t(band.rawBytes / 3) + 1024);
    stream.total_out = uLong(offset);
    if (offset == 2) {
        band.deflated[0] = 0x78; // deflate with a 32 KB window
        band.deflated[1] = 0x01; // no preset dictionary, checked: 0x7801 is a multiple of 31
    }

    RowFilter rowFilter(rowBytes, bpp);
    std::vector<uchar> previous(size_t(rowBytes), 0);
    std::vector<uchar> current(static_cast<size_t>(rowBytes));
    if (band.first > 0)
        packRow(image, band.first - 1, bpp, previous.data());
    const int rowsPerBatch = std::max(1, kBatchBytes / (rowBytes + 1));
    std::vector<uchar> batch(size_t(rowsPerBatch) * size_t(rowBytes + 1));
    band.adler = adler32(0, nullptr, 0);
    for (int y = band.first; y < band.end;) {
        const int rows = std::min(rowsPerBatch, band.end - y);
        for (int r = 0; r < rows; ++r, ++y) {
            packRow(image, y, bpp, current.data());
            rowFilter.filter(current.data(), previous.data(), batch.data() + r * (rowBytes + 1));
            current.swap(previous);
        }
        const uInt length = uInt(rows * (rowBytes + 1));
        band.adler = adler32(band.adler, batch.data(), length);
        stream.next_in = batch.data();
        stream.avail_in = length;
        const bool final = y == band.end;
        if (!deflateInto(
                stream, band.deflated, final ? (last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH))
            return;
    }
    band.deflated.resize(stream.total_out);
    band.deflated.shrink_to_fit();

    const uLong idat = crc32(0, reinterpret_cast<const Bytef *>("IDAT"), 4);
    for (size_t at = 0; at < band.deflated.size(); at += kChunkBytes) {
        const uInt length = uInt(std::min<size_t>(kChunkBytes, band.deflated.size() - at));
        band.chunkCrcs.push_back(quint32(crc32(idat, band.deflated.data() + at, length)));
    }
    band.ok = true;
}

class ChunkWriter
{
public:
    explicit ChunkWriter(QIODevice &target)
        : device(target)
    {
    }

    bool raw(const void *data, qint64 length)
    {
        return device.write(static_cast<const char *>(data), length) == length;
    }

    bool chunk(const char *type, const uchar *data, quint32 length)
    {
        uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
        if (length > 0) // given no data, crc32 returns its initial value instead
            crc = crc32(crc, data, length);
        return frame(type, data, length, quint32(crc));
    }

    bool frame(const char *type, const uchar *data, quint32 length, quint32 crc)
    {
        uchar head[8];
        qToBigEndian(length, head);
        std::copy(type, type + 4, head + 4);
        uchar tail[4];
        qToBigEndian(crc, tail);
        return raw(head, 8) && (length == 0 || raw(data, length)) && raw(tail, 4);
    }

private:
    QIODevice &device;
};

bool everyPixelOpaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return false;
        }
    }
    return true;
}

} // namespace

bool writePng(const QImage &image, QIODevice &device, const PngSettings &settings, QString *error)
{
    const auto fail = [error](const char *why) {
        if (error)
            *error = QString::fromLatin1(why);
        return false;
    };
    if (image.isNull())
        return fail("nothing to write (empty picture)");
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        return fail("not enough memory");
    const int bpp = everyPixelOpaque(argb) ? 3 : 4;
    const qint64 rawBytes = qint64(argb.height()) * (qint64(argb.width()) * bpp + 1);

    int threads = settings.threads > 0 ? settings.threads
                                       : int(std::max(1u, std::thread::hardware_concurrency()));
    int bandCount = settings.bands > 0
        ? settings.bands
        : int(std::min<qint64>(threads * kBandsPerThread, rawBytes / kMinBandBytes));
    bandCount = std::clamp(bandCount, 1, argb.height());
    threads = std::min(threads, bandCount);

    std::vector<Band> bands;
    try {
        bands.resize(size_t(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            bands[size_t(b)].first = int(qint64(argb.height()) * b / bandCount);
            bands[size_t(b)].end = int(qint64(argb.height()) * (b + 1) / bandCount);
        }
        std::atomic<int> next { 0 };
        const auto work = [&] {
            for (int b; (b = next++) < bandCount;) {
                try {
                    compressBand(
                        argb, bpp, settings, b == bandCount - 1, b == 0 ? 2 : 0, bands[size_t(b)]);
                } catch (const std::bad_alloc &) {
                    bands[size_t(b)].ok = false;
                }
            }
        };
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(work);
        work();
        for (std::thread &helper : helpers)
            helper.join();
    } catch (const std::exception &) {
        return fail("not enough memory");
    }
    if (!std::all_of(bands.begin(), bands.end(), [](const Band &band) { return band.ok; }))
        return fail("not enough memory");

    uLong adler = adler32(0, nullptr, 0);
    for (const Band &band : bands)
        adler = adler32_combine(adler, band.adler, z_off_t(band.rawBytes));

    ChunkWriter out(device);
    static const uchar signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    uchar header[13];
    qToBigEndian(quint32(argb.width()), header);
    qToBigEndian(quint32(argb.height()), header + 4);
    header[8] = 8; // bits per channel
    header[9] = bpp == 4 ? 6 : 2; // RGBA or RGB
    header[10] = 0; // deflate
    header[11] = 0; // adaptive filtering per row
    header[12] = 0; // no interlace
    bool written = out.raw(signature, sizeof signature) && out.chunk("IHDR", header, 13);
    for (const Band &band : bands) {
        for (size_t c = 0; written && c < band.chunkCrcs.size(); ++c) {
            const size_t at = c * kChunkBytes;
            written = out.frame("IDAT", band.deflated.data() + at,
                quint32(std::min<size_t>(kChunkBytes, band.deflated.size() - at)),
                band.chunkCrcs[c]);
        }
    }
    uchar trailer[4];
    qToBigEndian(quint32(adler), trailer);
    written = written && out.chunk("IDAT", trailer, 4) && out.chunk("IEND", nullptr, 0);
    if (!written && error)
        *error = device.errorString();
    return written;
}
