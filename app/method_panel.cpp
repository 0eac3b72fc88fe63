#include "method_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "color_scheme.h"
#include "docker.h"
#include "ids.h"
#include "main_window.h"

namespace {

constexpr int kHalfPreview = 150;

QString Q(const std::string& s) { return QString::fromStdString(s); }

void Send(QObject* to, QEvent::Type type) {
    QEvent e(type);
    QApplication::sendEvent(to, &e);
}

int RoundedCoordinate(double v, int limit) {
    int r = int(v + 0.5);
    if (r > limit) r = limit;
    return r < 1 ? 0 : r;
}

}  // namespace

PreviewRect PreviewRectAround(int cx, int cy, int width, int height) {
    PreviewRect r;
    r.left = std::max(cx - kHalfPreview, 0);
    r.top = std::max(cy - kHalfPreview, 0);
    r.right = std::min(cx + kHalfPreview, width);
    r.bottom = std::min(cy + kHalfPreview, height);
    return r;
}

CBxRect<int> PreviewRect::Rounded(int width, int height) const {
    return {RoundedCoordinate(left, width), RoundedCoordinate(top, height), RoundedCoordinate(right, width),
            RoundedCoordinate(bottom, height)};
}

MethodPanel::MethodPanel(MainWindow* window, QWidget* parent) : QWidget(parent), window_(window) {}

const SBxPicBuf& MethodPanel::Loaded() const { return window_->Doc().loaded; }
SBxPicBuf& MethodPanel::Displayed() { return window_->Doc().displayed; }

void MethodPanel::Initialise() {
    const TextTable& t = window_->Texts();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    AddControls(layout);
    preview_ = new QCheckBox(Q(t.Text(73)));
    preview_->setProperty(kIdProperty, 1103);
    layout->addWidget(preview_);
    progress_ = new QProgressBar;
    progress_->setProperty(kIdProperty, 1079);
    progress_->setTextVisible(false);
    abort_ = new QPushButton(Q(t.Text(68)));
    abort_->setProperty(kIdProperty, 1080);
    layout->addWidget(progress_);
    layout->addWidget(abort_);
    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(Q(t.Text(45)));
    ok_->setProperty(kIdProperty, 1);
    cancel_ = new QPushButton(Q(t.Text(46)));
    cancel_->setProperty(kIdProperty, 2);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(preview_, &QCheckBox::toggled, this, [this](bool on) { SetPreview(on); });
    connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(abort_, &QPushButton::clicked, this, [this] { Abort(); });
    progress_->hide();
    abort_->hide();
    setFixedWidth(290);
    adjustSize();

    // The view starts from the unprocessed picture.
    CBxPicBufAPI::Copy(Displayed(), Loaded());
    Send(window_, um::kViewReload);
    window_->AbortFlag().store(false);
}

void MethodPanel::AddSlider(QVBoxLayout* layout, int textKey, int minimum, int maximum, int32_t* setting,
                            QString (*format)(int), QWidget** sliderOut, QWidget** valueOut) {
    auto* label = new QLabel(Q(window_->Texts().Text(textKey)));
    auto* row = new QHBoxLayout;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setPageStep(1);
    slider->setSingleStep(1);
    slider->setTickPosition(QSlider::NoTicks);
    // Stored values outside the range are shown clamped but kept until moved.
    {
        const QSignalBlocker quiet(slider);
        slider->setValue(std::clamp(int(*setting), minimum, maximum));
    }
    auto* value = new QLabel(format(*setting));
    value->setMinimumWidth(36);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(slider, 1);
    row->addWidget(value);
    layout->addWidget(label);
    layout->addLayout(row);
    connect(slider, &QSlider::valueChanged, this, [this, slider, value, setting, format](int v) {
        *setting = v;
        value->setText(format(v));
        if (!slider->isSliderDown()) RecomputePreview();  // thumb drags wait for the release
        window_->DockerWidget()->setFocus();
    });
    connect(slider, &QSlider::sliderReleased, this, [this] { RecomputePreview(); });
    if (sliderOut) *sliderOut = slider;
    if (valueOut) *valueOut = value;
}

bool MethodPanel::PreviewOn() const { return preview_ && preview_->isChecked(); }

void MethodPanel::SetPreview(bool on) {
    dragging_ = overFrame_ = false;
    // While a job writes the displayed picture the box only takes effect
    // when the job ends (an aborted job recomputes the preview).
    if (closing_) return;
    if (!on) {
        frameShown_ = false;
        window_->View().previewFrame = nullptr;
        CBxPicBufAPI::Copy(Displayed(), Loaded());
        Send(window_, um::kViewReload);
        return;
    }
    double sx, sy;
    window_->Anchor().Map().MapPointDstToSrc(&sx, &sy, window_->DockerWidget()->x() / 2, window_->height() / 2);
    rect_ = PreviewRectAround(int(std::floor(sx + 0.5)), int(std::floor(sy + 0.5)), Loaded().width, Loaded().height);
    frame_ = rect_.Rounded(Loaded().width, Loaded().height);
    frameShown_ = true;
    window_->View().previewFrame = &frame_;
    PreviewSwitchedOn();
    RecomputePreview();
}

void MethodPanel::RecomputePreview() {
    if (!PreviewOn() || closing_) return;
    if (ReloadBeforePreview()) Send(window_, um::kViewReload);
    const int w = frame_.Width(), h = frame_.Height();
    CBxPicBufAPI::Copy(Displayed(), Loaded());
    if (frameShown_ && w > 0 && h > 0) {
        PicBufHolder crop, result;
        if (CBxPicBufAPI::Copy(crop.buf, Loaded(), frame_) && CBxPicBufAPI::ReinitHeap(result.buf, crop.buf)) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const RepaintStatus status = RunPreview(result.buf, crop.buf, frame_);
            QApplication::restoreOverrideCursor();
            if (status == RepaintStatus::Done)
                CBxPicBufAPI::CopyRect(Displayed(), result.buf, {frame_.left, frame_.top}, {0, 0}, {w, h});
        }
    }
    Send(window_, um::kViewReload);
}

bool MethodPanel::HandleViewMouse(ViewMouse kind, QPoint p) {
    if (closing_) return false;
    const CBxPicMap map = window_->Anchor().Map();
    int x0, y0, x1, y1;
    map.MapPointSrcToDst(&x0, &y0, rect_.left, rect_.top);
    map.MapPointSrcToDst(&x1, &y1, rect_.right, rect_.bottom);
    const bool inside = p.x() >= x0 && p.x() < x1 && p.y() >= y0 && p.y() < y1;
    overFrame_ = (inside && PreviewOn()) || dragging_;
    window_->SetViewCursor(overFrame_ ? Qt::SizeAllCursor : Qt::ArrowCursor);
    switch (kind) {
        case ViewMouse::Press:
            if (!overFrame_) return false;
            dragging_ = true;
            last_ = p;
            return true;
        case ViewMouse::Release:
            if (!dragging_) return false;
            dragging_ = false;
            RecomputePreview();
            return true;
        case ViewMouse::Move: {
            if (!dragging_) return false;
            const double zoom = window_->Anchor().zoom;
            const double dx = (p.x() - last_.x()) / zoom, dy = (p.y() - last_.y()) / zoom;
            rect_.left += dx;
            rect_.right += dx;
            rect_.top += dy;
            rect_.bottom += dy;
            frame_ = rect_.Rounded(Loaded().width, Loaded().height);
            last_ = p;
            Send(window_, um::kViewRedraw);
            return true;
        }
    }
    return false;
}

void MethodPanel::ShowJobControls(bool running) {
    EnableForJob(!running);
    ok_->setEnabled(!running);
    cancel_->setEnabled(!running);
    if (PreviewDisabledDuringJob()) preview_->setEnabled(!running);
    progress_->setVisible(running);
    abort_->setVisible(running);
}

void MethodPanel::Ok() {
    if (done_) {
        Close(false);
        return;
    }
    closing_ = true;
    overFrame_ = dragging_ = false;
    window_->SetPanelOpen(false);
    ShowJobControls(true);
    Send(window_, um::kViewRedraw);
    progress_->setRange(0, ProgressRange());
    progress_->setValue(ProgressStart());
    JobStarting();
    window_->AbortFlag().store(false);
    QApplication::postEvent(window_, new QEvent(StartEvent()));
}

void MethodPanel::Cancel() {
    if (done_ || closing_) return;
    Close(true);
}

void MethodPanel::Abort() {
    window_->AbortFlag().store(true);
    AbortPressed();
}

void MethodPanel::AdvanceProgress(int steps) {
    progress_->setValue(std::min(progress_->value() + steps, progress_->maximum()));
}

void MethodPanel::Close(bool restore) {
    closing_ = true;
    frameShown_ = false;
    window_->View().previewFrame = nullptr;
    if (restore) CBxPicBufAPI::Copy(Displayed(), Loaded());
    window_->CloseMethodPanel(this);
    Send(window_, um::kViewReload);
    window_->setFocus();
    hide();
    deleteLater();
}

void MethodPanel::JobDone() {
    closing_ = false;
    done_ = true;
    frameShown_ = false;
    window_->View().previewFrame = nullptr;
    Send(window_, um::kViewReload);
    Send(window_, um::kJobDone);
    QMetaObject::invokeMethod(this, [this] { Ok(); }, Qt::QueuedConnection);
}

void MethodPanel::JobAborted() {
    closing_ = false;
    ShowJobControls(false);
    preview_->setEnabled(true);
    Send(window_, um::kJobAborted);
    window_->AbortFlag().store(false);
    progress_->setValue(0);
    if (PreviewOn() != frameShown_)
        SetPreview(PreviewOn());  // the box was changed during the job
    else
        RecomputePreview();
}

bool MethodPanel::event(QEvent* e) {
    if (e->type() == um::kJobDone) {
        JobDone();
        return true;
    }
    if (e->type() == um::kJobAborted) {
        JobAborted();
        return true;
    }
    if (e->type() == um::kPreview) {
        RecomputePreview();
        return true;
    }
    return QWidget::event(e);
}

// The wheel zooms the picture wherever the mouse is.
void MethodPanel::wheelEvent(QWheelEvent* e) {
    window_->Wheel(mapTo(window_, e->position().toPoint()), e->angleDelta().y());
    e->accept();
}

void MethodPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), SkinBrush(kColorBtnFace));
}
