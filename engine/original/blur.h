// Gaussian kernels and the separable blur shared by the Original method's
// stages: in float for the grey guide of the flow lines, in integers for
// border sharpening. Where the kernel is cut by the picture's ends it is
// renormalised over the entries inside; integer sums divide with truncation.
// Each output is Σ(weight × sample) ÷ Σ weight over its window, the window
// positions taken in order, so the column pass gives the same sums in the
// same order as a second row pass over the transposed plane would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "parallel.h"

// trunc(2σ + 0.5) × 2 + 3 entries exp(−(i − h)² ÷ 2σ²), h the middle one,
// divided by their sum.
std::vector<float> GaussianKernel(float sigma);
// The same as 7-bit weights trunc(entry × 128 + 0.5) + 1, never 0:
// σ = 0.7 gives 2, 27, 74, 27, 2.
std::vector<int32_t> IntegerGaussianKernel(float sigma);

// acc[i] += k × in[i] and out[i] = acc[i] ÷ divisor (divisors[i] when
// given), i < n. The integer and float versions use AVX2 where the
// engine's vector width allows it (SSE2 has no 32-bit multiply and no
// integer division); a float lane multiplies and adds as the plain loop does.
template <typename T>
inline void AddScaled(T* acc, const T* in, T k, int n) {
    for (int i = 0; i < n; ++i) acc[i] += k * in[i];
}
template <typename T>
inline void Divide(T* out, const T* acc, const T* divisors, T divisor, int n) {
    for (int i = 0; i < n; ++i) out[i] = acc[i] / (divisors ? divisors[i] : divisor);
}
template <>
void AddScaled<int32_t>(int32_t* acc, const int32_t* in, int32_t k, int n);
template <>
void Divide<int32_t>(int32_t* out, const int32_t* acc, const int32_t* divisors, int32_t divisor, int n);
template <>
void AddScaled<float>(float* acc, const float* in, float k, int n);
template <>
void Divide<float>(float* out, const float* acc, const float* divisors, float divisor, int n);

// Horizontal pass over the `components` interleaved channels of a
// width × height plane. Each output still sums its window from left to
// right, but the sums of a whole row advance together one kernel entry at a
// time, which the compiler turns into vector code.
template <typename T>
void BlurRows(const T* in, T* out, int w, int h, int components, const std::vector<T>& k) {
    const int half = int(k.size()) / 2, C = components, taps = int(k.size());
    std::vector<T> weight(size_t(w) * C, T(0));  // per sample
    for (int x = 0; x < w; ++x) {
        T sum = 0;
        for (int p = std::max(x - half, 0), last = std::min(x + half, w - 1); p <= last; ++p)
            sum += k[size_t(p - x + half)];
        std::fill(weight.begin() + x * C, weight.begin() + (x + 1) * C, sum);
    }
    ParallelRows(0, h, [&](int y) {
        thread_local std::vector<T> sums;
        sums.assign(size_t(w) * C, T(0));
        T* acc = sums.data();
        const T* row = in + size_t(y) * w * C;
        for (int e = 0; e < taps; ++e) {
            // Outputs x whose window holds sample x - half + e.
            const int first = std::max(half - e, 0), end = std::min(w + half - e, w);
            if (end > first) AddScaled(acc + first * C, row + (first + e - half) * C, k[size_t(e)], (end - first) * C);
        }
        Divide(out + size_t(y) * w * C, acc, weight.data(), T(0), w * C);
    });
}

// Vertical pass for row y alone: `out` receives its `rowSamples` samples.
template <typename T>
void BlurColumnsOfRow(const T* in, T* out, int rowSamples, int h, int y, const std::vector<T>& k) {
    const int half = int(k.size()) / 2;
    const int first = std::max(y - half, 0), last = std::min(y + half, h - 1);
    T weight = 0;
    for (int p = first; p <= last; ++p) weight += k[size_t(p - y + half)];
    std::fill(out, out + rowSamples, T(0));
    for (int p = first; p <= last; ++p) AddScaled(out, in + size_t(p) * rowSamples, k[size_t(p - y + half)], rowSamples);
    Divide(out, out, static_cast<const T*>(nullptr), weight, rowSamples);
}

// Blurs a one-component width × height plane in place, with `temp` (as large
// as the plane) as scratch.
template <typename T>
void SeparableBlur(T* plane, T* temp, int w, int h, const std::vector<T>& k) {
    BlurRows(plane, temp, w, h, 1, k);
    ParallelRows(0, h, [&](int y) { BlurColumnsOfRow(temp, plane + size_t(y) * w, w, h, y, k); });
}
