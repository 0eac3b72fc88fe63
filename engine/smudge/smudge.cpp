#include "smudge.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cimg_bridge.h"

namespace {

constexpr int kTileMin = 500;
constexpr int kMargin = 50;
constexpr float kAmplitude = 200.f, kDl = 0.8f, kDa = 30.f, kGaussPrecision = 2.f;

void StepIfVisible(RepaintProgress& progress, int n) {
    if (progress.ProgressVisible()) progress.Step(n);
}

bool SupportedSource(const SBxPicBuf& s) { return CBxPicBufAPI::IsValid(s) && (s.bits == 8 || s.bits == 16); }

FloatPlanes TensorsOfGrey(const SBxPicBuf& source, const SmudgeParams& p) {
    PicBufHolder grey;
    if (!CBxPicBufAPI::ReinitHeap(grey.buf, source) || !CBxPicBufAPI::Copy(grey.buf, source) ||
        !CBxPicBufAPI::ConvertBpcComp(grey.buf, source.bits, 1))
        throw std::bad_alloc();
    return DiffusionTensors(PlaneFromBuffer(grey.buf), p.sharpness, 1.f, p.alpha, p.sigma);
}

// Smooths every channel of `from` under `tensors` and writes them into
// `into` one by one, with a progress step and an abort check after each.
bool SmoothChannels(SBxPicBuf& into, const SBxPicBuf& from, const FloatPlanes& tensors, RepaintProgress& progress) {
    PicBufHolder channel;
    if (!CBxPicBufAPI::ReinitHeap(channel.buf, from.width, from.height, 1, from.bits)) throw std::bad_alloc();
    const size_t n = size_t(from.width) * from.height;
    FloatPlanes planes(from.width, from.height, from.components);
    for (int c = 0; c < from.components; ++c) {
        CBxPicBufAPI::ExtractComponent(channel.buf, c, from);
        const FloatPlanes one = PlaneFromBuffer(channel.buf);
        std::copy(one.data.begin(), one.data.end(), planes.Channel(c));
    }
    BlurAnisotropicChannels(planes, tensors, kAmplitude, kDl, kDa, kGaussPrecision, 0, true);
    FloatPlanes one(from.width, from.height, 1);
    for (int c = 0; c < from.components; ++c) {
        std::copy(planes.Channel(c), planes.Channel(c) + n, one.data.begin());
        BufferFromPlane(channel.buf, one);
        CBxPicBufAPI::InsertComponent(into, c, channel.buf);
        StepIfVisible(progress, 1);
        if (progress.AbortRequested()) return false;
    }
    return true;
}

RepaintStatus Whole(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& p, RepaintProgress& progress) {
    if (source.components == 1) {
        FloatPlanes f = PlaneFromBuffer(source);
        const FloatPlanes g = DiffusionTensors(f, p.sharpness, 1.f, p.alpha, p.sigma);
        BlurAnisotropic(f, g, kAmplitude, kDl, kDa, kGaussPrecision, 0, true);
        StepIfVisible(progress, 1);
        BufferFromPlane(target, f);
        return RepaintStatus::Done;
    }
    const FloatPlanes g = TensorsOfGrey(source, p);
    StepIfVisible(progress, 1);
    if (progress.AbortRequested()) return RepaintStatus::Aborted;
    return SmoothChannels(target, source, g, progress) ? RepaintStatus::Done : RepaintStatus::Aborted;
}

RepaintStatus Tiled(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& p, RepaintProgress& progress) {
    const FloatPlanes g = TensorsOfGrey(source, p);
    StepIfVisible(progress, 3);
    if (progress.AbortRequested()) return RepaintStatus::Aborted;
    const int tiles = SmudgeTileCount(source.width, source.height);
    for (int i = 0; i < tiles; ++i) {
        const SmudgeTile t = SmudgeTileAt(source.width, source.height, i);
        const int ew = t.ex1 - t.ex0, eh = t.ey1 - t.ey0;
        PicBufHolder tileSource, tileResult;
        if (!CBxPicBufAPI::ReinitHeap(tileSource.buf, ew, eh, source.components, source.bits) ||
            !CBxPicBufAPI::ReinitHeap(tileResult.buf, tileSource.buf))
            throw std::bad_alloc();
        CBxPicBufAPI::CopyRect(tileSource.buf, source, {0, 0}, {t.ex0, t.ey0}, {ew, eh});
        const FloatPlanes gt = CropPlanes(g, t.ex0, t.ey0, t.ex1 - 1, t.ey1 - 1);
        const bool aborted = !SmoothChannels(tileResult.buf, tileSource.buf, gt, progress);
        CBxPicBufAPI::CopyRect(target, tileResult.buf, {t.x0, t.y0}, {t.x0 - t.ex0, t.y0 - t.ey0},
                               {t.x1 - t.x0, t.y1 - t.y0});
        if (aborted || progress.AbortRequested()) return RepaintStatus::Aborted;
    }
    return RepaintStatus::Done;
}

template <typename Fn>
RepaintStatus Run(SBxPicBuf& target, const SBxPicBuf& source, Fn&& fn) {
    if (!SupportedSource(source)) return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(target, source)) return RepaintStatus::OutOfMemory;
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
}

}  // namespace

int SmudgeTileCount(int width, int height) {
    if (width < kTileMin || height < kTileMin) return 0;
    return (width / kTileMin) * (height / kTileMin);
}

SmudgeTile SmudgeTileAt(int width, int height, int index) {
    const int nx = width / kTileMin, ny = height / kTileMin;
    const double tw = (width + 1) / double(nx), th = (height + 1) / double(ny);
    const int col = index % nx, row = index / nx;
    SmudgeTile t;
    t.x0 = int(col * tw);
    t.x1 = int(std::min((col + 1) * tw, double(width)));
    t.y0 = int(row * th);
    t.y1 = int(std::min((row + 1) * th, double(height)));
    t.ex0 = std::max(t.x0 - kMargin, 0);
    t.ex1 = std::min(t.x1 + kMargin, width);
    t.ey0 = std::max(t.y0 - kMargin, 0);
    t.ey1 = std::min(t.y1 + kMargin, height);
    return t;
}

int SmudgeSteps(int width, int height, int components) {
    const int tiles = SmudgeTileCount(width, height);
    if (tiles == 0) return components == 1 ? 1 : 4;
    return 3 + tiles * components;
}

RepaintStatus RepaintSmudgeWhole(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                                 RepaintProgress& progress) {
    return Run(target, source, [&] { return Whole(target, source, params, progress); });
}

RepaintStatus RepaintSmudge(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                            RepaintProgress& progress) {
    if (SupportedSource(source) && SmudgeTileCount(source.width, source.height) == 0)
        return RepaintSmudgeWhole(target, source, params, progress);
    return Run(target, source, [&] { return Tiled(target, source, params, progress); });
}
