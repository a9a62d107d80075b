#include "zelgraphicsview.h"

#include <QGraphicsEllipseItem>

double fitScaleFactor(const QSizeF &, const QSize &, const QSize &)
{
    return 1.0;
}

ZelGraphicsView::ZelGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

ZelGraphicsView::~ZelGraphicsView() = default;

void ZelGraphicsView::SetToolMode(ToolMode mode)
{
    toolMode = mode;
    viewport()->setCursor(mode == ToolMode::SmartSelect ? Qt::BlankCursor : Qt::ArrowCursor);
}

QRect ZelGraphicsView::ProbeRect(const QPoint &) const
{
    return {};
}

void ZelGraphicsView::mousePressEvent(QMouseEvent *event)
{
    QGraphicsView::mousePressEvent(event);
}

void ZelGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    QGraphicsView::mouseReleaseEvent(event);
}

void ZelGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    QGraphicsView::mouseMoveEvent(event);
}

void ZelGraphicsView::leaveEvent(QEvent *)
{
}

void ZelGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
}

void ZelGraphicsView::SmartSelectPress(QMouseEvent *)
{
}

void ZelGraphicsView::SmartSelectMove(QMouseEvent *)
{
}

void ZelGraphicsView::removeMarker()
{
}
