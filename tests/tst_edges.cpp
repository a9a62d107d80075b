#include "blurkernel.h"
#include "edgeanalysis.h"
#include "gaussianblur.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <cmath>
#include <numeric>

// Short, literal versions of the blur and the analysis; the real ones must equal them exactly.

std::vector<double> referenceKernel(int n, double sigma)
{
    std::vector<double> w(n);
    for (int j = 0; j < n; ++j)
        w[j] = std::sqrt(std::exp(-((j - n / 2) * (j - n / 2)) / (sigma * (sigma + sigma)))
            / (6.283 * (sigma * sigma)));
    const double sum = std::accumulate(w.begin(), w.end(), 0.0);
    std::transform(w.begin(), w.end(), w.begin(), [sum](double v) { return v / sum; });
    return w;
}

// Bytes i of the interior columns of 1 or 4 byte pixels; the vertical pass skips alpha and the
// rows near the border.
void referenceBlur(const QImage &src, QImage &dst, int n, double sigma)
{
    const std::vector<double> w = referenceKernel(n, sigma);
    const int half = n / 2, bpl = int(src.bytesPerLine()), height = src.height(),
              px = src.depth() / 8;
    const auto inside
        = [&](int i) { return i % bpl >= px * half && i % bpl < px * (src.width() - half); };
    std::vector<uchar> temp(size_t(bpl) * height);
    for (int i = 0; i < bpl * height; ++i) {
        double acc = src.constBits()[i] * w[half];
        for (int d = 1; d <= half && inside(i); ++d)
            acc += (src.constBits()[i - px * d] + src.constBits()[i + px * d]) * w[half - d];
        temp[i] = uchar(int(acc));
    }
    for (int i = half * bpl; i < (height - half) * bpl; ++i)
        for (int d = 0; d <= half && inside(i) && (px == 1 || i % 4 != 3);
             ++d) // truncated after every tap
            dst.bits()[i] = uchar(int((d ? dst.bits()[i] : 0)
                + (d ? temp[i - d * bpl] + temp[i + d * bpl] : temp[i]) * w[half - d]));
}

LabColor referenceLab(QRgb v)
{
    const double matrix[3][3]
        = { { 0.4124, 0.3576, 0.1805 }, { 0.2126, 0.7152, 0.0722 }, { 0.0193, 0.1192, 0.9505 } },
        white[3] = { 95.047, 100, 108.883 };
    const auto linear = [](int byte) {
        return (byte / 255.0 > 0.04045 ? std::pow((byte / 255.0 + 0.055) / 1.055, 2.4)
                                       : byte / 255.0 / 12.92)
            * 100;
    };
    const double rgb[3] = { linear(qRed(v)), linear(qGreen(v)), linear(qBlue(v)) };
    const auto t
        = [&](int row) { return std::inner_product(rgb, rgb + 3, matrix[row], 0.0) / white[row]; };
    const auto f = [&](int row) {
        return t(row) > 0.008856 ? std::pow(t(row), 0.3333333333333333)
                                 : 7.787 * t(row) + 0.13793103448275862;
    };
    return { qint16(int(116 * f(1) - 16)), qint16(int(500 * (f(0) - f(1)))),
        qint16(int(200 * (f(1) - f(2)))) };
}

QList<quint16> referenceEdges(const QImage &image)
{
    const int w = image.width(), h = image.height();
    QList<quint16> edgeMap(qsizetype(w) * h, 0);
    QImage blurred = image.convertToFormat(
        QImage::Format_ARGB32); // the frame the blur leaves holds the picture
    referenceBlur(image.convertToFormat(QImage::Format_ARGB32), blurred, 7, 1.4);
    for (const auto component : { &LabColor::l, &LabColor::a, &LabColor::b }) {
        const auto p
            = [&](int x, int y) { return int(referenceLab(blurred.pixel(x, y)).*component); };
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x) {
                const int gx = (p(x + 1, y - 1) + 2 * p(x + 1, y) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x - 1, y) + p(x - 1, y + 1));
                const int gy = (p(x - 1, y + 1) + 2 * p(x, y + 1) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x, y - 1) + p(x + 1, y - 1));
                edgeMap[x + y * w]
                    += quint16(std::min(255, int(std::sqrt(double(gx * gx + gy * gy)))));
            }
    }
    return edgeMap;
}

QImage randomPicture(int width, int height, quint32 seed)
{
    QImage picture(width, height, QImage::Format_ARGB32);
    QRandomGenerator(seed).fillRange(
        reinterpret_cast<quint32 *>(picture.bits()), picture.sizeInBytes() / 4);
    return picture;
}

// Smooth gradients with a little noise; clipped white and black corners and one of bands
// of one level with a few bytes one off, where sums sit right on or next to integers.
QImage photoLikePicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_RGB32);
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = i / width, noise = random.bounded(-3, 4),
                  corner = (x > width / 2) + 2 * (y > height / 2);
        const double u = double(x) / width, v = double(y) / height; // across and down, 0 to 1
        const bool flat
            = std::min({ x, y, width - 1 - x, height - 1 - y }) < std::min(width, height) / 4;
        const int band = y / 3 * 37 + (noise == 3); // top left; white top right, black bottom left
        const auto channel = [&](double value, int offset) {
            return !flat || corner == 3 ? qBound(0, int(value) + noise, 255)
                : corner == 0           ? (band + offset) % 256
                : corner == 1           ? 255
                                        : 0;
        };
        picture.setPixel(x, y,
            qRgb(channel(255 * u * u, 0), channel(200 * v + 40 * std::sin(9 * u), 85),
                channel(128 + 120 * std::cos(5 * (u + v)), 170)));
    }
    return picture;
}

class TestEdges : public QObject
{
    Q_OBJECT

private slots:
    // The numbers the blur, the colour conversion and the analysis are known by.
    void documentedFigures()
    {
        for (const QList<double> &expected : QList<QList<double>> {
                 { 0.069038, 0.130635, 0.191533, 0.217589, 0.191533, 0.130635, 0.069038 },
                 { 0.151562, 0.222215, 0.252446, 0.222215, 0.151562 } }) {
            const std::vector<double> w = gaussianKernel(int(expected.size()), 1.4);
            QVERIFY(w
                == referenceKernel(
                    int(expected.size()), 1.4)); // bit for bit: truncations depend on it
            QVERIFY(std::equal(w.begin(), w.end(), expected.begin(),
                [](double a, double b) { return std::abs(a - b) < 1e-6; }));
        }
        // A uniform 255 comes out as 253. Where the grouping of sigma squared shows: with n = 7
        // a uniform 1 survives the horizontal pass and is lost in the vertical one; with n = 5
        // the horizontal pass keeps every uniform value.
        for (int n : { 7, 5 }) {
            for (const BlurKernel &kernel : { BlurKernel(n, 1.4, false), BlurKernel(n, 1.4) }) {
                const int half = kernel.half(), width = 2 * half + 1;
                std::vector<uchar> across(4 * width), down(4 * width);
                const std::vector<const uchar *> rows(width, across.data());
                for (int value = 0; value < 256; ++value) {
                    const std::vector<uchar> row(4 * width, uchar(value));
                    kernel.horizontal(row.data(), across.data(), width);
                    kernel.vertical(rows.data(), down.data(), width);
                    if (n == 5)
                        QCOMPARE(int(across[4 * half]), value);
                    if (n == 7 && value == 1)
                        QCOMPARE(
                            QList<int>({ across[4 * half], down[4 * half] }), QList<int>({ 1, 0 }));
                    if (n == 7 && value == 255)
                        QCOMPARE(int(down[4 * half]), 253);
                }
            }
        }
        const std::pair<QRgb, QList<int>> labs[] = { { qRgb(0, 0, 0), { 0, 0, 0 } },
            { qRgb(255, 0, 0), { 53, 80, 67 } }, { qRgb(0, 255, 0), { 87, -86, 83 } },
            { qRgb(0, 0, 255), { 32, 79, -107 } }, { qRgb(128, 128, 128), { 53, 0, 0 } },
            { qRgba(255, 255, 0, 0), { 97, -21, 94 } } };
        for (const auto &[rgb, expected] : labs)
            for (const LabColor &lab : { labFromRgb(rgb), LabConverter()(rgb) })
                QCOMPARE((QList<int> { lab.l, lab.a, lab.b }), expected);
        // A vertical black-to-white step at column 19, far from the border: the same
        // strengths in every row, 0 elsewhere; and the progress values for 300 wide.
        QImage step(300, 24, QImage::Format_ARGB32);
        step.fill(Qt::black);
        QPainter(&step).fillRect(19, 0, 281, 24, Qt::white);
        const QList<quint16> row = QList<quint16>(11, 0)
            << 16 << 76 << 144 << 176 << 164 << 116 << 72 << 28 << QList<quint16>(13, 0);
        QList<int> progress(100);
        std::iota(progress.begin(), progress.end(), 0);
        for (int threads : { 1, 2 }) {
            QList<int> seen;
            const QList<quint16> edges = findEdges(
                step, [&](int v) { seen.append(QThread::currentThread() == thread() ? v : -1); },
                threads);
            QCOMPARE(QList<int>(seen.begin(), std::unique(seen.begin(), seen.end())),
                progress.first(30) + progress.sliced(40));
            for (int y = 4; y <= 19; ++y)
                QCOMPARE(edges.mid(4 + y * 300, 32), row); // columns 4 to 35
        }
    }

    void equalsLiteralReferences_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<int>("n");
        // Pictures 2 or less wide or high have no edges, 2 * half or less no blur; n = 4 is
        // even and sigma = 7 gives other taps.
        for (QSize s : { QSize(1, 1), QSize(2, 9), QSize(7, 7), QSize(9, 13), QSize(45, 21) })
            for (int n : { 7, 5, 4 })
                QTest::addRow("%dx%d n=%d", s.width(), s.height(), n)
                    << randomPicture(s.width(), s.height(), 5) << n;
        QTest::newRow("photo") << photoLikePicture(219, 830, 9) << 7;
    }

    // The blur into targets full of noise (the frame and the alpha bytes must come back as
    // they were), on 4 and on 1 byte pixels, and the edge strengths on 1 and 2 bands.
    void equalsLiteralReferences()
    {
        QFETCH(QImage, picture);
        QFETCH(int, n);
        const double sigma = n == 4 ? 7.0 : 1.4;
        for (const QImage &source :
            { picture, picture.convertToFormat(QImage::Format_Grayscale8) }) {
            QImage expected = randomPicture(picture.width(), picture.height(), 12)
                                  .convertToFormat(source.depth() == 8 ? QImage::Format_Grayscale8
                                                                       : QImage::Format_ARGB32),
                   actual = expected.copy();
            referenceBlur(source, expected, n, sigma);
            gaussianBlur(source, actual, n, sigma);
            QCOMPARE(actual, expected); // byte for byte, alpha included
        }
        for (int threads : { 1, 2 }) // 24-bit pixels are converted first
            QCOMPARE(
                findEdges(threads == 2 ? picture.convertToFormat(QImage::Format_RGB888) : picture,
                    {}, threads),
                referenceEdges(picture));
    }

    // The exact shortcuts against the formulas. The vertical pass's integer taps in both vector
    // widths: every centre (one per column) with every first pair sum and every third second one
    // (the third tap's sum tied to those two).
    void shortcutsAgreeWithFormulas()
    {
        for (const BlurKernel &kernel : { BlurKernel(7, 1.4, false), BlurKernel(7, 1.4),
                 BlurKernel(5, 1.4, false), BlurKernel(5, 1.4) }) {
            QVERIFY(kernel.hasIntegerVertical() && kernel.hasIntegerHorizontal());
            const std::vector<double> w = kernel.weights();
            const int half = kernel.half(), width = 2 * half + 256, bpl = 4 * width;
            std::vector<uchar> rows(7 * bpl), out(bpl);
            const uchar *pointers[] = { &rows[0], &rows[bpl], &rows[2 * bpl], &rows[3 * bpl],
                &rows[4 * bpl], &rows[5 * bpl], &rows[6 * bpl] };
            for (int i = 0; i < bpl; ++i)
                rows[half * bpl + i] = uchar(i / 4 - half);
            for (int pair = 0; pair < 511 * 171; ++pair) {
                const int sums[]
                    = { 0, pair % 511, pair / 511 * 3, (pair % 511 + pair / 511 * 6) % 511 };
                for (int d = 1; d <= half; ++d) {
                    std::fill_n(rows.begin() + (half - d) * bpl, bpl, uchar(sums[d] / 2));
                    std::fill_n(rows.begin() + (half + d) * bpl, bpl, uchar(sums[d] - sums[d] / 2));
                }
                kernel.vertical(pointers, out.data(), width);
                for (int x = half; x < width - half; ++x) {
                    uchar v = uchar(int((x - half) * w[half]));
                    for (int d = 1; d <= half; ++d)
                        v = uchar(int(v + sums[d] * w[half - d]));
                    if (out[4 * x] != v || out[4 * x + 2] != v)
                        QFAIL(qPrintable(QStringLiteral("%1 taps, centre %2, pairs %3, %4")
                                             .arg(w.size())
                                             .arg(x - half)
                                             .arg(sums[1])
                                             .arg(sums[2])));
                }
            }
        }
        // Every colour: the converter's tables and quick cube roots against the literal formula.
        const LabConverter converter;
        for (quint32 rgb = 0; rgb < (1u << 24); ++rgb) {
            const LabColor fast = converter(rgb | (rgb * 2654435761u & 0xFF000000u)),
                           literal = referenceLab(rgb);
            if (fast.l != literal.l || fast.a != literal.a || fast.b != literal.b)
                QFAIL(qPrintable(QStringLiteral("colour %1").arg(rgb, 6, 16, QLatin1Char('0'))));
        }
    }
};

QTEST_GUILESS_MAIN(TestEdges)
#include "tst_edges.moc"
