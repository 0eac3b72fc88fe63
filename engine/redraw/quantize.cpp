#include "quantize.h"

#include <cmath>

#include "patch_filter.h"

namespace {

constexpr double kStrength = 150.0, kGain = 1.0;
struct Band {
    float step, steepness;
};
constexpr Band kBands[3] = {{64.f, 0.5f}, {51.f, 0.3f}, {26.f, 0.2f}};

RepaintStatus SmoothChannels(SBxPicBuf& picture, const RepaintProgress* stop) {
    PicBufHolder in, out;
    if (!CBxPicBufAPI::ReinitHeap(in.buf, picture.width, picture.height, 1, 8)) return RepaintStatus::OutOfMemory;
    for (int c = 0; c < picture.components; ++c) {
        CBxPicBufAPI::ExtractComponent(in.buf, c, picture);
        const bool smoothed = SmoothPatchWeighted(out.buf, in.buf, kStrength, kGain, stop);
        if (stop && stop->AbortRequested()) return RepaintStatus::Aborted;
        // The channels are valid filter input: a failure can only be memory.
        if (!smoothed) return RepaintStatus::OutOfMemory;
        CBxPicBufAPI::InsertComponent(picture, c, out.buf);
    }
    return RepaintStatus::Done;
}

void QuantizePlane(uint8_t* v, size_t count, size_t stride, int mode) {
    uint8_t lut[256];
    for (int i = 0; i < 256; ++i) lut[i] = QuantizeLevel(uint8_t(i), mode);
    for (size_t i = 0; i < count; ++i, v += stride) *v = lut[*v];
}

}  // namespace

uint8_t QuantizeLevel(uint8_t v, int mode) {
    const Band b = kBands[mode];
    const float q = (std::floor(float(v) / b.step) + 0.5f) * b.step;
    const float o = q - std::tanh((q - float(v)) * b.steepness) * b.step / 2.f;
    const double r = double(o) + 0.5;
    return r >= 255.0 ? 255 : r <= 0.0 ? 0 : uint8_t(r);
}

RepaintStatus QuantizeColors(SBxPicBuf& picture, int mode, const RepaintProgress* stop) {
    if (!CBxPicBufAPI::IsValid(picture) || picture.bits != 8 || mode < 0 || mode > 3) return RepaintStatus::BadInput;
    const RepaintStatus smoothed = SmoothChannels(picture, stop);
    if (smoothed != RepaintStatus::Done) return smoothed;
    if (mode == 3) return RepaintStatus::Done;
    const size_t n = size_t(picture.width) * picture.height;
    if (picture.components == 1) {
        QuantizePlane(picture.pixels, n, 1, mode);
        return RepaintStatus::Done;
    }
    PicBufHolder yuv;
    if (!CBxPicBufAPI::ReinitHeap(yuv.buf, picture)) return RepaintStatus::OutOfMemory;
    CBxPicBufAPI::ConvertRGBtoYUV(yuv.buf, picture);
    QuantizePlane(yuv.buf.pixels, n, 3, mode);
    CBxPicBufAPI::ConvertYUVtoRGB(picture, yuv.buf);
    return RepaintStatus::Done;
}
