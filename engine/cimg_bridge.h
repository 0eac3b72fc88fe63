// The CImg filters the Smudge and Redraw methods use, behind a small planar
// float interface, so that CImg's large header is compiled only once.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "picbuf.h"
#include "progress.h"

// Leaves the floats of a new vector as they come, so that a plane that is
// about to be written whole is not first cleared by one thread.
template <typename T>
struct UnfilledAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnfilledAllocator<U>;
    };
    UnfilledAllocator() = default;
    template <typename U>
    UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Channel-major float planes, the layout of a CImg image.
struct FloatPlanes {
    int width = 0, height = 0, channels = 0;
    std::vector<float, UnfilledAllocator<float>> data;

    FloatPlanes() = default;
    // Every sample 0.
    FloatPlanes(int w, int h, int c) : width(w), height(h), channels(c), data(size_t(w) * h * c, 0.f) {}
    // Samples left unset, for planes that are written whole.
    static FloatPlanes Unfilled(int w, int h, int c) {
        FloatPlanes p;
        p.width = w;
        p.height = h;
        p.channels = c;
        p.data.resize(size_t(w) * h * c);
        return p;
    }
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
// The lowest and highest of `n` samples (which are numbers, not NaN), found
// on the engine's threads.
std::pair<float, float> ValueRange(const float* v, size_t n);

// An 8- or 16-bit picture buffer as float planes, one per component, and
// back (a plain truncating cast, clamped to the sample range), row by row on
// the engine's threads. The picture may be a view into a larger buffer;
// BufferFromPlane takes the planes' samples from (x0, y0) on.
FloatPlanes PlaneFromBuffer(const SBxPicBuf& picture);
void BufferFromPlane(SBxPicBuf& picture, const FloatPlanes& planes, int x0 = 0, int y0 = 0);
