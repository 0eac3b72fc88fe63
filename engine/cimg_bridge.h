// The CImg filters the Smudge and Redraw methods use, behind a small planar
// float interface, so that CImg's large header is compiled only once.
#pragma once

#include <vector>

#include "picbuf.h"
#include "progress.h"

// Channel-major float planes, the layout of a CImg image.
struct FloatPlanes {
    int width = 0, height = 0, channels = 0;
    std::vector<float> data;

    FloatPlanes() = default;
    FloatPlanes(int w, int h, int c) : width(w), height(h), channels(c), data(size_t(w) * h * c, 0.f) {}
    float* Channel(int c) { return data.data() + size_t(c) * width * height; }
    const float* Channel(int c) const { return data.data() + size_t(c) * width * height; }
};

// Each call throws std::bad_alloc when CImg cannot allocate its images.
// Diffusion tensors of a one-channel picture (square-root tensors), 3 channels.
// With `stop`, the result is empty when an abort was requested there.
FloatPlanes DiffusionTensors(const FloatPlanes& grey, float sharpness, float anisotropy, float alpha, float sigma,
                             const RepaintProgress* stop = nullptr);
// The same computed by CImg in one call, to check the above against.
FloatPlanes DiffusionTensorsCImg(const FloatPlanes& grey, float sharpness, float anisotropy, float alpha, float sigma);
// CImg's own tensor-driven anisotropic smoothing with the settings of
// Smudge and the Redraw strokes (amplitude 200, integration step 0.8,
// angular step 30°, Gaussian precision 2, nearest interpolation, fast
// approximation), against which the engine's walks (streamlines.h) are
// checked.
void BlurAnisotropicCImg(FloatPlanes& image, const FloatPlanes& tensors);
// Recursive Gaussian (Deriche, order 0, Neumann borders) along x then y.
// With `stop`, it returns false when an abort was requested after a pass.
bool BlurDeriche(FloatPlanes& image, float sigma, const RepaintProgress* stop = nullptr);

// Inclusive crop of every channel.
FloatPlanes CropPlanes(const FloatPlanes& src, int x0, int y0, int x1, int y1);

// A one-component 8- or 16-bit picture buffer as one float plane, and back
// (a plain truncating cast, clamped to the sample range).
FloatPlanes PlaneFromBuffer(const SBxPicBuf& oneComponent);
void BufferFromPlane(SBxPicBuf& oneComponent, const FloatPlanes& plane);
