#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QTimer>

class QGraphicsEllipseItem;

enum class ToolMode { None, SmartSelect };

// How much a resize scales the view so the scene keeps fitting: the factor of the axis that
// changes more, the vertical one on a tie. mapped is the scene's size on screen. Returns 1.0
// when the old size is not valid or either size has no area, since such an event gives no
// ratio to follow.
double fitScaleFactor(const QSizeF &mapped, const QSize &newSize, const QSize &oldSize);

// One zoom step in and out; zoomOutFactor is the double nearest to 1 / zoomInFactor.
inline constexpr double zoomInFactor = 1.2;
inline constexpr double zoomOutFactor = 0.8333333333333334;

// Adds a wheel turn of delta eighths of a degree to pending and returns the whole notches
// (120 each) it completes, keeping the rest in pending for high-resolution wheels. A turn
// the other way first drops what was pending, so reversing answers at once.
int wheelNotches(int &pending, int delta);

// Which way to scroll while the pointer rests at pos in a viewport of the given size: -1, 0
// or +1 per axis, non-zero within margin pixels of that edge. Zero outside the viewport.
QPoint edgeScrollDirection(const QPoint &pos, const QSize &viewport, int margin);

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

    // Scales by factor and scrolls so the scene point under viewportPos stays under it, as far
    // as the scroll bars reach.
    void zoomAround(double factor, const QPointF &viewportPos);
    // Fits the whole scene rectangle into the viewport, keeping its aspect ratio.
    void fitScene();
    // One screen pixel per scene unit, centred on what is in view now.
    void zoomToActual();

    // While set, in smart-select mode, a pointer resting near the viewport's edge scrolls the
    // view that way; the window sets it while a trace is under way.
    void setFollowsPointer(bool follow);
    bool followsPointer() const { return follow; }

signals:
    void SmartSelect(QRect rect, bool pressed, bool right = false);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void SmartSelectPress(QMouseEvent *event);
    void SmartSelectMove(QMouseEvent *event);
    // Redraws the marker at pos and reports a move there; again is true when the scene under
    // a still pointer has changed, so an unchanged position still reports.
    void reportPointer(const QPoint &pos, bool again);
    // After the view scrolled or zoomed under a pointer inside it.
    void pointerSceneChanged();
    bool startsPan(const QMouseEvent *event) const;
    void panBy(const QPoint &delta);
    void updateEdgeScroll();
    void edgeScrollStep();
    void updateCursor();
    QRect unclippedProbe(const QPoint &pos) const;
    void showMarker(const QRectF &rect);
    void removeMarker();

    ToolMode toolMode = ToolMode::None;
    // Always a MarkerItem, which nulls this pointer when the scene deletes it.
    QGraphicsEllipseItem *markerItem = nullptr;
    // Where the last move that reported something was; a move to the same place reports nothing.
    QPoint lastMousePos;

    // The last position of the pointer over the viewport, whatever the tool; valid while
    // pointerInside.
    QPoint pointerPos;
    bool pointerInside = false;
    int pendingWheel = 0;
    bool spaceHeld = false;
    // The button whose drag pans the view, Qt::NoButton when not panning.
    Qt::MouseButton panButton = Qt::NoButton;
    QPoint panLast;
    bool follow = false;
    QTimer edgeScrollTimer;

    friend class MarkerItem;
};
