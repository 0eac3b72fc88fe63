// exp for single-precision arguments, computed the same way on every x86-64.
// The C library picks its expf at run time by CPU features (with or without
// FMA), which may differ in the last bit; results here must not. Computed in
// double (error far below half a float ulp) and rounded once to float.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace exp_detail {
// 2^(k/32), correctly rounded.
constexpr double kPow2[32] = {
    0x1.0000000000000p+0, 0x1.059b0d3158574p+0, 0x1.0b5586cf9890fp+0, 0x1.11301d0125b51p+0,
    0x1.172b83c7d517bp+0, 0x1.1d4873168b9aap+0, 0x1.2387a6e756238p+0, 0x1.29e9df51fdee1p+0,
    0x1.306fe0a31b715p+0, 0x1.371a7373aa9cbp+0, 0x1.3dea64c123422p+0, 0x1.44e086061892dp+0,
    0x1.4bfdad5362a27p+0, 0x1.5342b569d4f82p+0, 0x1.5ab07dd485429p+0, 0x1.6247eb03a5585p+0,
    0x1.6a09e667f3bcdp+0, 0x1.71f75e8ec5f74p+0, 0x1.7a11473eb0187p+0, 0x1.82589994cce13p+0,
    0x1.8ace5422aa0dbp+0, 0x1.93737b0cdc5e5p+0, 0x1.9c49182a3f090p+0, 0x1.a5503b23e255dp+0,
    0x1.ae89f995ad3adp+0, 0x1.b7f76f2fb5e47p+0, 0x1.c199bdd85529cp+0, 0x1.cb720dcef9069p+0,
    0x1.d5818dcfba487p+0, 0x1.dfc97337b9b5fp+0, 0x1.ea4afa2a490dap+0, 0x1.f50765b6e4540p+0,
};
}  // namespace exp_detail

inline float ExpFloat(float xf) {
    const double x = xf;
    if (x < -110.0) return 0.0f;
    if (x > 89.0) return HUGE_VALF;
    // x = n·ln2/32 + r with |r| ≤ ln2/64; ln2/32 split so that n × hi is exact.
    const double n = std::floor(x * 46.166241308446828 + 0.5);
    const double kHi = 0x1.62e42feep-6, kLo = 1.90821492927058770002e-10 / 32.0;
    const double r = (x - n * kHi) - n * kLo;
    const double p = 1.0 + r * (1.0 + r * (0.5 + r * (1.0 / 6.0 + r * (1.0 / 24.0 + r * (1.0 / 120.0)))));
    const int ni = int(n), k = ni & 31, m = (ni - k) / 32;
    // 2^m through the exponent bits: exact, and much cheaper than ldexp.
    const uint64_t bits = uint64_t(int64_t(m) + 1023) << 52;
    double scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return float(exp_detail::kPow2[k] * p * scale);
}

#if defined(__SSE2__)
#include <emmintrin.h>

namespace exp_detail {
// Two lanes of ExpFloat's double computation, operation for operation.
inline __m128d ExpPair(__m128d x) {
    const __m128d small = _mm_cmplt_pd(x, _mm_set1_pd(-110.0));
    x = _mm_max_pd(x, _mm_set1_pd(-111.0));
    const __m128d t = _mm_add_pd(_mm_mul_pd(x, _mm_set1_pd(46.166241308446828)), _mm_set1_pd(0.5));
    const __m128i truncated = _mm_cvttpd_epi32(t);
    __m128d n = _mm_cvtepi32_pd(truncated);
    const __m128d above = _mm_cmpgt_pd(n, t);  // floor of negative values
    n = _mm_sub_pd(n, _mm_and_pd(above, _mm_set1_pd(1.0)));
    const __m128d r = _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(n, _mm_set1_pd(0x1.62e42feep-6))),
                                 _mm_mul_pd(n, _mm_set1_pd(1.90821492927058770002e-10 / 32.0)));
    __m128d p = _mm_set1_pd(1.0 / 120.0);
    p = _mm_add_pd(_mm_set1_pd(1.0 / 24.0), _mm_mul_pd(r, p));
    p = _mm_add_pd(_mm_set1_pd(1.0 / 6.0), _mm_mul_pd(r, p));
    p = _mm_add_pd(_mm_set1_pd(0.5), _mm_mul_pd(r, p));
    p = _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(r, p));
    p = _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(r, p));
    alignas(16) int ni[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ni), _mm_cvttpd_epi32(n));
    const int k0 = ni[0] & 31, k1 = ni[1] & 31;
    const __m128d pow2 = _mm_setr_pd(kPow2[k0], kPow2[k1]);
    const __m128i biased = _mm_setr_epi32((ni[0] - k0) / 32 + 1023, 0, (ni[1] - k1) / 32 + 1023, 0);
    const __m128d scale = _mm_castsi128_pd(_mm_slli_epi64(biased, 52));
    return _mm_andnot_pd(small, _mm_mul_pd(_mm_mul_pd(pow2, p), scale));
}
}  // namespace exp_detail

// ExpFloat on four lanes (arguments at most 0).
inline __m128 ExpFloat4(__m128 x) {
    const __m128 low = _mm_cvtpd_ps(exp_detail::ExpPair(_mm_cvtps_pd(x)));
    const __m128 high = _mm_cvtpd_ps(exp_detail::ExpPair(_mm_cvtps_pd(_mm_movehl_ps(x, x))));
    return _mm_movelh_ps(low, high);
}
#endif
