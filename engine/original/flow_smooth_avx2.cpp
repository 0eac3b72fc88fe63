// One row of the colour flow smoothing, and of flattening, with AVX2: two
// samples of a table per step, one in each half of the registers, their
// bilinear weights made from the table's bytes in vector registers. Integer
// sums in another order are the same sums, so the rows equal those of the
// SSE2 loops. Only this file's functions use AVX2; they are called on
// processors that have it.
#include <immintrin.h>

#include <algorithm>

#include "flow.h"
#include "shock.h"

#define QV_AVX2 __attribute__((target("avx2")))

namespace {

QV_AVX2 inline __m256i Pair(const int32_t* low, const int32_t* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// The bilinear weights of the two samples in `bytes` (offset 0-3, wx 4,
// wy 5, weight 6, and 8-11, 12, 13, 14): per sample, the 16-bit lanes wx,
// 128 - wx, wx, 128 - wx times wy, wy, 128 - wy, 128 - wy give the weights
// of the upper pair of pixels (as one 32-bit lane for the multiply-adds) and
// of the lower, repeated over the sample's half of `top` and `bottom`.
struct PairWeights {
    __m256i top, bottom;

    QV_AVX2 explicit PairWeights(__m128i bytes) {
        const __m128i pickX = _mm_setr_epi8(4, -1, 4, -1, 4, -1, 4, -1, 12, -1, 12, -1, 12, -1, 12, -1);
        const __m128i pickY = _mm_setr_epi8(5, -1, 5, -1, 5, -1, 5, -1, 13, -1, 13, -1, 13, -1, 13, -1);
        const __m128i signX = _mm_setr_epi16(1, -1, 1, -1, 1, -1, 1, -1);
        const __m128i addX = _mm_setr_epi16(0, 128, 0, 128, 0, 128, 0, 128);
        const __m128i signY = _mm_setr_epi16(1, 1, -1, -1, 1, 1, -1, -1);
        const __m128i addY = _mm_setr_epi16(0, 0, 128, 128, 0, 0, 128, 128);
        const __m128i wx = _mm_add_epi16(_mm_sign_epi16(_mm_shuffle_epi8(bytes, pickX), signX), addX);
        const __m128i wy = _mm_add_epi16(_mm_sign_epi16(_mm_shuffle_epi8(bytes, pickY), signY), addY);
        // top a, bottom a, top b, bottom b; the upper half is never read
        const __m256i corners = _mm256_castsi128_si256(_mm_mullo_epi16(wx, wy));
        top = _mm256_permutevar8x32_epi32(corners, _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2));
        bottom = _mm256_permutevar8x32_epi32(corners, _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3));
    }
};

// Bilinear reads of the paired copy at two places `a` and `b`, one per
// half (each load holds the left and right pairs of the components): the
// weighted sums, the components in the first three 32-bit lanes
// of each half. Shifted by 14 they are the reads of the shifted image (the
// sums lie within ±2^29, an arithmetic shift rounds down as the unshifted
// reads do); (sum + 2^29) >> 14 are those of the working image.
QV_AVX2 inline __m256i ReadPair(const int32_t* a, const int32_t* b, int rowSamples, const PairWeights& w) {
    const __m256i pp = Pair(a, b), qq = Pair(a + rowSamples, b + rowSamples);
    return _mm256_add_epi32(_mm256_madd_epi16(pp, w.top), _mm256_madd_epi16(qq, w.bottom));
}

}  // namespace

QV_AVX2 void FlowSmoothColourRowAvx2(const FlowTable& table, const int32_t* src, int32_t* dst, int y) {
    static_assert(sizeof(FlowSample) == 8, "two samples fill sixteen bytes");
    const int W = table.width, rowSamples = W * 3;
    const __m128i half4 = _mm_set1_epi32(32768);
    const __m128i pickWeight = _mm_setr_epi8(6, -1, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i weightLanes = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    for (int x = 1; x <= W - 2; ++x) {
        const size_t i = size_t(y) * W + x;
        const FlowSample* s = table.Begin(x, y);
        const FlowSample* end = table.End(x, y);
        const int32_t* at = src + x * 3;
        __m256i acc = _mm256_setzero_si256();
        for (; end - s >= 2; s += 2) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            const PairWeights w(bytes);
            const __m256i weight =
                _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(_mm_shuffle_epi8(bytes, pickWeight)), weightLanes);
            const __m256i value = _mm256_srai_epi32(ReadPair(at + s[0].offset, at + s[1].offset, rowSamples, w), 14);
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(value, weight));
        }
        __m128i acc4 = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        if (s != end) {
            const int32_t wx = s->wx, wy = s->wy;
            const int32_t top = (wy * wx) | ((wy * (128 - wx)) << 16);
            const int32_t bottom = ((128 - wy) * wx) | (((128 - wy) * (128 - wx)) << 16);
            const __m128i pp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s->offset));
            const __m128i qq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s->offset + rowSamples));
            const __m128i sum =
                _mm_add_epi32(_mm_madd_epi16(pp, _mm_set1_epi32(top)), _mm_madd_epi16(qq, _mm_set1_epi32(bottom)));
            const __m128i value = _mm_sub_epi32(_mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << 29)), 14),
                                                _mm_set1_epi32(32768));
            acc4 = _mm_add_epi32(acc4, _mm_madd_epi16(value, _mm_set1_epi32(s->weight)));
        }
        // (acc + back + 128 × centre) / total per component; the sums are
        // those of the working values, at least 0 and below 2^31, and the
        // total below 2^22, so the truncated double quotient is the integer
        // one (see DivideAvx2). The fourth lane is not stored.
        const int32_t total = table.total[i], back = 32768 * (total - 128);
        const __m128i own = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i centre = _mm_add_epi32(_mm_srai_epi32(_mm_slli_epi32(own, 16), 16), half4);
        const __m128i sums = _mm_add_epi32(_mm_add_epi32(acc4, _mm_set1_epi32(back)), _mm_slli_epi32(centre, 7));
        alignas(16) int32_t quotients[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(quotients),
                        _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(sums), _mm256_set1_pd(double(total)))));
        for (int c = 0; c < 3; ++c) dst[x * 3 + c] = quotients[c];
    }
}

QV_AVX2 void ShockColourRowAvx2(const ShockTable& table, const int32_t* src, int32_t* dst, int y, int threshold) {
    static_assert(sizeof(ShockRecord) == 16, "a record fills sixteen bytes");
    const int W = table.width, rowSamples = W * 3;
    const float upper = float(threshold), lower = -float(threshold);
    for (int x = 1; x <= W - 2; ++x) {
        const ShockRecord& r = table.records[size_t(y) * W + x];
        const int32_t* at = src + x * 3;
        const PairWeights w(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&r)));
        alignas(32) int32_t bf[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(bf),
                           _mm256_srai_epi32(_mm256_add_epi32(ReadPair(at + r.backward.offset, at + r.forward.offset,
                                                                       rowSamples, w),
                                                              _mm256_set1_epi32(1 << 29)),
                                             14));
        const int32_t* b = bf;
        const int32_t* f = bf + 4;
        const int32_t z[3] = {PairedSample(at[0]), PairedSample(at[1]), PairedSample(at[2])};
        ShockPixel(z, b, f, 3, lower, upper, dst + x * 3);
    }
}
