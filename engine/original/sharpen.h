// Border sharpening: an unsharp mask with a small integer Gaussian.
#pragma once

#include <vector>

#include "scratch.h"
#include "work_image.h"

// Blurs a one-component integer plane of width × height in place.
void GaussianBlurInt(std::vector<int32_t>& plane, int width, int height, float sigma);
void SharpenStep(IntImage& image, float sigma, float amount, ScratchSpace* scratch = nullptr);
