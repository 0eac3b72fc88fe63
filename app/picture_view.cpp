#include "picture_view.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "color_scheme.h"

PictureView::PictureView(QWidget* window, Document& doc) : QWidget(window), window_(window), doc_(doc) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

PictureView::~PictureView() { ReleaseViewCopies(view_); }

int PictureView::BackgroundGrey() const {
    const int scheme = CurrentColorScheme().number;
    return scheme == 2 || scheme == 3 ? 48 : 190;
}

QPoint PictureView::ToClient(QPointF p) const { return mapTo(window_, p.toPoint()); }

void PictureView::SyncRatio() { anchor_.ratio = devicePixelRatioF(); }

// The back buffer covers the whole window in device pixels.
void PictureView::Render(int slot, const SBxPicBuf& picture, int reuse, bool draw) {
    SyncRatio();
    const int w = int(std::ceil(window_->width() * anchor_.ratio));
    const int h = int(std::ceil(window_->height() * anchor_.ratio));
    RenderView(view_, doc_, anchor_, picture, reuse, slot, draw, doc_.alpha, w, h, BackgroundGrey());
}

void PictureView::Redraw(int reuse) {
    Render(kSlotDisplayed, doc_.displayed, reuse, true);
    update();
}

void PictureView::ReloadLoaded() { Render(kSlotLoaded, doc_.loaded, 0, false); }

void PictureView::Clear() {
    ReleaseViewCopies(view_);
    view_.resampling = kBilinear;
    Render(kSlotNone, doc_.displayed, 0, true);
    update();
}

void PictureView::ShowZoom() {
    if (zoomShown) zoomShown(anchor_.zoom);
}

void PictureView::FitAndShow(bool redraw) {
    SyncRatio();
    if (!FitToView(anchor_, doc_.loaded, areas().fit)) return;
    last_ = dragStart_ = QPoint();
    dragging_ = false;
    ShowZoom();
    if (redraw) Redraw();
}

void PictureView::ZoomBy(double factor) {
    if (!doc_.loaded.pixels) return;
    anchor_.zoom *= factor;
    ShowZoom();
    Redraw();
}

void PictureView::ZoomTo100() {
    if (!doc_.loaded.pixels) return;
    last_ = dragStart_ = QPoint();
    Zoom100(anchor_, areas().fit);
    ShowZoom();
    Redraw();
}

void PictureView::SetZoom(double zoom) {
    anchor_.zoom = zoom;
    dragStart_ = QPoint();
    ShowZoom();
    Redraw();
}

bool PictureView::TypeZoom(const std::string& text) {
    const std::optional<double> zoom = ParseTypedZoom(text);
    if (!zoom) {
        ShowZoom();
        return false;
    }
    SetZoom(*zoom);
    return true;
}

void PictureView::Pan(int dx, int dy) {
    anchor_.dstX += dx;
    anchor_.dstY += dy;
    Redraw();
}

void PictureView::Wheel(QPoint p, int delta) {
    if (!doc_.loaded.pixels || dragging_ || delta == 0) return;
    SyncRatio();
    int x = 0, y = 0;
    WheelZoom(anchor_, p.x(), p.y(), delta > 0 ? 1 : -1, doc_.displayed, doc_.loaded, &x, &y);
    last_ = QPoint(x, y);
    ShowZoom();
    Redraw();
}

void PictureView::SetShape(Qt::CursorShape shape) {
    shape_ = shape;
    setCursor(ctrlCross_ ? Qt::CrossCursor : shape_);
}

void PictureView::SetCtrlCross(bool on) {
    ctrlCross_ = on;
    SetShape(shape_);
}

void PictureView::paintEvent(QPaintEvent*) {
    const SBxPicBuf& back = doc_.backBuffer;
    QPainter painter(this);
    const int grey = BackgroundGrey();
    // The strip below the toolbar lies outside the view area.
    painter.fillRect(rect(), QColor(grey, grey, grey));
    if (!back.pixels) return;
    const ViewRect area = areas().view;
    const QPoint origin = mapTo(window_, QPoint(0, 0));
    painter.setClipRect(QRect(area.left, area.top, area.right - area.left, area.bottom - area.top).translated(-origin));
    // Drawn from the window's corner, the back buffer's device pixels land on
    // the screen's device pixels one to one, wherever the view itself begins.
    QImage image(back.pixels, back.width, back.height, int(back.pitch), QImage::Format_BGR888);
    image.setDevicePixelRatio(anchor_.ratio);
    painter.drawImage(QPointF(-origin), image);
}

void PictureView::mousePressEvent(QMouseEvent* e) {
    const QPoint p = ToClient(e->position());
    if (e->button() == Qt::RightButton) {
        // While the right button is held the unprocessed picture is shown.
        if (doc_.loaded.pixels) {
            Render(kSlotLoaded, doc_.loaded, 1, true);
            update();
        }
        return;
    }
    if (e->button() != Qt::LeftButton || (ignorePress && ignorePress())) return;
    if (panelMouse && panelMouse(ViewMouse::Press, p)) return;
    last_ = p;
    const ViewRect c = areas().click;
    if (p.x() >= c.left && p.x() <= c.right && p.y() >= c.top && p.y() <= c.bottom) {
        dragging_ = true;
        dragStart_ = last_ = p;
    }
}

void PictureView::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = ToClient(e->position());
    last_ = p;
    if (panelMouse && panelMouse(ViewMouse::Move, p)) return;
    if (!(e->buttons() & Qt::LeftButton) || !dragging_) return;
    anchor_.srcX += (dragStart_.x() - p.x()) / anchor_.Scale();
    anchor_.srcY += (dragStart_.y() - p.y()) / anchor_.Scale();
    Redraw();
    dragStart_ = p;
}

void PictureView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        if (doc_.displayed.pixels) Redraw();
        return;
    }
    dragging_ = false;
    if (panelMouse) panelMouse(ViewMouse::Release, last_);
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) FitAndShow(true);
}

void PictureView::wheelEvent(QWheelEvent* e) {
    Wheel(ToClient(e->position()), e->angleDelta().y());
    e->accept();
}

void PictureView::leaveEvent(QEvent*) { dragging_ = false; }
