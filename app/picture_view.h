// The picture view: the area below the toolbar that shows the back buffer,
// its zoom and pan, the mouse gestures over it and the rendering of the
// document's pictures into the back buffer. Points are in the main window's
// (client) coordinates.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "document.h"
#include "image_view.h"
#include "method_panel.h"

// The parts of the window the view works in, from the window's layout.
struct ViewAreas {
    ViewRect fit, click, view;
};

class PictureView : public QWidget {
public:
    PictureView(QWidget* window, Document& doc);
    ~PictureView() override;

    // Set by the window: its areas, the open panel's mouse handler, whether a
    // press is ignored (Ctrl with a panel open), and where the zoom is shown.
    std::function<ViewAreas()> areas;
    std::function<bool(ViewMouse, QPoint)> panelMouse;
    std::function<bool()> ignorePress;
    std::function<void(double zoom)> zoomShown;

    const ViewAnchor& Anchor() const { return anchor_; }
    ImageView& State() { return view_; }
    int BackgroundGrey() const;

    // Draws the displayed picture (reuse 0: rebuilds its display copy).
    void Redraw(int reuse = 1);
    // Rebuilds the display copy of the loaded picture without drawing.
    void ReloadLoaded();
    // Shows only the background and forgets the display copies.
    void Clear();
    void FitAndShow(bool redraw);
    void ZoomBy(double factor);
    void ZoomTo100();
    void SetZoom(double zoom);
    // Typed zoom text: false when it was refused (the box shows the zoom again).
    bool TypeZoom(const std::string& text);
    void Pan(int dx, int dy);
    void Wheel(QPoint p, int delta);
    // The cursor over the picture; a held Ctrl with a panel open shows the
    // cross instead.
    void SetShape(Qt::CursorShape shape);
    void SetCtrlCross(bool on);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    QPoint ToClient(QPointF p) const;
    // Takes the screen's device pixels per window pixel into the anchor.
    void SyncRatio();
    void Render(int slot, const SBxPicBuf& picture, int reuse, bool draw);
    void ShowZoom();

    QWidget* window_;
    Document& doc_;
    ImageView view_;
    ViewAnchor anchor_;
    QPoint last_, dragStart_;
    bool dragging_ = false, ctrlCross_ = false;
    Qt::CursorShape shape_ = Qt::ArrowCursor;
};
