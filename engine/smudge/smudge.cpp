#include "smudge.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "cimg_bridge.h"
#include "parallel.h"
#include "row_views.h"
#include "step_runner.h"
#include "streamlines.h"
#include "tiles.h"

namespace {

constexpr int kMargin = 50;

// The progress steps: the tensor field (weighing 3 in tiled mode), then one
// per channel, of the whole picture or of every tile. A one-component
// picture processed whole counts only its channel.
constexpr MethodStep kWholeTensors{"tensor field", 1}, kTiledTensors{"tensor field", 3}, kChannel{"channel", 1};

bool SupportedSource(const SBxPicBuf& s) { return CBxPicBufAPI::IsValid(s) && (s.bits == 8 || s.bits == 16); }

// The grey of the source as one float plane.
FloatPlanes GreyPlane(const SBxPicBuf& source) {
    if (source.components == 1) return PlaneFromBuffer(source);
    PicBufHolder grey;
    if (!CopyConvertedRows(grey.buf, source, source.bits, 1)) throw std::bad_alloc();
    return PlaneFromBuffer(grey.buf);
}

// Empty when an abort was requested while it was computed.
FloatPlanes TensorsOfGrey(const SBxPicBuf& source, const SmudgeParams& p, StepRunner& run) {
    return DiffusionTensors(GreyPlane(source), p.sharpness, 1.f, p.alpha, p.sigma, &run.Progress());
}

RepaintStatus Whole(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& p, StepRunner& run) {
    if (source.components == 1) {
        // A narrow panorama of many megapixels takes this path too: Abort
        // is honoured in both stages.
        FloatPlanes f = PlaneFromBuffer(source);
        const FloatPlanes g = DiffusionTensors(f, p.sharpness, 1.f, p.alpha, p.sigma, &run.Progress());
        if (g.data.empty() || !BlurAnisotropic(f, g, &run.Progress())) return RepaintStatus::Aborted;
        BufferFromPlane(target, f);
        run.End(kChannel);  // the last step: the result is complete either way
        return RepaintStatus::Done;
    }
    const FloatPlanes g = TensorsOfGrey(source, p, run);
    if (!run.End(kWholeTensors) || g.data.empty()) return RepaintStatus::Aborted;
    FloatPlanes f = PlaneFromBuffer(source);
    if (!BlurAnisotropicChannels(f, g, &run.Progress())) return RepaintStatus::Aborted;
    BufferFromPlane(target, f);
    for (int c = 0; c < source.components; ++c)
        if (!run.End(kChannel)) return RepaintStatus::Aborted;
    return RepaintStatus::Done;
}

// A tile while the bands of its core are smoothed: its pixels and tensors
// with the margin (the walks and each channel's range cover the whole
// tile), and the smoothed samples. Made by the first band that needs it,
// let go by the last.
struct TileWork {
    std::once_flag made;
    TileRect core{}, extended{};
    FloatPlanes planes, tensors, out;
    std::vector<std::pair<float, float>> ranges;
    std::atomic<int> bandsLeft{0};

    void Make(const SBxPicBuf& source, const FloatPlanes& field, int index) {
        core = TileCore(source.width, source.height, index);
        const TileRect& t = extended = WithMargin(core, kMargin, source.width, source.height);
        planes = PlaneFromBuffer(AreaOf(source, t.x0, t.x1, t.y0, t.y1));
        tensors = CropPlanes(field, t.x0, t.y0, t.x1 - 1, t.y1 - 1);
        const size_t n = size_t(planes.width) * planes.height;
        for (int c = 0; c < planes.channels; ++c) ranges.push_back(ValueRange(planes.Channel(c), n));
        out = FloatPlanes::Unfilled(planes.width, planes.height, planes.channels);
    }
    void Release() {
        planes = FloatPlanes();
        tensors = FloatPlanes();
        out = FloatPlanes();
    }
};

// Rows of a tile's core smoothed as one piece of work.
constexpr int kBandRows = 64;

int BandsOf(const TileRect& core) { return (core.y1 - core.y0 + kBandRows - 1) / kBandRows; }

// The bands of all tiles are one list of work, taken in order by the
// threads, so that no thread waits for the slowest band of every tile. A
// band writes only its own rows of its tile's core.
RepaintStatus Tiled(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& p, StepRunner& run) {
    const FloatPlanes g = TensorsOfGrey(source, p, run);
    if (!run.End(kTiledTensors) || g.data.empty()) return RepaintStatus::Aborted;
    const int tiles = TileCount(source.width, source.height);
    std::unique_ptr<TileWork[]> work(new TileWork[size_t(tiles)]);
    std::vector<int> firstBand{0};
    for (int i = 0; i < tiles; ++i) {
        const int bands = BandsOf(TileCore(source.width, source.height, i));
        work[size_t(i)].bandsLeft = bands;
        firstBand.push_back(firstBand.back() + bands);
    }
    SerialProgress shared(run.Progress());
    StepRunner tileRun(shared, true);
    std::atomic<bool> stopped{false};
    ParallelTasks(0, firstBand.back(), [&](int b) {
        if (stopped.load(std::memory_order_relaxed)) return;
        const int i = int(std::upper_bound(firstBand.begin(), firstBand.end(), b) - firstBand.begin()) - 1;
        TileWork& w = work[size_t(i)];
        std::call_once(w.made, [&] { w.Make(source, g, i); });
        const TileRect &core = w.core, &t = w.extended;
        const int y0 = core.y0 + (b - firstBand[size_t(i)]) * kBandRows, y1 = std::min(core.y1, y0 + kBandRows);
        const TileRect band{core.x0 - t.x0, core.x1 - t.x0, y0 - t.y0, y1 - t.y0};
        if (!SmoothAlongStreamlines(w.planes, w.tensors, band, w.ranges, w.out, &shared)) {
            stopped = true;
            return;
        }
        SBxPicBuf rows = AreaOf(target, core.x0, core.x1, y0, y1);
        BufferFromPlane(rows, w.out, band.x0, band.y0);
        if (--w.bandsLeft > 0) return;
        w.Release();
        for (int c = 0; c < source.components; ++c)
            if (!tileRun.End(kChannel)) stopped = true;
    });
    return stopped || run.AbortRequested() ? RepaintStatus::Aborted : RepaintStatus::Done;
}

template <typename Path>
RepaintStatus Run(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params, RepaintProgress& progress,
                  Path path) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(target, source)) return RepaintStatus::OutOfMemory;
    StepRunner run(progress, true);
    const CpuSpread spread(static_cast<long long>(source.width) * source.height);
    try {
        return path(target, source, params, run);
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
}

}  // namespace

int SmudgeSteps(int width, int height, int components) {
    const int tiles = TileCount(width, height);
    if (tiles > 0) return kTiledTensors.weight + tiles * components * kChannel.weight;
    return components == 1 ? kChannel.weight : kWholeTensors.weight + components * kChannel.weight;
}

RepaintStatus RepaintSmudgeWhole(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                                 RepaintProgress& progress) {
    return Run(target, source, params, progress, Whole);
}

RepaintStatus RepaintSmudge(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                            RepaintProgress& progress) {
    return Run(target, source, params, progress, IsTiled(source.width, source.height) ? Tiled : Whole);
}
