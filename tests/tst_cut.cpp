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

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

std::pair<int, QString> runCut(const QStringList &arguments)
{
    const auto [status, errors] = run(kCut, arguments);
    return { status, QString::fromUtf8(errors) };
}

// A shell runs the script, so that file names can hold bytes that are not UTF-8; it finds the
// program in $CUT and each given variable by its name.
std::pair<int, QByteArray> runShell(const QString &script, const QHash<QString, QString> &values)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUT"), kCut);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        environment.insert(it.key(), it.value());
    return run(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), script }, environment);
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

// Each entry of a folder with its type (the file type bits of lstat) and size, to show that a
// refused run changed nothing, not even what sits behind a special file.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    const QFileInfoList infos = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : infos) {
        QString type = info.isSymLink() ? QStringLiteral("link") : QString();
#ifdef Q_OS_UNIX
        struct stat status;
        if (::stat(QFile::encodeName(info.filePath()).constData(), &status) == 0)
            type += QString::number(status.st_mode & S_IFMT, 8);
#endif
        entries << QStringLiteral("%1 %2 %3").arg(info.fileName(), type).arg(info.size());
    }
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
    const QString m_square = QStringLiteral("click 104 59\nclick 146 59\nclick 146 101\nclose\n");
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
        const QString ellipse = "click 21 50\nclick 55 26\nclick 88 50\nclick 55 74\n";
        const QString square = "click 104 59\nclick 146 59\nclick 146 101\n";
        const QString hole = "click 117 72\nclick 132 72\nclick 132 87\nclick 117 87\n";
        const QList<std::pair<const char *, QString>> outlines {
            { "closed by close", ellipse + "close\n" },
            // The close after it finds no trace under way and must not start one.
            { "closed by a click near the start",
                ellipse + "click 23 52\nclose\nclick 120 20\nclick 150 30\n" },
            { "undo inside a trace and after its close",
                ellipse + "undo\nclick 60 76\nclose\nundo\nclick 40 72\nclose\n" },
            { "abandoned stretches join the next trace",
                "click 104 59\nclick 146 59\nabandon\nclick 146 101\nclick 104 101\n" },
            { "invert mid-trace", square + "invert\n" },
            { "hole, then invert", square + "click 104 101\nclose\n" + hole + "close\ninvert\n" },
            // Where the two ways of following edges part (see traceOptionPicksTheEngine).
            { "far clicks", m_farClicks },
        };
        for (const auto &[name, events] : outlines) {
            QTest::addRow("%s, walk", name) << events << TraceMode::Walk;
            QTest::addRow("%s, shortest path", name) << events << TraceMode::ShortestPath;
        }
    }

    // Presses the window with the pointer on the same pixels, through its view at zoom 1, and
    // compares its save with the replay's cut-out.
    void replayEqualsTheWindowsSave()
    {
        QFETCH(QString, events);
        QFETCH(TraceMode, trace);
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
        QCOMPARE(QImage(saved).convertToFormat(QImage::Format_ARGB32),
            cutOut(picture, findEdges(picture), parsed, 10, trace, Qt::transparent));
    }

    void traceOptionPicksTheEngine_data()
    {
        QTest::addColumn<QStringList>("option");
        QTest::addColumn<TraceMode>("trace");
        QTest::newRow("default") << QStringList() << TraceMode::Walk;
        QTest::newRow("walk") << QStringList { "--trace", "walk" } << TraceMode::Walk;
        QTest::newRow("path") << QStringList { "--trace", "path" } << TraceMode::ShortestPath;
        QTest::newRow("path in capitals")
            << QStringList { "--trace", "PATH" } << TraceMode::ShortestPath;
    }

    // The program's cut-out is the one its option names, and the two differ on this outline,
    // so a mode that is read but not passed on cannot go unseen.
    void traceOptionPicksTheEngine()
    {
        QFETCH(QStringList, option);
        QFETCH(TraceMode, trace);
        QTemporaryDir out;
        const QString outline = out.filePath("far.txt"), cut = out.filePath("cut.png");
        QVERIFY(writeBytes(outline, m_farClicks.toUtf8()));
        const auto [status, errors] = runCut(QStringList { "-q", "--outline", outline, "-o", cut,
                                                 "--background", "transparent", m_picture }
            + option);
        QVERIFY2(status == 0 && errors.isEmpty(), qPrintable(errors));

        const QImage picture = readPicture(m_picture);
        const QList<quint16> edges = findEdges(picture);
        QList<OutlineEvent> events;
        QVERIFY(parseOutline(m_farClicks, outline, &events));
        const QImage walked = cutOut(picture, edges, events, 10, TraceMode::Walk, Qt::transparent);
        const QImage cheapest
            = cutOut(picture, edges, events, 10, TraceMode::ShortestPath, Qt::transparent);
        QVERIFY(!walked.isNull() && !cheapest.isNull());
        QVERIFY(walked != cheapest);
        QCOMPARE(QImage(cut).convertToFormat(QImage::Format_ARGB32),
            trace == TraceMode::Walk ? walked : cheapest);
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
                cutOut(picture, expected, events, 10, TraceMode::Walk,
                    QColor(0x20, 0x40, 0x60, 0x80)));
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
        QTest::newRow("unknown way of tracing")
            << QStringList { "--trace", "shortest" } + ok << "--trace: expected walk or path";
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

    void badOutlinesStopTheRun_data()
    {
        QTest::addColumn<QByteArray>("outline");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("named"); // what the message must say
        // The file's own name carries an escape sequence too, which the message must escape.
        const QString bad = QStringLiteral("shape\\x1b[1m.txt:");
        QTest::newRow("NUL ending a number early") << QByteArray("click 21 50\nclick 55 26\0JUNK\n",
            26) << 2 << bad + "2: control character U+0000";
        QTest::newRow("escape sequence before a word") << QByteArray(
            "click 21 50\n\x1b[2Jclick 55 26\n") << 2 << bad + "2: control character U+001B";
        QTest::newRow("delete inside a number")
            << QByteArray("click 21 5\x7f\n") << 2 << bad + "1: control character U+007F";
        QTest::newRow("C1 control sequence introducer") << QByteArray("close\nundo # \xc2\x9b"
                                                                      "2J\n")
                                                        << 2 << bad + "2: control character U+009B";
        QTest::newRow("carriage return inside a line")
            << QByteArray("click 21\r50\n") << 2 << bad + "1: control character U+000D";
        QTest::newRow("right-to-left override echoed escaped") << QByteArray(
            "click 21 50\n\xe2\x80\xae"
            "click 55 26\n") << 2 << bad + "2: unknown event \"\\u202eclick\"";
        // Not bad: tabs are blanks and Windows line ends are line ends.
        QTest::newRow("tabs and CRLF still read")
            << QByteArray("click\t104 59\r\nclick 146\t59\r\nclick 146 101\r\nclose\r\n") << 0
            << QString();
    }

    void badOutlinesStopTheRun()
    {
        QFETCH(QByteArray, outline);
        QFETCH(int, exitCode);
        QFETCH(QString, named);
        QTemporaryDir out;
        const QString file = out.filePath(QStringLiteral("shape\x1b[1m.txt"));
        QVERIFY(writeBytes(file, outline));
        const auto [status, errors]
            = run(kCut, { "-q", "--outline", file, "-o", out.filePath("cut.png"), m_picture });
        QCOMPARE(status, exitCode);
        QVERIFY2(terminalSafe(errors), errors.constData());
        QVERIFY2(QString::fromUtf8(errors).contains(named), errors.constData());
        QCOMPARE(QFileInfo::exists(out.filePath("cut.png")), exitCode == 0);
    }

    void failingOutputsWriteNothing_data()
    {
        QTest::addColumn<QString>("setup"); // a shell script run in the folder $D
        QTest::addColumn<QStringList>("arguments"); // @D@: that folder
        QTest::addColumn<QString>("named");
        const QStringList square { "--click", "104,59", "--click", "146,59", "--click", "146,101" };
        QTest::newRow("pipe as the output")
            << "mkfifo \"$D/cut.png\"" << square + QStringList { "-o", "@D@/cut.png" }
            << "--output @D@/cut.png: not a regular file";
        // As root a device node of its own, so that a fault cannot replace the system's; as
        // anyone else a link to /dev/null, which no one else may replace.
        QTest::newRow("device node as the output")
            << "if [ \"$(id -u)\" = 0 ]; then mknod \"$D/null\" c 1 3; "
               "else ln -s /dev/null \"$D/null\"; fi"
            << square + QStringList { "-o", "@D@/null" } << "--output @D@/null: not a regular file";
        QTest::newRow("link to a pipe as the edges, after a good output")
            << "mkfifo \"$D/pipe\" && ln -s pipe \"$D/edges.png\""
            << square + QStringList { "-o", "@D@/cut.png", "--edges", "@D@/edges.png" }
            << "--edges @D@/edges.png: not a regular file";
        QTest::newRow("pipe under a result's name in the output folder")
            << "mkdir \"$D/cuts\" && mkfifo \"$D/cuts/objects.png\""
            << square + QStringList { "-o", "@D@/cuts" } << "@D@/cuts/objects.png";
        QTest::newRow("link loop as the output")
            << "ln -s loop.png \"$D/loop.png\"" << square + QStringList { "-o", "@D@/loop.png" }
            << "leads to no file";
        QTest::newRow("JPEG format under a PNG name")
            << "true" << square + QStringList { "--format", "jpg", "-o", "@D@/cut.png" }
            << "--format jpg does not match the output name @D@/cut.png";
        QTest::newRow("edge strengths under a JPEG name")
            << "true" << square + QStringList { "-o", "@D@/cut.png", "--edges", "@D@/e.jpg" }
            << "the edge strengths are written as PNG";
        QTest::newRow("PNG format under a JPEG name in capitals")
            << "true" << square + QStringList { "--format", "png", "-o", "@D@/cut.JPEG" }
            << "--format png does not match";
    }

    void failingOutputsWriteNothing()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QTemporaryDir out;
        QCOMPARE(runShell(setup, { { "D", out.path() } }).first, 0);
        const auto everything
            = [&] { return snapshot(out.path()) + snapshot(out.filePath("cuts")); };
        const QStringList before = everything();
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("@D@"), out.path());
        const auto [status, errors] = run(kCut, arguments + QStringList { m_picture });
        QCOMPARE(status, 2);
        QVERIFY2(terminalSafe(errors) && errors.count('\n') == 1, errors.constData());
        QVERIFY2(QString::fromUtf8(errors).contains(named.replace("@D@", out.path())),
            errors.constData());
        QCOMPARE(everything(), before);
    }

    void badFilesAreNamedAndSkipped_data()
    {
        QTest::addColumn<QString>("setup"); // a shell script run in the folder $D
        QTest::addColumn<QString>("input"); // a shell word
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("named"); // what stderr must say; empty: nothing with -q
        QTest::newRow("name not UTF-8")
            << "cp \"$PICTURE\" \"$D/$(printf 'shot\\377.png')\""
            << "\"$D/$(printf 'shot\\377.png')\"" << QStringList { "-q" }
            << "shot\\xff.png: the file name is not valid UTF-8";
        QTest::newRow("link loop")
            << "ln -s loop.png \"$D/loop.png\""
            << "\"$D/loop.png\"" << QStringList { "-q" } << "loop.png: symbolic link loop";
        QTest::newRow("escape sequence in a missing name")
            << "true"
            << "\"$D/$(printf 'gone\\033[2J.png')\"" << QStringList { "-q" }
            << "gone\\x1b[2J.png: file not found";
        QTest::newRow("too tall for JPEG, said before the work")
            << "true"
            << "\"$TALL\"" << QStringList { "-q", "--format", "jpg" }
            << "tall.bmp: too tall for JPEG";
        QTest::newRow("decoder noise silenced")
            << "true"
            << "\"$NOISY\"" << QStringList { "-q" } << QString();
        QTest::newRow("decoder noise as the tool's message")
            << "true"
            << "\"$NOISY\"" << QStringList() << "velmora-cut: libpng warning: ";
    }

    // A bad input fails alone, named in a message that cannot drive the terminal; the good
    // picture beside it is still written.
    void badFilesAreNamedAndSkipped()
    {
        QFETCH(QString, setup);
        QFETCH(QString, input);
        QFETCH(QStringList, options);
        QFETCH(QString, named);
        QTemporaryDir out;
        const QString command = setup + QStringLiteral(" && exec \"$CUT\" --outline \"$OUTLINE\" ")
            + options.join(u' ') + QStringLiteral(" -o \"$D/cuts/\" \"$PICTURE\" ") + input;
        const QString outline = out.filePath("square.txt");
        QVERIFY(writeBytes(outline, m_square.toUtf8()));
        const auto [status, errors] = runShell(command,
            { { "D", out.path() }, { "PICTURE", m_picture }, { "OUTLINE", outline },
                { "TALL", m_tall }, { "NOISY", m_noisy } });
        const bool inputFails = options.contains("-q") && !named.isEmpty();
        QCOMPARE(status, inputFails ? 1 : 0);
        QVERIFY2(terminalSafe(errors), errors.constData());
        const QString said = QString::fromUtf8(errors);
        QVERIFY2(named.isEmpty() ? said.isEmpty() : said.contains(named), errors.constData());
        QVERIFY2(!said.contains("not found") || named.contains("not found"), errors.constData());
        QCOMPARE(said.count("] error: "), inputFails ? 1 : 0);
        const QString suffix = options.contains("jpg") ? ".jpg" : ".png";
        QStringList written { "objects" + suffix };
        if (!inputFails)
            written.prepend("noisy" + suffix);
        QCOMPARE(QDir(out.filePath("cuts")).entryList(QDir::Files, QDir::Name), written);
    }
};

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
