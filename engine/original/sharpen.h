// Border sharpening: an unsharp mask with a small integer Gaussian.
#pragma once

#include <vector>

#include "work_image.h"

// 7-bit kernel weights, never 0; σ = 0.7 gives 2, 27, 74, 27, 2.
std::vector<int32_t> IntegerGaussianKernel(float sigma);
// Blurs a one-component integer plane of width × height in place.
void GaussianBlurInt(std::vector<int32_t>& plane, int width, int height, float sigma);
void SharpenStep(IntImage& image, float sigma, float amount);
