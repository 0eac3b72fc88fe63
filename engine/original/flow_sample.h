// A sample point of the traced lines: where to read the working image and
// with which 7-bit bilinear and path weights.
#pragma once

#include <cstdint>

#include "direction.h"

// Places in each of a pixel's two sample lists; the longest flow line (L = 40)
// keeps at most 39 samples each way.
constexpr int kFlowListMax = 40;

struct FlowSample {
    int32_t offset;  // from the pixel's first sample to that of the top-left neighbour
    uint8_t wx, wy;  // weights of column bx and row by; the others are 128 minus these
    uint8_t weight;  // weight in the mean, 0..128
    uint8_t unused;
};

inline FlowSample MakeSample(Vec2 p, int x, int y, int width, int components, int weight) {
    const int bx = int(p.x), by = int(p.y);
    const float fx = p.x - float(bx), fy = p.y - float(by);
    FlowSample s;
    s.offset = ((by - y) * width + (bx - x)) * components;
    s.wx = uint8_t(int((1.f - fx) * 128.f + 0.5f));
    s.wy = uint8_t(int((1.f - fy) * 128.f + 0.5f));
    s.weight = uint8_t(weight);
    s.unused = 0;
    return s;
}

// Bilinear read, component c, of the interleaved image at `at` (the pixel's
// first sample); `rowSamples` = width × components.
inline int32_t ReadSample(const int32_t* at, const FlowSample& s, int rowSamples, int components, int c) {
    const int32_t* p = at + s.offset + c;
    const int32_t wx = s.wx, wy = s.wy;
    const int32_t i00 = p[0], i10 = p[components], i01 = p[rowSamples], i11 = p[rowSamples + components];
    return (wy * (wx * i00 + (128 - wx) * i10) + (128 - wy) * ((128 - wx) * i11 + wx * i01)) >> 14;
}
