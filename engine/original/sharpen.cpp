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

namespace {

// Horizontal pass over every component of an interleaved w × h plane,
// renormalised where the kernel is cut by the row's ends.
void BlurRowsInt(const int32_t* in, int32_t* out, int w, int h, int C, const std::vector<int32_t>& kw) {
    const int half = int(kw.size()) / 2;
    ParallelRows(0, h, [&](int y) {
        const int32_t* row = in + size_t(y) * w * C;
        int32_t* o = out + size_t(y) * w * C;
        for (int x = 0; x < w; ++x) {
            const int first = std::max(x - half, 0), last = std::min(x + half, w - 1);
            int32_t weight = 0;
            for (int p = first; p <= last; ++p) weight += kw[size_t(p - x + half)];
            for (int c = 0; c < C; ++c) {
                int32_t acc = 0;
                for (int p = first; p <= last; ++p) acc += kw[size_t(p - x + half)] * row[p * C + c];
                o[x * C + c] = acc / weight;
            }
        }
    });
}

// Vertical pass for row y: out[i] = blurred sample i of that row.
void BlurColumnInt(const int32_t* in, int32_t* out, int rowSamples, int h, int y, const std::vector<int32_t>& kw) {
    const int half = int(kw.size()) / 2;
    const int first = std::max(y - half, 0), last = std::min(y + half, h - 1);
    int32_t weight = 0;
    for (int p = first; p <= last; ++p) weight += kw[size_t(p - y + half)];
    std::fill(out, out + rowSamples, 0);
    for (int p = first; p <= last; ++p) {
        const int32_t kv = kw[size_t(p - y + half)];
        const int32_t* row = in + size_t(p) * rowSamples;
        for (int i = 0; i < rowSamples; ++i) out[i] += kv * row[i];
    }
    for (int i = 0; i < rowSamples; ++i) out[i] /= weight;
}

}  // namespace

void GaussianBlurInt(std::vector<int32_t>& plane, int w, int h, float sigma) {
    const std::vector<int32_t> kw = IntegerGaussianKernel(sigma);
    std::vector<int32_t> temp(plane.size());
    BlurRowsInt(plane.data(), temp.data(), w, h, 1, kw);
    ParallelRows(0, h, [&](int y) { BlurColumnInt(temp.data(), plane.data() + size_t(y) * w, w, h, y, kw); });
}

// All components at once, in two passes over the picture; the second pass
// blurs each row vertically and applies the mask to it straight away.
void SharpenStep(IntImage& image, float sigma, float amount) {
    const int w = image.width, h = image.height, rowSamples = w * image.components;
    const float factor = amount / 40.f;
    const std::vector<int32_t> kw = IntegerGaussianKernel(sigma);
    std::vector<int32_t> across(image.data.size());
    BlurRowsInt(image.data.data(), across.data(), w, h, image.components, kw);
    ParallelRows(0, h, [&](int y) {
        thread_local std::vector<int32_t> blurred;
        blurred.resize(size_t(rowSamples));
        BlurColumnInt(across.data(), blurred.data(), rowSamples, h, y, kw);
        int32_t* row = image.Row(y);
        for (int i = 0; i < rowSamples; ++i) {
            const int32_t d = blurred[size_t(i)] - row[i];
            const int32_t v = row[i] - int32_t(factor * float(d));
            row[i] = v <= 0 ? 0 : v >= 65535 ? 65535 : v;
        }
    });
}
