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

    // The rectangle around viewport position pos, in scene coordinates, clipped to the scene:
    // about ten screen pixels wide, truncated to whole scene units. Empty off the scene and
    // at zooms above 10.
    QRect ProbeRect(const QPoint &pos) const;

    // What presses and moves report: ProbeRect wherever it is not empty. Where it is, a
    // rectangle of the probe's unclipped size (at least 1 x 1) whose QRect centre is the scene
    // pixel under the pointer, clamped into the scene, so the window aims at the nearest
    // pixel instead of the corner. Empty only when the scene rectangle is.
    QRect AimRect(const QPoint &pos) const;

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
    QRect unclippedProbe(const QPoint &pos) const;
    void showMarker(const QRectF &rect);
    void removeMarker();

    ToolMode toolMode = ToolMode::None;
    // Always a MarkerItem, which nulls this pointer when the scene deletes it.
    QGraphicsEllipseItem *markerItem = nullptr;
    // Where the last move that reported something was; a move to the same place reports nothing.
    QPoint lastMousePos;

    friend class MarkerItem;
};
