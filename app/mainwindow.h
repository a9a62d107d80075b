#pragma once

#include <QColor>
#include <QGraphicsScene>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPainterPath>
#include <QPoint>
#include <QSettings>
#include <QString>
#include <QUndoStack>

#include <atomic>
#include <memory>

class PathTracer;
class QDragEnterEvent;
class QDropEvent;
class QGraphicsEllipseItem;
class QGraphicsPathItem;
class QGraphicsPixmapItem;
class QPixmap;
class QThread;

namespace Ui {
class MainWindow;
}

// The one document: the picture, its edges, the selection, the scene that shows them and the
// history of selection changes. Every command of the window is one of its slots.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens a picture without asking: the steps Open takes once its dialog has answered. For
    // a picture named on the command line, dropped on the window or picked from Open Recent.
    void openPicture(const QString &path);

signals:
    void mwquit();

private slots:
    void on_actionOpen_triggered();
    void on_actionSave_triggered();
    void on_actionQuit_triggered();
    void on_actionZoomPlus_triggered();
    void on_actionZoomMinus_triggered();
    void on_actionProcess_triggered();
    void on_actionIndex_triggered();
    void on_actionAbout_triggered();
    void on_actionSmartSelect_toggled(bool checked);
    void on_actionProcess_toggled(bool checked);
    void on_actionInvert_triggered();
    void on_actionSelectNone_triggered();
    void on_actionWhite_toggled(bool checked);
    void on_actionTransparent_toggled(bool checked);
    void on_actionColor_toggled(bool checked);
    void ProcessSmartSelect2(QRect rect, bool pressed, bool is_right);
    void on_actionFollowEdges_toggled(bool checked);
    void on_actionTakeBackPoint_triggered();
    void on_actionEndTrace_triggered();
    void on_actionCloseTrace_triggered();
    void on_actionFitView_triggered();
    void on_actionActualSize_triggered();
    void on_actionColor_triggered();
    void on_menuOpenRecent_aboutToShow();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void FindEdges();
    void edgesFound(quint64 generation, const QList<quint16> &edges);
    void stopEdgeAnalysis();
    void resetScene(const QPixmap &picture);
    void askForBackgroundColor();
    void followTrace();
    void rememberRecent(const QString &path);
    int probeSizeInView() const;

    Ui::MainWindow *ui;
    QGraphicsScene scene;
    QSettings settings;
    QString fileName;
    QGraphicsPixmapItem *imageItem = nullptr;
    QGraphicsPathItem *traceItem = nullptr;
    QGraphicsPathItem *selectionItem = nullptr;
    QGraphicsPixmapItem *backgroundItem = nullptr;
    QGraphicsEllipseItem *closeMarkerItem = nullptr;
    QGraphicsPixmapItem *previewItem = nullptr;
    QPoint anchorPoint;
    QPoint traceStart;
    QPainterPath selectionPath;
    QPainterPath tracePath;
    QUndoStack undoStack;
    QColor backgroundColor;
    QImage image;
    QList<quint16> edgeMap;
    // The shortest-path engine for the current picture's edges; its search tree lasts while
    // the anchor stays.
    std::unique_ptr<PathTracer> pathTracer;
    // The edge analysis under way for the current picture, null once its edges have arrived.
    // Its progress and result reach the window as queued calls tagged with edgeGeneration, so
    // that those of an analysis given up for a newer picture are recognised and dropped.
    std::unique_ptr<QThread> edgeWorker;
    std::atomic<bool> stopEdges { false };
    quint64 edgeGeneration = 0;
    // Set by the colour toggle, so the trigger of the same click does not ask twice.
    bool colorJustAsked = false;

    friend class MainWindowTester;
};
