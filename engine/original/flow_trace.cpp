#include "flow_trace.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include "exp_float.h"

FlowTracer::FlowTracer(TensorField f, const float* g, float s, int l, int c)
    : field(f), grey(g), sigma(s), length(l), components(c), spatialWeight(size_t(l > 0 ? l : 1), 0.f) {
    for (int m = 1; m < l; ++m) spatialWeight[size_t(m)] = ExpFloat(-float(m * m) / (2.f * s * s + 1.f));
}

namespace {

inline float GreyAt(const float* v, int width, float x, float y) {
    const int x0 = int(x), y0 = int(y);
    const float fx = x - float(x0), fy = y - float(y0);
    const size_t i = size_t(y0) * width + x0;
    return ((1.f - fx) * v[i] + fx * v[i + 1]) * (1.f - fy) + ((1.f - fx) * v[i + width] + fx * v[i + width + 1]) * fy;
}

}  // namespace

void TraceFlowPixel(const FlowTracer& t, int x, int y, PixelTrace& out) {
    const int W = t.field.width;
    const Vec2 d0 = FlowDirection(float(x), float(y), t.field);
    Vec2 pf{float(x), float(y)}, pb = pf, rf = d0, rb{-d0.x, -d0.y};
    const float g0 = t.grey[size_t(y) * W + x];
    float cf = 1.f, cb = 1.f;
    out.total = out.forward = out.backward = 0;
    for (int m = 1; m < t.length; ++m) {
        DirectionStep(pf, rf, t.field, FlowDirection);
        DirectionStep(pb, rb, t.field, FlowDirection);
        const float spatial = t.spatialWeight[size_t(m)];
        const float df = g0 - GreyAt(t.grey, W, pf.x, pf.y), db = g0 - GreyAt(t.grey, W, pb.x, pb.y);
        cf = cf * ExpFloat(-(df * df) / t.sigma);
        cb = cb * ExpFloat(-(db * db) / t.sigma);
        const int wf = int(spatial * cf * 128.f + 0.5f), wb = int(spatial * cb * 128.f + 0.5f);
        out.total += wf + wb;
        if (wf == 0 && wb == 0) break;
        if (wf) out.fwd[out.forward++] = MakeSample(pf, x, y, W, t.components, wf);
        if (wb) out.bwd[out.backward++] = MakeSample(pb, x, y, W, t.components, wb);
    }
}

namespace {

struct V2 {
    __m128 x, y;
};

inline __m128 Select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// Bilinear reads of the interleaved tensor at four points, then the
// eigenvector of the smaller eigenvalue: FlowDirection on four lanes, with
// every operation in the scalar order.
V2 FlowDirection4(const TensorField& f, __m128 x, __m128 y) {
    const __m128i xi = _mm_cvttps_epi32(x), yi = _mm_cvttps_epi32(y);
    const __m128 fx = _mm_sub_ps(x, _mm_cvtepi32_ps(xi)), fy = _mm_sub_ps(y, _mm_cvtepi32_ps(yi));
    alignas(16) int xs[4], ys[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(xs), xi);
    _mm_store_si128(reinterpret_cast<__m128i*>(ys), yi);
    // Per lane: (xx0 xy0 yy0 xx1) and (yy0 xx1 xy1 yy1) of the upper and the
    // lower row, then transposed so that each register holds one value of
    // the four lanes.
    __m128 u0[4], u1[4], d0[4], d1[4];
    for (int l = 0; l < 4; ++l) {
        const float* a = f.j + 3 * (size_t(ys[l]) * f.width + xs[l]);
        const float* b = a + 3 * size_t(f.width);
        u0[l] = _mm_loadu_ps(a);
        u1[l] = _mm_loadu_ps(a + 2);
        d0[l] = _mm_loadu_ps(b);
        d1[l] = _mm_loadu_ps(b + 2);
    }
    _MM_TRANSPOSE4_PS(u0[0], u0[1], u0[2], u0[3]);
    _MM_TRANSPOSE4_PS(u1[0], u1[1], u1[2], u1[3]);
    _MM_TRANSPOSE4_PS(d0[0], d0[1], d0[2], d0[3]);
    _MM_TRANSPOSE4_PS(d1[0], d1[1], d1[2], d1[3]);
    // Values k = 0, 1, 2 (xx, xy, yy) of the left (…0) and right (…1) pixel.
    const __m128 upLeft[3] = {u0[0], u0[1], u0[2]}, upRight[3] = {u0[3], u1[2], u1[3]};
    const __m128 downLeft[3] = {d0[0], d0[1], d0[2]}, downRight[3] = {d0[3], d1[2], d1[3]};
    const __m128 one = _mm_set1_ps(1.f), gx = _mm_sub_ps(one, fx), gy = _mm_sub_ps(one, fy);
    auto lerp = [&](int k) {
        const __m128 top = _mm_add_ps(_mm_mul_ps(gx, upLeft[k]), _mm_mul_ps(fx, upRight[k]));
        const __m128 bottom = _mm_add_ps(_mm_mul_ps(gx, downLeft[k]), _mm_mul_ps(fx, downRight[k]));
        return _mm_add_ps(_mm_mul_ps(top, gy), _mm_mul_ps(bottom, fy));
    };
    const __m128 xx = lerp(0), xy = lerp(1), yy = lerp(2);
    const __m128 diff = _mm_sub_ps(xx, yy);
    const __m128 r =
        _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(4.f), xy), xy), _mm_mul_ps(diff, diff)));
    const __m128 sum = _mm_add_ps(xx, yy), half = _mm_set1_ps(2.f);
    const __m128 l1 = _mm_div_ps(_mm_add_ps(sum, r), half), l2 = _mm_div_ps(_mm_sub_ps(sum, r), half);
    const __m128 ax = _mm_sub_ps(l1, xx), ay = _mm_sub_ps(_mm_setzero_ps(), xy);
    const __m128 bx = xy, by = _mm_sub_ps(l2, xx);
    const __m128 la = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ax, ax), _mm_mul_ps(ay, ay)));
    const __m128 tiny = _mm_set1_ps(1e-10f);
    const __m128 useA = _mm_cmpgt_ps(la, tiny);
    // Nearly always every lane takes the first vector: the second one's
    // square root and divisions are then not needed.
    if (_mm_movemask_ps(useA) == 0xf) return {_mm_div_ps(ax, la), _mm_div_ps(ay, la)};
    const __m128 lb = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(bx, bx), _mm_mul_ps(by, by)));
    const __m128 useB = _mm_andnot_ps(useA, _mm_cmpgt_ps(lb, tiny));
    V2 d;
    d.x = _mm_or_ps(_mm_and_ps(useA, _mm_div_ps(ax, la)), _mm_and_ps(useB, _mm_div_ps(bx, lb)));
    d.y = _mm_or_ps(_mm_and_ps(useA, _mm_div_ps(ay, la)), _mm_and_ps(useB, _mm_div_ps(by, lb)));
    return d;
}

inline __m128 SignOfDot(V2 d, V2 r) {
    const __m128 dot = _mm_add_ps(_mm_mul_ps(d.x, r.x), _mm_mul_ps(d.y, r.y));
    return Select(_mm_cmpgt_ps(dot, _mm_setzero_ps()), _mm_set1_ps(1.f), _mm_set1_ps(-1.f));
}

void DirectionStep4(V2& p, V2& ref, const TensorField& f) {
    const V2 d1 = FlowDirection4(f, p.x, p.y);
    const __m128 s1 = _mm_mul_ps(_mm_set1_ps(0.5f), SignOfDot(d1, ref));
    const V2 d2 = FlowDirection4(f, _mm_add_ps(p.x, _mm_mul_ps(s1, d1.x)), _mm_add_ps(p.y, _mm_mul_ps(s1, d1.y)));
    const __m128 s2 = SignOfDot(d2, ref);
    const V2 nd{_mm_mul_ps(s2, d2.x), _mm_mul_ps(s2, d2.y)};
    const V2 q{_mm_add_ps(p.x, nd.x), _mm_add_ps(p.y, nd.y)};
    const __m128 one = _mm_set1_ps(1.f);
    const __m128 inside =
        _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(q.x, one), _mm_cmpgt_ps(q.y, one)),
                   _mm_and_ps(_mm_cmplt_ps(q.x, _mm_set1_ps(float(f.width - 2))),
                              _mm_cmplt_ps(q.y, _mm_set1_ps(float(f.height - 2)))));
    p.x = Select(inside, q.x, p.x);
    p.y = Select(inside, q.y, p.y);
    ref = nd;
}

__m128 Grey4(const float* g, int width, __m128 x, __m128 y) {
    const __m128i xi = _mm_cvttps_epi32(x), yi = _mm_cvttps_epi32(y);
    const __m128 fx = _mm_sub_ps(x, _mm_cvtepi32_ps(xi)), fy = _mm_sub_ps(y, _mm_cvtepi32_ps(yi));
    alignas(16) int xs[4], ys[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(xs), xi);
    _mm_store_si128(reinterpret_cast<__m128i*>(ys), yi);
    __m128 r[4];
    for (int l = 0; l < 4; ++l) {
        const float* p = g + size_t(ys[l]) * width + xs[l];
        // (v00 v10 v01 v11) of the lane
        r[l] = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)),
                            reinterpret_cast<const __m64*>(p + width));
    }
    _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
    const __m128 one = _mm_set1_ps(1.f), gx = _mm_sub_ps(one, fx), gy = _mm_sub_ps(one, fy);
    const __m128 top = _mm_add_ps(_mm_mul_ps(gx, r[0]), _mm_mul_ps(fx, r[1]));
    const __m128 bottom = _mm_add_ps(_mm_mul_ps(gx, r[2]), _mm_mul_ps(fx, r[3]));
    return _mm_add_ps(_mm_mul_ps(top, gy), _mm_mul_ps(bottom, fy));
}

}  // namespace

void TraceFlowFour(const FlowTracer& t, int x, int y, PixelTrace out[4]) {
    const int W = t.field.width;
    const __m128 xs = _mm_setr_ps(float(x), float(x + 1), float(x + 2), float(x + 3)), ys = _mm_set1_ps(float(y));
    const V2 d0 = FlowDirection4(t.field, xs, ys);
    V2 pf{xs, ys}, pb{xs, ys}, rf = d0, rb{_mm_sub_ps(_mm_setzero_ps(), d0.x), _mm_sub_ps(_mm_setzero_ps(), d0.y)};
    const __m128 g0 = _mm_loadu_ps(t.grey + size_t(y) * W + x), sigma = _mm_set1_ps(t.sigma);
    __m128 cf = _mm_set1_ps(1.f), cb = cf;
    bool open[4] = {true, true, true, true};
    int stillOpen = 4;
    for (int l = 0; l < 4; ++l) out[l].total = out[l].forward = out[l].backward = 0;
    for (int m = 1; m < t.length && stillOpen; ++m) {
        DirectionStep4(pf, rf, t.field);
        DirectionStep4(pb, rb, t.field);
        LaneStep<4> step;
        const __m128 df = _mm_sub_ps(g0, Grey4(t.grey, W, pf.x, pf.y));
        const __m128 db = _mm_sub_ps(g0, Grey4(t.grey, W, pb.x, pb.y));
        cf = _mm_mul_ps(cf, ExpFloat4(_mm_div_ps(_mm_sub_ps(_mm_setzero_ps(), _mm_mul_ps(df, df)), sigma)));
        cb = _mm_mul_ps(cb, ExpFloat4(_mm_div_ps(_mm_sub_ps(_mm_setzero_ps(), _mm_mul_ps(db, db)), sigma)));
        const __m128 spatial = _mm_set1_ps(t.spatialWeight[size_t(m)]), scale = _mm_set1_ps(128.f),
                     half = _mm_set1_ps(0.5f);
        _mm_store_si128(reinterpret_cast<__m128i*>(step.wf),
                        _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(spatial, cf), scale), half)));
        _mm_store_si128(reinterpret_cast<__m128i*>(step.wb),
                        _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(spatial, cb), scale), half)));
        alignas(16) float fx[4], fy[4], bx[4], by[4];
        _mm_store_ps(fx, pf.x);
        _mm_store_ps(fy, pf.y);
        _mm_store_ps(bx, pb.x);
        _mm_store_ps(by, pb.y);
        for (int l = 0; l < 4; ++l) {
            step.fwd[l] = MakeSample({fx[l], fy[l]}, x + l, y, W, t.components, step.wf[l]);
            step.bwd[l] = MakeSample({bx[l], by[l]}, x + l, y, W, t.components, step.wb[l]);
        }
        step.Keep(open, stillOpen, out);
    }
}

