// The loops of the blur with AVX2: for integers it has the 32-bit multiply
// SSE2 lacks and divides four samples at once; floats go eight at a time,
// each lane multiplying and adding (never fused) as the plain loop does.
// Only this file's functions use AVX2; they are called on processors that
// have it.
#include <immintrin.h>

#include <cstdint>

#define QV_AVX2 __attribute__((target("avx2")))

QV_AVX2 void AddScaledAvx2(int32_t* acc, const int32_t* in, int32_t k, int n) {
    const __m256i kv = _mm256_set1_epi32(k);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i* a = reinterpret_cast<__m256i*>(acc + i);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(a, _mm256_add_epi32(_mm256_loadu_si256(a), _mm256_mullo_epi32(v, kv)));
    }
    for (; i < n; ++i) acc[i] += k * in[i];
}

// A quotient of integers below 2^31 by a divisor below 2^22 lies at least
// 1/divisor from the next integer unless it is one, far more than the
// rounding of the double division: truncated, it is the integer quotient.
QV_AVX2 void DivideAvx2(int32_t* out, const int32_t* acc, const int32_t* divisors, int32_t divisor, int n) {
    int i = 0;
    const __m256d same = _mm256_set1_pd(double(divisor));
    for (; i + 4 <= n; i += 4) {
        const __m256d a = _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + i)));
        const __m256d d =
            divisors ? _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(divisors + i))) : same;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_cvttpd_epi32(_mm256_div_pd(a, d)));
    }
    for (; i < n; ++i) out[i] = acc[i] / (divisors ? divisors[i] : divisor);
}

QV_AVX2 void AddScaledAvx2(float* acc, const float* in, float k, int n) {
    const __m256 kv = _mm256_set1_ps(k);
    int i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(acc + i, _mm256_add_ps(_mm256_loadu_ps(acc + i), _mm256_mul_ps(kv, _mm256_loadu_ps(in + i))));
    for (; i < n; ++i) acc[i] += k * in[i];
}

QV_AVX2 void DivideAvx2(float* out, const float* acc, const float* divisors, float divisor, int n) {
    const __m256 same = _mm256_set1_ps(divisor);
    int i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(out + i, _mm256_div_ps(_mm256_loadu_ps(acc + i), divisors ? _mm256_loadu_ps(divisors + i) : same));
    for (; i < n; ++i) out[i] = acc[i] / (divisors ? divisors[i] : divisor);
}
