#include "cutbatch.h"
#include "mainwindowtester.h"

#include "edgeanalysis.h"
#include "picturefile.h"
#include "selectionedit.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

const QString kProgram = QStringLiteral(VELMORA_BUILD_DIR "/tools/velmora-cut");

// A red ellipse and a blue square with a hole on a plain ground.
QImage objectPicture(QSize size = QSize(160, 120))
{
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(QColor(215, 205, 195));
    QPainter painter(&picture);
    painter.fillRect(QRect(105, 60, 40, 40), QColor(30, 50, 170));
    painter.fillRect(QRect(118, 73, 14, 14), QColor(220, 210, 190));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(190, 40, 30));
    painter.drawEllipse(QRect(20, 25, 70, 50));
    return picture;
}

// Writes bytes, or a picture when one is given; the path, empty on failure.
QString put(const QString &folder, const QString &name, const QByteArray &bytes,
    const QImage &picture = QImage())
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    const bool ok = picture.isNull() ? file.open(QIODevice::WriteOnly) && file.write(bytes) > 0
                                     : picture.save(path);
    return ok ? path : QString();
}

// Exit code (-1 when it crashed or hung) and what it wrote to stderr.
std::pair<int, QString> runCut(const QStringList &arguments)
{
    QProcess process;
    process.start(kProgram, arguments);
    const bool ended
        = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return { ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardError()) };
}

// Whether the picture in file has exactly the pixels of expected; says where it differs.
bool sameImage(const QString &file, const QImage &expected)
{
    const QImage written = QImage(file).convertToFormat(QImage::Format_ARGB32);
    for (int i = 0; written.size() == expected.size() && i < expected.width() * expected.height();
         ++i) {
        const QPoint p(i % expected.width(), i / expected.width());
        if (written.pixel(p) != expected.pixel(p)) {
            qWarning("%s differs at (%d, %d)", qPrintable(file), p.x(), p.y());
            return false;
        }
    }
    return written.size() == expected.size();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

class TestCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replayEqualsTheWindowsSave_data();
    void replayEqualsTheWindowsSave();
    void batchWritesTheGoodAndNamesTheBad();
    void badCommandLinesWriteNothing_data();
    void badCommandLinesWriteNothing();

private:
    QTemporaryDir m_folder;
    QString m_picture;
};

void TestCut::initTestCase()
{
    QVERIFY2(QFileInfo(kProgram).isExecutable(), qPrintable(kProgram + " is not built"));
    m_picture = put(m_folder.path(), QStringLiteral("objects.png"), {}, objectPicture());
    QVERIFY(!m_picture.isEmpty());
}

void TestCut::replayEqualsTheWindowsSave_data()
{
    QTest::addColumn<QString>("events");
    const QString ellipse = QStringLiteral("click 21 50\nclick 55 26\nclick 88 50\nclick 55 74\n");
    const QString square = QStringLiteral("click 104 59\nclick 146 59\nclick 146 101\n");
    const QString hole = QStringLiteral("click 117 72\nclick 132 72\nclick 132 87\nclick 117 87\n");
    QTest::newRow("closed by close") << ellipse + "close\n";
    // The close after it finds no trace under way and must not start one.
    QTest::newRow("closed by a click near the start")
        << ellipse + "click 23 52\nclose\nclick 120 20\nclick 150 30\n";
    QTest::newRow("undo inside a trace and after its close")
        << ellipse + "undo\nclick 60 76\nclose\nundo\nclick 40 72\nclose\n";
    QTest::newRow("abandoned stretches join the next trace")
        << "click 104 59\nclick 146 59\nabandon\nclick 146 101\nclick 104 101\n";
    QTest::newRow("invert mid-trace") << square + "invert\n";
    QTest::newRow("hole, then invert")
        << square + "click 104 101\nclose\n" + hole + "close\ninvert\n";
    QTest::newRow("nothing confirmed") << "click 30 30\nclick 60 60\nundo\nundo\n";
}

// Presses the window at the same pixels and compares what it saves with the replay's cut-out.
void TestCut::replayEqualsTheWindowsSave()
{
    QFETCH(QString, events);
    QList<OutlineEvent> parsed;
    QVERIFY(parseOutline(events, QStringLiteral("test"), &parsed));

    MainWindow window;
    MainWindowTester t(window);
    t.open(m_picture);
    for (const OutlineEvent &event : parsed) {
        const bool close = event.kind == OutlineEvent::Close && t.anchorPoint() != kNoTrace;
        if (event.kind == OutlineEvent::Click || close) {
            const QRect probe = probeAround(close ? t.traceStart() : event.pixel, 10);
            t.smartSelect(probe, false); // the move that brings the pointer there
            t.smartSelect(probe, true);
        } else if (event.kind == OutlineEvent::Abandon)
            t.smartSelect(probeAround({ 1, 1 }, 10), true, true);
        else if (event.kind == OutlineEvent::Undo)
            t.undoStack().undo();
        else if (event.kind == OutlineEvent::Invert)
            t.ui()->actionInvert->trigger();
    }
    t.ui()->actionTransparent->trigger(); // keeps the soft alpha of the mask in sight
    const QString saved = m_folder.filePath(QTest::currentDataTag() + QStringLiteral(".png"));
    t.save(saved);

    const QImage picture = readPicture(m_picture);
    const QImage cut = cutOut(picture, findEdges(picture), parsed, 10, Qt::transparent);
    QCOMPARE(cut.isNull(), !QFileInfo::exists(saved));
    QVERIFY(sameImage(saved, cut));
}

// A batch into folders: each good picture's result and edge strengths named after it and
// equal to what the library computes (the background read with alpha last, the final invert
// applied); each bad one named with its reason, the others still written, status 1.
void TestCut::batchWritesTheGoodAndNamesTheBad()
{
    QTemporaryDir in;
    const QString cuts = in.path() + QStringLiteral("/cuts/");
    const QString edgeFolder = in.path() + QStringLiteral("/edges/");
    QVERIFY(QDir().mkpath(cuts));
    const QByteArray shape = "click 104 59\nclick 146 59\nclick 146 101\nclick 104 101\nclose\n";
    const QString outline = put(in.path(), QStringLiteral("shape.txt"), shape);
    const QString small
        = put(in.path(), "small.jpg", {}, objectPicture(QSize(61, 47)).mirrored(true, false));
    const QString tiny = put(in.path(), "tiny.png", {}, objectPicture(QSize(3, 3)));
    const QString broken = put(in.path(), "broken.png", "\x89PNG\r\n\x1a\n and no more");
    const QString missing = in.path() + QStringLiteral("/missing.png");
    // A result from an earlier run stays as it was when its input fails.
    const QString kept = put(cuts, QStringLiteral("broken.png"), "earlier result");

    const auto [exitCode, errors]
        = runCut({ "--outline", outline, "--background", "#20406080", "--invert", "-q", "-o", cuts,
            "--edges", edgeFolder, m_picture, broken, missing, tiny, small });
    QCOMPARE(exitCode, 1);
    // Quiet: one report for each bad picture, none for the good ones.
    QCOMPARE(errors.count(QStringLiteral("] error: ")), 3);
    for (const QString &text :
        { broken, missing, tiny, QStringLiteral("not found"), QStringLiteral("selects no pixel") })
        QVERIFY2(errors.contains(text), qPrintable(errors));
    QCOMPARE(filesIn(cuts), QStringList({ "broken.png", "objects.png", "small.png" }));
    QFile keptFile(kept);
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll(), QByteArray("earlier result"));

    QList<OutlineEvent> events;
    QVERIFY(parseOutline(QString::fromLatin1(shape + "invert\n"), outline, &events));
    for (const QString &input : { m_picture, small }) {
        const QString name = QFileInfo(input).completeBaseName();
        const QImage picture = readPicture(input);
        const QList<quint16> expected = findEdges(picture);
        const QImage cut = cutOut(picture, expected, events, 10, QColor(0x20, 0x40, 0x60, 0x80));
        QVERIFY(sameImage(cuts + name + ".png", cut));

        // The raw strengths, element x + y * W, seen as a 16-bit grey picture.
        const QImage strengths(reinterpret_cast<const uchar *>(expected.constData()),
            picture.width(), picture.height(), 2 * picture.width(), QImage::Format_Grayscale16);
        QCOMPARE(QImage(edgeFolder + name + QStringLiteral(".edges.png")), strengths);
    }
}

void TestCut::badCommandLinesWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // @IN@: the test picture, @OUT@: a new folder
    QTest::addColumn<QString>("named"); // what the message must mention

    const QStringList good { "-o", "@OUT@/a.png", "@IN@", "--click", "21,50", "--click", "55,26" };
    QTest::newRow("unknown option") << QStringList { "--bogus" } + good << "bogus";
    QTest::newRow("missing value") << good + QStringList { "--probe" } << "--probe";
    QTest::newRow("malformed colour")
        << QStringList { "--background", "#12345" } + good << "#12345";
    QTest::newRow("unreadable outline file")
        << QStringList { "--outline", "@OUT@/none.txt" } + good << "none.txt";
    QTest::newRow("outline with a bad line")
        << QStringList { "--outline", "@OUT@/bad.txt" } + good << "bad.txt:3:";
    QTest::newRow("result over its input")
        << QStringList { "-o", "@IN@", "@IN@", "--click", "1,1" } << "overwritten";
}

void TestCut::badCommandLinesWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    QTemporaryDir out;
    put(out.path(), "bad.txt", "# by hand\nclick 21 50\ncilck 55 26\nclick 88 50\n");

    for (QString &argument : arguments)
        argument.replace(QStringLiteral("@IN@"), m_picture).replace("@OUT@", out.path());
    const auto [exitCode, errors] = runCut(arguments);
    QCOMPARE(exitCode, 2);
    QVERIFY2(errors.count(u'\n') == 1 && errors.endsWith(u'\n'), qPrintable(errors));
    QVERIFY2(errors.contains(named), qPrintable(errors));
    QCOMPARE(filesIn(out.path()), QStringList { "bad.txt" });
    QCOMPARE(QImage(m_picture).convertToFormat(QImage::Format_ARGB32), objectPicture());
}

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
