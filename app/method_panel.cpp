#include "method_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "color_scheme.h"
#include "ids.h"
#include "panel_host.h"

namespace {

constexpr int kHalfPreview = 150;
constexpr int kPanelWidth = 290;

QString Q(const std::string& s) { return QString::fromStdString(s); }

int RoundedCoordinate(double v, int limit) {
    int r = int(v + 0.5);
    if (r > limit) r = limit;
    return r < 1 ? 0 : r;
}

QPushButton* Button(const QString& text, int id) {
    auto* b = new QPushButton(text);
    b->setProperty(kIdProperty, id);
    return b;
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

MethodPanel::MethodPanel(PanelHost& host, const PanelTable& table, int dialogId, QWidget* parent)
    : QWidget(parent), host_(host), table_(table) {
    setProperty(kIdProperty, dialogId);
}

const SBxPicBuf& MethodPanel::Loaded() const { return host_.Loaded(); }

void MethodPanel::Build() {
    const TextTable& t = host_.Texts();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    controls_ = new ParamControls(table_.specs, table_.count, table_.groups, table_.groupCount, host_.Ui(), t, layout,
                                  this);
    connect(controls_, &ParamControls::Changed, this, [this](int, bool recompute) { ParameterChanged(recompute); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (int i = 0; now && i < controls_->Count(); ++i)
            if (controls_->Control(i) == now) tuned_ = now;
    });
    AddExtras(layout);
    preview_ = new QCheckBox(Q(t.Text(73)));
    preview_->setProperty(kIdProperty, 1103);
    layout->addWidget(preview_);
    auto* buttons = new QHBoxLayout;
    ok_ = Button(Q(t.Text(45)), 1);
    cancel_ = Button(Q(t.Text(46)), 2);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    progress_ = new QProgressBar;
    progress_->setProperty(kIdProperty, 1079);
    progress_->setTextVisible(false);
    abort_ = Button(Q(t.Text(68)), 1080);
    layout->addWidget(progress_);
    layout->addWidget(abort_);
    connect(preview_, &QCheckBox::toggled, this, [this](bool on) { SetPreview(on); });
    connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(abort_, &QPushButton::clicked, this, [this] { Abort(); });
    progress_->hide();
    abort_->hide();
    Fit();
    // The view starts from the unprocessed picture.
    host_.ShowPreview(nullptr, 0, 0);
}

// The panel is as wide as its widest unbreakable text needs and as tall as
// its controls at that width: nothing is clipped, nothing overlaps.
void MethodPanel::Fit() {
    QLayout* l = layout();
    l->activate();
    const int width = std::max(kPanelWidth, l->minimumSize().width());
    const int height = l->hasHeightForWidth() ? l->totalHeightForWidth(width) : l->sizeHint().height();
    setFixedSize(width, std::max(height, l->minimumSize().height()));
    host_.PanelResized();
}

QWidget* MethodPanel::Control(int id) const {
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property(kIdProperty).toInt() == id) return w;
    return nullptr;
}

void MethodPanel::ParameterChanged(bool recompute) {
    if (recompute && !JobRunning()) RecomputePreview();
}

void MethodPanel::ReturnFocus() {
    const QWidget* now = QApplication::focusWidget();
    if (now && isAncestorOf(now) && now->isVisible() && now->isEnabled()) return;
    QWidget* target = tuned_;
    for (int i = 0; i < controls_->Count() && !(target && target->isVisible() && target->isEnabled()); ++i)
        target = controls_->Control(i);
    if (target && target->isEnabled()) target->setFocus();
}

bool MethodPanel::PreviewOn() const { return preview_ && preview_->isChecked(); }

void MethodPanel::SetPreview(bool on) {
    dragging_ = overFrame_ = false;
    // While a job runs the box takes effect when the job ends (an aborted
    // job recomputes the preview).
    if (closing_) return;
    if (!on) {
        frameShown_ = false;
        host_.SetPreviewFrame(nullptr);
        host_.ShowPreview(nullptr, 0, 0);
        return;
    }
    const QPoint c = host_.ViewCentreOnPicture();
    rect_ = PreviewRectAround(c.x(), c.y(), Loaded().width, Loaded().height);
    frame_ = rect_.Rounded(Loaded().width, Loaded().height);
    frameShown_ = true;
    host_.SetPreviewFrame(&frame_);
    PreviewSwitchedOn();
    RecomputePreview();
}

// A request that arrives while a preview is being computed is not lost: the
// preview runs once more with the values as they are then.
void MethodPanel::RecomputePreview() {
    if (!PreviewOn() || closing_ || host_.JobRunning()) return;
    if (computing_) {
        again_ = true;
        return;
    }
    computing_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    do {
        again_ = false;
        ++previews_;
        const int w = frame_.Width(), h = frame_.Height();
        PicBufHolder crop, result;
        RepaintStatus status = RepaintStatus::BadInput;
        if (frameShown_ && w > 0 && h > 0 && CBxPicBufAPI::Copy(crop.buf, Loaded(), frame_) &&
            CBxPicBufAPI::ReinitHeap(result.buf, crop.buf)) {
            try {
                status = RunPreview(result.buf, crop.buf, frame_);
            } catch (const std::exception&) {
                status = RepaintStatus::BadInput;
            }
        }
        host_.ShowPreview(status == RepaintStatus::Done ? &result.buf : nullptr, frame_.left, frame_.top);
    } while (again_);
    QApplication::restoreOverrideCursor();
    computing_ = false;
    ReturnFocus();
}

bool MethodPanel::HandleViewMouse(ViewMouse kind, QPoint p) {
    if (closing_) return false;
    const CBxPicMap map = host_.ViewMap();
    int x0, y0, x1, y1;
    map.MapPointSrcToDst(&x0, &y0, rect_.left, rect_.top);
    map.MapPointSrcToDst(&x1, &y1, rect_.right, rect_.bottom);
    const bool inside = p.x() >= x0 && p.x() < x1 && p.y() >= y0 && p.y() < y1;
    overFrame_ = (inside && PreviewOn()) || dragging_;
    host_.SetViewCursor(overFrame_ ? Qt::SizeAllCursor : Qt::ArrowCursor);
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
            const double scale = host_.ViewScale();
            const double dx = (p.x() - last_.x()) / scale, dy = (p.y() - last_.y()) / scale;
            rect_.left += dx;
            rect_.right += dx;
            rect_.top += dy;
            rect_.bottom += dy;
            frame_ = rect_.Rounded(Loaded().width, Loaded().height);
            last_ = p;
            host_.SetPreviewFrame(&frame_);
            return true;
        }
    }
    return false;
}

void MethodPanel::ShowJobControls(bool running) {
    controls_->SetLocked(table_.lockedDuringJob, running);
    LockExtras(running);
    ok_->setEnabled(!running);
    cancel_->setEnabled(!running);
    if (table_.previewLockedDuringJob) preview_->setEnabled(!running);
    progress_->setVisible(running);
    abort_->setVisible(running);
    Fit();
}

void MethodPanel::Ok() {
    if (done_) {
        Close(true);
        return;
    }
    if (closing_) return;
    closing_ = true;
    overFrame_ = dragging_ = false;
    progress_->setRange(0, ProgressRange());
    progress_->setValue(ProgressStart());
    JobStarting();
    if (!host_.StartJob(MakeJob(), MakeRecipe())) {
        closing_ = false;
        return;
    }
    ShowJobControls(true);
    abort_->setFocus();
}

void MethodPanel::Cancel() {
    if (done_ || closing_) return;
    Close(false);
}

void MethodPanel::Abort() {
    host_.AbortJob();
    AbortPressed();
}

void MethodPanel::AdvanceProgress(int steps) {
    progress_->setValue(std::min(progress_->value() + steps, progress_->maximum()));
}

void MethodPanel::Close(bool keepResult) {
    closing_ = true;
    frameShown_ = false;
    host_.SetPreviewFrame(nullptr);
    hide();
    host_.PanelClosing(keepResult);
    deleteLater();
}

void MethodPanel::JobEnded(bool done) {
    closing_ = false;
    if (done) {
        done_ = true;
        frameShown_ = false;
        host_.SetPreviewFrame(nullptr);
        QMetaObject::invokeMethod(this, [this] { Ok(); }, Qt::QueuedConnection);
        return;
    }
    ShowJobControls(false);
    preview_->setEnabled(true);
    progress_->setValue(0);
    if (PreviewOn() != frameShown_)
        SetPreview(PreviewOn());  // the box was changed during the job
    else
        RecomputePreview();
    ReturnFocus();
}

bool MethodPanel::event(QEvent* e) {
    if (e->type() == um::kJobDone || e->type() == um::kJobAborted) {
        JobEnded(e->type() == um::kJobDone);
        return true;
    }
    if (e->type() == um::kPreview) {
        RecomputePreview();
        return true;
    }
    return QWidget::event(e);
}

void MethodPanel::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        Cancel();
        return;
    }
    QWidget::keyPressEvent(e);
}

// The wheel zooms the picture wherever the mouse is.
void MethodPanel::wheelEvent(QWheelEvent* e) {
    host_.WheelOverPanel(mapTo(window(), e->position().toPoint()), e->angleDelta().y());
    e->accept();
}

void MethodPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), SkinBrush(kColorBtnFace));
}

Recipe MethodPanel::MakeRecipe() const {
    Recipe r{MethodName(), {}, QUORVANE_VERSION};
    for (int i = 0; i < table_.count; ++i)
        if (const int32_t* v = host_.Ui().Field(table_.specs[i].settingsKey))
            r.positions.emplace_back(table_.specs[i].settingsKey, int(*v));
    return r;
}
