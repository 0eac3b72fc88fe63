#include "method_panels.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "ids.h"
#include "original.h"
#include "panel_host.h"
#include "redraw.h"
#include "smudge.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

int TilesOf(int width, int height) { return (height / 500) * (width / 500); }

template <size_t N>
PanelTable TableOf(const ParamSpec (&specs)[N], const ParamGroup* groups, int groupCount, std::vector<int> locked,
                   bool previewLocked) {
    return {specs, int(N), groups, groupCount, std::move(locked), previewLocked};
}

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

OriginalPanel::OriginalPanel(PanelHost& host, QWidget* parent)
    : MethodPanel(host,
                  TableOf(kOriginalSpecs, kOriginalGroups, 2,
                          {kSmoothAlpha, kRelaxation, kFlatten, kLoGPower, kDoShock, kDoLoG}, true),
                  163, parent) {
    Build();
}

void OriginalPanel::AddExtras(QVBoxLayout* layout) {
    defaults_ = new QPushButton(Q(host_.Texts().Text(12)));
    defaults_->setProperty(kIdProperty, 1081);
    connect(defaults_, &QPushButton::clicked, this, [this] { Defaults(); });
    layout->addWidget(defaults_);
}

void OriginalPanel::LockExtras(bool locked) { defaults_->setEnabled(!locked); }

void OriginalPanel::Defaults() {
    if (JobRunning()) return;  // a preview must not run beside the job
    const OriginalPositions d = DefaultOriginalPositions();
    Controls().SetPositions(std::vector<int>(d.begin(), d.end()));
    RecomputePreview();
}

RepaintStatus OriginalPanel::RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>&) {
    QuietProgress quiet;
    return previewCache_.Repaint(result, crop, OriginalParamsFrom(host_.Ui()), quiet);
}

JobFunction OriginalPanel::MakeJob() const {
    const OriginalParams p = OriginalParamsFrom(host_.Ui());
    return [p](SBxPicBuf& result, const SBxPicBuf& source, RepaintProgress& progress) {
        return RepaintOriginal(result, source, p, progress);
    };
}

int OriginalPanel::ProgressRange() const { return OriginalProgressRange(Loaded().width, Loaded().height); }
void OriginalPanel::JobStarting() { host_.Ui().uiCycles = 10; }

// ---- Smudge ----------------------------------------------------------------------

SmudgePanel::SmudgePanel(PanelHost& host, QWidget* parent)
    : MethodPanel(host, TableOf(kSmudgeSpecs, nullptr, 0, {kSmudgeDetails, kSmudgeProlongation, kSmudgeSigma}, false),
                  164, parent) {
    Build();
}

RepaintStatus SmudgePanel::RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>&) {
    QuietProgress quiet;
    return RepaintSmudge(result, crop, SmudgeParamsFrom(host_.Ui()), quiet);
}

JobFunction SmudgePanel::MakeJob() const {
    const SmudgeParams p = SmudgeParamsFrom(host_.Ui());
    return [p](SBxPicBuf& result, const SBxPicBuf& source, RepaintProgress& progress) {
        return RepaintSmudge(result, source, p, progress);
    };
}

int SmudgePanel::ProgressRange() const {
    return SmudgeProgressRange(Loaded().width, Loaded().height, Loaded().components);
}

// ---- Redraw ----------------------------------------------------------------------

RedrawPanel::RedrawPanel(PanelHost& host, QWidget* parent)
    : MethodPanel(host, TableOf(kRedrawSpecs, kRedrawGroups, 2, {kEdgeDetails, kEdgeCut}, false), 165, parent) {
    Build();
}

RepaintStatus RedrawPanel::RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>& rect) {
    const RedrawParams p = RedrawParamsFrom(host_.Ui());
    QuietProgress quiet;
    // The edge map is built on the whole picture, so strokes near the
    // rectangle's border are those of the full picture; Details keys it.
    if (p.details != cacheKey_ || edgeCache_.Empty()) {
        if (!host_.TakeEdgeMap(p.details, edgeCache_)) {
            const RepaintStatus built = BuildRedrawEdgeMap(edgeCache_.buf, Loaded(), p, quiet);
            if (built != RepaintStatus::Done) return built;
            ++builds_;
        }
        cacheKey_ = p.details;
    }
    PicBufHolder edgeCrop;
    if (!CBxPicBufAPI::Copy(edgeCrop.buf, edgeCache_.buf, rect)) return RepaintStatus::OutOfMemory;
    return RedrawWithEdgeMap(result, crop, edgeCrop.buf, p, quiet);
}

JobFunction RedrawPanel::MakeJob() const {
    const RedrawParams p = RedrawParamsFrom(host_.Ui());
    return [p](SBxPicBuf& result, const SBxPicBuf& source, RepaintProgress& progress) {
        return RunRedraw(result, source, p, progress);
    };
}

int RedrawPanel::ProgressRange() const { return RedrawProgressRange(Loaded().components); }

void RedrawPanel::JobStarting() {
    edgeCache_ = PicBufHolder();
    cacheKey_ = 0.f;
}
