// Times what a user waits for in the window: Open of a camera-sized photo (until it returns,
// until its edges are ready, how long the window stops answering meanwhile, and the
// process's peak memory), and a pointer move that redraws a long live stretch over a
// 24-megapixel picture.
// Usage: bench_window [runs]      (runs the three measurements in child processes)
//        bench_window open W H    (one Open of a W x H JPEG; prints seconds and peak memory)
//        bench_window move RUNS   (pointer moves over 6000 x 4000)
//        bench_window trace CLICKS (a zigzag trace of CLICKS presses over 6000 x 4000: time of
//                                   each press to the end of its repaint, and the memory the
//                                   trace and its undo steps take)

#include "median.h"
#include "peakmemory.h"
#include "../tests/mainwindowtester.h"
#include "edgeanalysis.h"
#include "zelgraphicsview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsPathItem>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Smooth gradients, a disc and a little noise: photo-like work for the decoder and the edges.
QImage photoLike(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            const qint64 dx = x - width / 2;
            const qint64 dy = y - height / 2;
            const bool inside = dx * dx + dy * dy < qint64(height) * height / 9;
            const int r = std::clamp((inside ? 200 : x * 160 / width) + noise, 0, 255);
            const int g = std::clamp((inside ? 60 : y * 200 / height) + noise, 0, 255);
            const int b = std::clamp((inside ? 50 : 140) + noise, 0, 255);
            row[x] = qRgb(r, g, b);
        }
    }
    return picture;
}

void sendMouse(QWidget *to, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton)
{
    QMouseEvent event(type, at, to->mapToGlobal(at), button,
                      type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &event);
}

// What the process holds now, where the system says so.
double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0; // not measured here
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

int benchOpen(int width, int height)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    photoLike(width, height).save(path, "JPEG", 92);
    const double beforeOpen = peakMegabytes();

    MainWindow window;
    MainWindowTester t(window);
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.openPicture(path);
    const double returned = clock.nsecsElapsed() / 1e9;
    if (t.image().size() != QSize(width, height)) {
        std::fprintf(stderr, "the photo did not open\n");
        return 1;
    }
    // How long the event loop is kept away while the edges are found: the longest gap
    // between the ticks of a timer that wants to run every millisecond.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(
        &tick, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    tick.start(1);
    t.waitForEdges();
    tick.stop();
    const double ready = clock.nsecsElapsed() / 1e9;

    clock.start();
    const QList<quint16> edges = findEdges(t.image());
    const double analysis = clock.nsecsElapsed() / 1e9;
    std::printf("open %dx%d (%.1f MP): returns after %.3f s, edges ready after %.3f s (the "
                "analysis alone %.3f s); event loop away at most %lld ms meanwhile; peak memory "
                "%.0f MB (%.0f MB before Open)\n",
        width, height, width * double(height) / 1e6, returned, ready, analysis,
        static_cast<long long>(longestGap), peakMegabytes(), beforeOpen);
    return edges == t.edgeMap() ? 0 : 1;
}

// A 24-megapixel photo opened in a 1200 x 900 window, where the measurements start.
void openPhoto(const QTemporaryDir &dir, MainWindow &window, MainWindowTester &t)
{
    const QString path = dir.filePath(QStringLiteral("photo.png"));
    photoLike(6000, 4000).save(path, "PNG", 100);
    window.resize(1200, 900);
    window.show();
    t.open(path);
}

int benchMove(int runs)
{
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTester t(window);
    openPhoto(dir, window, t);
    ZelGraphicsView *view = t.ui()->graphicsView;
    QWidget *viewport = view->viewport();

    // Anchor near the left; the pointer then moves about 3000 picture pixels away.
    const QPoint start = view->mapFromScene(QPointF(1500 + 10, 2000 + 10));
    const QPoint far = view->mapFromScene(QPointF(4500 + 10, 2000 + 10));
    sendMouse(viewport, QEvent::MouseMove, start);
    sendMouse(viewport, QEvent::MouseButtonPress, start, Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseButtonRelease, start, Qt::LeftButton);
    viewport->repaint();

    std::vector<double> times;
    std::vector<double> handling;
    qsizetype elements = 0;
    for (int i = 0; i < runs; ++i) {
        const QPoint at = far + QPoint(0, (i % 2) ? 1 : -1);
        QElapsedTimer clock;
        clock.start();
        sendMouse(viewport, QEvent::MouseMove, at);
        handling.push_back(clock.nsecsElapsed() / 1e6);
        viewport->repaint();
        times.push_back(clock.nsecsElapsed() / 1e6);
        elements = t.traceItem() ? t.traceItem()->path().elementCount() : 0;
    }
    std::printf("move over 6000x4000, live stretch of %lld points: median %.2f ms, max %.2f ms "
                "(%d moves, move event to end of repaint; %.2f ms of it before the repaint)\n",
                static_cast<long long>(elements), median(times),
                *std::max_element(times.begin(), times.end()), runs, median(handling));
    return elements > 2000 ? 0 : 1;
}

int benchTrace(int clicks)
{
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTester t(window);
    openPhoto(dir, window, t);
    ZelGraphicsView *view = t.ui()->graphicsView;
    QWidget *viewport = view->viewport();
    viewport->repaint();
    const double opened = residentMegabytes();
    const double openedPeak = peakMegabytes();

    // The trace starts at the bottom left, far from everything after it; then the presses
    // zigzag between two rows 200 pixels apart, 5 pixels further right each time.
    const auto pointer = [&](int i) {
        const QPointF picture
            = i == 0 ? QPointF(100, 3800) : QPointF(300 + 5 * i, 1500 + (i % 2 ? 200 : 0));
        return view->mapFromScene(picture + QPointF(10, 10));
    };
    std::vector<double> times;
    std::vector<double> handling;
    for (int i = 0; i < clicks; ++i) {
        const QPoint at = pointer(i);
        sendMouse(viewport, QEvent::MouseMove, at); // the move that brings the pointer there
        QElapsedTimer clock;
        clock.start();
        sendMouse(viewport, QEvent::MouseButtonPress, at, Qt::LeftButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, at, Qt::LeftButton);
        handling.push_back(clock.nsecsElapsed() / 1e6);
        viewport->repaint();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    const double traced = residentMegabytes();
    const int elements = t.selectionItem() ? t.selectionItem()->path().elementCount() : 0;
    const auto lastHundred = [](const std::vector<double> &all) {
        return median(
            std::vector<double>(all.end() - std::min<size_t>(all.size(), 100), all.end()));
    };
    std::printf("trace of %d presses over 6000x4000 (%d path elements, %d undo steps), press to "
                "end of repaint: median %.2f ms, max %.2f ms, median of the last 100 %.2f ms; "
                "before the repaint: median %.2f ms, max %.2f ms, last 100 %.2f ms; memory "
                "%.0f MB after Open, %.0f MB after the trace (%.0f MB for the trace and its "
                "steps), peak %.0f MB (%.0f MB after Open)\n",
        clicks, elements, t.undoStack().count(), median(times),
        *std::max_element(times.begin(), times.end()), lastHundred(times), median(handling),
        *std::max_element(handling.begin(), handling.end()), lastHundred(handling), opened, traced,
        traced - opened, peakMegabytes(), openedPeak);
    return t.undoStack().count() == clicks - 1 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("open"))
        return benchOpen(args[2].toInt(), args[3].toInt());
    if (args.size() >= 3 && args[1] == QLatin1String("move"))
        return benchMove(args[2].toInt());
    if (args.size() >= 3 && args[1] == QLatin1String("trace"))
        return benchTrace(args[2].toInt());

    const int runs = args.size() >= 2 ? std::max(1, args[1].toInt()) : 31;
    int failed = 0;
    for (const QStringList &child : { QStringList { "open", "8660", "5773" },
                                      QStringList { "open", "6000", "4000" },
                                      QStringList { "move", QString::number(runs) },
                                      QStringList { "trace", "1000" } }) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QCoreApplication::applicationFilePath(), child);
        process.waitForFinished(-1);
        failed += process.exitCode() != 0;
    }
    return failed;
}
