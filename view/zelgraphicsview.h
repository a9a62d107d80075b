#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>

class QGraphicsEllipseItem;

enum class ToolMode { None, SmartSelect };

// How much a resize scales the view so the scene keeps fitting: the factor of the axis that
// changes more, the vertical one on a tie. mapped is the scene's size on screen. Returns 1.0
// when the old size is not valid or either size has no area, since such an event gives no
// ratio to follow.
double fitScaleFactor(const QSizeF &mapped, const QSize &newSize, const QSize &oldSize);

// The canvas. Shows the window's scene, keeps it fitted while resized, and reports the
// smart-select tool's presses and moves as SmartSelect requests; it owns no document state.
class ZelGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit ZelGraphicsView(QWidget *parent = nullptr);
    ~ZelGraphicsView() override;

    void SetToolMode(ToolMode mode);
    ToolMode toolModeInUse() const { return toolMode; }

    // The rectangle around viewport position pos, in scene coordinates, clipped to the scene.
    QRect ProbeRect(const QPoint &pos) const;

signals:
    void SmartSelect(QRect rect, bool pressed, bool right = false);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SmartSelectPress(QMouseEvent *event);
    void SmartSelectMove(QMouseEvent *event);
    void removeMarker();

    ToolMode toolMode = ToolMode::None;
    // Always a MarkerItem, which nulls this pointer when the scene deletes it.
    QGraphicsEllipseItem *markerItem = nullptr;
    QPoint lastMousePos;

    friend class MarkerItem;
};
