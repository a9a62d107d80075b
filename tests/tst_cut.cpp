#include "cutbatch.h"
#include "cutoptions.h"
#include "mainwindowtester.h"
#include "outlineevent.h"
#include "outlinereplay.h"

#include "edgeanalysis.h"
#include "picturefile.h"
#include "selectionedit.h"
#include "tracing.h"

#include <QDir>
#include <QGraphicsPathItem>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(OutlineEvent)

namespace
{

const QString kProgram = QStringLiteral(VELMORA_BUILD_DIR "/tools/velmora-cut");

// A photo-like picture with clear objects: a red ellipse and a blue square with a hole, on a
// shaded, slightly noisy ground, so that edges are strong on the outlines and weak elsewhere.
QImage objectPicture(QSize size = QSize(160, 120))
{
    QImage picture(size, QImage::Format_ARGB32);
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29); // 0..7
            const int shade = 200 + (x + y) * 30 / (size.width() + size.height());
            picture.setPixel(x, y, qRgb(shade + noise - 4, shade - 10 + noise, shade - 20));
        }
    }
    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(190, 40, 30));
    painter.drawEllipse(QRect(20, 25, 70, 50));
    painter.setBrush(QColor(30, 50, 170));
    painter.drawRect(QRect(105, 60, 40, 40));
    painter.setBrush(QColor(220, 210, 190));
    painter.drawRect(QRect(118, 73, 14, 14));
    return picture;
}

QString savePicture(const QImage &picture, const QString &folder, const QString &name)
{
    const QString path = QDir(folder).filePath(name);
    if (!picture.save(path))
        qFatal("cannot write the test picture %s", qPrintable(path));
    return path;
}

QList<OutlineEvent> outline(const QString &text)
{
    QList<OutlineEvent> events;
    QString error;
    if (!parseOutline(text, QStringLiteral("test"), &events, &error))
        qFatal("bad test outline: %s", qPrintable(error));
    return events;
}

// The first pixel where two pictures differ, for failure messages.
QString firstDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes %1x%2 and %3x%4")
            .arg(a.width())
            .arg(a.height())
            .arg(b.width())
            .arg(b.height());
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("at (%1, %2): %3 and %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(b.pixel(x, y), 8, 16, QLatin1Char('0'));
    return {};
}

struct Run {
    int exitCode = -1;
    QString errors;
};

Run runCut(const QStringList &arguments)
{
    QProcess process;
    process.start(kProgram, arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

} // namespace

class TestCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void probeAroundAimsAtThePixel();
    void outlineParsing_data();
    void outlineParsing();
    void backgroundColours_data();
    void backgroundColours();
    void clicksCloseTheirTraceOnce();

    void replayEqualsTheWindowsSave_data();
    void replayEqualsTheWindowsSave();
    void executableWritesWhatTheLibraryComputes();
    void edgesFileHoldsTheEdgeStrengths();
    void batchNamesOutputsAfterInputs();
    void badInputsFailAloneInABatch();
    void badCommandLinesWriteNothing_data();
    void badCommandLinesWriteNothing();

private:
    QTemporaryDir m_folder;
    QString m_picture;
};

void TestCut::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_folder.isValid());
    QVERIFY2(QFileInfo(kProgram).isExecutable(), qPrintable(kProgram + " is not built"));
    m_picture = savePicture(objectPicture(), m_folder.path(), QStringLiteral("objects.png"));
}

void TestCut::probeAroundAimsAtThePixel()
{
    const QSize picture(37, 23);
    for (int size = 1; size <= 12; ++size) {
        for (const QPoint p : { QPoint(0, 0), QPoint(36, 22), QPoint(5, 17), QPoint(36, 0) }) {
            const QRect probe = probeAround(p, size);
            QCOMPARE(probe.size(), QSize(size, size));
            QVERIFY2(probeTarget(probe, picture) == p,
                qPrintable(QStringLiteral("size %1 at (%2, %3)").arg(size).arg(p.x()).arg(p.y())));
        }
    }
}

void TestCut::outlineParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<OutlineEvent>>("expected");
    QTest::addColumn<int>("badLine"); // 0: the text is good

    const auto click = [](int x, int y) {
        return OutlineEvent { OutlineEvent::Click, { x, y }, 0 };
    };
    const auto word = [](OutlineEvent::Kind kind) { return OutlineEvent { kind, {}, 0 }; };

    QTest::newRow("every event, comments, blanks, CRLF, any case")
        << QStringLiteral("# product shot\r\nclick 10 20\r\n\r\n  CLICK  -3\t400 # left edge\n"
                          "close\nAbandon\nundo\ninvert\n")
        << QList<OutlineEvent> { click(10, 20), click(-3, 400), word(OutlineEvent::Close),
               word(OutlineEvent::Abandon), word(OutlineEvent::Undo), word(OutlineEvent::Invert) }
        << 0;
    QTest::newRow("unknown word") << QStringLiteral("click 1 2\nclick 3 4\nclik 5 6\n")
                                  << QList<OutlineEvent>() << 3;
    QTest::newRow("click with one number")
        << QStringLiteral("# x\nclick 5\n") << QList<OutlineEvent>() << 2;
    QTest::newRow("click with a fraction")
        << QStringLiteral("click 5.5 6\n") << QList<OutlineEvent>() << 1;
    QTest::newRow("click too far out")
        << QStringLiteral("click 1 2\nclick 1 99999999\n") << QList<OutlineEvent>() << 2;
    QTest::newRow("word with an argument")
        << QStringLiteral("click 1 2\n\nundo 2\n") << QList<OutlineEvent>() << 3;
    QTest::newRow("comma separated") << QStringLiteral("click 1,2\n") << QList<OutlineEvent>() << 1;
}

void TestCut::outlineParsing()
{
    QFETCH(QString, text);
    QFETCH(QList<OutlineEvent>, expected);
    QFETCH(int, badLine);

    QList<OutlineEvent> events { { OutlineEvent::Undo, {}, 0 } };
    QString error;
    const bool ok = parseOutline(text, QStringLiteral("shape.txt"), &events, &error);
    if (badLine == 0) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(events, expected);
        return;
    }
    QVERIFY(!ok);
    QVERIFY2(error.startsWith(QStringLiteral("shape.txt:%1: ").arg(badLine)), qPrintable(error));
    QVERIFY(!error.contains(QLatin1Char('\n')));
    QCOMPARE(events.size(), 1); // left as it was
}

void TestCut::backgroundColours_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("white") << "White" << true << QColor(255, 255, 255, 255);
    QTest::newRow("transparent") << "transparent" << true << QColor(0, 0, 0, 0);
    QTest::newRow("#RRGGBB") << "#12aB3c" << true << QColor(0x12, 0xab, 0x3c, 255);
    // Alpha last: QColor itself would read these digits as #AARRGGBB.
    QTest::newRow("#RRGGBBAA") << "#11223344" << true << QColor(0x11, 0x22, 0x33, 0x44);
    QTest::newRow("five digits") << "#12345" << false << QColor();
    QTest::newRow("seven digits") << "#1234567" << false << QColor();
    QTest::newRow("not hex") << "#12345g" << false << QColor();
    QTest::newRow("no hash") << "112233" << false << QColor();
    QTest::newRow("other name") << "red" << false << QColor();
}

void TestCut::backgroundColours()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QColor, expected);
    const QColor colour = parseBackground(text);
    QCOMPARE(colour.isValid(), valid);
    if (valid)
        QCOMPARE(colour.rgba(), expected.rgba());
}

// --click points form one trace that ends closed, whether or not the last click closed it.
void TestCut::clicksCloseTheirTraceOnce()
{
    const QImage picture = objectPicture();
    const QList<quint16> edges = findEdges(picture);
    const QStringList around { "--click", "22,50", "--click", "55,24", "--click", "90,50",
        "--click", "55,76" };

    // Where the trace starts on this picture, so that a last click can land on it.
    OutlineReplay first(picture.size(), edges, 10);
    first.click({ 22, 50 });
    const QPoint start = first.traceStart();

    for (const bool lastClosesItself : { false, true }) {
        QStringList arguments { "velmora-cut", "-o", "out.png", "in.png" };
        arguments << around;
        if (lastClosesItself)
            arguments << "--click" << QStringLiteral("%1,%2").arg(start.x()).arg(start.y());
        const CutCommandLine commandLine = parseCommandLine(arguments);
        QCOMPARE(commandLine.action, CutCommandLine::Run);

        OutlineReplay replay(picture.size(), edges, commandLine.options.probeSize);
        replay.apply(commandLine.options.events);
        QCOMPARE(replay.anchorPoint(), kNoTrace);
        QVERIFY(replay.tracePath().isEmpty());
        QVERIFY(replay.hasSelection());
        // Exactly one closed outline: one subpath, holding the ellipse's centre.
        QCOMPARE(replay.selectionPath().toSubpathPolygons().size(), 1);
        QVERIFY(replay.shownPath().contains(QPointF(55 + kSceneOffset, 50 + kSceneOffset)));
        QCOMPARE(replay.undoDepth(), 4);
    }
}

void TestCut::replayEqualsTheWindowsSave_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("probe");
    QTest::addColumn<bool>("transparent");

    const QString ellipse = QStringLiteral("click 21 50\nclick 55 26\nclick 88 50\nclick 55 74\n");
    QTest::newRow("closed by a close") << ellipse + "close\n" << 10 << true;
    QTest::newRow("closed by a click near the start") << ellipse + "click 23 52\n" << 10 << false;
    QTest::newRow("open trace shows filled") << ellipse << 10 << true;
    QTest::newRow("undo inside a trace and after its close")
        << ellipse + "undo\nclick 60 76\nclose\nundo\nclick 40 72\nclose\n"
        << 10 << true;
    QTest::newRow("abandoned stretches join the next trace")
        << "click 104 59\nclick 146 59\nabandon\nclick 146 101\nclick 104 101\n"
        << 10 << true;
    QTest::newRow("invert folds a trace under way")
        << "click 104 59\nclick 146 59\nclick 146 101\ninvert\n"
        << 10 << true;
    QTest::newRow("undo after invert brings back the saved item") << ellipse
            + "close\ninvert\nundo\n" << 10 << true;
    QTest::newRow("hole by a second outline, then invert")
        << "click 104 59\nclick 146 59\nclick 146 101\nclick 104 101\nclose\n"
           "click 117 72\nclick 132 72\nclick 132 87\nclick 117 87\nclose\ninvert\n"
        << 10 << false;
    QTest::newRow("undo after a new first press keeps the new start")
        << ellipse + "close\nclick 120 80\nundo\nclick 125 80\nclick 120 82\n"
        << 10 << true;
    QTest::newRow("presses outside the picture clamp")
        << "click -30 -30\nclick 300 -5\nclick 300 500\nclick -1 200\nclose\n"
        << 10 << true;
    QTest::newRow("odd probe") << ellipse + "click 22 49\n" << 7 << true;
    QTest::newRow("probe of one pixel") << ellipse + "close\n" << 1 << true;
    QTest::newRow("wide probe closes early") << ellipse << 80 << true;
    QTest::newRow("nothing confirmed") << "click 30 30\nclick 60 60\nundo\nundo\n" << 10 << true;
    QTest::newRow("right press only") << "abandon\nclose\ninvert\nundo\n" << 10 << false;
}

// Drives the window with presses at the same pixels and compares what it saves, and the
// selection state it ends in, with the replay.
void TestCut::replayEqualsTheWindowsSave()
{
    QFETCH(QString, events);
    QFETCH(int, probe);
    QFETCH(bool, transparent);
    const QList<OutlineEvent> parsed = outline(events);

    MainWindow window;
    MainWindowTester t(window);
    t.open(m_picture);
    QCOMPARE(t.image().size(), QSize(160, 120));
    const auto press = [&](QPoint pixel) {
        t.smartSelect(probeAround(pixel, probe), false);
        t.smartSelect(probeAround(pixel, probe), true);
    };
    for (const OutlineEvent &event : parsed) {
        switch (event.kind) {
        case OutlineEvent::Click:
            press(event.pixel);
            break;
        case OutlineEvent::Close:
            if (t.anchorPoint() != kNoTrace)
                press(t.traceStart());
            break;
        case OutlineEvent::Abandon:
            t.smartSelect(probeAround({ 1, 1 }, probe), true, true);
            break;
        case OutlineEvent::Undo:
            t.undoStack().undo();
            break;
        case OutlineEvent::Invert:
            t.ui()->actionInvert->trigger();
            break;
        }
    }
    if (transparent)
        t.ui()->actionTransparent->trigger();
    const QString saved = QDir(m_folder.path()).filePath(QStringLiteral("window.png"));
    QFile::remove(saved);
    t.save(saved);

    const QImage picture = readPicture(m_picture);
    const QList<quint16> edges = findEdges(picture);
    QCOMPARE(edges, t.edgeMap());
    OutlineReplay replay(picture.size(), edges, probe);
    replay.apply(parsed);
    QCOMPARE(replay.anchorPoint(), t.anchorPoint());
    QCOMPARE(replay.traceStart(), t.traceStart());
    QCOMPARE(replay.selectionPath(), t.selectionPath());
    QCOMPARE(replay.tracePath(), t.tracePath());
    QCOMPARE(replay.hasSelection(), t.selectionItem() != nullptr);
    if (t.selectionItem())
        QCOMPARE(replay.shownPath(), t.selectionItem()->path());

    QString error;
    const QImage cut = cutOut(picture, edges, parsed, probe,
        transparent ? QColor(Qt::transparent) : QColor(Qt::white), &error);
    if (!t.selectionItem()) {
        QVERIFY(!QFileInfo::exists(saved));
        QVERIFY(cut.isNull());
        QVERIFY(error.contains(QStringLiteral("selects nothing")));
        return;
    }
    QVERIFY2(!cut.isNull(), qPrintable(error));
    const QImage fromWindow = QImage(saved).convertToFormat(QImage::Format_ARGB32);
    const QString difference = firstDifference(fromWindow, cut);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// The program, running without a GUI application, writes the library's pixels.
void TestCut::executableWritesWhatTheLibraryComputes()
{
    QTemporaryDir out;
    const QString outlineFile = QDir(out.path()).filePath(QStringLiteral("shape.txt"));
    const QString events = QStringLiteral("click 104 59\nclick 146 59\nclick 146 101\n"
                                          "click 104 101\nclose\n");
    {
        QFile file(outlineFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(events.toUtf8());
    }
    const QString png = QDir(out.path()).filePath(QStringLiteral("cut.png"));
    const QString jpg = QDir(out.path()).filePath(QStringLiteral("cut.JPEG"));
    const Run asPng = runCut({ "--outline", outlineFile, "--background", "#20406080", "--invert",
        "-q", "-o", png, m_picture });
    QCOMPARE(asPng.exitCode, 0);
    QVERIFY2(asPng.errors.isEmpty(), qPrintable(asPng.errors));
    const Run asJpg = runCut({ "--outline", outlineFile, "-o", jpg, m_picture });
    QCOMPARE(asJpg.exitCode, 0);

    const QImage picture = readPicture(m_picture);
    const QList<quint16> edges = findEdges(picture);
    QList<OutlineEvent> inverted = outline(events);
    inverted.append({ OutlineEvent::Invert, {}, 0 });
    const QImage expected = cutOut(picture, edges, inverted, 10, QColor(0x20, 0x40, 0x60, 0x80));
    const QString difference
        = firstDifference(QImage(png).convertToFormat(QImage::Format_ARGB32), expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // The suffix picks JPEG in any case; it decodes close to the library's opaque result.
    QImageReader reader(jpg);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage decoded = reader.read().convertToFormat(QImage::Format_ARGB32);
    const QImage white = cutOut(picture, edges, outline(events), 10, Qt::white);
    QCOMPARE(decoded.size(), white.size());
    for (const QPoint p : { QPoint(125, 65), QPoint(40, 30), QPoint(110, 95) })
        QVERIFY(qAbs(qRed(decoded.pixel(p)) - qRed(white.pixel(p))) < 12);
}

void TestCut::edgesFileHoldsTheEdgeStrengths()
{
    QTemporaryDir out;
    const QString second = savePicture(
        objectPicture(QSize(61, 47)).mirrored(true, false), out.path(), QStringLiteral("b.png"));
    const QString folder = QDir(out.path()).filePath(QStringLiteral("edges"));
    const Run run = runCut({ "--edges", folder, m_picture, second });
    QCOMPARE(run.exitCode, 0);

    for (const QString &input : { m_picture, second }) {
        const QString name = QFileInfo(input).completeBaseName() + QStringLiteral(".edges.png");
        const QImage strengths(QDir(folder).filePath(name));
        QCOMPARE(strengths.format(), QImage::Format_Grayscale16);
        const QImage picture = readPicture(input);
        const QList<quint16> expected = findEdges(picture);
        QCOMPARE(strengths.size(), picture.size());
        quint16 strongest = 0;
        for (int y = 0; y < picture.height(); ++y) {
            const auto *row = reinterpret_cast<const quint16 *>(strengths.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                QVERIFY2(row[x] == expected[x + y * picture.width()],
                    qPrintable(QStringLiteral("%1 at (%2, %3)").arg(name).arg(x).arg(y)));
                strongest = qMax(strongest, row[x]);
            }
        }
        QVERIFY(strongest > 300); // the objects' outlines are there, not a blank map
    }
}

void TestCut::batchNamesOutputsAfterInputs()
{
    QTemporaryDir out;
    QDir(out.path()).mkpath(QStringLiteral("a"));
    QDir(out.path()).mkpath(QStringLiteral("b"));
    CutOptions options;
    options.inputs = QStringList { QDir(out.path()).filePath(QStringLiteral("a/shot.v1.png")),
        QDir(out.path()).filePath(QStringLiteral("b/shot.v2.jpg")) };
    options.output = QDir(out.path()).filePath(QStringLiteral("results"));
    options.events = outline(QStringLiteral("click 1 1\n"));
    options.format = "jpg";

    CutBatch batch(options);
    QString error;
    QVERIFY2(batch.plan(&error), qPrintable(error));
    QCOMPARE(batch.jobs().size(), 2);
    QCOMPARE(batch.jobs()[0].output, QDir(options.output).filePath(QStringLiteral("shot.v1.jpg")));
    QCOMPARE(batch.jobs()[1].output, QDir(options.output).filePath(QStringLiteral("shot.v2.jpg")));
    QCOMPARE(batch.jobs()[1].format, QByteArray("jpg"));
    QVERIFY(QFileInfo(options.output).isDir());

    // One input and a file name: the suffix decides, PNG when it names nothing known.
    options.inputs = QStringList { options.inputs.first() };
    for (const auto &[name, format] : { std::pair { "one.JPG", "jpg" }, { "one.jpeg", "jpg" },
             { "one.out", "png" }, { "one", "png" } }) {
        options.output = QDir(out.path()).filePath(QString::fromLatin1(name));
        options.format.clear();
        CutBatch single(options);
        QVERIFY2(single.plan(&error), qPrintable(error));
        QCOMPARE(single.jobs().first().output, options.output);
        QCOMPARE(single.jobs().first().format, QByteArray(format));
    }
}

// One bad picture among good ones: named with its reason, the others written, status 1.
void TestCut::badInputsFailAloneInABatch()
{
    QTemporaryDir in;
    QTemporaryDir out;
    const QString first = savePicture(objectPicture(), in.path(), QStringLiteral("first.png"));
    const QString tiny
        = savePicture(objectPicture(QSize(3, 3)), in.path(), QStringLiteral("tiny.png"));
    const QString last
        = savePicture(objectPicture().mirrored(false, true), in.path(), QStringLiteral("last.jpg"));
    const QString broken = QDir(in.path()).filePath(QStringLiteral("broken.png"));
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\n but then nothing a PNG decoder could use");
    }
    const QString missing = QDir(in.path()).filePath(QStringLiteral("missing.png"));
    // A result that exists from an earlier run stays as it was when its input fails.
    const QString kept = QDir(out.path()).filePath(QStringLiteral("broken.png"));
    {
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier result");
    }

    const Run run = runCut({ "-o", out.path(), "--click", "21,50", "--click", "55,26", "--click",
        "88,50", "--click", "55,74", first, broken, missing, tiny, last });
    QCOMPARE(run.exitCode, 1);

    const QStringList lines = run.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const auto lineAbout = [&](const QString &file) {
        for (const QString &line : lines)
            if (line.contains(file) && line.contains(QStringLiteral("error")))
                return line;
        return QString();
    };
    QVERIFY2(!lineAbout(broken).isEmpty(), qPrintable(run.errors));
    QVERIFY2(lineAbout(missing).contains(QStringLiteral("not found")), qPrintable(run.errors));
    QVERIFY2(lineAbout(tiny).contains(QStringLiteral("selects no pixel")), qPrintable(run.errors));
    QVERIFY2(lineAbout(first).isEmpty() && lineAbout(last).isEmpty(), qPrintable(run.errors));
    QVERIFY2(lines.last().contains(QStringLiteral("2 of 5")), qPrintable(run.errors));

    QCOMPARE(filesIn(out.path()), QStringList({ "broken.png", "first.png", "last.png" }));
    QFile keptFile(kept);
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll(), QByteArray("earlier result"));
    for (const QString &input : { first, last }) {
        const QImage written(
            QDir(out.path()).filePath(QFileInfo(input).completeBaseName() + ".png"));
        QCOMPARE(written.size(), QSize(160, 120));
        QCOMPARE(qAlpha(written.pixel(55, 50)), 255); // inside the ellipse, opaque over white
    }
}

void TestCut::badCommandLinesWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // @IN@: the test picture, @OUT@: the folder
    QTest::addColumn<QString>("named"); // what the message must mention

    const QStringList cut { "--click", "21,50", "--click", "55,26", "--click", "88,50" };
    QTest::newRow("unknown option")
        << QStringList { "--bogus", "-o", "@OUT@/a.png", "@IN@" } + cut << "bogus";
    QTest::newRow("missing value")
        << QStringList { "-o", "@OUT@/a.png", "@IN@" } + cut + QStringList { "--probe" }
        << "--probe";
    QTest::newRow("malformed colour")
        << QStringList { "--background", "#12345", "-o", "@OUT@/a.png", "@IN@" } + cut << "#12345";
    QTest::newRow("colour with eight digits and a stray")
        << QStringList { "--background", "#1122334x", "-o", "@OUT@/a.png", "@IN@" } + cut
        << "#1122334x";
    QTest::newRow("probe zero") << QStringList { "--probe", "0", "-o", "@OUT@/a.png", "@IN@" } + cut
                                << "--probe";
    QTest::newRow("unknown format")
        << QStringList { "--format", "gif", "-o", "@OUT@/a.png", "@IN@" } + cut << "gif";
    QTest::newRow("malformed click")
        << QStringList { "--click", "3;4", "-o", "@OUT@/a.png", "@IN@" } << "3;4";
    QTest::newRow("unreadable outline file")
        << QStringList { "--outline", "@OUT@/none.txt", "-o", "@OUT@/a.png", "@IN@" } << "none.txt";
    QTest::newRow("outline with a bad line") << QStringList { "--outline", "@OUT@/bad.txt", "-o",
        "@OUT@/a.png", "@IN@" } << "bad.txt:3:";
    QTest::newRow("no output") << QStringList { "@IN@" } + cut << "--output";
    QTest::newRow("no outline") << QStringList { "-o", "@OUT@/a.png", "@IN@" } << "outline";
    QTest::newRow("no input") << QStringList { "-o", "@OUT@/a.png" } + cut << "input";
    QTest::newRow("two inputs, one output name")
        << QStringList { "-o", "@OUT@/r", "@IN@", "@OUT@/sub/objects.png" } + cut << "both";
    QTest::newRow("the same input twice")
        << QStringList { "-o", "@OUT@/r", "@IN@", "@IN@" } + cut << "both";
    QTest::newRow("result over its input")
        << QStringList { "-o", "@IN@", "@IN@" } + cut << "overwritten";
    QTest::newRow("several inputs into a file")
        << QStringList { "-o", "@OUT@/bad.txt", "@IN@", "@OUT@/sub/objects.png" } + cut << "folder";
    QTest::newRow("edges collide with the result")
        << QStringList { "-o", "@OUT@/a.png", "--edges", "@OUT@/a.png", "@IN@" } + cut << "both";
}

void TestCut::badCommandLinesWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);

    QTemporaryDir out;
    QVERIFY(QDir(out.path()).mkpath(QStringLiteral("sub")));
    QVERIFY(QFile::copy(m_picture, QDir(out.path()).filePath(QStringLiteral("sub/objects.png"))));
    const QString badOutline = QDir(out.path()).filePath(QStringLiteral("bad.txt"));
    {
        QFile file(badOutline);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# made by hand\nclick 21 50\ncilck 55 26\nclick 88 50\n");
    }
    const QStringList before = filesIn(out.path());
    const QByteArray input = [this] {
        QFile file(m_picture);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("@IN@"), m_picture);
        argument.replace(QStringLiteral("@OUT@"), out.path());
    }
    const Run run = runCut(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.count(QLatin1Char('\n')) == 1 && run.errors.endsWith(QLatin1Char('\n')),
        qPrintable(run.errors));
    QVERIFY2(run.errors.contains(named), qPrintable(run.errors));

    QCOMPARE(filesIn(out.path()), before);
    QVERIFY(!QFileInfo::exists(QDir(out.path()).filePath(QStringLiteral("r"))));
    QVERIFY(filesIn(QDir(out.path()).filePath(QStringLiteral("sub"))).size() == 1);
    QFile original(m_picture);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), input);
}

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
