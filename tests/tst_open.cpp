// Opening pictures through the window: what a good, a bad and a cancelled Open leave behind;
// a picture named on the command line, dropped on the window or picked from Open Recent.

#include "mainwindowtester.h"
#include "picturefile.h"
#include "zelgraphicsview.h"

#include <QBuffer>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace
{

QString writePicture(const QString &folder, const QString &name, QSize size, QColor colour)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(colour);
    const QString path = folder + QLatin1Char('/') + name;
    picture.save(path);
    return path;
}

// A picture whose data stops a third of the way through.
QByteArray damagedPng()
{
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return data.left(data.size() / 3);
}

// The header of a colour PPM and a few of its pixels: enough for a reader to learn the size.
QByteArray ppmHeader(int width, int height)
{
    return QStringLiteral("P6\n%1 %2\n255\n").arg(width).arg(height).toLatin1()
        + QByteArray(30, '\x7f');
}

// Starts a trace and confirms two stretches, leaving a selection item and two undo steps.
void traceTwoStretches(MainWindowTester &t)
{
    t.smartSelect(MainWindowTester::probeAt({ 5, 5 }), true);
    t.smartSelect(MainWindowTester::probeAt({ 30, 5 }), true);
    t.smartSelect(MainWindowTester::probeAt({ 30, 30 }), true);
}

// Drags data over the window and drops it, as the window system delivers them; returns
// whether the window took the drag.
bool dragAndDrop(QWidget *window, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window, &drop);
    return drop.isAccepted();
}

QStringList recentEntries(MainWindowTester &t)
{
    QStringList entries;
    emit t.ui()->menuOpenRecent->aboutToShow();
    for (QAction *entry : t.ui()->menuOpenRecent->actions())
        entries << (entry->isEnabled() ? QString() : QStringLiteral("(off) ")) + entry->text();
    return entries;
}

} // namespace

class TestOpen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void layOutTheScene()
    {
        QTemporaryDir dir;
        const QString path
            = writePicture(dir.path(), QStringLiteral("cat.png"), { 120, 80 }, Qt::red);
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        t.open(path);

        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora - cat.png"));
        QCOMPARE(t.settings().value(QStringLiteral("CurrDir")).toString(),
            QFileInfo(dir.path()).canonicalFilePath());
        QCOMPARE(t.image().format(), QImage::Format_ARGB32);
        QCOMPARE(t.edgeMap().size(), 120 * 80);
        QCOMPARE(t.scene().sceneRect(), QRectF(0, 0, 140, 100));
        QCOMPARE(t.scene().items().size(), 2);
        QCOMPARE(t.backgroundItem()->zValue(), 1.0);
        QCOMPARE(t.backgroundItem()->pixmap().toImage().pixel(139, 99), qRgb(255, 255, 255));
        QCOMPARE(t.imageItem()->pos(), QPointF(10, 10));
        QCOMPARE(t.imageItem()->zValue(), 10.0);
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t.ui()->graphicsView->toolModeInUse(), ToolMode::SmartSelect);
        QVERIFY(!t.ui()->progressBar->isVisible());
        QCOMPARE(t.ui()->statusBar->currentMessage(), QStringLiteral("Ready"));

        // The whole scene is in view, and it fills the view in one direction.
        ZelGraphicsView *view = t.ui()->graphicsView;
        const QRect shown = view->mapFromScene(t.scene().sceneRect()).boundingRect();
        QVERIFY(view->viewport()->rect().adjusted(-1, -1, 1, 1).contains(shown));
        QVERIFY(shown.width() >= view->viewport()->width() - 12
            || shown.height() >= view->viewport()->height() - 12);

        // The next dialog starts where the last picture came from.
        QString nextStart;
        MainWindowTester::whenModal([&] { t.ui()->actionOpen->trigger(); },
            [&](QDialog *d) {
                nextStart = qobject_cast<QFileDialog *>(d)->directory().canonicalPath();
                d->reject();
            });
        QCOMPARE(nextStart, QFileInfo(dir.path()).canonicalFilePath());
    }

    void cancelOrBadFileKeepsTheDocument_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("status");
        QTest::newRow("cancel") << QString() << QByteArray() << "No file selected";
        const QString failed = QStringLiteral("Failed to read image: ");
        QTest::newRow("text named png") << "notes.png" << QByteArray("just some words\n") << failed;
        QTest::newRow("empty") << "empty.jpg" << QByteArray() << failed;
        QTest::newRow("damaged png") << "cut.png" << damagedPng() << failed;
        QTest::newRow("too large") << "huge.ppm" << ppmHeader(16385, 16384) << failed;
    }

    void cancelOrBadFileKeepsTheDocument()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, status);

        QTemporaryDir first;
        QTemporaryDir second;
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        t.open(writePicture(first.path(), QStringLiteral("good.png"), { 60, 50 }, Qt::blue));
        traceTwoStretches(t);
        QCOMPARE(t.undoStack().count(), 2);

        const QImage image = t.image();
        const QList<QGraphicsItem *> items = t.scene().items();
        const QPainterPath shown = t.selectionItem()->path();
        const QPoint anchor = t.anchorPoint();
        const QString title = window.windowTitle();

        QString chosen;
        if (!name.isEmpty()) {
            chosen = second.path() + QLatin1Char('/') + name;
            QFile file(chosen);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const QStringList boxes = t.open(chosen);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(',')));

        // A failure names its reason, as the reader gives it, without the path just chosen.
        QString expected = status;
        if (status.startsWith(QLatin1String("Failed"))) {
            QString error;
            QVERIFY(readPicture(chosen, &error).isNull());
            QVERIFY(error.startsWith(chosen + QStringLiteral(": ")));
            expected += error.mid(chosen.size() + 2);
        }
        QCOMPARE(t.ui()->statusBar->currentMessage(), expected);
        QCOMPARE(t.image(), image);
        QCOMPARE(t.scene().items(), items);
        QCOMPARE(t.selectionItem()->path(), shown);
        QCOMPARE(t.anchorPoint(), anchor);
        QCOMPARE(t.undoStack().count(), 2);
        QCOMPARE(window.windowTitle(), title);
        const QString currDir = t.settings().value(QStringLiteral("CurrDir")).toString();
        QCOMPARE(
            currDir, QFileInfo(name.isEmpty() ? first.path() : second.path()).canonicalFilePath());
    }

    void openingAgainForgetsThePreviousPicture()
    {
        QTemporaryDir dir;
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        t.open(writePicture(dir.path(), QStringLiteral("a.png"), { 90, 70 }, Qt::green));
        traceTwoStretches(t);
        t.ui()->actionProcess->setChecked(true);
        QVERIFY(t.previewItem());
        t.smartSelect(MainWindowTester::probeAt({ 40, 40 }), false);

        t.open(writePicture(dir.path(), QStringLiteral("b.png"), { 33, 44 }, Qt::yellow));
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora - b.png"));
        QCOMPARE(t.scene().items().size(), 2);
        QVERIFY(!t.previewItem() && !t.selectionItem() && !t.traceItem() && !t.closeMarkerItem());
        QVERIFY(!t.ui()->actionProcess->isChecked());
        QVERIFY(t.ui()->actionSmartSelect->isChecked() && t.ui()->actionSmartSelect->isEnabled());
        QVERIFY(t.selectionPath().isEmpty() && t.tracePath().isEmpty());
        QCOMPARE(t.anchorPoint(), QPoint(-100, -100));
        QCOMPARE(t.undoStack().count(), 0);
        QVERIFY(!t.ui()->menuEdit->actions().first()->isEnabled());
        QCOMPARE(t.edgeMap().size(), 33 * 44);
        QCOMPARE(t.scene().sceneRect(), QRectF(0, 0, 53, 64));
    }

    // The command line's road: main hands the argument to openPicture, which leaves what the
    // dialog's Open leaves.
    void openWithoutTheDialog()
    {
        QTemporaryDir dir;
        const QString good = writePicture(dir.path(), QStringLiteral("a.png"), { 50, 40 }, Qt::red);
        MainWindow window;
        MainWindow viaDialog;
        MainWindowTester t(window);
        MainWindowTester d(viaDialog);
        t.openPicture(good);
        d.open(good);
        traceTwoStretches(t);
        traceTwoStretches(d);
        QCOMPARE(window.windowTitle(), viaDialog.windowTitle());
        QCOMPARE(t.image(), d.image());
        QCOMPARE(t.selectionItem()->path(), d.selectionItem()->path());

        window.openPicture(dir.filePath(QStringLiteral("gone.jpg")));
        QVERIFY(t.ui()->statusBar->currentMessage().startsWith(QStringLiteral("Failed to read")));
        QCOMPARE(t.undoStack().count(), 2);
    }

    void dropOnePicture()
    {
        QTemporaryDir dir;
        const QUrl one = QUrl::fromLocalFile(
            writePicture(dir.path(), QStringLiteral("1.png"), { 30, 20 }, Qt::red));
        const QUrl two = QUrl::fromLocalFile(
            writePicture(dir.path(), QStringLiteral("2.png"), { 40, 25 }, Qt::blue));
        MainWindow window;
        MainWindowTester t(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!dragAndDrop(&window, { one, two }));
        QVERIFY(!dragAndDrop(&window, { QUrl(QStringLiteral("https://example.org/1.png")) }));
        QVERIFY(dragAndDrop(&window, { one }));
        QTRY_COMPARE(window.windowTitle(), QStringLiteral("Velmora - 1.png"));
        t.waitForEdges();

        // Onto the canvas, over a document with history, the drop reaches the window too.
        traceTwoStretches(t);
        QVERIFY(dragAndDrop(t.ui()->graphicsView->viewport(), { two }));
        QTRY_COMPARE(t.image().size(), QSize(40, 25));
        QCOMPARE(t.undoStack().count(), 0);

        // Ctrl+0 brings the whole picture back into view, filling it one way.
        ZelGraphicsView *view = t.ui()->graphicsView;
        t.ui()->actionZoomPlus->trigger();
        QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
        const QRect shown = view->mapFromScene(t.scene().sceneRect()).boundingRect();
        QVERIFY(view->viewport()->rect().adjusted(-1, -1, 1, 1).contains(shown));
        QVERIFY(shown.width() >= view->viewport()->width() - 12
            || shown.height() >= view->viewport()->height() - 12);
    }

    void openRecentKeepsTheLastFive()
    {
        QTemporaryDir dir;
        MainWindow window;
        MainWindowTester t(window);
        t.settings().remove(QStringLiteral("RecentFiles"));
        QCOMPARE(recentEntries(t), QStringList({ "(off) No recent pictures" }));
        QStringList paths;
        for (int i = 0; i < 6; ++i) {
            paths << writePicture(
                dir.path(), QStringLiteral("p%1.png").arg(i), { 8, 8 }, Qt::green);
            window.openPicture(paths.last());
        }
        window.openPicture(paths[2]); // again: moves up, not in twice
        window.openPicture(dir.filePath(QStringLiteral("never.png"))); // failed: not listed
        const auto entry = [&](int n, int i) {
            return QStringLiteral("&%1 %2").arg(n).arg(QDir::toNativeSeparators(paths[i]));
        };
        QCOMPARE(recentEntries(t),
            QStringList({ entry(1, 2), entry(2, 5), entry(3, 4), entry(4, 3), entry(5, 1) }));

        // The list outlives the window; a picture gone since shows greyed out.
        QFile::remove(paths[4]);
        MainWindow next;
        MainWindowTester n(next);
        QCOMPARE(recentEntries(n).at(2), QStringLiteral("(off) ") + entry(3, 4));
        n.ui()->menuOpenRecent->actions().at(4)->trigger();
        QCOMPARE(next.windowTitle(), QStringLiteral("Velmora - p1.png"));
    }
};

QTEST_MAIN(TestOpen)
#include "tst_open.moc"
