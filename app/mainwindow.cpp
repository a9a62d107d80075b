#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "cmlassocommand.h"
#include "composite.h"
#include "cselectnonecommand.h"
#include "edgeanalysis.h"
#include "helpdialog.h"
#include "pathtracer.h"
#include "picturefile.h"
#include "selectionedit.h"
#include "selectionmask.h"
#include "tracing.h"
#include "zelgraphicsview.h"

#include <QActionGroup>
#include <QColorDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace
{

const QString kCurrDir = QStringLiteral("CurrDir");
const QString kCurrSaveDir = QStringLiteral("CurrSaveDir");
const QString kFollowEdges = QStringLiteral("FollowEdges");
const QString kFollowShortest = QStringLiteral("shortest path");
const QString kFollowDirect = QStringLiteral("direct");
const QString kRecentFiles = QStringLiteral("RecentFiles");
constexpr int kRecentCount = 5;

// Takes an item out of the scene for good.
template <typename Item> void discard(QGraphicsScene &scene, Item *&item)
{
    if (!item)
        return;
    scene.removeItem(item);
    delete item;
    item = nullptr;
}

// The folder a chosen file is in, symbolic links resolved; empty when the file does not exist.
QString canonicalFolder(const QString &file)
{
    const QFileInfo info(file);
    return info.exists() ? info.canonicalPath() : QString();
}

// Where a file dialog starts: an empty folder means the working folder, not the dialog's
// memory of the last one visited.
QString startFolder(const QString &folder)
{
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

// Every picture format this machine reads: the usual ones first, then phones' HEIF and what
// the image plugins add.
QString openFilter()
{
    QStringList patterns { QStringLiteral("*.png"), QStringLiteral("*.jpg"),
        QStringLiteral("*.bmp"), QStringLiteral("*.jpeg"), QStringLiteral("*.tiff"),
        QStringLiteral("*.tif"), QStringLiteral("*.gif") };
    for (const QString &suffix : readablePictureSuffixes()) {
        const QString pattern = QStringLiteral("*.") + suffix;
        if (!patterns.contains(pattern))
            patterns << pattern;
    }
    return QCoreApplication::translate("MainWindow", "Image Files (%1);;All files (*.*)")
        .arg(patterns.join(QLatin1Char(' ')));
}

// A busy pointer while the window blocks on a large picture.
struct BusyCursor {
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// What the user needs from a picture file's error: the reason, without the path they just chose.
QString reasonOf(const QString &error, const QString &file)
{
    const QString prefix = file + QStringLiteral(": ");
    return error.startsWith(prefix) ? error.mid(prefix.size()) : error;
}

// The selection in picture coordinates, as the output reads it.
QPainterPath inPicture(const QGraphicsPathItem *selection)
{
    return selection->path().translated(-kSceneOffset, -kSceneOffset);
}

// The one local file a drag carries, or an empty string when it carries anything else.
QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    const QList<QUrl> urls = data->urls();
    return urls.size() == 1 && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}

// The recent list with path moved to its top, at most kRecentCount long.
QStringList withRecent(QStringList recent, const QString &path)
{
    recent.removeAll(path);
    recent.prepend(path);
    return recent.mid(0, kRecentCount);
}

// The Color button's face: the chosen colour over the chessboard that a translucent one lets
// through, in a thin grey rim so that white shows on a white toolbar.
QIcon colorSwatch(const QColor &color, const QSize &size)
{
    QPixmap swatch(size);
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    const QRect square = swatch.rect().adjusted(1, 1, -1, -1);
    painter.drawTiledPixmap(square, QPixmap(QStringLiteral(":/icons/chessbackground.png")));
    painter.fillRect(square, color);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    painter.end();
    return QIcon(swatch);
}

// The face of Follow edges: a winding line between two points.
QIcon followEdgesIcon()
{
    QPixmap face(32, 32);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath winding(QPointF(5, 26));
    winding.cubicTo(10, 2, 22, 30, 27, 6);
    painter.setPen(QPen(QColor(40, 40, 40), 2.5));
    painter.drawPath(winding);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 40, 30));
    for (QPointF end : { QPointF(5, 26), QPointF(27, 6) })
        painter.drawEllipse(end, 3.5, 3.5);
    return QIcon(face);
}

// A press aimed exactly at pixel p with a probe `size` scene units wide, as the view makes it.
QRect probeOn(QPoint p, int size)
{
    const int reach = (size - 1) / 2; // QRect's centre rounds down
    return QRect(p.x() + kSceneOffset - reach, p.y() + kSceneOffset - reach, size, size);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->progressBar->hide();
    connect(
        ui->graphicsView, &ZelGraphicsView::SmartSelect, this, &MainWindow::ProcessSmartSelect2);
    // The view scrolls along at its edge only while a trace is under way; connected after the
    // tracing, so it sees the anchor that request left.
    connect(ui->graphicsView, &ZelGraphicsView::SmartSelect, this, &MainWindow::followTrace);
    connect(&undoStack, &QUndoStack::indexChanged, this, &MainWindow::followTrace);

    QAction *undoAction = undoStack.createUndoAction(this, QString());
    undoAction->setShortcut(QKeySequence::Undo);
    ui->menuEdit->addAction(undoAction);
    QAction *redoAction = undoStack.createRedoAction(this, QString());
    redoAction->setShortcuts(
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y) });
    ui->menuEdit->addAction(redoAction);
    ui->menuEdit->addAction(ui->actionSelectNone);
    ui->menuEdit->addSeparator();
    ui->menuEdit->addActions({ ui->actionTakeBackPoint, ui->actionEndTrace, ui->actionCloseTrace });
    ui->menuEdit->addSeparator();
    ui->menuEdit->addAction(ui->actionFollowEdges);
    // Both Enter keys close; the keys act only while the smart-select tool is on.
    ui->actionCloseTrace->setShortcuts({ Qt::Key_Return, Qt::Key_Enter });
    for (QAction *action : { ui->actionTakeBackPoint, ui->actionEndTrace, ui->actionCloseTrace })
        action->setEnabled(false);
    ui->actionZoomPlus->setShortcuts(
        { QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal) });
    ui->actionZoomMinus->setShortcut(QKeySequence::ZoomOut);
    ui->actionFollowEdges->setIcon(followEdgesIcon());
    ui->actionFollowEdges->setChecked(settings.value(kFollowEdges).toString() == kFollowShortest);
    // A picture dropped anywhere on the window opens; the canvas's scene would take the drag
    // and then refuse it.
    setAcceptDrops(true);
    ui->graphicsView->setAcceptDrops(false);

    auto *backgroundGroup = new QActionGroup(this);
    backgroundGroup->addAction(ui->actionWhite);
    backgroundGroup->addAction(ui->actionTransparent);
    backgroundGroup->addAction(ui->actionColor);
    backgroundColor = Qt::white;
}

MainWindow::~MainWindow()
{
    stopEdgeAnalysis();
    // The stack empties itself as it goes, after the form.
    disconnect(&undoStack, nullptr, this, nullptr);
    delete ui;
}

void MainWindow::on_actionOpen_triggered()
{
    const QString currDir = settings.value(kCurrDir, QString()).toString();
    fileName = QFileDialog::getOpenFileName(
        this, tr("Open Image"), startFolder(currDir), openFilter());
    if (fileName.isEmpty()) {
        ui->statusBar->showMessage(tr("No file selected"));
        return;
    }
    openPicture(fileName);
}

void MainWindow::openPicture(const QString &path)
{
    fileName = path;
    settings.setValue(kCurrDir, canonicalFolder(fileName));

    BusyCursor busy;
    QString error;
    const QImage loaded = readPicture(fileName, &error);
    if (loaded.isNull()) {
        ui->statusBar->showMessage(tr("Failed to read image: %1").arg(reasonOf(error, fileName)));
        return;
    }
    image = loaded;
    setWindowTitle(QStringLiteral("Velmora - ") + QFileInfo(fileName).fileName());

    resetScene(QPixmap::fromImage(image));
    ui->graphicsView->setScene(&scene);
    ui->graphicsView->fitInView(scene.sceneRect(), Qt::KeepAspectRatio);
    ui->graphicsView->show();

    anchorPoint = kNoTrace;
    traceStart = kNoTrace;
    selectionPath = QPainterPath();
    tracePath = QPainterPath();
    if (ui->actionProcess->isChecked())
        ui->actionProcess->setChecked(false);
    // The tool comes on when the edges are there to follow: until then the pointer stays an
    // arrow, which tells the user why a click would do nothing yet.
    ui->actionSmartSelect->setChecked(false);

    FindEdges();
    // Cleared now rather than when the edges arrive: the old picture's steps must not be
    // undone into the new picture's scene meanwhile, and nothing can be pushed before then.
    undoStack.clear();
    followTrace();
    rememberRecent(fileName);
}

void MainWindow::followTrace()
{
    ui->graphicsView->setFollowsPointer(anchorPoint != kNoTrace);
}

void MainWindow::rememberRecent(const QString &path)
{
    const QStringList recent = settings.value(kRecentFiles).toStringList();
    settings.setValue(kRecentFiles, withRecent(recent, QFileInfo(path).absoluteFilePath()));
}

// Filled as it opens, so that a picture moved away since shows greyed out.
void MainWindow::on_menuOpenRecent_aboutToShow()
{
    ui->menuOpenRecent->clear();
    const QStringList recent = settings.value(kRecentFiles).toStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        QString label = QDir::toNativeSeparators(path);
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *entry
            = ui->menuOpenRecent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(label));
        entry->setEnabled(QFileInfo(path).isFile());
        connect(entry, &QAction::triggered, this, [this, path] { openPicture(path); });
    }
    if (recent.isEmpty())
        ui->menuOpenRecent->addAction(tr("No recent pictures"))->setEnabled(false);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        return event->ignore();
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return event->ignore();
    event->acceptProposedAction();
    // Opened once the drop has returned, so the program the file came from is not held up
    // while the picture is read.
    QTimer::singleShot(0, this, [this, path] { openPicture(path); });
}

// Drops every item of the previous picture and lays the new one on its white frame.
void MainWindow::resetScene(const QPixmap &picture)
{
    for (QGraphicsPixmapItem **item : { &imageItem, &backgroundItem, &previewItem })
        discard(scene, *item);
    discard(scene, selectionItem);
    discard(scene, traceItem);
    discard(scene, closeMarkerItem);
    scene.clear();

    const QSize framed = picture.size() + QSize(2 * kSceneOffset, 2 * kSceneOffset);
    QPixmap frame(framed);
    frame.fill(Qt::white);
    backgroundItem = scene.addPixmap(frame);
    backgroundItem->setTransformationMode(Qt::SmoothTransformation);
    backgroundItem->setZValue(1);
    // Rescaling a large picture smoothly on every repaint would cost more than all the
    // tracing; the pixels on screen are kept until the zoom changes.
    backgroundItem->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
    scene.setSceneRect(0, 0, framed.width(), framed.height());

    imageItem = scene.addPixmap(picture);
    imageItem->setTransformationMode(Qt::SmoothTransformation);
    imageItem->setPos(kSceneOffset, kSceneOffset);
    imageItem->setZValue(10);
    imageItem->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
}

// Starts the analysis of the current picture on a worker and returns at once: the window
// stays live meanwhile, and tracing waits for edgesFound.
void MainWindow::FindEdges()
{
    stopEdgeAnalysis();
    edgeMap.clear();
    pathTracer.reset();
    ui->progressBar->reset(); // from empty, not from the last picture's end
    ui->progressBar->show();
    ui->statusBar->showMessage(tr("Searching for edges"));

    const quint64 generation = ++edgeGeneration;
    stopEdges = false;
    const QImage picture = image;
    edgeWorker.reset(QThread::create([this, picture, generation] {
        const auto report = [this, generation](int value) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, value] {
                    if (generation == edgeGeneration)
                        ui->progressBar->setValue(value);
                },
                Qt::QueuedConnection);
        };
        const QList<quint16> edges = findEdges(picture, report, 0, &stopEdges);
        if (stopEdges)
            return;
        QMetaObject::invokeMethod(
            this, [this, generation, edges] { edgesFound(generation, edges); },
            Qt::QueuedConnection);
    }));
    edgeWorker->start();
}

void MainWindow::edgesFound(quint64 generation, const QList<quint16> &edges)
{
    if (generation != edgeGeneration || !edgeWorker)
        return;
    edgeWorker->wait(); // the result was its last act
    edgeWorker.reset();
    edgeMap = edges;
    pathTracer = std::make_unique<PathTracer>(image.size(), edgeMap);
    if (!ui->actionProcess->isChecked())
        ui->actionSmartSelect->setChecked(true);
    ui->progressBar->hide();
    ui->statusBar->showMessage(tr("Ready"), 2000);
}

// Gives up the analysis under way, if any: its bands end within a row, so this waits only
// a moment. What it has already posted is dropped on arrival by the generation check.
void MainWindow::stopEdgeAnalysis()
{
    if (!edgeWorker)
        return;
    stopEdges = true;
    edgeWorker->wait();
    edgeWorker.reset();
}

void MainWindow::on_actionSave_triggered()
{
    if (image.isNull() || !selectionItem) {
        ui->statusBar->showMessage(QStringLiteral("Nothing to save."));
        return;
    }
    const QString currDir = settings.value(kCurrDir, QString()).toString();
    const QString startDir = settings.value(kCurrSaveDir, currDir).toString();
    const QString name = QFileDialog::getSaveFileName(
        this, tr("Save Image"), startFolder(startDir), tr("JPG Files (*.jpg);;PNG Files (*.png)"));
    if (name.isEmpty()) {
        ui->statusBar->showMessage(tr("No file selected"));
        return;
    }

    // Asked before the work, so a picture the format cannot hold costs no composing.
    QString reason;
    bool written = checkPictureFits(image.size(), name, &reason);
    if (written) {
        BusyCursor busy;
        QImage object = image;
        applySelectionMask(object, inPicture(selectionItem));
        QString error;
        written = writePicture(composeOnBackground(object, backgroundColor), name, 100, &error);
        reason = reasonOf(error, name);
    }
    // A lost save must not look like a success, nor a success like the failure before it.
    const QString failed = tr("Failed to save image: %1");
    if (!written)
        ui->statusBar->showMessage(failed.arg(reason));
    else if (ui->statusBar->currentMessage().startsWith(failed.arg(QString())))
        ui->statusBar->clearMessage();

    if (losesTransparency(backgroundColor, name)) {
        QMessageBox::warning(nullptr, QStringLiteral("Transparency was lost"),
            QStringLiteral("You've selected a transparent background color but "
                           "saving as jpeg. Transparency of the color was lost. "
                           "Please choose .png to save transparent backgrounds"),
            QMessageBox::Ok, QMessageBox::NoButton);
    }
    settings.setValue(kCurrSaveDir, canonicalFolder(name));
}

void MainWindow::on_actionQuit_triggered()
{
    emit mwquit();
}

void MainWindow::on_actionZoomPlus_triggered()
{
    ui->graphicsView->scale(1.2, 1.2);
}

void MainWindow::on_actionZoomMinus_triggered()
{
    ui->graphicsView->scale(0.8333333333333334, 0.8333333333333334);
}

// The width of the probe a press has at the view's zoom, at least one scene unit.
int MainWindow::probeSizeInView() const
{
    const QPointF a = ui->graphicsView->mapToScene(QPoint(0, 0));
    const QPointF b = ui->graphicsView->mapToScene(QPoint(10, 0));
    return int(std::clamp(b.x() - a.x(), 1.0, 1e6));
}

void MainWindow::on_actionFitView_triggered()
{
    ui->graphicsView->fitScene();
}

void MainWindow::on_actionActualSize_triggered()
{
    ui->graphicsView->zoomToActual();
}

void MainWindow::on_actionProcess_triggered()
{
    // Preview is switched in the toggled handler, which has already run.
}

void MainWindow::on_actionIndex_triggered()
{
    auto *help = new HelpDialog(this);
    help->show();
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("Velmora 1.1"),
        tr("Velmora, written by the Velmora project.\n"
           "https://velmora.example.org"));
}

void MainWindow::on_actionSmartSelect_toggled(bool checked)
{
    ui->graphicsView->SetToolMode(checked ? ToolMode::SmartSelect : ToolMode::None);
    for (QAction *action : { ui->actionTakeBackPoint, ui->actionEndTrace, ui->actionCloseTrace })
        action->setEnabled(checked);
}

void MainWindow::on_actionFollowEdges_toggled(bool checked)
{
    settings.setValue(kFollowEdges, checked ? kFollowShortest : kFollowDirect);
}

// Takes back a confirmed point of the trace under way, never the first press, nor a step of
// something else.
void MainWindow::on_actionTakeBackPoint_triggered()
{
    if (anchorPoint == kNoTrace || anchorPoint == traceStart || !undoStack.canUndo())
        return;
    if (!dynamic_cast<const CMlassoCommand *>(undoStack.command(undoStack.index() - 1)))
        return;
    undoStack.undo();
}

void MainWindow::on_actionEndTrace_triggered()
{
    ProcessSmartSelect2(QRect(), true, true);
    followTrace();
}

void MainWindow::on_actionCloseTrace_triggered()
{
    if (anchorPoint == kNoTrace)
        return;
    ProcessSmartSelect2(probeOn(traceStart, probeSizeInView()), true, false);
}

void MainWindow::on_actionProcess_toggled(bool checked)
{
    if (checked) {
        if (image.isNull() || !selectionItem) {
            ui->actionProcess->setChecked(false);
            return;
        }
        BusyCursor busy;
        QImage object = image;
        applySelectionMask(object, inPicture(selectionItem));
        const QImage tile(QStringLiteral(":/icons/chessbackground.png"));
        previewItem
            = scene.addPixmap(QPixmap::fromImage(composePreview(object, backgroundColor, tile)));
        previewItem->setZValue(25.0);
        previewItem->setPos(kSceneOffset, kSceneOffset);

        ui->actionSmartSelect->setChecked(false);
        for (QAction *action : { ui->actionSmartSelect, ui->actionInvert, ui->actionSelectNone,
                 ui->actionColor, ui->actionWhite, ui->actionTransparent })
            action->setEnabled(false);
        selectionItem->setVisible(false);
        return;
    }

    discard(scene, previewItem);
    ui->actionSmartSelect->setEnabled(true);
    ui->actionSmartSelect->setChecked(true);
    for (QAction *action : { ui->actionInvert, ui->actionSelectNone, ui->actionColor,
             ui->actionWhite, ui->actionTransparent })
        action->setEnabled(true);
    if (selectionItem)
        selectionItem->setVisible(true);
}

void MainWindow::on_actionInvert_triggered()
{
    if (image.isNull() || !selectionItem)
        return;
    // Invert is no step of its own: the newest step keeps what it produced for its undo.
    CMlassoCommand::keepProducedPaths(undoStack);
    const QPainterPath shown = invertSelection(
        image.size(), selectionPath, tracePath, anchorPoint, selectionItem->path());
    // A trace folded into the selection has no live stretch any more.
    if (anchorPoint == kNoTrace)
        discard(scene, traceItem);
    discard(scene, selectionItem);
    selectionItem = addSelectionItem(&scene, shown);
}

void MainWindow::on_actionSelectNone_triggered()
{
    if (!CSelectNoneCommand::wouldChange(selectionItem, anchorPoint, selectionPath, tracePath))
        return;
    undoStack.push(new CSelectNoneCommand(&scene, &selectionItem, &traceItem, &closeMarkerItem,
        &anchorPoint, &traceStart, &selectionPath, &tracePath));
}

void MainWindow::on_actionWhite_toggled(bool checked)
{
    if (checked)
        backgroundColor = Qt::white;
}

void MainWindow::on_actionTransparent_toggled(bool checked)
{
    if (checked)
        backgroundColor = Qt::transparent;
}

void MainWindow::on_actionColor_toggled(bool checked)
{
    if (!checked)
        return;
    colorJustAsked = true;
    askForBackgroundColor();
}

// A click on Color while it is already the mode toggles nothing; it asks again.
void MainWindow::on_actionColor_triggered()
{
    if (std::exchange(colorJustAsked, false))
        return;
    askForBackgroundColor();
}

void MainWindow::askForBackgroundColor()
{
    const QColor chosen = QColorDialog::getColor(Qt::white, this,
        QStringLiteral("Please select the background color"), QColorDialog::ShowAlphaChannel);
    if (!chosen.isValid())
        return;
    backgroundColor = chosen;
    const QList<QSize> sizes = ui->actionColor->icon().availableSizes();
    ui->actionColor->setIcon(colorSwatch(chosen, sizes.value(0, QSize(32, 32))));
}

void MainWindow::ProcessSmartSelect2(QRect rect, bool pressed, bool is_right)
{
    // No trace can start before the picture's edges have arrived.
    if (!pathTracer)
        return;
    discard(scene, closeMarkerItem);
    if (pressed && is_right) {
        discard(scene, traceItem);
        anchorPoint = kNoTrace;
        return;
    }

    const QSize size = image.size();
    const QPoint target = probeTarget(rect, size);
    if (anchorPoint == kNoTrace) {
        if (!pressed)
            return;
        anchorPoint = snapToEdge(target, rect.width(), rect.height(), size, edgeMap);
        traceStart = anchorPoint;
        return;
    }

    discard(scene, traceItem);
    const bool shortest = pathTracer && ui->actionFollowEdges->isChecked();
    const QPainterPath stretch = stretchPath(anchorPoint,
        shortest ? pathTracer->trace(anchorPoint, target)
                 : walkTrace(anchorPoint, target, size, edgeMap));
    traceItem = addLiveStretchItem(&scene, stretch);

    const int closeDistance = rect.width();
    if ((target - traceStart).manhattanLength() < closeDistance) {
        closeMarkerItem = addCloseMarkerItem(&scene, QRectF(rect));
    }

    if (pressed && !is_right) {
        undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, target,
            &traceStart, &selectionPath, &tracePath, closeDistance));
    }
}
