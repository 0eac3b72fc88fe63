#include "sharpen.h"

#include <algorithm>
#include <cmath>

#include "blur.h"
#include "parallel.h"

void GaussianBlurInt(std::vector<int32_t>& plane, int w, int h, float sigma) {
    std::vector<int32_t> temp(plane.size());
    SeparableBlur(plane.data(), temp.data(), w, h, IntegerGaussianKernel(sigma));
}

// All components at once, in two passes over the picture; the second pass
// blurs each row vertically and applies the mask to it straight away.
void SharpenStep(IntImage& image, float sigma, float amount, ScratchSpace* scratch) {
    const int w = image.width, h = image.height, rowSamples = w * image.components;
    const float factor = amount / 40.f;
    const std::vector<int32_t> kw = IntegerGaussianKernel(sigma);
    ScratchSpace own;
    int32_t* across = (scratch ? *scratch : own).Borrow<int32_t>(image.data.size());
    BlurRows(image.data.data(), across, w, h, image.components, kw);
    ParallelRows(0, h, [&](int y) {
        thread_local std::vector<int32_t> blurred;
        blurred.resize(size_t(rowSamples));
        BlurColumnsOfRow(across, blurred.data(), rowSamples, h, y, kw);
        int32_t* row = image.Row(y);
        for (int i = 0; i < rowSamples; ++i) {
            const int32_t d = blurred[size_t(i)] - row[i];
            const int32_t v = row[i] - int32_t(factor * float(d));
            row[i] = v <= 0 ? 0 : v >= 65535 ? 65535 : v;
        }
    });
}
