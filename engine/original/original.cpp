#include "original.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "flow.h"
#include "parallel.h"
#include "shock.h"
#include "sharpen.h"
#include "step_runner.h"
#include "tensor.h"
#include "tiles.h"
#include "work_image.h"

// Everything a tile needs besides its result. The tiles a thread runs share
// one set, and so do the previews of a panel, so its memory is allocated and
// paged in once.
struct OriginalTileWork {
    PicBufHolder padded, guide, jxx, jxy, jyy;
    IntImage work;
    FlowTable flow;
    ShockTable shock;
    TensorLevel weakFill{0, 0};
    ScratchSpace scratch;
    // What the tables were last built from, when they are kept for reuse.
    bool tablesKept = false;
    float smoothness = 0.f, weakThreshold = 0.f;
    int width = 0, height = 0, components = 0, bits = 0;
    std::vector<unsigned char> samples;
    int builds = 0;
};

namespace {

using TileWork = OriginalTileWork;

constexpr int kPad = 10;
constexpr int kOverlap = 70;
constexpr int kRamp = 140;

// The progress steps of one tile: eight to set it up, then three in every
// cycle, counted whether or not flattening and sharpening run.
enum SetupStep { kStart, kBuffers, kGuide, kTables, kTensor, kWeakFill, kFlowTable, kShockTable };
constexpr MethodStep kSetupSteps[] = {{"start", 1},       {"buffers", 1},   {"guide and working image", 1},
                                      {"tables", 1},      {"tensor", 1},    {"weak-area fill", 1},
                                      {"flow table", 1},  {"shock table", 1}};
enum CycleStep { kSmoothing, kFlattening, kSharpening };
constexpr MethodStep kCycleSteps[] = {{"flow smoothing", 1}, {"flattening", 1}, {"sharpening", 1}};
constexpr int kStepsPerTile = TotalWeight(kSetupSteps) + kOriginalCycles * TotalWeight(kCycleSteps);
static_assert(kStepsPerTile == 38, "a tile advances the progress by 38 steps");

bool SupportedSource(const SBxPicBuf& s) {
    return CBxPicBufAPI::IsValid(s) && (s.bits == 8 || s.bits == 16);
}

template <typename T>
void FillGuideAndWork(const SBxPicBuf& padded, SBxPicBuf& guide, IntImage& work, int scale) {
    const size_t row = size_t(padded.width) * padded.components;
    const T* s = reinterpret_cast<const T*>(padded.pixels);
    float* g = reinterpret_cast<float*>(guide.pixels);
    ParallelRows(0, padded.height, [&](int y) {
        for (size_t i = size_t(y) * row, e = i + row; i < e; ++i) {
            g[i] = float(s[i]);
            work.data[i] = int32_t(s[i]) * scale;
        }
    });
}

void WriteBack(const IntImage& work, SBxPicBuf& padded) {
    const size_t row = size_t(work.width) * work.components;
    ParallelRows(0, work.height, [&](int y) {
        for (size_t i = size_t(y) * row, e = i + row; i < e; ++i) {
            const int32_t v = work.data[i];
            if (padded.bits == 8)
                padded.pixels[i] = v < 256 ? 0 : v >= 65280 ? 255 : uint8_t(v >> 8);
            else
                reinterpret_cast<uint16_t*>(padded.pixels)[i] = v <= 0 ? 0 : v >= 65535 ? 65535 : uint16_t(v);
        }
    });
}


bool MakeTileBuffers(TileWork& b, const SBxPicBuf& source) {
    const int W = source.width + 2 * kPad, H = source.height + 2 * kPad, C = source.components;
    if (!CBxPicBufAPI::ReinitHeap(b.padded.buf, W, H, C, source.bits)) return false;
    CBxPicBufAPI::SetConst(b.padded.buf, 0);
    CBxPicBufAPI::CopyRect(b.padded.buf, source, {kPad, kPad}, {0, 0}, {source.width, source.height});
    PadReplicate(b.padded.buf, kPad);
    return CBxPicBufAPI::ReinitHeap(b.guide.buf, W, H, C, 32) && CBxPicBufAPI::ReinitHeap(b.jxx.buf, W, H, 1, 32) &&
           CBxPicBufAPI::ReinitHeap(b.jxy.buf, W, H, 1, 32) && CBxPicBufAPI::ReinitHeap(b.jyy.buf, W, H, 1, 32);
}

// Cycles of smoothing, flattening and sharpening; stops early on abort.
void RunCycles(IntImage& work, const FlowTable& flow, const ShockTable& shock, const OriginalParams& params,
               StepRunner& run, ScratchSpace& scratch) {
    const int threshold = ShockThreshold(params.flattening);
    const float amount = params.sharpenStrength * 0.5f;
    for (int cycle = 0; cycle < kOriginalCycles; ++cycle) {
        FlowSmooth(work, flow, &scratch);
        if (!run.End(kCycleSteps[kSmoothing])) return;
        if (params.flattenOn) ShockStep(work, shock, threshold, &scratch);
        if (!run.End(kCycleSteps[kFlattening])) return;
        if (params.sharpenOn) SharpenStep(work, 0.7f, amount, &scratch);
        if (!run.End(kCycleSteps[kSharpening])) return;
    }
}

// The flow and shock tables of the tile in `b`, from its guide.
RepaintStatus BuildTables(TileWork& b, const OriginalParams& params, int C, StepRunner& run) {
    const float sigma = FlowSigma(params.smoothness);
    const int length = FlowLength(sigma);
    if (!run.End(kSetupSteps[kTables])) return RepaintStatus::Aborted;

    if (!StructureTensor(b.jxx.buf, b.jxy.buf, b.jyy.buf, b.guide.buf)) return RepaintStatus::OutOfMemory;
    if (!run.End(kSetupSteps[kTensor])) return RepaintStatus::Aborted;
    FillWeakTensor(b.jxx.buf, b.jxy.buf, b.jyy.buf, params.weakThreshold, run.Progress(), b.weakFill);
    if (!run.End(kSetupSteps[kWeakFill])) return RepaintStatus::Aborted;

    const RepaintStatus traced =
        BuildFlowTable(b.flow, b.jxx.buf, b.jxy.buf, b.jyy.buf, b.guide.buf, sigma, length, C, &run.Progress(),
                       &b.scratch);
    if (traced != RepaintStatus::Done) return traced;
    if (!run.End(kSetupSteps[kFlowTable])) return RepaintStatus::Aborted;
    if (!BuildShockTable(b.shock, b.jxx.buf, b.jxy.buf, b.jyy.buf, C)) return RepaintStatus::OutOfMemory;
    if (!run.End(kSetupSteps[kShockTable])) return RepaintStatus::Aborted;
    return RepaintStatus::Done;
}

// The samples of `source`, row after row without padding.
void CopySamples(const SBxPicBuf& source, std::vector<unsigned char>& out) {
    const size_t row = size_t(source.width) * source.BytesPerPixel();
    out.resize(row * size_t(source.height));
    for (int y = 0; y < source.height; ++y)
        std::memcpy(out.data() + row * size_t(y), source.Row<unsigned char>(y), row);
}

// The tables depend on the picture, the smoothness and the weak-edge
// threshold; flattening and sharpening only act in the cycles.
bool KeptTablesFit(const TileWork& b, const SBxPicBuf& source, const OriginalParams& params) {
    if (!b.tablesKept || b.smoothness != params.smoothness || b.weakThreshold != params.weakThreshold ||
        b.width != source.width || b.height != source.height || b.components != source.components ||
        b.bits != source.bits)
        return false;
    const size_t row = size_t(source.width) * source.BytesPerPixel();
    for (int y = 0; y < source.height; ++y)
        if (std::memcmp(b.samples.data() + row * size_t(y), source.Row<unsigned char>(y), row) != 0) return false;
    return true;
}

void KeepTables(TileWork& b, const SBxPicBuf& source, const OriginalParams& params) {
    CopySamples(source, b.samples);
    b.smoothness = params.smoothness;
    b.weakThreshold = params.weakThreshold;
    b.width = source.width;
    b.height = source.height;
    b.components = source.components;
    b.bits = source.bits;
    b.tablesKept = true;
}

// With `keepTables`, tables built from the same picture and settings last
// time are used again (a preview whose flattening or sharpening changed).
RepaintStatus RunTile(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params, StepRunner& run,
                      TileWork& b, bool keepTables = false) {
    // The result holds the unprocessed source until the write-back.
    if (!CBxPicBufAPI::ReinitHeap(result, source) || !CBxPicBufAPI::Copy(result, source))
        return RepaintStatus::OutOfMemory;
    if (!run.End(kSetupSteps[kStart])) return RepaintStatus::Aborted;
    if (!MakeTileBuffers(b, source)) return RepaintStatus::OutOfMemory;
    const int W = b.padded.buf.width, H = b.padded.buf.height, C = source.components;
    // Every sample is written before it is read: no clearing needed.
    IntImage& work = b.work;
    work.width = W;
    work.height = H;
    work.components = C;
    work.data.resize(size_t(W) * H * C);
    if (!run.End(kSetupSteps[kBuffers])) return RepaintStatus::Aborted;
    if (source.bits == 8)
        FillGuideAndWork<uint8_t>(b.padded.buf, b.guide.buf, work, 256);
    else
        FillGuideAndWork<uint16_t>(b.padded.buf, b.guide.buf, work, 1);
    if (!run.End(kSetupSteps[kGuide])) return RepaintStatus::Aborted;

    if (keepTables && KeptTablesFit(b, source, params)) {
        for (int step = kTables; step <= kShockTable; ++step)
            if (!run.End(kSetupSteps[step])) return RepaintStatus::Aborted;
    } else {
        b.tablesKept = false;
        const RepaintStatus built = BuildTables(b, params, C, run);
        if (built != RepaintStatus::Done) return built;
        ++b.builds;
        if (keepTables) KeepTables(b, source, params);
    }

    RunCycles(work, b.flow, b.shock, params, run, b.scratch);
    // Written back also after an abort inside the cycles.
    WriteBack(work, b.padded.buf);
    CBxPicBufAPI::CopyRect(result, b.padded.buf, {0, 0}, {kPad, kPad}, {source.width, source.height});
    return run.AbortRequested() ? RepaintStatus::Aborted : RepaintStatus::Done;
}

RepaintStatus GuardedTile(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params,
                          StepRunner& run, TileWork& work, bool keepTables = false) {
    try {
        return RunTile(result, source, params, run, work, keepTables);
    } catch (const std::bad_alloc&) {
        work.tablesKept = false;
        return RepaintStatus::OutOfMemory;
    }
}

}  // namespace

float FlowSigma(float smoothness) { return smoothness * smoothness + 0.7f; }
int FlowLength(float sigma) { return int(1.5 * double(sigma) + 0.5) + 1; }

void PadReplicate(SBxPicBuf& padded, int border) {
    const int W = padded.width, H = padded.height;
    if (!CBxPicBufAPI::IsValid(padded) || W <= 2 * border || H <= 2 * border) return;
    const size_t bpp = size_t(padded.BytesPerPixel());
    for (int y = border; y <= H - border - 1; ++y) {
        unsigned char* row = padded.Row<unsigned char>(y);
        for (int x = 0; x < border; ++x) {
            std::memcpy(row + x * bpp, row + border * bpp, bpp);
            std::memcpy(row + (W - 1 - x) * bpp, row + (W - border - 1) * bpp, bpp);
        }
    }
    for (int y = 0; y < border; ++y) {
        std::memcpy(padded.Row<unsigned char>(y), padded.Row<unsigned char>(border), padded.pitch);
        std::memcpy(padded.Row<unsigned char>(H - 1 - y), padded.Row<unsigned char>(H - border - 1), padded.pitch);
    }
}

RepaintStatus RepaintOriginalTile(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params,
                                  RepaintProgress& progress) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    StepRunner run(progress);
    TileWork work;
    return GuardedTile(result, source, params, run, work);
}

void BlendTile(SBxPicBuf& destination, const SBxPicBuf& tile, int x0, int x1, int y0, int y1) {
    const int n = x1 - x0, m = y1 - y0, C = tile.components;
    if (tile.width != n || tile.height != m || C != destination.components || tile.bits != destination.bits ||
        x0 < 0 || y0 < 0 || x1 > destination.width || y1 > destination.height)
        return;
    const int dw = destination.width, dh = destination.height;
    const double maxValue = tile.bits == 8 ? 255.0 : 65535.0;
    ParallelRows(0, m, [&](int i) {
        for (int j = 0; j < n; ++j) {
            double g = 1.0;
            if (j < kRamp && x0 > kOverlap) g = double(j) / kRamp;
            if (i < kRamp && y0 > kOverlap) g = g * i / kRamp;
            if (j > n - kRamp && x1 < dw - kOverlap) g = g * (n - j) / kRamp;
            if (i > m - kRamp && y1 < dh - kOverlap) g = g * (m - i) / kRamp;
            for (int c = 0; c < C; ++c) {
                const size_t ti = size_t(j) * C + c, di = size_t(x0 + j) * C + c;
                double v;
                if (tile.bits == 8) {
                    uint8_t& d = destination.Row<uint8_t>(y0 + i)[di];
                    v = std::clamp(tile.Row<uint8_t>(i)[ti] * g + 0.5 + d, 0.0, maxValue);
                    d = uint8_t(v);
                } else {
                    uint16_t& d = destination.Row<uint16_t>(y0 + i)[di];
                    v = std::clamp(tile.Row<uint16_t>(i)[ti] * g + 0.5 + d, 0.0, maxValue);
                    d = uint16_t(v);
                }
            }
        }
    });
}

int OriginalSteps(int width, int height) { return std::max(TileCount(width, height), 1) * kStepsPerTile; }

namespace {

// Tiles run one per thread, each with the buffers of its thread, and are
// blended into the destination strictly in tile order (the rounding of each
// blend depends on what is already there), so the result is the same at any
// number of threads. A finished tile waits for those before it.
class TiledRun {
public:
    TiledRun(SBxPicBuf& destination, const SBxPicBuf& source, const OriginalParams& params,
             RepaintProgress& progress)
        : destination_(destination), source_(source), params_(params), progress_(progress),
          tiles_(TileCount(source.width, source.height)), results_(size_t(tiles_)), state_(size_t(tiles_), kWaiting) {}

    RepaintStatus Run() {
        ParallelTasks(0, tiles_, [this](int t) { RunOne(t); });
        if (failure_ != RepaintStatus::Done) return failure_;
        return progress_.AbortRequested() ? RepaintStatus::Aborted : RepaintStatus::Done;
    }

private:
    enum State : char { kWaiting, kFinished, kSkipped };

    void RunOne(int t) {
        std::unique_ptr<TileWork> work;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (failure_ != RepaintStatus::Done || progress_.AbortRequested()) {
                Settle(t, kSkipped);
                return;
            }
            if (spare_.empty()) spare_.push_back(std::make_unique<TileWork>());
            work = std::move(spare_.back());
            spare_.pop_back();
        }
        PicBufHolder result;
        const RepaintStatus status = Tile(t, *work, result);
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(work));
        switch (status) {
            case RepaintStatus::Done:
            case RepaintStatus::Aborted:
                // An aborted tile is blended too: the part it finished.
                results_[size_t(t)] = std::move(result);
                Settle(t, kFinished);
                break;
            case RepaintStatus::OutOfMemory:
            case RepaintStatus::BadInput:
            case RepaintStatus::BadSettings:
                if (failure_ == RepaintStatus::Done) failure_ = status;
                Settle(t, kSkipped);
                break;
        }
    }

    RepaintStatus Tile(int t, TileWork& work, PicBufHolder& result) {
        const TileRect s = TileSource(t);
        PicBufHolder tileSource;
        if (!CBxPicBufAPI::ReinitHeap(tileSource.buf, s.x1 - s.x0, s.y1 - s.y0, source_.components, source_.bits))
            return RepaintStatus::OutOfMemory;
        CBxPicBufAPI::CopyRect(tileSource.buf, source_, {0, 0}, {s.x0, s.y0}, {s.x1 - s.x0, s.y1 - s.y0});
        StepRunner run(progress_);
        return GuardedTile(result.buf, tileSource.buf, params_, run, work);
    }

    TileRect TileSource(int t) const {
        return WithMargin(TileCore(source_.width, source_.height, t), kOverlap, source_.width, source_.height);
    }

    // With the mutex held: records tile t and blends every tile whose turn
    // has come.
    void Settle(int t, State state) {
        state_[size_t(t)] = state;
        for (; nextBlend_ < tiles_ && state_[size_t(nextBlend_)] != kWaiting; ++nextBlend_) {
            PicBufHolder& r = results_[size_t(nextBlend_)];
            if (state_[size_t(nextBlend_)] == kFinished && failure_ == RepaintStatus::Done) {
                const TileRect s = TileSource(nextBlend_);
                BlendTile(destination_, r.buf, s.x0, s.x1, s.y0, s.y1);
            }
            r = PicBufHolder();
        }
    }

    SBxPicBuf& destination_;
    const SBxPicBuf& source_;
    const OriginalParams& params_;
    SerialProgress progress_;
    const int tiles_;
    std::mutex mutex_;
    std::vector<PicBufHolder> results_;
    std::vector<State> state_;
    std::vector<std::unique_ptr<TileWork>> spare_;
    int nextBlend_ = 0;
    RepaintStatus failure_ = RepaintStatus::Done;
};

}  // namespace

RepaintStatus RepaintOriginal(SBxPicBuf& destination, const SBxPicBuf& source, const OriginalParams& params,
                              RepaintProgress& progress) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    const CpuSpread spread(static_cast<long long>(source.width) * source.height);
    if (!IsTiled(source.width, source.height)) {
        StepRunner run(progress);
        TileWork work;
        return GuardedTile(destination, source, params, run, work);
    }
    if (!CBxPicBufAPI::ReinitHeap(destination, source)) return RepaintStatus::OutOfMemory;
    CBxPicBufAPI::SetConst(destination, 0);
    try {
        return TiledRun(destination, source, params, progress).Run();
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
}

OriginalPreviewCache::OriginalPreviewCache() = default;
OriginalPreviewCache::~OriginalPreviewCache() = default;

RepaintStatus OriginalPreviewCache::Repaint(SBxPicBuf& destination, const SBxPicBuf& source,
                                            const OriginalParams& params, RepaintProgress& progress) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    if (IsTiled(source.width, source.height)) return RepaintOriginal(destination, source, params, progress);
    if (!work_) work_ = std::make_unique<OriginalTileWork>();
    StepRunner run(progress);
    return GuardedTile(destination, source, params, run, *work_, true);
}

int OriginalPreviewCache::TableBuilds() const { return work_ ? work_->builds : 0; }

void OriginalPreviewCache::ForgetTables() {
    if (work_) work_->tablesKept = false;
}
