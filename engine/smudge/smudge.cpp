#include "smudge.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cimg_bridge.h"
#include "streamlines.h"
#include "step_runner.h"
#include "tiles.h"

namespace {

constexpr int kMargin = 50;

// The progress steps: the tensor field (weighing 3 in tiled mode), then one
// per channel, of the whole picture or of every tile. A one-component
// picture processed whole counts only its channel.
constexpr MethodStep kWholeTensors{"tensor field", 1}, kTiledTensors{"tensor field", 3}, kChannel{"channel", 1};

bool SupportedSource(const SBxPicBuf& s) { return CBxPicBufAPI::IsValid(s) && (s.bits == 8 || s.bits == 16); }

// Empty when an abort was requested while it was computed.
FloatPlanes TensorsOfGrey(const SBxPicBuf& source, const SmudgeParams& p, StepRunner& run) {
    PicBufHolder grey;
    if (!CBxPicBufAPI::ReinitHeap(grey.buf, source) || !CBxPicBufAPI::Copy(grey.buf, source) ||
        !CBxPicBufAPI::ConvertBpcComp(grey.buf, source.bits, 1))
        throw std::bad_alloc();
    return DiffusionTensors(PlaneFromBuffer(grey.buf), p.sharpness, 1.f, p.alpha, p.sigma, &run.Progress());
}

// Smooths every channel of `from` under `tensors` (only `region` of it when
// given) and writes them into `into` one by one, with a progress step and an
// abort check after each.
bool SmoothChannels(SBxPicBuf& into, const SBxPicBuf& from, const FloatPlanes& tensors, StepRunner& run,
                    const TileRect* region = nullptr) {
    PicBufHolder channel;
    if (!CBxPicBufAPI::ReinitHeap(channel.buf, from.width, from.height, 1, from.bits)) throw std::bad_alloc();
    const size_t n = size_t(from.width) * from.height;
    FloatPlanes planes(from.width, from.height, from.components);
    for (int c = 0; c < from.components; ++c) {
        CBxPicBufAPI::ExtractComponent(channel.buf, c, from);
        const FloatPlanes one = PlaneFromBuffer(channel.buf);
        std::copy(one.data.begin(), one.data.end(), planes.Channel(c));
    }
    if (!BlurAnisotropicChannels(planes, tensors, &run.Progress(), region))
        return false;
    FloatPlanes one(from.width, from.height, 1);
    for (int c = 0; c < from.components; ++c) {
        std::copy(planes.Channel(c), planes.Channel(c) + n, one.data.begin());
        BufferFromPlane(channel.buf, one);
        CBxPicBufAPI::InsertComponent(into, c, channel.buf);
        if (!run.End(kChannel)) return false;
    }
    return true;
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
    return SmoothChannels(target, source, g, run) ? RepaintStatus::Done : RepaintStatus::Aborted;
}

RepaintStatus Tiled(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& p, StepRunner& run) {
    const FloatPlanes g = TensorsOfGrey(source, p, run);
    if (!run.End(kTiledTensors) || g.data.empty()) return RepaintStatus::Aborted;
    const int tiles = TileCount(source.width, source.height);
    for (int i = 0; i < tiles; ++i) {
        const TileRect core = TileCore(source.width, source.height, i);
        const TileRect t = WithMargin(core, kMargin, source.width, source.height);
        const int ew = t.x1 - t.x0, eh = t.y1 - t.y0;
        PicBufHolder tileSource, tileResult;
        if (!CBxPicBufAPI::ReinitHeap(tileSource.buf, ew, eh, source.components, source.bits) ||
            !CBxPicBufAPI::ReinitHeap(tileResult.buf, tileSource.buf))
            throw std::bad_alloc();
        CBxPicBufAPI::CopyRect(tileSource.buf, source, {0, 0}, {t.x0, t.y0}, {ew, eh});
        const FloatPlanes gt = CropPlanes(g, t.x0, t.y0, t.x1 - 1, t.y1 - 1);
        // Only the core is kept, so only the core is smoothed; the walks and
        // the value ranges still cover the whole tile.
        const TileRect inTile{core.x0 - t.x0, core.x1 - t.x0, core.y0 - t.y0, core.y1 - t.y0};
        const bool aborted = !SmoothChannels(tileResult.buf, tileSource.buf, gt, run, &inTile);
        CBxPicBufAPI::CopyRect(target, tileResult.buf, {core.x0, core.y0}, {core.x0 - t.x0, core.y0 - t.y0},
                               {core.x1 - core.x0, core.y1 - core.y0});
        if (aborted || run.AbortRequested()) return RepaintStatus::Aborted;
    }
    return RepaintStatus::Done;
}

template <typename Path>
RepaintStatus Run(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params, RepaintProgress& progress,
                  Path path) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(target, source)) return RepaintStatus::OutOfMemory;
    StepRunner run(progress, true);
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
