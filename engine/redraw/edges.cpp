#include "edges.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "cimg_bridge.h"
#include "streamlines.h"
#include "redraw_steps.h"

namespace {

// (255 - clamp(B - A, 0, 255)) × 256 with the two blurs of one channel.
std::vector<uint16_t> ChannelEdges(const FloatPlanes& a, const FloatPlanes& b) {
    std::vector<uint16_t> e(a.data.size());
    for (size_t i = 0; i < e.size(); ++i) {
        const float d = std::clamp(b.data[i] - a.data[i], 0.f, 255.f);
        e[i] = uint16_t((255.f - d) * 256.f);
    }
    return e;
}

}  // namespace

void StretchContrast(SBxPicBuf& buffer, float lowFraction, float highFraction) {
    if (!CBxPicBufAPI::IsValid(buffer) || buffer.components != 1 || buffer.bits != 16) return;
    uint16_t* v = reinterpret_cast<uint16_t*>(buffer.pixels);
    const size_t n = size_t(buffer.width) * buffer.height;
    std::vector<uint32_t> histogram(65536, 0);
    for (size_t i = 0; i < n; ++i) ++histogram[v[i]];
    const uint32_t lowCount = uint32_t(float(n) * lowFraction), highCount = uint32_t(float(n) * highFraction);
    int low = 0;
    for (uint32_t sum = 0; low < 65535; ++low)
        if ((sum += histogram[size_t(low)]) > lowCount) break;
    int high = 65535;
    for (uint32_t sum = 0; high > 1; --high)
        if ((sum += histogram[size_t(high)]) > highCount) break;
    if (high == low) {
        // A flat map: samples at the level are white, not black, so a flat
        // picture draws as blank paper and sparse strokes keep their white.
        for (size_t i = 0; i < n; ++i) v[i] = v[i] >= low ? 65535 : 0;
        return;
    }
    const float range = float(high - low);
    for (size_t i = 0; i < n; ++i) {
        const float t = float(int(v[i]) - low) / range * 65535.f;
        v[i] = t >= 65535.f ? 65535 : !(t > 0.f) ? 0 : uint16_t(t);
    }
}

void StretchEdgeMap(SBxPicBuf& edgeMap) { StretchContrast(edgeMap, 0.03f, 0.03f); }

RepaintStatus BuildEdgeMap(SBxPicBuf& edgeMap, const SBxPicBuf& source, float sigma, StepRunner& run) {
    const int w = source.width, h = source.height;
    if (!CBxPicBufAPI::IsValid(source) || source.bits != 8) return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(edgeMap, w, h, 1, 16)) throw std::bad_alloc();
    uint16_t* map = reinterpret_cast<uint16_t*>(edgeMap.pixels);
    PicBufHolder channel;
    if (!CBxPicBufAPI::ReinitHeap(channel.buf, w, h, 1, 8)) throw std::bad_alloc();
    const float wider = sigma * std::sqrt(1.6f);
    for (int c = 0; c < source.components; ++c) {
        CBxPicBufAPI::ExtractComponent(channel.buf, c, source);
        FloatPlanes a = PlaneFromBuffer(channel.buf), b = a;
        if (run.AbortRequested()) return RepaintStatus::Aborted;
        if (!BlurDeriche(a, sigma, &run.Progress()) || !run.End(kRedrawSteps[kNarrowBlur]))
            return RepaintStatus::Aborted;
        if (!BlurDeriche(b, wider, &run.Progress()) || !run.End(kRedrawSteps[kWideBlur]))
            return RepaintStatus::Aborted;
        const std::vector<uint16_t> e = ChannelEdges(a, b);
        for (size_t i = 0; i < e.size(); ++i) map[i] = c == 0 ? e[i] : std::min(map[i], e[i]);
    }
    StretchEdgeMap(edgeMap);
    if (!CBxPicBufAPI::ConvertBpcComp(edgeMap, 8, 1)) throw std::bad_alloc();
    return RepaintStatus::Done;
}

RepaintStatus DrawEdges(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap, float cut,
                        float strokeScale, bool binarise, StepRunner& run) {
    if (!CBxPicBufAPI::IsValid(source) || source.bits != 8 || edgeMap.bits != 8 || edgeMap.components != 1 ||
        edgeMap.width != source.width || edgeMap.height != source.height)
        return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(target, source) || !CBxPicBufAPI::Copy(target, source)) throw std::bad_alloc();
    FloatPlanes f = PlaneFromBuffer(edgeMap);
    const FloatPlanes g = DiffusionTensors(f, 0.6f / strokeScale, 1.f, 1.f, 5.f * strokeScale, &run.Progress());
    if (g.data.empty() || !BlurAnisotropic(f, g, &run.Progress()))
        return RepaintStatus::Aborted;
    if (!run.End(kRedrawSteps[kStrokeSmoothing])) return RepaintStatus::Aborted;
    PicBufHolder strokes;
    if (!CBxPicBufAPI::ReinitHeap(strokes.buf, edgeMap)) throw std::bad_alloc();
    BufferFromPlane(strokes.buf, f);
    if (!CBxPicBufAPI::ConvertBpcComp(strokes.buf, target.bits, target.components) ||
        !CBxPicBufAPI::Copy(target, strokes.buf))
        throw std::bad_alloc();
    const size_t n = size_t(target.width) * target.height * target.components;
    for (size_t i = 0; i < n; ++i)
        if (float(target.pixels[i]) > cut) target.pixels[i] = 255;
    if (!run.End(kRedrawSteps[kCut])) return RepaintStatus::Aborted;
    if (binarise)
        for (size_t i = 0; i < n; ++i) target.pixels[i] = target.pixels[i] == 255 ? 255 : 0;
    run.End(kRedrawSteps[kBinarise]);
    return RepaintStatus::Done;
}
