#include "blurkernel.h"
#include "edgeanalysis.h"
#include "gaussianblur.h"

#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>

#include <cmath>
#include <vector>

namespace {

// Short, literal versions of the blur and the analysis; the real ones must equal them exactly.

std::vector<double> referenceKernel(int n, double sigma)
{
    std::vector<double> w(n);
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        const int i = j - n / 2;
        const int minusSquare = -(i * i);
        w[j] = std::sqrt(std::exp(minusSquare / (sigma * (sigma + sigma))) / (6.283 * sigma * sigma));
        sum += w[j];
    }
    for (int j = 0; j < n; ++j)
        w[j] /= sum;
    return w;
}

void referenceBlur(const QImage &src, QImage &dst, int n, double sigma)
{
    const std::vector<double> w = referenceKernel(n, sigma);
    const int half = n / 2;
    const int width = src.width();
    const int height = src.height();
    const qsizetype bpl = src.bytesPerLine();
    std::vector<uchar> temp(size_t(bpl) * height);
    const uchar *in = src.constBits();
    for (int y = 0; y < height; ++y) {
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                double acc = in[y * bpl + 4 * x + c] * w[half];
                for (int d = 1; d <= half; ++d)
                    acc += (in[y * bpl + 4 * (x - d) + c] + in[y * bpl + 4 * (x + d) + c]) * w[half - d];
                temp[y * bpl + 4 * x + c] = uchar(int(acc));
            }
        }
    }
    uchar *out = dst.bits();
    for (int y = half; y < height - half; ++y) {
        for (int x = half; x < width - half; ++x) {
            for (int c = 0; c < 3; ++c) {
                uchar &t = out[y * bpl + 4 * x + c];
                t = uchar(int(temp[y * bpl + 4 * x + c] * w[half]));
                for (int d = 1; d <= half; ++d)
                    t = uchar(int(t + (temp[(y - d) * bpl + 4 * x + c] + temp[(y + d) * bpl + 4 * x + c]) * w[half - d]));
            }
        }
    }
}

double referenceCurve(double t)
{
    if (t > 0.008856)
        return std::pow(t, 0.3333333333333333);
    return 7.787 * t + 0.13793103448275862;
}

LabColor referenceLab(QRgb v)
{
    double channel[3] = {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
    for (double &c : channel) {
        if (c > 0.04045)
            c = std::pow((c + 0.055) / 1.055, 2.4);
        else
            c = c / 12.92;
        c = c * 100;
    }
    const double r = channel[0];
    const double g = channel[1];
    const double b = channel[2];
    const double x = 0.4124 * r + 0.3576 * g + 0.1805 * b;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = 0.0193 * r + 0.1192 * g + 0.9505 * b;
    const double fx = referenceCurve(x / 95.047);
    const double fy = referenceCurve(y / 100);
    const double fz = referenceCurve(z / 108.883);
    LabColor lab;
    lab.l = qint16(int(116 * fy - 16));
    lab.a = qint16(int(500 * (fx - fy)));
    lab.b = qint16(int(200 * (fy - fz)));
    return lab;
}

QList<quint16> referenceEdges(const QImage &image, QList<int> *progress = nullptr)
{
    const int w = image.width();
    const int h = image.height();
    const auto report = [progress](int value) {
        if (progress)
            progress->append(value);
    };
    QList<quint16> edgeMap;
    for (int i = 0; i < w * h; ++i)
        edgeMap.append(0);
    QImage blurred = image.copy(); // the frame the blur leaves alone holds the picture
    referenceBlur(image, blurred, 7, 1.4);

    QSet<quint32> colours;
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            colours.insert(blurred.pixel(x, y));
        report((30 * x) / w);
    }
    QMap<quint32, qint16> lMap, aMap, bMap;
    for (quint32 colour : colours) {
        const LabColor lab = referenceLab(colour);
        lMap[colour] = lab.l;
        aMap[colour] = lab.a;
        bMap[colour] = lab.b;
    }
    report(40);
    std::vector<qint16> planes[3];
    for (auto &plane : planes)
        plane.resize(size_t(w) * h);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            const quint32 colour = blurred.pixel(x, y);
            planes[0][x + y * w] = lMap.value(colour);
            planes[1][x + y * w] = aMap.value(colour);
            planes[2][x + y * w] = bMap.value(colour);
        }
        report((30 * x) / w + 40);
    }
    for (int x = 1; x < w - 1; ++x) {
        for (int y = 1; y < h - 1; ++y) {
            for (int k = 0; k < 3; ++k) {
                const auto p = [&](int px, int py) { return int(planes[k][px + py * w]); };
                const int gx = (p(x + 1, y - 1) + 2 * p(x + 1, y) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x - 1, y) + p(x - 1, y + 1));
                const int gy = (p(x - 1, y + 1) + 2 * p(x, y + 1) + p(x + 1, y + 1))
                    - (p(x - 1, y - 1) + 2 * p(x, y - 1) + p(x + 1, y - 1));
                int m = int(std::sqrt(double(gx * gx + gy * gy)));
                if (m > 255)
                    m = 255;
                if (k == 0)
                    edgeMap[x + y * w] = quint16(m);
                else
                    edgeMap[x + y * w] = quint16(edgeMap[x + y * w] + m);
            }
        }
        report((30 * x) / w + 70);
    }
    return edgeMap;
}

QImage randomPicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random.generate();
    }
    return picture;
}

// Smooth gradients with a little noise, a few flat shapes with hard borders, and saturated
// black and white areas, where rounding sits right on integer boundaries.
QImage photoLikePicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double v = double(y) / height;
            int r = int(255 * u * u) + random.bounded(-3, 4);
            int g = int(200 * v + 40 * std::sin(9 * u)) + random.bounded(-3, 4);
            int b = int(128 + 120 * std::cos(5 * (u + v))) + random.bounded(-3, 4);
            if ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) < height * height / 16)
                r = 250, g = 30, b = 20;
            if (x > 2 * width / 3 && y < height / 3)
                r = g = b = 255;
            if (x < width / 5 && y > 4 * height / 5)
                r = g = b = 0;
            line[x] = qRgba(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255), 255);
        }
    }
    return picture;
}

QString firstDifference(const QList<quint16> &actual, const QList<quint16> &expected, int width)
{
    if (actual.size() != expected.size())
        return QStringLiteral("length %1, expected %2").arg(actual.size()).arg(expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i])
            return QStringLiteral("first difference at (%1, %2): %3, expected %4")
                .arg(i % width).arg(i / width).arg(actual[i]).arg(expected[i]);
    }
    return {};
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("first difference at (%1, %2): %3, expected %4")
                    .arg(x).arg(y).arg(actual.pixel(x, y), 8, 16).arg(expected.pixel(x, y), 8, 16);
        }
    }
    return {};
}

} // namespace

class TestEdges : public QObject
{
    Q_OBJECT

private slots:
    void kernelWeights_data();
    void kernelWeights();
    void blurEqualsLiteralBlur_data();
    void blurEqualsLiteralBlur();
    void blurOfUniformAreas();
    void integerVerticalPassForBothCallers();
    void horizontalSumsNextToIntegers();
    void blurRefusesMismatchedTarget();
    void labExamples_data();
    void labExamples();
    void labConverterAgreesOnEveryColour();
    void edgesEqualLiteralAnalysis_data();
    void edgesEqualLiteralAnalysis();
    void blackToWhiteStep();
    void uniformPictureHasNoEdges();
    void progressValues_data();
    void progressValues();
    void otherPixelFormatsGiveTheSameEdges();
};

void TestEdges::kernelWeights_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QList<double>>("expected");
    QTest::newRow("7 taps") << 7 << QList<double>{0.069038, 0.130635, 0.191533, 0.217589, 0.191533, 0.130635, 0.069038};
    QTest::newRow("5 taps") << 5 << QList<double>{0.151562, 0.222215, 0.252446, 0.222215, 0.151562};
}

void TestEdges::kernelWeights()
{
    QFETCH(int, n);
    QFETCH(QList<double>, expected);
    const std::vector<double> w = gaussianKernel(n, 1.4);
    QCOMPARE(int(w.size()), n);
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        QVERIFY2(std::abs(w[j] - expected[j]) < 1e-6, qPrintable(QString::number(j)));
        sum += w[j];
    }
    QVERIFY(std::abs(sum - 1.0) < 1e-12);
    QCOMPARE(int(std::max_element(w.begin(), w.end()) - w.begin()), n / 2);
    // Bit for bit, since every truncation downstream depends on the last digit.
    QVERIFY(w == referenceKernel(n, 1.4));
}

void TestEdges::blurEqualsLiteralBlur_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<bool>("photo");
    const QList<QSize> sizes = {{1, 1}, {2, 9}, {6, 6}, {7, 7}, {8, 8}, {9, 13}, {1, 20}, {20, 1},
                                {13, 9}, {17, 7}, {33, 21}};
    for (int n : {7, 5}) {
        for (const QSize &size : sizes) {
            QTest::addRow("%dx%d n=%d", size.width(), size.height(), n)
                << size.width() << size.height() << n << 1.4 << false;
        }
        QTest::addRow("photo n=%d", n) << 301 << 203 << n << 1.4 << true;
    }
    // Kernels whose taps may not pass the integer proof take the double-precision path.
    for (double sigma : {0.6, 2.5, 7.0}) {
        for (int n : {3, 4, 9}) {
            QTest::addRow("random n=%d sigma=%g", n, sigma) << 37 << 29 << n << sigma << false;
            QTest::addRow("photo n=%d sigma=%g", n, sigma) << 64 << 40 << n << sigma << true;
        }
    }
}

void TestEdges::blurEqualsLiteralBlur()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, n);
    QFETCH(double, sigma);
    QFETCH(bool, photo);
    const QImage source = photo ? photoLikePicture(width, height, 7) : randomPicture(width, height, 11);
    // Target filled with noise: frame and alpha must come back exactly as they were.
    const QImage before = randomPicture(width, height, 12);
    QImage expected = before.copy();
    referenceBlur(source, expected, n, sigma);
    QImage actual = before.copy();
    gaussianBlur(source, actual, n, sigma);
    QVERIFY2(actual == expected, qPrintable(firstDifference(actual, expected)));

    const int half = n / 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool interior = x >= half && x < width - half && y >= half && y < height - half;
            QCOMPARE(qAlpha(actual.pixel(x, y)), qAlpha(before.pixel(x, y)));
            if (!interior)
                QCOMPARE(actual.pixel(x, y), before.pixel(x, y));
        }
    }
}

void TestEdges::blurOfUniformAreas()
{
    const struct {
        int value;
        int expected;
    } cases[] = {{255, 253}, {1, 0}, {0, 0}};
    for (const auto &c : cases) {
        QImage source(20, 20, QImage::Format_ARGB32);
        source.fill(qRgba(c.value, c.value, c.value, 77));
        QImage target(20, 20, QImage::Format_ARGB32);
        target.fill(qRgba(9, 9, 9, 200));
        gaussianBlur(source, target, 7, 1.4);
        QCOMPARE(target.pixel(10, 10), qRgba(c.expected, c.expected, c.expected, 200));
        QCOMPARE(target.pixel(3, 16), qRgba(c.expected, c.expected, c.expected, 200));
        QCOMPARE(target.pixel(2, 10), qRgba(9, 9, 9, 200));
        QCOMPARE(target.pixel(10, 17), qRgba(9, 9, 9, 200));
    }
}

void TestEdges::integerVerticalPassForBothCallers()
{
    // The speed of the analysis and of the mask compositing relies on the integer pass; the
    // proof behind it must succeed for both kernels they use.
    QVERIFY(BlurKernel(7, 1.4).hasIntegerVertical());
    QVERIFY(BlurKernel(5, 1.4).hasIntegerVertical());

    // Every vertical input the 5-tap kernel can meet: centre byte and both pair sums.
    const BlurKernel kernel(5, 1.4);
    const std::vector<double> &w = kernel.weights();
    const int width = 2 + 256 + 2;
    std::vector<uchar> rows(5 * width * 4);
    const uchar *pointers[5];
    for (int r = 0; r < 5; ++r)
        pointers[r] = rows.data() + r * width * 4;
    std::vector<uchar> out(width * 4);
    for (int pair1 = 0; pair1 <= 510; pair1 += 1) {
        for (int pair2 = 0; pair2 <= 510; pair2 += 3) {
            for (int x = 2; x < width - 2; ++x) {
                const int centre = x - 2;
                for (int c = 0; c < 3; ++c) {
                    const int i = 4 * x + c;
                    rows[2 * width * 4 + i] = uchar(centre);
                    rows[1 * width * 4 + i] = uchar(pair1 / 2);
                    rows[3 * width * 4 + i] = uchar(pair1 - pair1 / 2);
                    rows[0 * width * 4 + i] = uchar(pair2 / 2);
                    rows[4 * width * 4 + i] = uchar(pair2 - pair2 / 2);
                }
            }
            kernel.vertical(pointers, out.data(), width);
            for (int x = 2; x < width - 2; ++x) {
                uchar v = uchar(int((x - 2) * w[2]));
                v = uchar(int(v + pair1 * w[1]));
                v = uchar(int(v + pair2 * w[0]));
                if (out[4 * x] != v || out[4 * x + 2] != v)
                    QFAIL(qPrintable(QStringLiteral("centre %1, pairs %2 and %3: %4, expected %5")
                                         .arg(x - 2).arg(pair1).arg(pair2).arg(out[4 * x]).arg(v)));
            }
        }
    }
}

void TestEdges::horizontalSumsNextToIntegers()
{
    // Flat and nearly flat rows put the double sums within an ulp of an integer, where the
    // fixed-point estimate cannot decide and the exact value must be used.
    for (int n : {7, 5}) {
        const BlurKernel kernel(n, 1.4);
        QVERIFY(kernel.hasIntegerHorizontal());
        const std::vector<double> &w = kernel.weights();
        const int half = n / 2;
        QRandomGenerator random(n);
        const int width = 64;
        std::vector<uchar> in(width * 4);
        std::vector<uchar> out(width * 4);
        for (int round = 0; round < 4000; ++round) {
            const int level = random.bounded(256);
            for (uchar &byte : in)
                byte = uchar(level);
            for (int k = random.bounded(4); k > 0; --k) {
                uchar &byte = in[random.bounded(width * 4)];
                byte = uchar(qBound(0, byte + random.bounded(-2, 3), 255));
            }
            kernel.horizontal(in.data(), out.data(), width);
            for (int i = 4 * half; i < 4 * (width - half); ++i) {
                if (i % 4 == 3)
                    continue;
                double acc = in[i] * w[half];
                for (int d = 1; d <= half; ++d)
                    acc += (in[i - 4 * d] + in[i + 4 * d]) * w[half - d];
                if (out[i] != uchar(int(acc)))
                    QFAIL(qPrintable(QStringLiteral("n %1, level %2, byte %3: %4, expected %5")
                                         .arg(n).arg(level).arg(i).arg(out[i]).arg(uchar(int(acc)))));
            }
        }
    }
}

void TestEdges::blurRefusesMismatchedTarget()
{
    const QImage source = randomPicture(20, 20, 3);
    QImage smaller = randomPicture(19, 20, 4);
    const QImage smallerBefore = smaller.copy();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("gaussianBlur"));
    gaussianBlur(source, smaller, 7, 1.4);
    QCOMPARE(smaller, smallerBefore);

    QImage narrow(20, 20, QImage::Format_RGB888);
    narrow.fill(Qt::red);
    const QImage narrowBefore = narrow.copy();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("gaussianBlur"));
    gaussianBlur(source, narrow, 7, 1.4);
    QCOMPARE(narrow, narrowBefore);
}

void TestEdges::labExamples_data()
{
    QTest::addColumn<QRgb>("rgb");
    QTest::addColumn<int>("l");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::newRow("black") << qRgb(0, 0, 0) << 0 << 0 << 0;
    QTest::newRow("red") << qRgb(255, 0, 0) << 53 << 80 << 67;
    QTest::newRow("green") << qRgb(0, 255, 0) << 87 << -86 << 83;
    QTest::newRow("blue") << qRgb(0, 0, 255) << 32 << 79 << -107;
    QTest::newRow("grey") << qRgb(128, 128, 128) << 53 << 0 << 0;
    QTest::newRow("yellow") << qRgb(255, 255, 0) << 97 << -21 << 94;
    QTest::newRow("yellow, transparent") << qRgba(255, 255, 0, 0) << 97 << -21 << 94;
}

void TestEdges::labExamples()
{
    QFETCH(QRgb, rgb);
    QFETCH(int, l);
    QFETCH(int, a);
    QFETCH(int, b);
    const LabColor lab = labFromRgb(rgb);
    QCOMPARE(int(lab.l), l);
    QCOMPARE(int(lab.a), a);
    QCOMPARE(int(lab.b), b);
    const LabColor fast = LabConverter()(rgb);
    QCOMPARE(int(fast.l), l);
    QCOMPARE(int(fast.a), a);
    QCOMPARE(int(fast.b), b);
}

void TestEdges::labConverterAgreesOnEveryColour()
{
    const LabConverter converter;
    for (quint32 rgb = 0; rgb < (1u << 24); ++rgb) {
        const QRgb value = rgb | (rgb * 2654435761u & 0xFF000000u);
        const LabColor fast = converter(value);
        const LabColor exact = rgb % 61 == 0 ? referenceLab(value) : labFromRgb(value);
        if (fast.l != exact.l || fast.a != exact.a || fast.b != exact.b)
            QFAIL(qPrintable(QStringLiteral("colour %1: (%2, %3, %4), expected (%5, %6, %7)")
                                 .arg(rgb, 6, 16, QLatin1Char('0')).arg(fast.l).arg(fast.a).arg(fast.b)
                                 .arg(exact.l).arg(exact.a).arg(exact.b)));
        if (rgb % 61 == 0) {
            const LabColor direct = labFromRgb(value);
            if (direct.l != exact.l || direct.a != exact.a || direct.b != exact.b)
                QFAIL(qPrintable(QStringLiteral("labFromRgb differs at %1").arg(rgb, 6, 16)));
        }
    }
}

void TestEdges::edgesEqualLiteralAnalysis_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<int>("threads");
    const QList<QSize> sizes = {{1, 1}, {2, 9}, {9, 2}, {3, 3}, {6, 6}, {7, 7}, {8, 8}, {9, 13}, {13, 9}, {40, 70}};
    for (int threads : {1, 2}) {
        for (const QSize &size : sizes) {
            QTest::addRow("random %dx%d, %d threads", size.width(), size.height(), threads)
                << randomPicture(size.width(), size.height(), 5 + size.width()) << threads;
        }
        QTest::addRow("photo, %d threads", threads) << photoLikePicture(211, 157, 9) << threads;
    }
    // Several bands, each with its own colour cache and a few rows computed twice.
    QTest::newRow("photo, 5 threads") << photoLikePicture(97, 230, 10) << 5;
    QTest::newRow("photo, every core") << photoLikePicture(120, 300, 11) << 0;
}

void TestEdges::edgesEqualLiteralAnalysis()
{
    QFETCH(QImage, picture);
    QFETCH(int, threads);
    const QList<quint16> expected = referenceEdges(picture);
    const QList<quint16> actual = findEdges(picture, {}, threads);
    QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1x%2: %3").arg(picture.width())
                                                .arg(picture.height()).arg(firstDifference(actual, expected, picture.width()))));
    if (picture.width() <= 2 || picture.height() <= 2)
        QVERIFY(std::all_of(actual.begin(), actual.end(), [](quint16 v) { return v == 0; }));
}

void TestEdges::blackToWhiteStep()
{
    const int width = 40;
    const int height = 24;
    const int step = 19;
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, x < step ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    const quint16 strengths[] = {16, 76, 144, 176, 164, 116, 72, 28};
    for (int threads : {1, 2}) {
        const QList<quint16> edges = findEdges(picture, {}, threads);
        for (int y = 4; y <= height - 5; ++y) {
            for (int x = 4; x <= width - 5; ++x) {
                const int offset = x - (step - 4);
                const quint16 expected = offset >= 0 && offset < 8 ? strengths[offset] : 0;
                if (edges[x + y * width] != expected)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2): %3, expected %4")
                                         .arg(x).arg(y).arg(edges[x + y * width]).arg(expected)));
            }
        }
    }
}

void TestEdges::uniformPictureHasNoEdges()
{
    for (QRgb colour : {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(13, 200, 77)}) {
        QImage picture(30, 25, QImage::Format_ARGB32);
        picture.fill(colour);
        const QList<quint16> edges = findEdges(picture);
        QCOMPARE(edges.size(), 30 * 25);
        for (int y = 0; y < 25; ++y) {
            for (int x = 0; x < 30; ++x) {
                const bool border = x == 0 || y == 0 || x == 29 || y == 24;
                if (border || (x >= 4 && x <= 25 && y >= 4 && y <= 20))
                    QCOMPARE(edges[x + y * 30], quint16(0));
            }
        }
    }
}

void TestEdges::progressValues_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("threads");
    QTest::newRow("300 wide") << 300 << 12 << 1;
    QTest::newRow("300 wide, two threads") << 300 << 200 << 2;
    QTest::newRow("7 wide") << 7 << 40 << 1;
    QTest::newRow("2 wide") << 2 << 40 << 1;
    QTest::newRow("1000 wide, 2 high") << 1000 << 2 << 1;
}

void TestEdges::progressValues()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, threads);
    const QImage picture = photoLikePicture(width, height, 3);
    QList<int> literal;
    referenceEdges(picture, &literal);
    QList<int> expected;
    for (int value : literal) {
        if (expected.isEmpty() || expected.last() != value)
            expected.append(value);
    }
    if (width == 300) {
        QList<int> written;
        for (int v = 0; v < 30; ++v)
            written.append(v);
        for (int v = 40; v < 100; ++v)
            written.append(v);
        QCOMPARE(expected, written);
    }

    QList<int> seen;
    bool elsewhere = false;
    QThread *caller = QThread::currentThread();
    findEdges(picture, [&](int value) {
        elsewhere = elsewhere || QThread::currentThread() != caller;
        if (seen.isEmpty() || seen.last() != value)
            seen.append(value);
    }, threads);
    QVERIFY(!elsewhere);
    QCOMPARE(seen, expected);
}

void TestEdges::otherPixelFormatsGiveTheSameEdges()
{
    const QImage argb = photoLikePicture(50, 40, 21);
    const QList<quint16> expected = referenceEdges(argb);
    QCOMPARE(findEdges(argb.convertToFormat(QImage::Format_RGB888)), expected);
    QCOMPARE(findEdges(argb.convertToFormat(QImage::Format_RGB32)), expected);
}

QTEST_GUILESS_MAIN(TestEdges)
#include "tst_edges.moc"
