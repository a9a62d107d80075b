#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "cmlassocommand.h"
#include "composite.h"
#include "cselectnonecommand.h"
#include "edgeanalysis.h"
#include "hairlinepen.h"
#include "helpdialog.h"
#include "picturefile.h"
#include "selectionedit.h"
#include "selectionmask.h"
#include "tracing.h"
#include "zelgraphicsview.h"

#include <QActionGroup>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>

namespace
{

const QString kCurrDir = QStringLiteral("CurrDir");
const QString kCurrSaveDir = QStringLiteral("CurrSaveDir");

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

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->progressBar->hide();
    connect(
        ui->graphicsView, &ZelGraphicsView::SmartSelect, this, &MainWindow::ProcessSmartSelect2);

    QAction *undoAction = undoStack.createUndoAction(this, QString());
    undoAction->setShortcut(QKeySequence::Undo);
    ui->menuEdit->addAction(undoAction);
    ui->menuEdit->addAction(ui->actionSelectNone);

    auto *backgroundGroup = new QActionGroup(this);
    backgroundGroup->addAction(ui->actionWhite);
    backgroundGroup->addAction(ui->actionTransparent);
    backgroundGroup->addAction(ui->actionColor);
    backgroundColor = Qt::white;
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::on_actionOpen_triggered()
{
    const QString currDir = settings.value(kCurrDir, QString()).toString();
    fileName = QFileDialog::getOpenFileName(this, tr("Open Image"), startFolder(currDir),
        tr("Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;All files (*.*)"));
    if (fileName.isEmpty()) {
        ui->statusBar->showMessage(tr("No file selected"));
        return;
    }
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
    ui->actionSmartSelect->setChecked(true);

    FindEdges();
    undoStack.clear();
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
    scene.setSceneRect(0, 0, framed.width(), framed.height());

    imageItem = scene.addPixmap(picture);
    imageItem->setTransformationMode(Qt::SmoothTransformation);
    imageItem->setPos(kSceneOffset, kSceneOffset);
    imageItem->setZValue(10);
}

void MainWindow::FindEdges()
{
    ui->progressBar->show();
    ui->statusBar->showMessage(tr("Searching for edges"));
    ui->statusBar->repaint();
    edgeMap = findEdges(image, [this](int value) { ui->progressBar->setValue(value); });
    ui->progressBar->hide();
    ui->statusBar->showMessage(tr("Ready"), 2000);
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
    const QColor chosen = QColorDialog::getColor(Qt::white, this,
        QStringLiteral("Please select the background color"), QColorDialog::ShowAlphaChannel);
    if (chosen.isValid())
        backgroundColor = chosen;
}

void MainWindow::ProcessSmartSelect2(QRect rect, bool pressed, bool is_right)
{
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
    const QPainterPath stretch
        = stretchPath(anchorPoint, walkTrace(anchorPoint, target, size, edgeMap));
    traceItem = scene.addPath(stretch, selectionPen(), selectionBrush());
    traceItem->setZValue(kSelectionZ);

    const int closeDistance = rect.width();
    if ((target - traceStart).manhattanLength() < closeDistance) {
        closeMarkerItem = scene.addEllipse(
            QRectF(rect), hairlinePen(QColor(255, 0, 0, 255)), QBrush(Qt::green, Qt::SolidPattern));
        closeMarkerItem->setZValue(kSelectionZ);
    }

    if (pressed && !is_right) {
        undoStack.push(new CMlassoCommand(&selectionItem, &traceItem, &scene, &anchorPoint, target,
            &traceStart, &selectionPath, &tracePath, closeDistance));
    }
}
