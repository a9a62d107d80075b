// The edge analysis runs beside the window: Open returns at once, the bar sees every value,
// a newer picture or a failed Open never mixes results, and an analysis can be stopped.

#include "edgeanalysis.h"
#include "mainwindowtester.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace
{

// Shaded ground, a disc and some texture: edges everywhere, different for every seed.
QString writePhoto(const QString &folder, const QString &name, QSize size, int seed)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int dx = x - size.width() / 2;
            const int dy = y - size.height() / 3;
            const bool disc = dx * dx + dy * dy < size.height() * size.height() / 16;
            const int grain = (x * 7 + y * 13 + seed * 31) % 23;
            picture.setPixel(x, y,
                disc ? qRgb(200 - grain, 40 + seed, 60)
                     : qRgb(x % 256, (y + seed) % 256, grain * 9));
        }
    }
    const QString path = folder + QLatin1Char('/') + name;
    picture.save(path);
    return path;
}

// The bar values the passes go through, repeats dropped: what a bar shows changing.
QList<int> barValues(int width)
{
    QList<int> values;
    const auto add = [&values](int value) {
        if (values.isEmpty() || values.last() != value)
            values << value;
    };
    for (int x = 0; x < width; ++x)
        add(30 * x / width);
    add(40);
    for (int x = 0; x < width; ++x)
        add(30 * x / width + 40);
    for (int x = 1; x < width - 1; ++x)
        add(30 * x / width + 70);
    return values;
}

// Runs the event loop until the bar has changed more than `count` times.
void waitForValues(const QSignalSpy &spy, int count)
{
    while (spy.count() <= count)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QList<int> valuesOf(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &call : spy)
        values << call.at(0).toInt();
    return values;
}

} // namespace

class TestEdgeWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        big = writePhoto(dir.path(), QStringLiteral("big.png"), { 1600, 1000 }, 1);
        small = writePhoto(dir.path(), QStringLiteral("small.png"), { 301, 200 }, 2);
        // Long enough to analyse that giving it up is told from sitting it out on a busy machine.
        huge = writePhoto(dir.path(), QStringLiteral("huge.png"), { 4000, 3000 }, 3);
    }

    void openReturnsBeforeTheEdgesAndTracingWaitsForThem()
    {
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        t.openPicture(small);
        t.smartSelect(MainWindowTester::probeAt({ 100, 50 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 200, 50 }), true);
        QCOMPARE(t.undoStack().count(), 1);

        QProgressBar *bar = t.ui()->progressBar;
        QSignalSpy values(bar, &QProgressBar::valueChanged);
        bool barShownThroughout = true;
        connect(bar, &QProgressBar::valueChanged, this,
            [&] { barShownThroughout &= bar->isVisible() && t.edgeMap().isEmpty(); });
        QList<quint16> edgesAtReady;
        connect(t.ui()->statusBar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if (text == QLatin1String("Ready"))
                edgesAtReady = t.edgeMap();
        });

        window.openPicture(big);
        QVERIFY(t.analysing());
        QVERIFY(bar->isVisible() && t.edgeMap().isEmpty());
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("Searching for edges"));
        QCOMPARE(t.undoStack().count(), 0); // nothing of the old picture to undo meanwhile
        QVERIFY(!t.ui()->actionSmartSelect->isChecked()); // an arrow, not the tool, meanwhile
        t.smartSelect(MainWindowTester::probeAt({ 600, 100 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 700, 100 }), true, true);
        t.smartSelect(MainWindowTester::probeAt({ 800, 100 }), true);
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QVERIFY(!t.traceItem() && !t.closeMarkerItem());
        QCOMPARE(t.undoStack().count(), 0);

        t.waitForEdges();
        QCOMPARE(valuesOf(values), barValues(t.image().width()));
        QVERIFY(barShownThroughout); // every value came through the event loop mid-analysis
        QVERIFY(!bar->isVisible() && t.ui()->actionSmartSelect->isChecked());
        QCOMPARE(edgesAtReady, findEdges(t.image()));
        t.smartSelect(MainWindowTester::probeAt({ 600, 100 }), true);
        t.smartSelect(MainWindowTester::probeAt({ 800, 100 }), true);
        QVERIFY(t.anchorPoint() != QPoint(-100, -100));
        QCOMPARE(t.undoStack().count(), 1);
    }

    void openDuringTheAnalysis_data()
    {
        QTest::addColumn<bool>("readable");
        QTest::newRow("newer picture") << true;
        QTest::newRow("unreadable file") << false;
    }

    // Only the newer picture's values and edges arrive; a failed Open leaves the analysis
    // of the current picture running to its end.
    void openDuringTheAnalysis()
    {
        QFETCH(bool, readable);
        MainWindow window;
        MainWindowTester t(window);
        QSignalSpy values(t.ui()->progressBar, &QProgressBar::valueChanged);
        window.openPicture(big);
        waitForValues(values, 2);
        QThread::msleep(20); // lets it queue some more values for the window
        QVERIFY(t.analysing());
        if (readable)
            values.clear();
        window.openPicture(readable ? small : dir.filePath(QStringLiteral("missing.png")));
        t.waitForEdges();
        QTest::qWait(50); // anything the first analysis left queued would land now

        const QString expected = readable ? small : big;
        QCOMPARE(t.image().size(), QImage(expected).size());
        QCOMPARE(valuesOf(values), barValues(t.image().width()));
        QCOMPARE(t.edgeMap(), findEdges(t.image()));
    }

    void destroyingTheWindowMidAnalysisIsClean_data()
    {
        QTest::addColumn<int>("afterValues");
        QTest::newRow("at once") << 0;
        QTest::newRow("a quarter in") << 25;
    }

    void destroyingTheWindowMidAnalysisIsClean()
    {
        QFETCH(int, afterValues);
        auto window = std::make_unique<MainWindow>();
        MainWindowTester t(*window);
        QSignalSpy values(t.ui()->progressBar, &QProgressBar::valueChanged);
        window->show();
        window->openPicture(huge);
        if (afterValues > 0)
            waitForValues(values, afterValues);
        QVERIFY(t.analysing());
        QElapsedTimer clock;
        clock.start();
        window.reset();
        const qint64 closing = clock.elapsed();
        QTest::qWait(50); // nothing may reach the window that is gone

        // Closing gives the analysis up rather than sitting out the rest of it.
        const QImage picture(huge);
        clock.start();
        findEdges(picture);
        QVERIFY2(closing < clock.elapsed() / 2,
            qPrintable(QStringLiteral("%1 ms of %2").arg(closing).arg(clock.elapsed())));
    }

    void stopEndsTheAnalysisEarly_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("stopAt");
        QTest::newRow("one thread, first value") << 1 << 0;
        QTest::newRow("three threads, mid-way") << 3 << 55;
        QTest::newRow("every core, last value") << 0 << 99;
    }

    void stopEndsTheAnalysisEarly()
    {
        QFETCH(int, threads);
        QFETCH(int, stopAt);
        const QImage picture(small);
        std::atomic<bool> stop { false };
        QList<int> seen;
        const auto stopAtValue = [&](int value) {
            seen << value;
            if (value == stopAt)
                stop = true;
        };
        const QList<quint16> stopped = findEdges(picture, stopAtValue, threads, &stop);
        QVERIFY(stopped.isEmpty());
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), stopAt); // silent from the stop on

        // An unset flag changes nothing.
        stop = false;
        QCOMPARE(findEdges(picture, {}, threads, &stop), findEdges(picture, {}, threads));
    }

private:
    QTemporaryDir dir;
    QString big;
    QString huge;
    QString small;
};

QTEST_MAIN(TestEdgeWorker)
#include "tst_edgeworker.moc"
