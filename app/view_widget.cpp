#include "view_widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "main_window.h"

ViewWidget::ViewWidget(MainWindow* window) : QWidget(window), window_(window) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

QPoint ViewWidget::ToClient(QPointF p) const { return mapTo(window_, p.toPoint()); }

void ViewWidget::paintEvent(QPaintEvent*) {
    const SBxPicBuf& back = window_->Doc().backBuffer;
    if (!back.pixels) return;
    const ViewRect area = window_->ViewArea();
    const QRect client(area.left, area.top, area.right - area.left, area.bottom - area.top);
    const QRect source = client.intersected(QRect(0, 0, back.width, back.height));
    const QImage image(back.pixels, back.width, back.height, int(back.pitch), QImage::Format_BGR888);
    QPainter painter(this);
    const QPoint offset = mapTo(window_, QPoint(0, 0));
    // The strip below the toolbar lies outside the view area.
    painter.fillRect(rect(), QColor(window_->BackgroundGrey(), window_->BackgroundGrey(), window_->BackgroundGrey()));
    painter.drawImage(source.topLeft() - offset, image, source);
}

void ViewWidget::mousePressEvent(QMouseEvent* e) {
    window_->MousePress(e->button(), ToClient(e->position()), e->modifiers());
}
void ViewWidget::mouseMoveEvent(QMouseEvent* e) { window_->MouseMove(ToClient(e->position()), e->buttons()); }
void ViewWidget::mouseReleaseEvent(QMouseEvent* e) { window_->MouseRelease(e->button()); }
void ViewWidget::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) window_->MouseDoubleClick();
}
void ViewWidget::wheelEvent(QWheelEvent* e) {
    window_->Wheel(ToClient(e->position()), e->angleDelta().y());
    e->accept();
}
void ViewWidget::leaveEvent(QEvent*) { window_->MouseLeave(); }
