// The only translation unit that includes CImg.
#define cimg_display 0
#define cimg_use_openmp 1
#include "cimg_bridge.h"

#include <CImg.h>

#include <algorithm>
#include <cstring>
#include <new>

using cimg_library::CImg;

namespace {

// Wraps our planes without copying.
CImg<float> Shared(FloatPlanes& p) { return CImg<float>(p.data.data(), p.width, p.height, 1, p.channels, true); }
CImg<float> SharedConst(const FloatPlanes& p) {
    return CImg<float>(const_cast<float*>(p.data.data()), p.width, p.height, 1, p.channels, true);
}

template <typename Fn>
void Guarded(Fn&& fn) {
    try {
        fn();
    } catch (const cimg_library::CImgInstanceException&) {
        throw std::bad_alloc();
    }
}

}  // namespace

FloatPlanes DiffusionTensors(const FloatPlanes& grey, float sharpness, float anisotropy, float alpha, float sigma) {
    FloatPlanes out;
    Guarded([&] {
        CImg<float> g = SharedConst(grey).get_diffusion_tensors(sharpness, anisotropy, alpha, sigma, true);
        out.width = int(g.width());
        out.height = int(g.height());
        out.channels = int(g.spectrum());
        out.data.assign(g.data(), g.data() + g.size());
    });
    return out;
}

void BlurAnisotropic(FloatPlanes& image, const FloatPlanes& tensors, float amplitude, float dl, float da,
                     float gaussPrecision, unsigned interpolation, bool fastApproximation) {
    Guarded([&] {
        CImg<float> img = Shared(image);
        img.blur_anisotropic(SharedConst(tensors), amplitude, dl, da, gaussPrecision, interpolation,
                             fastApproximation);
    });
}

void BlurAnisotropicChannels(FloatPlanes& image, const FloatPlanes& tensors, float amplitude, float dl, float da,
                             float gaussPrecision, unsigned interpolation, bool fastApproximation) {
    // CImg clamps its result to the value range of the whole image; alone, a
    // channel is clamped to its own range, so that is restored here.
    const size_t n = size_t(image.width) * image.height;
    std::vector<std::pair<float, float>> ranges;
    for (int c = 0; c < image.channels; ++c) {
        const auto mm = std::minmax_element(image.Channel(c), image.Channel(c) + n);
        ranges.emplace_back(*mm.first, *mm.second);
    }
    BlurAnisotropic(image, tensors, amplitude, dl, da, gaussPrecision, interpolation, fastApproximation);
    for (int c = 0; c < image.channels; ++c)
        for (float* v = image.Channel(c); v != image.Channel(c) + n; ++v)
            *v = std::clamp(*v, ranges[size_t(c)].first, ranges[size_t(c)].second);
}

void BlurDeriche(FloatPlanes& image, float sigma) {
    Guarded([&] {
        CImg<float> img = Shared(image);
        img.blur(sigma, 1, false);
    });
}

FloatPlanes CropPlanes(const FloatPlanes& src, int x0, int y0, int x1, int y1) {
    FloatPlanes out(x1 - x0 + 1, y1 - y0 + 1, src.channels);
    for (int c = 0; c < src.channels; ++c)
        for (int y = y0; y <= y1; ++y)
            std::memcpy(out.Channel(c) + size_t(y - y0) * out.width, src.Channel(c) + size_t(y) * src.width + x0,
                        sizeof(float) * size_t(out.width));
    return out;
}

FloatPlanes PlaneFromBuffer(const SBxPicBuf& b) {
    FloatPlanes p(b.width, b.height, 1);
    const size_t n = size_t(b.width) * b.height;
    if (b.bits == 8)
        for (size_t i = 0; i < n; ++i) p.data[i] = float(b.pixels[i]);
    else
        for (size_t i = 0; i < n; ++i) p.data[i] = float(reinterpret_cast<const uint16_t*>(b.pixels)[i]);
    return p;
}

void BufferFromPlane(SBxPicBuf& b, const FloatPlanes& p) {
    const size_t n = size_t(b.width) * b.height;
    if (b.bits == 8) {
        for (size_t i = 0; i < n; ++i) b.pixels[i] = uint8_t(std::clamp(p.data[i], 0.f, 255.f));
    } else {
        uint16_t* d = reinterpret_cast<uint16_t*>(b.pixels);
        for (size_t i = 0; i < n; ++i) d[i] = uint16_t(std::clamp(p.data[i], 0.f, 65535.f));
    }
}
