// Eight pixels of a row traced at once with AVX2: the four-lane tracer of
// flow_trace.cpp on twice the lanes, every lane doing the scalar operations
// in the scalar order, so the samples come out the same bit for bit. Only
// the functions of this file use AVX2 (through target attributes, the rest
// of the program keeps the SSE2 baseline); the tracer calls them only on
// processors that have it.
#include <immintrin.h>

#include "exp_float.h"
#include "flow_trace.h"

#define QV_AVX2 __attribute__((target("avx2")))

namespace {

struct V8 {
    __m256 x, y;
};

QV_AVX2 inline __m256 Select8(__m256 mask, __m256 a, __m256 b) { return _mm256_blendv_ps(b, a, mask); }

// Lane l of the result's low half from `low`, of its high half from `high`.
QV_AVX2 inline __m256 Pair(__m128 low, __m128 high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

// _MM_TRANSPOSE4_PS within each half.
QV_AVX2 inline void Transpose8(__m256& r0, __m256& r1, __m256& r2, __m256& r3) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
    r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

QV_AVX2 inline __m256 Gt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
QV_AVX2 inline __m256 Lt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }

// ExpFloat's double computation on four lanes, operation for operation.
QV_AVX2 inline __m256d ExpQuad(__m256d x) {
    const __m256d small = _mm256_cmp_pd(x, _mm256_set1_pd(-110.0), _CMP_LT_OQ);
    x = _mm256_max_pd(x, _mm256_set1_pd(-111.0));
    const __m256d t = _mm256_add_pd(_mm256_mul_pd(x, _mm256_set1_pd(46.166241308446828)), _mm256_set1_pd(0.5));
    __m256d n = _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(t));
    const __m256d above = _mm256_cmp_pd(n, t, _CMP_GT_OQ);  // floor of negative values
    n = _mm256_sub_pd(n, _mm256_and_pd(above, _mm256_set1_pd(1.0)));
    const __m256d r = _mm256_sub_pd(_mm256_sub_pd(x, _mm256_mul_pd(n, _mm256_set1_pd(0x1.62e42feep-6))),
                                    _mm256_mul_pd(n, _mm256_set1_pd(1.90821492927058770002e-10 / 32.0)));
    __m256d p = _mm256_set1_pd(1.0 / 120.0);
    p = _mm256_add_pd(_mm256_set1_pd(1.0 / 24.0), _mm256_mul_pd(r, p));
    p = _mm256_add_pd(_mm256_set1_pd(1.0 / 6.0), _mm256_mul_pd(r, p));
    p = _mm256_add_pd(_mm256_set1_pd(0.5), _mm256_mul_pd(r, p));
    p = _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(r, p));
    p = _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(r, p));
    const __m128i ni = _mm256_cvttpd_epi32(n);
    const __m128i k = _mm_and_si128(ni, _mm_set1_epi32(31));
    // (n - k) / 32 is exact: an arithmetic shift
    const __m128i m = _mm_srai_epi32(_mm_sub_epi32(ni, k), 5);
    alignas(16) int ks[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ks), k);
    const __m256d pow2 = _mm256_setr_pd(exp_detail::kPow2[ks[0]], exp_detail::kPow2[ks[1]],
                                        exp_detail::kPow2[ks[2]], exp_detail::kPow2[ks[3]]);
    const __m256i biased = _mm256_cvtepi32_epi64(_mm_add_epi32(m, _mm_set1_epi32(1023)));
    const __m256d scale = _mm256_castsi256_pd(_mm256_slli_epi64(biased, 52));
    return _mm256_andnot_pd(small, _mm256_mul_pd(_mm256_mul_pd(pow2, p), scale));
}

// ExpFloat on eight lanes (arguments at most 0).
QV_AVX2 __m256 ExpFloat8(__m256 x) {
    const __m128 low = _mm256_cvtpd_ps(ExpQuad(_mm256_cvtps_pd(_mm256_castps256_ps128(x))));
    const __m128 high = _mm256_cvtpd_ps(ExpQuad(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1))));
    return Pair(low, high);
}

// Bilinear mix of the four corners of eight lanes.
QV_AVX2 inline __m256 Lerp8(__m256 upLeft, __m256 upRight, __m256 downLeft, __m256 downRight, __m256 fx,
                            __m256 fy) {
    const __m256 one = _mm256_set1_ps(1.f), gx = _mm256_sub_ps(one, fx), gy = _mm256_sub_ps(one, fy);
    const __m256 top = _mm256_add_ps(_mm256_mul_ps(gx, upLeft), _mm256_mul_ps(fx, upRight));
    const __m256 bottom = _mm256_add_ps(_mm256_mul_ps(gx, downLeft), _mm256_mul_ps(fx, downRight));
    return _mm256_add_ps(_mm256_mul_ps(top, gy), _mm256_mul_ps(bottom, fy));
}

// FlowDirection on eight lanes (see FlowDirection4), or GradientDirection
// with `kAcross`.
template <bool kAcross = false>
QV_AVX2 V8 FlowDirection8(const TensorField& f, __m256 x, __m256 y) {
    const __m256i xi = _mm256_cvttps_epi32(x), yi = _mm256_cvttps_epi32(y);
    const __m256 fx = _mm256_sub_ps(x, _mm256_cvtepi32_ps(xi)), fy = _mm256_sub_ps(y, _mm256_cvtepi32_ps(yi));
    alignas(32) int xs[8], ys[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(xs), xi);
    _mm256_store_si256(reinterpret_cast<__m256i*>(ys), yi);
    __m256 u0[4], u1[4], d0[4], d1[4];
    for (int l = 0; l < 4; ++l) {
        const float* a = f.j + 3 * (size_t(ys[l]) * f.width + xs[l]);
        const float* e = f.j + 3 * (size_t(ys[l + 4]) * f.width + xs[l + 4]);
        const float* b = a + 3 * size_t(f.width);
        const float* g = e + 3 * size_t(f.width);
        u0[l] = Pair(_mm_loadu_ps(a), _mm_loadu_ps(e));
        u1[l] = Pair(_mm_loadu_ps(a + 2), _mm_loadu_ps(e + 2));
        d0[l] = Pair(_mm_loadu_ps(b), _mm_loadu_ps(g));
        d1[l] = Pair(_mm_loadu_ps(b + 2), _mm_loadu_ps(g + 2));
    }
    Transpose8(u0[0], u0[1], u0[2], u0[3]);
    Transpose8(u1[0], u1[1], u1[2], u1[3]);
    Transpose8(d0[0], d0[1], d0[2], d0[3]);
    Transpose8(d1[0], d1[1], d1[2], d1[3]);
    // Values xx, xy, yy of the left (…0) and right (…1) pixel.
    const __m256 xx = Lerp8(u0[0], u0[3], d0[0], d0[3], fx, fy);
    const __m256 xy = Lerp8(u0[1], u1[2], d0[1], d1[2], fx, fy);
    const __m256 yy = Lerp8(u0[2], u1[3], d0[2], d1[3], fx, fy);
    const __m256 diff = _mm256_sub_ps(xx, yy);
    const __m256 r = _mm256_sqrt_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(4.f), xy), xy), _mm256_mul_ps(diff, diff)));
    const __m256 sum = _mm256_add_ps(xx, yy), half = _mm256_set1_ps(2.f);
    const __m256 l1 = _mm256_div_ps(_mm256_add_ps(sum, r), half), l2 = _mm256_div_ps(_mm256_sub_ps(sum, r), half);
    const __m256 minusXy = _mm256_sub_ps(_mm256_setzero_ps(), xy);
    const __m256 ax = kAcross ? xy : _mm256_sub_ps(l1, xx), ay = kAcross ? _mm256_sub_ps(l1, xx) : minusXy;
    const __m256 bx = kAcross ? _mm256_sub_ps(l2, xx) : xy, by = kAcross ? minusXy : _mm256_sub_ps(l2, xx);
    const __m256 la = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(ax, ax), _mm256_mul_ps(ay, ay)));
    const __m256 tiny = _mm256_set1_ps(1e-10f);
    const __m256 useA = Gt(la, tiny);
    // Nearly always every lane takes the first vector: the second one's
    // square root and divisions are then not needed.
    if (_mm256_movemask_ps(useA) == 0xff) return {_mm256_div_ps(ax, la), _mm256_div_ps(ay, la)};
    const __m256 lb = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(bx, bx), _mm256_mul_ps(by, by)));
    const __m256 useB = _mm256_andnot_ps(useA, Gt(lb, tiny));
    V8 d;
    d.x = _mm256_or_ps(_mm256_and_ps(useA, _mm256_div_ps(ax, la)), _mm256_and_ps(useB, _mm256_div_ps(bx, lb)));
    d.y = _mm256_or_ps(_mm256_and_ps(useA, _mm256_div_ps(ay, la)), _mm256_and_ps(useB, _mm256_div_ps(by, lb)));
    return d;
}

QV_AVX2 inline __m256 SignOfDot8(V8 d, V8 r) {
    const __m256 dot = _mm256_add_ps(_mm256_mul_ps(d.x, r.x), _mm256_mul_ps(d.y, r.y));
    return Select8(Gt(dot, _mm256_setzero_ps()), _mm256_set1_ps(1.f), _mm256_set1_ps(-1.f));
}

template <bool kAcross = false>
QV_AVX2 void DirectionStep8(V8& p, V8& ref, const TensorField& f) {
    const V8 d1 = FlowDirection8<kAcross>(f, p.x, p.y);
    const __m256 s1 = _mm256_mul_ps(_mm256_set1_ps(0.5f), SignOfDot8(d1, ref));
    const V8 d2 = FlowDirection8<kAcross>(f, _mm256_add_ps(p.x, _mm256_mul_ps(s1, d1.x)),
                                          _mm256_add_ps(p.y, _mm256_mul_ps(s1, d1.y)));
    const __m256 s2 = SignOfDot8(d2, ref);
    const V8 nd{_mm256_mul_ps(s2, d2.x), _mm256_mul_ps(s2, d2.y)};
    const V8 q{_mm256_add_ps(p.x, nd.x), _mm256_add_ps(p.y, nd.y)};
    const __m256 one = _mm256_set1_ps(1.f);
    const __m256 inside = _mm256_and_ps(_mm256_and_ps(Gt(q.x, one), Gt(q.y, one)),
                                        _mm256_and_ps(Lt(q.x, _mm256_set1_ps(float(f.width - 2))),
                                                      Lt(q.y, _mm256_set1_ps(float(f.height - 2)))));
    p.x = Select8(inside, q.x, p.x);
    p.y = Select8(inside, q.y, p.y);
    ref = nd;
}

// (v00 v10 v01 v11) of the grey guide at (x, y).
QV_AVX2 inline __m128 GreyCorners(const float* g, int width, int x, int y) {
    const float* p = g + size_t(y) * width + x;
    return _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)),
                        reinterpret_cast<const __m64*>(p + width));
}

QV_AVX2 __m256 Grey8(const float* g, int width, __m256 x, __m256 y) {
    const __m256i xi = _mm256_cvttps_epi32(x), yi = _mm256_cvttps_epi32(y);
    const __m256 fx = _mm256_sub_ps(x, _mm256_cvtepi32_ps(xi)), fy = _mm256_sub_ps(y, _mm256_cvtepi32_ps(yi));
    alignas(32) int xs[8], ys[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(xs), xi);
    _mm256_store_si256(reinterpret_cast<__m256i*>(ys), yi);
    __m256 r[4];
    for (int l = 0; l < 4; ++l) r[l] = Pair(GreyCorners(g, width, xs[l], ys[l]), GreyCorners(g, width, xs[l + 4], ys[l + 4]));
    Transpose8(r[0], r[1], r[2], r[3]);
    return Lerp8(r[0], r[1], r[2], r[3], fx, fy);
}

// MakeSample on eight lanes (pixels `lanesX` of row y), the same integer
// and float operations per lane, packed as FlowSample records in lane order.
QV_AVX2 void MakeSamples8(V8 p, __m256i weight, __m256i lanesX, int y, int width, int components,
                          FlowSample out[8]) {
    const __m256i bx = _mm256_cvttps_epi32(p.x), by = _mm256_cvttps_epi32(p.y);
    const __m256 fx = _mm256_sub_ps(p.x, _mm256_cvtepi32_ps(bx)), fy = _mm256_sub_ps(p.y, _mm256_cvtepi32_ps(by));
    const __m256i rows = _mm256_mullo_epi32(_mm256_sub_epi32(by, _mm256_set1_epi32(y)), _mm256_set1_epi32(width));
    const __m256i offset =
        _mm256_mullo_epi32(_mm256_add_epi32(rows, _mm256_sub_epi32(bx, lanesX)), _mm256_set1_epi32(components));
    const __m256 one = _mm256_set1_ps(1.f), scale = _mm256_set1_ps(128.f), half = _mm256_set1_ps(0.5f);
    const __m256i wx = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(one, fx), scale), half));
    const __m256i wy = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(one, fy), scale), half));
    // bytes wx, wy, weight, 0 (each at most 128)
    const __m256i bytes =
        _mm256_or_si256(_mm256_or_si256(wx, _mm256_slli_epi32(wy, 8)), _mm256_slli_epi32(weight, 16));
    const __m256i low = _mm256_unpacklo_epi32(offset, bytes);   // lanes 0, 1 | 4, 5
    const __m256i high = _mm256_unpackhi_epi32(offset, bytes);  // lanes 2, 3 | 6, 7
    static_assert(sizeof(FlowSample) == 8, "a sample is an offset and four bytes");
    _mm256_store_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_store_si256(reinterpret_cast<__m256i*>(out + 4), _mm256_permute2x128_si256(low, high, 0x31));
}

}  // namespace

// The lanes take the row's pixels in turn: a lane whose line has ended
// starts the next pixel at once, so none idles while others go on. Each
// pixel still gets exactly the steps TraceFlowPixel takes for it.
QV_AVX2 void TraceFlowRowEight(const FlowTracer& t, int y, int x0, int count, PixelTrace* out) {
    const int W = t.field.width;
    for (int i = 0; i < count; ++i) out[i].total = out[i].forward = out[i].backward = 0;
    if (count <= 0 || t.length < 2) return;
    const float* greyRow = t.grey + size_t(y) * W;
    const __m256 ys = _mm256_set1_ps(float(y)), zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.f);
    const __m256 sigma = _mm256_set1_ps(t.sigma), scale = _mm256_set1_ps(128.f), half = _mm256_set1_ps(0.5f);
    // Per lane: the pixel it traces (index into `out`, -1 once the row is
    // done) and its step; an idle lane keeps stepping from a valid place.
    int pixel[8], step[8];
    alignas(32) int xs[8], refill[8];
    int next = 0, busy = 0;
    for (int l = 0; l < 8; ++l) {
        pixel[l] = next < count ? next++ : -1;
        busy += pixel[l] >= 0;
        step[l] = 1;
        xs[l] = x0 + (pixel[l] >= 0 ? pixel[l] : count - 1);
    }
    __m256i lanesX = _mm256_load_si256(reinterpret_cast<const __m256i*>(xs));
    __m256 px = _mm256_cvtepi32_ps(lanesX);
    const V8 d0 = FlowDirection8(t.field, px, ys);
    V8 pf{px, ys}, pb{px, ys}, rf = d0, rb{_mm256_sub_ps(zero, d0.x), _mm256_sub_ps(zero, d0.y)};
    __m256 g0 = _mm256_i32gather_ps(greyRow, lanesX, 4);
    __m256 cf = one, cb = one;
    while (busy > 0) {
        DirectionStep8(pf, rf, t.field);
        DirectionStep8(pb, rb, t.field);
        const __m256 df = _mm256_sub_ps(g0, Grey8(t.grey, W, pf.x, pf.y));
        const __m256 db = _mm256_sub_ps(g0, Grey8(t.grey, W, pb.x, pb.y));
        cf = _mm256_mul_ps(cf, ExpFloat8(_mm256_div_ps(_mm256_sub_ps(zero, _mm256_mul_ps(df, df)), sigma)));
        cb = _mm256_mul_ps(cb, ExpFloat8(_mm256_div_ps(_mm256_sub_ps(zero, _mm256_mul_ps(db, db)), sigma)));
        const __m256 spatial =
            _mm256_i32gather_ps(t.spatialWeight.data(), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(step)), 4);
        const __m256i wf = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(spatial, cf), scale), half));
        const __m256i wb = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(spatial, cb), scale), half));
        LaneStep<8> taken;
        _mm256_store_si256(reinterpret_cast<__m256i*>(taken.wf), wf);
        _mm256_store_si256(reinterpret_cast<__m256i*>(taken.wb), wb);
        MakeSamples8(pf, wf, lanesX, y, W, t.components, taken.fwd);
        MakeSamples8(pb, wb, lanesX, y, W, t.components, taken.bwd);
        bool anyRefill = false;
        for (int l = 0; l < 8; ++l) {
            refill[l] = 0;
            if (pixel[l] < 0) continue;
            PixelTrace& o = out[pixel[l]];
            o.total += taken.wf[l] + taken.wb[l];
            const bool closed = taken.wf[l] == 0 && taken.wb[l] == 0;
            if (!closed) {
                if (taken.wf[l]) o.fwd[o.forward++] = taken.fwd[l];
                if (taken.wb[l]) o.bwd[o.backward++] = taken.bwd[l];
            }
            if (!closed && ++step[l] < t.length) continue;
            step[l] = 1;
            if (next < count) {
                pixel[l] = next++;
                xs[l] = x0 + pixel[l];
                refill[l] = -1;
                anyRefill = true;
            } else {
                pixel[l] = -1;
                --busy;
            }
        }
        if (!anyRefill) continue;
        // The lanes that took a new pixel start it as TraceFlowPixel does.
        const __m256 fresh = _mm256_castsi256_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(refill)));
        lanesX = _mm256_load_si256(reinterpret_cast<const __m256i*>(xs));
        px = _mm256_cvtepi32_ps(lanesX);
        const V8 d = FlowDirection8(t.field, px, ys);
        pf = {Select8(fresh, px, pf.x), Select8(fresh, ys, pf.y)};
        pb = {Select8(fresh, px, pb.x), Select8(fresh, ys, pb.y)};
        rf = {Select8(fresh, d.x, rf.x), Select8(fresh, d.y, rf.y)};
        rb = {Select8(fresh, _mm256_sub_ps(zero, d.x), rb.x), Select8(fresh, _mm256_sub_ps(zero, d.y), rb.y)};
        g0 = Select8(fresh, _mm256_i32gather_ps(greyRow, lanesX, 4), g0);
        cf = Select8(fresh, one, cf);
        cb = Select8(fresh, one, cb);
    }
}

QV_AVX2 void StepAcrossEight(const TensorField& f, int x, int y, Vec2 forward[8], Vec2 backward[8]) {
    const __m256 xs = _mm256_setr_ps(float(x), float(x + 1), float(x + 2), float(x + 3), float(x + 4),
                                     float(x + 5), float(x + 6), float(x + 7));
    const __m256 ys = _mm256_set1_ps(float(y)), zero = _mm256_setzero_ps();
    const V8 d0 = FlowDirection8<true>(f, xs, ys);
    V8 pf{xs, ys}, pb{xs, ys}, rf = d0, rb{_mm256_sub_ps(zero, d0.x), _mm256_sub_ps(zero, d0.y)};
    DirectionStep8<true>(pf, rf, f);
    DirectionStep8<true>(pb, rb, f);
    alignas(32) float fx[8], fy[8], bx[8], by[8];
    _mm256_store_ps(fx, pf.x);
    _mm256_store_ps(fy, pf.y);
    _mm256_store_ps(bx, pb.x);
    _mm256_store_ps(by, pb.y);
    for (int l = 0; l < 8; ++l) {
        forward[l] = {fx[l], fy[l]};
        backward[l] = {bx[l], by[l]};
    }
}
