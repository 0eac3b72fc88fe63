#include "shock.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "flow.h"
#include "flow_trace.h"
#include "parallel.h"
#include "vector_width.h"

int ShockThreshold(float flattening) {
    return -200 - int(flattening * flattening * -20000.f);
}

bool BuildShockTable(ShockTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                     int components) {
    const int W = jxx.width, H = jxx.height;
    if (W < 3 || H < 3 || !jxy.pixels || !jyy.pixels) return false;
    const std::vector<float> tensor = InterleaveTensorPlanes(jxx, jxy, jyy);
    const TensorField field{tensor.data(), W, H};
    table.width = W;
    table.height = H;
    table.components = components;
    table.records.resize(size_t(W) * H);  // the border records are never read
    const bool eight = CurrentVectorWidth() == VectorWidth::Eight;
    ParallelRows(1, H - 1, [&](int y) {
        auto keep = [&](int x, Vec2 pf, Vec2 pb) {
            ShockRecord& r = table.records[size_t(y) * W + x];
            r.backward = MakeSample(pb, x, y, W, components, 0);
            r.forward = MakeSample(pf, x, y, W, components, 0);
        };
        int x = 1;
        if (eight)
            for (; x + 7 <= W - 2; x += 8) {
                Vec2 pf[8], pb[8];
                StepAcrossEight(field, x, y, pf, pb);
                for (int l = 0; l < 8; ++l) keep(x + l, pf[l], pb[l]);
            }
        for (; x <= W - 2; ++x) {
            const Vec2 d0 = GradientDirection(float(x), float(y), field);
            Vec2 pf{float(x), float(y)}, pb = pf, rf = d0, rb{-d0.x, -d0.y};
            DirectionStep(pf, rf, field, GradientDirection);
            DirectionStep(pb, rb, field, GradientDirection);
            keep(x, pf, pb);
        }
    });
    return true;
}

namespace {

#if defined(__SSE2__)
// Colour pictures with SSE2: the two bilinear reads of a pixel from the
// paired 16-bit copy of the working image, as in the flow smoothing (the shift by
// -32768 is taken back exactly, the weights sum to 2^14).
void ShockColour(IntImage& image, const ShockTable& table, int threshold, ScratchSpace& scratch) {
    const int W = image.width, H = image.height, rowSamples = W * 3;
    const int32_t* paired = PairedCopy(image, scratch);
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        ParallelRows(1, H - 1, [&](int y) {
            ShockColourRowAvx2(table, paired + size_t(y) * rowSamples, image.Row(y), y, threshold);
        });
        return;
    }
    const float upper = float(threshold), lower = -float(threshold);
    ParallelRows(1, H - 1, [&](int y) {
        const int32_t* src = paired + size_t(y) * rowSamples;
        int32_t* dst = image.Row(y);
        const __m128i bias = _mm_set1_epi32(1 << 29);
        auto read = [&](const int32_t* at, const FlowSample& s) {
            const int32_t wx = s.wx, wy = s.wy;
            const int32_t top = (wy * wx) | ((wy * (128 - wx)) << 16);
            const int32_t bottom = ((128 - wy) * wx) | (((128 - wy) * (128 - wx)) << 16);
            const __m128i pp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s.offset));
            const __m128i qq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s.offset + rowSamples));
            const __m128i sum = _mm_add_epi32(_mm_madd_epi16(pp, _mm_set1_epi32(top)),
                                              _mm_madd_epi16(qq, _mm_set1_epi32(bottom)));
            return _mm_srai_epi32(_mm_add_epi32(sum, bias), 14);
        };
        for (int x = 1; x <= W - 2; ++x) {
            const ShockRecord& r = table.records[size_t(y) * W + x];
            const int32_t* at = src + x * 3;
            alignas(16) int32_t b[4], f[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(b), read(at, r.backward));
            _mm_store_si128(reinterpret_cast<__m128i*>(f), read(at, r.forward));
            const int32_t z[3] = {PairedSample(at[0]), PairedSample(at[1]), PairedSample(at[2])};
            ShockPixel(z, b, f, 3, lower, upper, dst + x * 3);
        }
    });
}
#endif

}  // namespace

void ShockStep(IntImage& image, const ShockTable& table, int threshold, ScratchSpace* scratch) {
    const int W = image.width, H = image.height, C = image.components, rowSamples = W * C;
    if (W != table.width || H != table.height || C != table.components) return;
#if defined(__SSE2__)
    if (C == 3 && CurrentVectorWidth() != VectorWidth::One) {
        ScratchSpace own;
        ShockColour(image, table, threshold, scratch ? *scratch : own);
        return;
    }
#endif
    const IntImage copy = image.Clone();
    const float upper = float(threshold), lower = -float(threshold);
    ParallelRows(1, H - 1, [&](int y) {
        const int32_t* src = copy.Row(y);
        int32_t* dst = image.Row(y);
        for (int x = 1; x <= W - 2; ++x) {
            const ShockRecord& r = table.records[size_t(y) * W + x];
            const int32_t* at = src + x * C;
            int32_t b[3], f[3];
            for (int c = 0; c < C; ++c) {
                b[c] = ReadSample(at, r.backward, rowSamples, C, c);
                f[c] = ReadSample(at, r.forward, rowSamples, C, c);
            }
            ShockPixel(at, b, f, C, lower, upper, dst + x * C);
        }
    });
}
