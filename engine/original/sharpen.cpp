#include "sharpen.h"

#include <algorithm>
#include <cmath>

#include "flow.h"
#include "parallel.h"

std::vector<int32_t> IntegerGaussianKernel(float sigma) {
    const std::vector<float> k = GaussianKernel(sigma);
    std::vector<int32_t> kw(k.size());
    for (size_t i = 0; i < k.size(); ++i) kw[i] = int32_t(k[i] * 128.f + 0.5f) + 1;
    return kw;
}

void GaussianBlurInt(std::vector<int32_t>& plane, int w, int h, float sigma) {
    const std::vector<int32_t> kw = IntegerGaussianKernel(sigma);
    const int half = int(kw.size()) / 2;
    std::vector<int32_t> temp(plane.size());
    ParallelRows(0, h, [&](int y) {
        const int32_t* row = plane.data() + size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const int first = std::max(x - half, 0), last = std::min(x + half, w - 1);
            int32_t acc = 0, weight = 0;
            for (int p = first; p <= last; ++p) {
                acc += kw[size_t(p - x + half)] * row[p];
                weight += kw[size_t(p - x + half)];
            }
            temp[size_t(y) * w + x] = acc / weight;
        }
    });
    ParallelRows(0, h, [&](int y) {
        const int first = std::max(y - half, 0), last = std::min(y + half, h - 1);
        int32_t weight = 0;
        for (int p = first; p <= last; ++p) weight += kw[size_t(p - y + half)];
        int32_t* o = plane.data() + size_t(y) * w;
        std::fill(o, o + w, 0);
        for (int p = first; p <= last; ++p) {
            const int32_t kv = kw[size_t(p - y + half)];
            const int32_t* row = temp.data() + size_t(p) * w;
            for (int x = 0; x < w; ++x) o[x] += kv * row[x];
        }
        for (int x = 0; x < w; ++x) o[x] /= weight;
    });
}

void SharpenStep(IntImage& image, float sigma, float amount) {
    const int w = image.width, h = image.height, C = image.components;
    const size_t n = size_t(w) * h;
    const float factor = amount / 40.f;
    std::vector<int32_t> plane(n), blurred(n);
    for (int c = 0; c < C; ++c) {
        ParallelRows(0, h, [&](int y) {
            for (size_t i = size_t(y) * w, e = i + size_t(w); i < e; ++i)
                blurred[i] = plane[i] = image.data[i * C + size_t(c)];
        });
        GaussianBlurInt(blurred, w, h, sigma);
        ParallelRows(0, h, [&](int y) {
            for (size_t i = size_t(y) * w, e = i + size_t(w); i < e; ++i) {
                const int32_t d = blurred[i] - plane[i];
                int32_t v = plane[i] - int32_t(factor * float(d));
                v = v <= 0 ? 0 : v >= 65535 ? 65535 : v;
                image.data[i * C + size_t(c)] = v;
            }
        });
    }
}
