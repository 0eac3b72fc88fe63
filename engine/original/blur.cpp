#include "blur.h"

#include "exp_float.h"
#include "vector_width.h"

void AddScaledAvx2(int32_t* acc, const int32_t* in, int32_t k, int n);
void DivideAvx2(int32_t* out, const int32_t* acc, const int32_t* divisors, int32_t divisor, int n);
void AddScaledAvx2(float* acc, const float* in, float k, int n);
void DivideAvx2(float* out, const float* acc, const float* divisors, float divisor, int n);

std::vector<float> GaussianKernel(float sigma) {
    const int length = int(2.f * sigma + 0.5f) * 2 + 3, half = length / 2;
    std::vector<float> k(static_cast<size_t>(length));
    const float twoSigma2 = 2.f * sigma * sigma;
    float sum = 0.f;
    for (int i = 0; i < length; ++i) {
        k[size_t(i)] = ExpFloat(-float((i - half) * (i - half)) / twoSigma2);
        sum += k[size_t(i)];
    }
    for (float& v : k) v /= sum;
    return k;
}

std::vector<int32_t> IntegerGaussianKernel(float sigma) {
    const std::vector<float> k = GaussianKernel(sigma);
    std::vector<int32_t> kw(k.size());
    for (size_t i = 0; i < k.size(); ++i) kw[i] = int32_t(k[i] * 128.f + 0.5f) + 1;
    return kw;
}

template <>
void AddScaled<int32_t>(int32_t* acc, const int32_t* in, int32_t k, int n) {
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        AddScaledAvx2(acc, in, k, n);
        return;
    }
    for (int i = 0; i < n; ++i) acc[i] += k * in[i];
}

template <>
void Divide<int32_t>(int32_t* out, const int32_t* acc, const int32_t* divisors, int32_t divisor, int n) {
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        DivideAvx2(out, acc, divisors, divisor, n);
        return;
    }
    for (int i = 0; i < n; ++i) out[i] = acc[i] / (divisors ? divisors[i] : divisor);
}

template <>
void AddScaled<float>(float* acc, const float* in, float k, int n) {
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        AddScaledAvx2(acc, in, k, n);
        return;
    }
    for (int i = 0; i < n; ++i) acc[i] += k * in[i];
}

template <>
void Divide<float>(float* out, const float* acc, const float* divisors, float divisor, int n) {
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        DivideAvx2(out, acc, divisors, divisor, n);
        return;
    }
    for (int i = 0; i < n; ++i) out[i] = acc[i] / (divisors ? divisors[i] : divisor);
}
