#include "cutbatch.h"
#include "mainwindowtester.h"

#include "edgeanalysis.h"
#include "picturefile.h"
#include "selectionedit.h"
#include "tracing.h"
#include "zelgraphicsview.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

namespace
{

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

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Exit code (-1 when it crashed) and what it wrote to stderr.
std::pair<int, QString> runCut(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VELMORA_BUILD_DIR "/tools/velmora-cut"), arguments);
    process.waitForFinished(120000); // a hang ends with status 0, which no test expects
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return { status, QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace

class TestCut : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    const QString m_picture = m_folder.filePath(QStringLiteral("objects.png"));

private slots:
    void initTestCase() { QVERIFY(objectPicture().save(m_picture)); }

    void replayEqualsTheWindowsSave_data()
    {
        QTest::addColumn<QString>("events");
        const QString ellipse = "click 21 50\nclick 55 26\nclick 88 50\nclick 55 74\n";
        const QString square = "click 104 59\nclick 146 59\nclick 146 101\n";
        const QString hole = "click 117 72\nclick 132 72\nclick 132 87\nclick 117 87\n";
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
    }

    // Presses the window with the pointer on the same pixels, through its view at zoom 1, and
    // compares its save with the replay's cut-out.
    void replayEqualsTheWindowsSave()
    {
        QFETCH(QString, events);
        QList<OutlineEvent> parsed;
        QVERIFY(parseOutline(events, QStringLiteral("test"), &parsed));
        MainWindow window;
        MainWindowTester t(window);
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        t.open(m_picture);
        ZelGraphicsView *view = t.ui()->graphicsView;
        QCoreApplication::processEvents(); // the layout's last resize, which refits the view
        view->resetTransform();
        QSignalSpy presses(view, &ZelGraphicsView::SmartSelect);
        const auto press = [&](QPoint pixel, Qt::MouseButton button, const QRect &aimed) {
            // The viewport pixel that shows the picture pixel, found as the view maps it back.
            const QPoint scenePixel = pixel + QPoint(kSceneOffset, kSceneOffset);
            const QPoint pointer = view->mapFromScene(QPointF(scenePixel));
            const QPointF shown = view->mapToScene(pointer);
            QVERIFY(view->viewport()->rect().contains(pointer));
            QCOMPARE(QPoint(qFloor(shown.x()), qFloor(shown.y())), scenePixel);
            QTest::mouseMove(view->viewport(), pointer);
            QVERIFY(view->transform().isIdentity());
            QTest::mousePress(view->viewport(), button, {}, pointer);
            QTest::mouseRelease(view->viewport(), button, {}, pointer);
            QVERIFY(!presses.isEmpty());
            QCOMPARE(presses.last().at(0).toRect(), aimed);
            QCOMPARE(presses.last().mid(1), QVariantList({ true, button == Qt::RightButton }));
        };
        for (const OutlineEvent &event : parsed) {
            if (event.kind == OutlineEvent::Click)
                press(event.pixel, Qt::LeftButton, probeUnderPointer(event.pixel, 10));
            else if (event.kind == OutlineEvent::Close && t.anchorPoint() != kNoTrace) {
                // The pointer's pixel for which the window aims exactly at the trace's start.
                const QPoint start = t.traceStart();
                const QRect aimed = probeAround(start, 10);
                press(start + aimed.topLeft() - probeUnderPointer(start, 10).topLeft(),
                    Qt::LeftButton, aimed);
            } else if (event.kind == OutlineEvent::Abandon)
                press({ 1, 1 }, Qt::RightButton, probeUnderPointer({ 1, 1 }, 10));
            else if (event.kind == OutlineEvent::Undo)
                t.undoStack().undo();
            else if (event.kind == OutlineEvent::Invert)
                t.ui()->actionInvert->trigger();
            if (QTest::currentTestFailed())
                return;
        }
        t.ui()->actionTransparent->trigger(); // keeps the soft alpha of the mask in sight
        const QString saved = m_folder.filePath(QTest::currentDataTag() + QStringLiteral(".png"));
        t.save(saved);
        const QImage picture = readPicture(m_picture);
        QCOMPARE(QImage(saved).convertToFormat(QImage::Format_ARGB32),
            cutOut(picture, findEdges(picture), parsed, 10, Qt::transparent));
    }

    // Each good picture's result and edge strengths are written, named after it; each bad one
    // is named with its reason, and an earlier result under its name is left alone.
    void batchWritesTheGoodAndNamesTheBad()
    {
        QTemporaryDir in;
        const QString cuts = in.filePath("cuts/"), edges = in.filePath("edges/");
        const QString outline = in.filePath("shape.txt"), small = in.filePath("small.jpg");
        const QString broken = in.filePath("broken.png"), tiny = in.filePath("tiny.png");
        const QString missing = in.filePath("missing.png");
        QByteArray shape = "click 104 59\nclick 146 59\nclick 146 101\nclick 104 101\nclose\n";
        QVERIFY(writeBytes(outline, shape) && objectPicture({ 3, 3 }).save(tiny));
        QVERIFY(objectPicture({ 61, 47 }).mirrored(true, false).save(small));
        QVERIFY(writeBytes(broken, "\x89PNG\r\n\x1a\n and no more"));
        QVERIFY(QDir().mkpath(cuts) && writeBytes(cuts + "broken.png", "earlier result"));

        const auto [exitCode, errors]
            = runCut({ "--outline", outline, "--background", "#20406080", "--invert", "-q", "-o",
                cuts, "--edges", edges, m_picture, broken, missing, tiny, small });
        QCOMPARE(exitCode, 1);
        QCOMPARE(errors.count(QStringLiteral("] error: ")), 3); // quiet about the good ones
        for (const QString &text : { broken, missing, tiny, QStringLiteral("not found"),
                 QStringLiteral("selects no pixel") })
            QVERIFY2(errors.contains(text), qPrintable(errors));
        QCOMPARE(QDir(cuts).entryList(QDir::Files),
            QStringList({ "broken.png", "objects.png", "small.png" }));
        QCOMPARE(QFileInfo(cuts + "broken.png").size(), qint64(strlen("earlier result")));

        QList<OutlineEvent> events;
        QVERIFY(parseOutline(QString::fromLatin1(shape + "invert\n"), outline, &events));
        for (const QString &input : { m_picture, small }) {
            const QString name = QFileInfo(input).completeBaseName();
            const QImage picture = readPicture(input);
            const QList<quint16> expected = findEdges(picture);
            QCOMPARE(QImage(cuts + name + ".png").convertToFormat(QImage::Format_ARGB32),
                cutOut(picture, expected, events, 10, QColor(0x20, 0x40, 0x60, 0x80)));
            // The raw strengths, element x + y * W, seen as a 16-bit grey picture.
            const QImage strengths(reinterpret_cast<const uchar *>(expected.constData()),
                picture.width(), picture.height(), 2 * picture.width(), QImage::Format_Grayscale16);
            QCOMPARE(QImage(edges + name + ".edges.png"), strengths);
        }
    }

    void badCommandLinesWriteNothing_data()
    {
        QTest::addColumn<QStringList>("arguments"); // @IN@: the test picture, @OUT@: a new folder
        QTest::addColumn<QString>("named"); // what the message must mention
        QStringList ok { "-o", "@OUT@/a.png", "@IN@", "--click", "21,50", "--click", "55,26" };
        QTest::newRow("unknown option") << QStringList { "--bogus" } + ok << "bogus";
        QTest::newRow("missing value") << ok + QStringList { "--probe" } << "--probe";
        QTest::newRow("bad colour") << QStringList { "--background", "#12345" } + ok << "#12345";
        QTest::newRow("unreadable outline file")
            << QStringList { "--outline", "@OUT@/none.txt" } + ok << "none.txt";
        QTest::newRow("outline with a bad line")
            << QStringList { "--outline", "@OUT@/bad.txt" } + ok << "bad.txt:3:";
        QTest::newRow("result over its input")
            << QStringList { "-o", "@IN@", "@IN@", "--click", "1,1" } << "overwritten";
    }

    void badCommandLinesWriteNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QTemporaryDir out;
        QVERIFY(writeBytes(out.filePath("bad.txt"), "# by hand\nclick 21 50\ncilck 55 26\n"));
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("@IN@"), m_picture).replace("@OUT@", out.path());
        const auto [exitCode, errors] = runCut(arguments);
        QCOMPARE(exitCode, 2);
        QVERIFY2(errors.count(u'\n') == 1 && errors.endsWith(u'\n'), qPrintable(errors));
        QVERIFY2(errors.contains(named), qPrintable(errors));
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList { "bad.txt" });
        QCOMPARE(QImage(m_picture).convertToFormat(QImage::Format_ARGB32), objectPicture());
    }
};

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
