#include "edges.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "cimg_bridge.h"
#include "parallel.h"
#include "redraw_steps.h"
#include "streamlines.h"

namespace {

constexpr int kLevels = 65536;

// The levels where the stretch clips: at or below `low` black, at or above
// `high` white.
struct StretchEnds {
    int low, high;
};

// The ends that clip the given fractions of the samples, from a histogram
// of blocks of samples counted on the engine's threads.
StretchEnds FindStretchEnds(const uint16_t* v, size_t n, float lowFraction, float highFraction) {
    constexpr size_t kBlock = size_t(1) << 18;
    std::vector<uint32_t> histogram(kLevels, 0);
    std::mutex merging;
    ParallelRows(0, int((n + kBlock - 1) / kBlock), [&](int k) {
        std::vector<uint32_t> part(kLevels, 0);
        for (size_t i = size_t(k) * kBlock, end = std::min(n, i + kBlock); i < end; ++i) ++part[v[i]];
        std::lock_guard<std::mutex> lock(merging);
        for (int level = 0; level < kLevels; ++level) histogram[size_t(level)] += part[size_t(level)];
    });
    const uint32_t lowCount = uint32_t(float(n) * lowFraction), highCount = uint32_t(float(n) * highFraction);
    int low = 0;
    for (uint32_t sum = 0; low < 65535; ++low)
        if ((sum += histogram[size_t(low)]) > lowCount) break;
    int high = 65535;
    for (uint32_t sum = 0; high > 1; --high)
        if ((sum += histogram[size_t(high)]) > highCount) break;
    return {low, high};
}

uint16_t Stretched(uint16_t v, const StretchEnds& ends) {
    // A flat map: samples at the level are white, not black, so a flat
    // picture draws as blank paper and sparse strokes keep their white.
    if (ends.high == ends.low) return v >= ends.low ? 65535 : 0;
    const float t = float(int(v) - ends.low) / float(ends.high - ends.low) * 65535.f;
    return t >= 65535.f ? 65535 : !(t > 0.f) ? 0 : uint16_t(t);
}

// The edge map's: 3 % of the samples at each end.
StretchEnds EdgeMapEnds(const uint16_t* v, size_t n) { return FindStretchEnds(v, n, 0.03f, 0.03f); }

bool Stretchable(const SBxPicBuf& b) { return CBxPicBufAPI::IsValid(b) && b.components == 1 && b.bits == 16; }

void Stretch(SBxPicBuf& buffer, const StretchEnds& ends) {
    const int w = buffer.width;
    ParallelRows(0, buffer.height, [&](int y) {
        for (uint16_t *s = buffer.Row<uint16_t>(y), *end = s + w; s < end; ++s) *s = Stretched(*s, ends);
    });
}

size_t Samples(const SBxPicBuf& b) { return size_t(b.width) * b.height; }

}  // namespace

void StretchContrast(SBxPicBuf& buffer, float lowFraction, float highFraction) {
    if (!Stretchable(buffer)) return;
    Stretch(buffer, FindStretchEnds(buffer.Row<uint16_t>(0), Samples(buffer), lowFraction, highFraction));
}

void StretchEdgeMap(SBxPicBuf& edgeMap) {
    if (!Stretchable(edgeMap)) return;
    Stretch(edgeMap, EdgeMapEnds(edgeMap.Row<uint16_t>(0), Samples(edgeMap)));
}

RepaintStatus BuildEdgeMap(SBxPicBuf& edgeMap, const SBxPicBuf& source, float sigma, StepRunner& run) {
    const int w = source.width, h = source.height, C = source.components;
    if (!CBxPicBufAPI::IsValid(source) || source.bits != 8) return RepaintStatus::BadInput;
    // The darkest of the channels' edges, at 16 bits: (255 - clamp(B - A, 0,
    // 255)) × 256 with A and B the two blurs of a channel.
    std::vector<uint16_t, UnfilledAllocator<uint16_t>> map(size_t(w) * h);
    FloatPlanes a = FloatPlanes::Unfilled(w, h, 1), b = FloatPlanes::Unfilled(w, h, 1);
    const float wider = sigma * std::sqrt(1.6f);
    for (int c = 0; c < C; ++c) {
        ParallelRows(0, h, [&](int y) {
            const uint8_t* from = source.Row<uint8_t>(y) + c;
            float *toA = a.data.data() + size_t(y) * w, *toB = b.data.data() + size_t(y) * w;
            for (int x = 0; x < w; ++x) toA[x] = toB[x] = float(from[size_t(x) * C]);
        });
        if (run.AbortRequested()) return RepaintStatus::Aborted;
        if (!BlurDeriche(a, sigma, &run.Progress()) || !run.End(kRedrawSteps[kNarrowBlur]))
            return RepaintStatus::Aborted;
        if (!BlurDeriche(b, wider, &run.Progress()) || !run.End(kRedrawSteps[kWideBlur]))
            return RepaintStatus::Aborted;
        ParallelRows(0, h, [&](int y) {
            const size_t row = size_t(y) * w;
            for (size_t i = row; i < row + size_t(w); ++i) {
                const float d = std::clamp(b.data[i] - a.data[i], 0.f, 255.f);
                const uint16_t e = uint16_t((255.f - d) * 256.f);
                map[i] = c == 0 ? e : std::min(map[i], e);
            }
        });
    }
    // Stretched, then narrowed to 8 bits, in one pass.
    const StretchEnds ends = EdgeMapEnds(map.data(), map.size());
    if (!CBxPicBufAPI::ReinitHeap(edgeMap, w, h, 1, 8)) throw std::bad_alloc();
    ParallelRows(0, h, [&](int y) {
        const uint16_t* from = map.data() + size_t(y) * w;
        uint8_t* to = edgeMap.Row<uint8_t>(y);
        for (int x = 0; x < w; ++x) to[x] = uint8_t(Stretched(from[x], ends) >> 8);
    });
    return RepaintStatus::Done;
}

RepaintStatus DrawEdges(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap, float cut,
                        float strokeScale, bool binarise, StepRunner& run) {
    if (!CBxPicBufAPI::IsValid(source) || source.bits != 8 || edgeMap.bits != 8 || edgeMap.components != 1 ||
        edgeMap.width != source.width || edgeMap.height != source.height)
        return RepaintStatus::BadInput;
    if (!CBxPicBufAPI::ReinitHeap(target, source)) throw std::bad_alloc();
    FloatPlanes f = PlaneFromBuffer(edgeMap);
    const FloatPlanes g = DiffusionTensors(f, 0.6f / strokeScale, 1.f, 1.f, 5.f * strokeScale, &run.Progress());
    if (g.data.empty() || !BlurAnisotropic(f, g, &run.Progress()))
        return RepaintStatus::Aborted;
    if (!run.End(kRedrawSteps[kStrokeSmoothing])) return RepaintStatus::Aborted;
    // The smoothed strokes as 8-bit samples, in every component: the cut
    // whitens what is lighter than it, binarisation blackens all but white.
    const int w = target.width, C = target.components;
    ParallelRows(0, target.height, [&](int y) {
        const float* from = f.data.data() + size_t(y) * w;
        uint8_t* to = target.Row<uint8_t>(y);
        for (int x = 0; x < w; ++x) {
            uint8_t v = uint8_t(std::clamp(from[x], 0.f, 255.f));
            if (float(v) > cut) v = 255;
            if (binarise && v != 255) v = 0;
            for (int c = 0; c < C; ++c) to[size_t(x) * C + c] = v;
        }
    });
    if (!run.End(kRedrawSteps[kCut])) return RepaintStatus::Aborted;
    run.End(kRedrawSteps[kBinarise]);
    return RepaintStatus::Done;
}
