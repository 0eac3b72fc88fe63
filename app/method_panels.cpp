#include "method_panels.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ids.h"
#include "job_params.h"
#include "main_window.h"
#include "original.h"
#include "redraw.h"
#include "smudge.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

class NoProgress : public RepaintProgress {
public:
    void Step(int) override {}
    bool AbortRequested() const override { return false; }
    bool ProgressVisible() const override { return false; }
};

int TilesOf(int width, int height) { return (height / 500) * (width / 500); }

}  // namespace

int OriginalProgressRange(int width, int height) {
    const int tiles = width < 500 || height < 500 ? 1 : TilesOf(width, height);
    return tiles * 39;
}

int SmudgeProgressRange(int width, int height, int components) {
    return width >= 500 || height >= 500 ? TilesOf(width, height) * 3 + 4 : components + 2;
}

int RedrawProgressRange(int components) { return components * 2 + 10; }

// ---- Original ------------------------------------------------------------------

void OriginalPanel::AddControls(QVBoxLayout* layout) {
    const TextTable& t = window_->Texts();
    UiSettings& ui = window_->Ui();
    auto* smoothing = new QGroupBox(Q(t.Text(53)));
    auto* s = new QVBoxLayout(smoothing);
    AddSlider(s, 31, 1, 20, &ui.uiSmoothAlpha, [](int p) { return Fixed(p * 0.25, 2); }, &sliders_[0], &values_[0]);
    AddSlider(s, 33, 0, 25, &ui.uiRelaxation, [](int p) { return Fixed(p * 4.0, 0); }, &sliders_[1], &values_[1]);
    auto* sharpening = new QGroupBox(Q(t.Text(30)));
    auto* h = new QVBoxLayout(sharpening);
    shock_ = new QCheckBox(Q(t.Text(13)));
    h->addWidget(shock_);
    AddSlider(h, 0, 1, 20, &ui.uiFlatten, [](int p) { return Fixed(p / 40.0 + 0.05, 2); }, &sliders_[2], &values_[2]);
    log_ = new QCheckBox(Q(t.Text(14)));
    h->addWidget(log_);
    AddSlider(h, 0, 1, 20, &ui.uiLoGPower, [](int p) { return Fixed(p * 2.0, 0); }, &sliders_[3], &values_[3]);
    auto* defaults = new QPushButton(Q(t.Text(12)));
    defaults_ = defaults;
    layout->addWidget(smoothing);
    layout->addWidget(sharpening);
    layout->addWidget(defaults);
    shock_->setChecked(ui.uiDoShock != 0);
    log_->setChecked(ui.uiDoLoG != 0);
    SyncChecks();
    connect(shock_, &QCheckBox::toggled, this, [this](bool on) {
        window_->Ui().uiDoShock = on;
        SyncChecks();
        RecomputePreview();
    });
    connect(log_, &QCheckBox::toggled, this, [this](bool on) {
        window_->Ui().uiDoLoG = on;
        SyncChecks();
        RecomputePreview();
    });
    connect(defaults, &QPushButton::clicked, this, [this] { Defaults(); });
}

void OriginalPanel::SyncChecks() {
    sliders_[2]->setEnabled(shock_->isChecked());
    values_[2]->setEnabled(shock_->isChecked());
    sliders_[3]->setEnabled(log_->isChecked());
    values_[3]->setEnabled(log_->isChecked());
}

void OriginalPanel::Defaults() {
    if (JobRunning()) return;  // a preview must not run beside the job
    const OriginalPositions d = DefaultOriginalPositions();
    {
        const QSignalBlocker a(shock_), b(log_);
        shock_->setChecked(true);
        log_->setChecked(true);
    }
    window_->Ui().uiDoShock = window_->Ui().uiDoLoG = 1;
    SyncChecks();
    const int order[4] = {kSmoothAlpha, kRelaxation, kFlatten, kLoGPower};
    for (int i = 0; i < 4; ++i) static_cast<QSlider*>(sliders_[i])->setValue(d[size_t(order[i])]);
    RecomputePreview();
}

void OriginalPanel::EnableForJob(bool enabled) {
    for (QWidget* w : sliders_) w->setEnabled(enabled);
    for (QWidget* w : values_) w->setEnabled(enabled);
    shock_->setEnabled(enabled);
    log_->setEnabled(enabled);
    defaults_->setEnabled(enabled);
    if (enabled) SyncChecks();
}

RepaintStatus OriginalPanel::RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>&) {
    NoProgress quiet;
    return RepaintOriginal(result, crop, OriginalParamsFrom(window_->Ui()), quiet);
}

QEvent::Type OriginalPanel::StartEvent() const { return um::kStartOriginal; }
int OriginalPanel::ProgressRange() const { return OriginalProgressRange(Loaded().width, Loaded().height); }
void OriginalPanel::JobStarting() { window_->Ui().uiCycles = 10; }

// ---- Smudge ----------------------------------------------------------------------

void SmudgePanel::AddControls(QVBoxLayout* layout) {
    UiSettings& ui = window_->Ui();
    auto raw = [](int p) { return QString::number(p); };
    AddSlider(layout, 57, 1, 100, &ui.uiDetails, raw, &controls_[0], &controls_[1]);
    AddSlider(layout, 58, 1, 100, &ui.uiProlongation, raw, &controls_[2], &controls_[3]);
    AddSlider(layout, 59, 0, 100, &ui.uiSigma, raw, &controls_[4], &controls_[5]);
}

void SmudgePanel::EnableForJob(bool enabled) {
    for (QWidget* w : controls_) w->setEnabled(enabled);
}

RepaintStatus SmudgePanel::RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>&) {
    NoProgress quiet;
    return RepaintSmudge(result, crop, SmudgeParamsFrom(window_->Ui()), quiet);
}

QEvent::Type SmudgePanel::StartEvent() const { return um::kStartSmudge; }
int SmudgePanel::ProgressRange() const {
    return SmudgeProgressRange(Loaded().width, Loaded().height, Loaded().components);
}

// ---- Redraw ----------------------------------------------------------------------

RedrawPanel::~RedrawPanel() { CBxPicBufAPI::DoneHeap(edgeCache_); }

void RedrawPanel::AddControls(QVBoxLayout* layout) {
    const TextTable& t = window_->Texts();
    UiSettings& ui = window_->Ui();
    auto* edges = new QGroupBox(Q(t.Text(69)));
    auto* e = new QVBoxLayout(edges);
    AddSlider(e, 75, 1, 100, &ui.uiEdgeDetails, [](int p) { return Fixed(p / 10.0 + 0.5, 1); }, &controls_[0],
              &controls_[1]);
    AddSlider(e, 76, 1, 100, &ui.uiEdgeCut, [](int p) { return Fixed(p * 2.55, 0); }, &controls_[2], &controls_[3]);
    auto* colours = new QGroupBox(Q(t.Text(70)));
    auto* c = new QVBoxLayout(colours);
    import_ = new QCheckBox(Q(t.Text(77)));
    colours_ = new QComboBox;
    for (int key = 63; key <= 67; ++key) colours_->addItem(Q(t.Text(key)));
    colours_->setCurrentIndex(ui.uiQuantization >= 0 && ui.uiQuantization <= 4 ? ui.uiQuantization : -1);
    import_->setChecked(ui.uiFuseToImage != 0);
    colours_->setEnabled(import_->isChecked());
    c->addWidget(import_);
    c->addWidget(colours_);
    layout->addWidget(edges);
    layout->addWidget(colours);
    connect(import_, &QCheckBox::toggled, this, [this](bool on) {
        window_->Ui().uiFuseToImage = on ? 1 : 0;
        colours_->setEnabled(on);
        if (!JobRunning()) RecomputePreview();
    });
    connect(colours_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        window_->Ui().uiQuantization = index;
        if (!JobRunning()) RecomputePreview();
    });
}

void RedrawPanel::EnableForJob(bool enabled) {
    for (QWidget* w : controls_) w->setEnabled(enabled);
}

RepaintStatus RedrawPanel::RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>& rect) {
    const RedrawParams p = RedrawParamsFrom(window_->Ui());
    NoProgress quiet;
    // The edge map is built on the whole picture, so strokes near the
    // rectangle's border are those of the full picture; Details keys it.
    if (p.details != cacheKey_ || !edgeCache_.pixels) {
        const RepaintStatus built = BuildRedrawEdgeMap(edgeCache_, Loaded(), p, quiet);
        if (built != RepaintStatus::Done) return built;
        cacheKey_ = p.details;
        ++builds_;
    }
    PicBufHolder edgeCrop;
    if (!CBxPicBufAPI::Copy(edgeCrop.buf, edgeCache_, rect)) return RepaintStatus::OutOfMemory;
    return RedrawWithEdgeMap(result, crop, edgeCrop.buf, p, quiet);
}

QEvent::Type RedrawPanel::StartEvent() const { return um::kStartRedraw; }
int RedrawPanel::ProgressRange() const { return RedrawProgressRange(Loaded().components); }

void RedrawPanel::JobStarting() {
    CBxPicBufAPI::DoneHeap(edgeCache_);
    cacheKey_ = 0.f;
}
