#include "cutbatch.h"
#include "mainwindowtester.h"

#include "edgeanalysis.h"
#include "picturefile.h"
#include "selectionedit.h"
#include "tracing.h"
#include "zelgraphicsview.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <QtMath>

#include <algorithm>

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

const QString kCut = QStringLiteral(VELMORA_BUILD_DIR "/tools/velmora-cut");

// Exit code (-1 when it crashed) and the raw bytes written to stderr.
std::pair<int, QByteArray> run(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(120000); // a hang ends with status 0, which no test expects
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return { status, process.readAllStandardError() };
}

// A shell runs the script, so that file names can hold bytes that are not UTF-8; it finds the
// program in $CUT, each given variable by its name and the arguments in "$@".
std::pair<int, QByteArray> runShell(
    const QString &script, const QHash<QString, QString> &values, const QStringList &arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUT"), kCut);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        environment.insert(it.key(), it.value());
    return run(
        QStringLiteral("/bin/sh"), QStringList { "-c", script, "sh" } + arguments, environment);
}

// Messages that cannot drive a terminal: one "velmora-cut: " line each, no control bytes.
bool terminalSafe(const QByteArray &errors)
{
    const bool plain = std::all_of(errors.cbegin(), errors.cend(),
        [](char c) { return c == '\n' || (uchar(c) >= 0x20 && c != 0x7f); });
    const QList<QByteArray> lines = errors.split('\n');
    return plain && errors.endsWith('\n') == !errors.isEmpty()
        && std::all_of(lines.cbegin(), lines.cend() - 1,
            [](const QByteArray &line) { return line.startsWith("velmora-cut: "); });
}

// Each entry of a folder with its kind and size, to show that a refused run changed nothing,
// not even what sits behind a special file.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    for (const QFileInfo &info : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        entries << QStringLiteral("%1 %2%3%4 %5")
                       .arg(info.fileName())
                       .arg(info.isSymLink())
                       .arg(info.isFile())
                       .arg(info.isDir())
                       .arg(info.size());
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(TraceMode)

class TestCut : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    const QString m_picture = m_folder.filePath(QStringLiteral("objects.png"));

    const QString m_noisy = m_folder.filePath(QStringLiteral("noisy.png"));
    const QString m_tall = m_folder.filePath(QStringLiteral("tall.bmp"));
    const QString m_farClicks = QStringLiteral("click 104 59\nclick 146 101\nclick 21 50\nclose\n");

private slots:
    void initTestCase()
    {
        QVERIFY(objectPicture().save(m_picture));
        // The decoder warns about a text chunk whose checksum is wrong, and reads the rest.
        QImage noisy = objectPicture();
        noisy.setText(QStringLiteral("Comment"), QStringLiteral("checksum spoilt below"));
        QBuffer buffer;
        QVERIFY(buffer.open(QIODevice::WriteOnly) && noisy.save(&buffer, "png"));
        QByteArray bytes = buffer.data();
        const qsizetype text = bytes.indexOf("tEXt");
        QVERIFY(text > 4);
        const qsizetype crc = text + 4 + qFromBigEndian<quint32>(bytes.constData() + text - 4);
        bytes[crc] = char(bytes.at(crc) ^ 0x55);
        QVERIFY(writeBytes(m_noisy, bytes));
        // Taller than any JPEG can be.
        QImage tall(1, 70000, QImage::Format_RGB32);
        tall.fill(Qt::darkCyan);
        QVERIFY(tall.save(m_tall, "bmp"));
    }

    void replayEqualsTheWindowsSave_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<TraceMode>("trace");
        QTest::addColumn<QStringList>("option"); // how the program is told the way of tracing
        const QString ellipse = "click 21 50\nclick 55 26\nclick 88 50\nclick 55 74\n";
        const QString square = "click 104 59\nclick 146 59\nclick 146 101\n";
        const QString hole = "click 117 72\nclick 132 72\nclick 132 87\nclick 117 87\n";
        const QList<std::pair<const char *, QString>> outlines {
            // The close after it finds no trace under way and must not start one.
            { "closed by a click near the start",
                ellipse + "click 23 52\nclose\nclick 120 20\nclick 150 30\n" },
            { "undo inside a trace and after its close",
                ellipse + "undo\nclick 60 76\nclose\nundo\nclick 40 72\nclose\n" },
            { "abandoned stretches join the next trace",
                "click 104 59\nclick 146 59\nabandon\nclick 146 101\nclick 104 101\n" },
            { "invert mid-trace", square + "invert\n" },
            { "hole, then invert", square + "click 104 101\nclose\n" + hole + "close\ninvert\n" },
            // Where the two ways of following edges part, so a mode read but not passed on
            // shows.
            { "far clicks", m_farClicks },
        };
        const QStringList walk[] = { {}, { "--trace", "walk" } };
        const QStringList path[] = { { "--trace", "path" }, { "--trace", "PATH" } };
        for (const auto &[name, events] : outlines) {
            const bool other = name[0] == 'f' || name[0] == 'i';
            QTest::addRow("%s, walk", name) << events << TraceMode::Walk << walk[other];
            QTest::addRow("%s, shortest path", name)
                << events << TraceMode::ShortestPath << path[other];
        }
    }

    // Presses the window with the pointer on the same pixels, through its view at zoom 1, and
    // compares its save with the replay's cut-out and with the program's.
    void replayEqualsTheWindowsSave()
    {
        QFETCH(QString, events);
        QFETCH(TraceMode, trace);
        QFETCH(QStringList, option);
        QList<OutlineEvent> parsed;
        QVERIFY(parseOutline(events, QStringLiteral("test"), &parsed));
        MainWindow window;
        MainWindowTester t(window);
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        t.open(m_picture);
        // Set either way: the window starts in the mode the previous row left in the settings.
        t.ui()->actionFollowEdges->setChecked(trace == TraceMode::ShortestPath);
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
        const QList<quint16> edges = findEdges(picture);
        const QImage expected = cutOut(picture, edges, parsed, 10, trace, Qt::transparent);
        QCOMPARE(QImage(saved).convertToFormat(QImage::Format_ARGB32), expected);
        if (events == m_farClicks) {
            const TraceMode other
                = trace == TraceMode::Walk ? TraceMode::ShortestPath : TraceMode::Walk;
            QVERIFY(cutOut(picture, edges, parsed, 10, other, Qt::transparent) != expected);
        }

        const QString outline = m_folder.filePath("outline.txt"),
                      cut = m_folder.filePath("cut.png");
        QVERIFY(writeBytes(outline, events.toUtf8()));
        const auto [status, errors] = run(kCut,
            QStringList {
                "-q", "--outline", outline, "-o", cut, "--background", "transparent", m_picture }
                + option);
        QVERIFY2(status == 0 && errors.isEmpty(), errors.constData());
        QCOMPARE(QImage(cut).convertToFormat(QImage::Format_ARGB32), expected);
    }

    // Each good picture's result and edge strengths are written, named after it; each bad one
    // fails alone, named with its reason in a message that cannot drive the terminal, and an
    // earlier result under its name is left alone.
    void batchWritesTheGoodAndNamesTheBad()
    {
        QTemporaryDir in;
        const QString cuts = in.filePath("cuts/"), edges = in.filePath("edges/");
        const QString outline = in.filePath("shape.txt"), small = in.filePath("small.jpg");
        const QString broken = in.filePath("broken.png"), tiny = in.filePath("tiny.png");
        QByteArray shape = "click 104 59\nclick 146 59\nclick 146 101\nclick 104 101\nclose\n";
        QVERIFY(writeBytes(outline, shape) && objectPicture({ 3, 3 }).save(tiny));
        QVERIFY(objectPicture({ 61, 47 }).mirrored(true, false).save(small));
        QVERIFY(writeBytes(broken, "\x89PNG\r\n\x1a\n and no more"));
        QVERIFY(QDir().mkpath(cuts) && writeBytes(cuts + "broken.png", "earlier result"));

        // The names not UTF-8 and with an escape sequence are made by the shell.
        const auto [exitCode, errors]
            = runShell("cp \"$1\" \"$D/$(printf 'shot\\377.png')\" && \"$CUT\" \"$@\" "
                       "\"$D/$(printf 'shot\\377.png')\" \"$D/$(printf 'gone\\033[2J.png')\"; "
                       "s=$?; rm \"$D/$(printf 'shot\\377.png')\"; exit $s",
                { { "D", in.path() } },
                { m_picture, broken, tiny, small, m_noisy, "--outline", outline, "--background",
                    "#20406080", "--invert", "-q", "-o", cuts, "--edges", edges });
        QCOMPARE(exitCode, 1);
        QVERIFY2(terminalSafe(errors), errors.constData()); // libpng prints its errors itself
        const QString said = QString::fromUtf8(errors);
        QCOMPARE(said.count(QStringLiteral("] error: ")), 4); // quiet about the good ones
        for (const QString &text : { broken + ": damaged", tiny + ": the outline selects no pixel",
                 QStringLiteral("shot\\xff.png: the file name is not valid UTF-8"),
                 QStringLiteral("gone\\x1b[2J.png: file not found") })
            QVERIFY2(said.contains(text), qPrintable(said));
        QVERIFY2(!said.contains("warning"), qPrintable(said)); // the decoder's noise, silenced
        QCOMPARE(QDir(cuts).entryList(QDir::Files),
            QStringList({ "broken.png", "noisy.png", "objects.png", "small.png" }));
        QCOMPARE(QFileInfo(cuts + "broken.png").size(), qint64(strlen("earlier result")));

        QList<OutlineEvent> events;
        QVERIFY(parseOutline(QString::fromLatin1(shape + "invert\n"), outline, &events));
        for (const QString &input : { m_picture, small }) {
            const QString name = QFileInfo(input).completeBaseName();
            const QImage picture = readPicture(input);
            const QList<quint16> expected = findEdges(picture);
            QCOMPARE(QImage(cuts + name + ".png").convertToFormat(QImage::Format_ARGB32),
                cutOut(picture, expected, events, 10, TraceMode::Walk,
                    QColor(0x20, 0x40, 0x60, 0x80)));
            // The raw strengths, element x + y * W, seen as a 16-bit grey picture.
            const QImage strengths(reinterpret_cast<const uchar *>(expected.constData()),
                picture.width(), picture.height(), 2 * picture.width(), QImage::Format_Grayscale16);
            QCOMPARE(QImage(edges + name + ".edges.png"), strengths);
        }

        // Not quiet, the decoder's warning is the program's own message; a picture too tall
        // for the format is refused before the work.
        const auto [status, noise] = run(kCut,
            { "--click", "104,59", "--click", "146,59", "--click", "146,101", "--format", "jpg",
                "-o", in.filePath("jpegs/"), m_tall, m_noisy });
        QCOMPARE(status, 1);
        QVERIFY2(terminalSafe(noise) && noise.contains("velmora-cut: libpng warning: ")
                && noise.contains("tall.bmp: too tall for JPEG"),
            noise.constData());
        QCOMPARE(QDir(in.filePath("jpegs")).entryList(QDir::Files), QStringList("noisy.jpg"));
    }

    void refusedRunsWriteNothing_data()
    {
        QTest::addColumn<QStringList>("arguments"); // @D@: a new folder, @IN@: the test picture
        QTest::addColumn<QString>("named"); // what the message must say
        QTest::addColumn<QString>("setup"); // a shell script run first, the folder in $D
        QTest::addColumn<QByteArray>("outline"); // written to @OUTLINE@
        QTest::addColumn<int>("exitCode");
        const auto row
            = [](const char *tag, const QStringList &arguments, const QString &named,
                  const QString &setup = {}, const QByteArray &outline = {}, int exitCode = 2) {
                  QTest::newRow(tag) << arguments << named << setup << outline << exitCode;
              };
        const QStringList ok { "-o", "@D@/a.png", "@IN@", "--click", "21,50", "--click", "55,26" };
        row("bad colour", QStringList { "--background", "#12345" } + ok, "#12345");
        row("unknown way of tracing", QStringList { "--trace", "shortest" } + ok,
            "--trace: expected walk or path");
        row("unreadable outline file", QStringList { "--outline", "@D@/none.txt" } + ok,
            "none.txt");
        row("result over its input", { "-o", "@IN@", "@IN@", "--click", "1,1" }, "overwritten");

        // The file's own name carries an escape sequence too, which the message must escape.
        const QStringList replay { "-q", "--outline", "@OUTLINE@", "-o", "@D@/cut.png", "@IN@" };
        const QString bad = QStringLiteral("shape\\x1b[1m.txt:");
        row("NUL ending a number early", replay, bad + "2: control character U+0000", {},
            QByteArray("click 21 50\nclick 55 26\0JUNK\n", 26));
        row("delete inside a number", replay, bad + "1: control character U+007F", {},
            "click 21 5\x7f\n");
        row("C1 control sequence introducer", replay, bad + "2: control character U+009B", {},
            "close\nundo # \xc2\x9b"
            "2J\n");
        row("carriage return inside a line", replay, bad + "1: control character U+000D", {},
            "click 21\r50\n");
        row("right-to-left override echoed escaped", replay,
            bad + "2: unknown event \"\\u202eclick\"", {},
            "click 21 50\n\xe2\x80\xae"
            "click 55 26\n");
        // Not refused: tabs are blanks and Windows line ends are line ends.
        row("tabs and CRLF still read", replay, {}, {},
            "click\t104 59\r\nclick 146\t59\r\nclick 146 101\r\nclose\r\n", 0);

        const QStringList square { "--click", "104,59", "--click", "146,59", "--click", "146,101",
            "@IN@", "-o" };
        row("pipe as the output", square + QStringList { "@D@/cut.png" },
            "--output @D@/cut.png: not a regular file", "mkfifo \"$D/cut.png\"");
        // As root a device node of its own, so that a fault cannot replace the system's; as
        // anyone else a link to /dev/null, which no one else may replace.
        row("device node as the output", square + QStringList { "@D@/null" },
            "--output @D@/null: not a regular file",
            "if [ \"$(id -u)\" = 0 ]; then mknod \"$D/null\" c 1 3; "
            "else ln -s /dev/null \"$D/null\"; fi");
        row("link to a pipe as the edges, after a good output",
            square + QStringList { "@D@/cut.png", "--edges", "@D@/edges.png" },
            "--edges @D@/edges.png: not a regular file",
            "mkfifo \"$D/pipe\" && ln -s pipe \"$D/edges.png\"");
        row("pipe under a result's name in the output folder", square + QStringList { "@D@/cuts" },
            "@D@/cuts/objects.png", "mkdir \"$D/cuts\" && mkfifo \"$D/cuts/objects.png\"");
        row("link loop as the output", square + QStringList { "@D@/loop.png" }, "leads to no file",
            "ln -s loop.png \"$D/loop.png\"");
        row("edge strengths under a JPEG name",
            square + QStringList { "@D@/cut.png", "--edges", "@D@/e.jpg" },
            "the edge strengths are written as PNG");
        row("PNG format under a JPEG name in capitals",
            square + QStringList { "@D@/cut.JPEG", "--format", "png" },
            "--format png does not match the output name @D@/cut.JPEG");
    }

    // A refused run says why in one line that cannot drive a terminal, and changes nothing,
    // not even what sits behind a special file.
    void refusedRunsWriteNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QFETCH(QString, setup);
        QFETCH(QByteArray, outline);
        QFETCH(int, exitCode);
        QTemporaryDir out;
        const QString file = out.filePath(QStringLiteral("shape\x1b[1m.txt"));
        QVERIFY(writeBytes(file, outline));
        QCOMPARE(runShell(setup.isEmpty() ? "true" : setup, { { "D", out.path() } }).first, 0);
        const auto everything
            = [&] { return snapshot(out.path()) + snapshot(out.filePath("cuts")); };
        const QStringList before = everything();
        for (QString &argument : arguments)
            argument.replace("@IN@", m_picture)
                .replace("@D@", out.path())
                .replace("@OUTLINE@", file);
        const auto [status, errors] = run(kCut, arguments);
        QCOMPARE(status, exitCode);
        QVERIFY2(terminalSafe(errors) && errors.count('\n') == (exitCode == 0 ? 0 : 1),
            errors.constData());
        QVERIFY2(QString::fromUtf8(errors).contains(named.replace("@D@", out.path())),
            errors.constData());
        QCOMPARE(everything() == before, exitCode != 0);
        QCOMPARE(QImage(m_picture).convertToFormat(QImage::Format_ARGB32), objectPicture());
    }
};

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
