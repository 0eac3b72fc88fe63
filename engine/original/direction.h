// Direction fields from the structure tensor and the step that traces them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "parallel.h"

// The tracing loops run these millions of times per tile; inlined, the
// forward and backward lines are traced in parallel by the processor.
#define QV_INLINE inline __attribute__((always_inline))

struct Vec2 {
    float x = 0.f, y = 0.f;
};

// The three tensor planes interleaved (xx, xy, yy per pixel), so that one
// bilinear read touches two cache lines instead of six.
struct TensorField {
    const float* j;
    int width, height;
};

inline std::vector<float> InterleaveTensor(const float* jxx, const float* jxy, const float* jyy, size_t n) {
    std::vector<float> j(3 * n);
    constexpr size_t kBlock = 4096;
    ParallelRows(0, int((n + kBlock - 1) / kBlock), [&](int k) {
        for (size_t i = size_t(k) * kBlock, e = std::min(n, i + kBlock); i < e; ++i) {
            j[3 * i] = jxx[i];
            j[3 * i + 1] = jxy[i];
            j[3 * i + 2] = jyy[i];
        }
    });
    return j;
}

struct TensorSample {
    float xx, xy, yy;
};

// Bilinear read of the three planes at (x, y), with x, y ≥ 0.
QV_INLINE TensorSample InterpolateTensor(const TensorField& f, float x, float y) {
    const int x0 = int(x), y0 = int(y);
    const float fx = x - float(x0), fy = y - float(y0);
    const float* a = f.j + 3 * (size_t(y0) * f.width + x0);
    const float* b = a + 3 * size_t(f.width);
    auto lerp = [&](int k) {
        return ((1.f - fx) * a[k] + fx * a[k + 3]) * (1.f - fy) + ((1.f - fx) * b[k] + fx * b[k + 3]) * fy;
    };
    return {lerp(0), lerp(1), lerp(2)};
}

QV_INLINE bool Normalise(float ax, float ay, Vec2& out) {
    const float len = std::sqrt(ax * ax + ay * ay);
    if (!(len > 1e-10f)) return false;
    out = {ax / len, ay / len};
    return true;
}

// Along the edge: eigenvector of the smaller eigenvalue.
QV_INLINE Vec2 FlowDirection(float x, float y, const TensorField& f) {
    const TensorSample t = InterpolateTensor(f, x, y);
    const float r = std::sqrt(4.f * t.xy * t.xy + (t.xx - t.yy) * (t.xx - t.yy));
    const float l1 = (t.xx + t.yy + r) / 2.f, l2 = (t.xx + t.yy - r) / 2.f;
    Vec2 d;
    if (Normalise(l1 - t.xx, -t.xy, d)) return d;
    if (Normalise(t.xy, l2 - t.xx, d)) return d;
    return {};
}

// Across the edge: eigenvector of the larger eigenvalue.
QV_INLINE Vec2 GradientDirection(float x, float y, const TensorField& f) {
    const TensorSample t = InterpolateTensor(f, x, y);
    const float r = std::sqrt(4.f * t.xy * t.xy + (t.xx - t.yy) * (t.xx - t.yy));
    const float l1 = (t.xx + t.yy + r) / 2.f, l2 = (t.xx + t.yy - r) / 2.f;
    Vec2 d;
    if (Normalise(t.xy, l1 - t.xx, d)) return d;
    if (Normalise(l2 - t.xx, -t.xy, d)) return d;
    return {};
}

// One unit step from `p` along the field, oriented by `ref`; the point stays
// where it is when the step would leave the band 1 < x < W - 2, 1 < y < H - 2.
// `ref` becomes the new direction either way.
template <typename Field>
QV_INLINE void DirectionStep(Vec2& p, Vec2& ref, const TensorField& f, Field field) {
    const Vec2 d1 = field(p.x, p.y, f);
    const float s1 = d1.x * ref.x + d1.y * ref.y > 0.f ? 1.f : -1.f;
    const Vec2 d2 = field(p.x + 0.5f * s1 * d1.x, p.y + 0.5f * s1 * d1.y, f);
    const float s2 = d2.x * ref.x + d2.y * ref.y > 0.f ? 1.f : -1.f;
    const Vec2 nd{s2 * d2.x, s2 * d2.y};
    const Vec2 q{p.x + nd.x, p.y + nd.y};
    if (q.x > 1.f && q.y > 1.f && q.x < float(f.width - 2) && q.y < float(f.height - 2)) p = q;
    ref = nd;
}
