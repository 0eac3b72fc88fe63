#include "quantize.h"

#include <cmath>

#include "parallel.h"
#include "patch_filter.h"
#include "row_views.h"

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
        EachRowOf(in.buf, picture, [c](SBxPicBuf& to, const SBxPicBuf& from) {
            CBxPicBufAPI::ExtractComponent(to, c, from);
        });
        const bool smoothed = SmoothPatchWeighted(out.buf, in.buf, kStrength, kGain, stop);
        if (stop && stop->AbortRequested()) return RepaintStatus::Aborted;
        // The channels are valid filter input: a failure can only be memory.
        if (!smoothed) return RepaintStatus::OutOfMemory;
        EachRowOf(picture, out.buf, [c](SBxPicBuf& to, const SBxPicBuf& from) {
            CBxPicBufAPI::InsertComponent(to, c, from);
        });
    }
    return RepaintStatus::Done;
}

struct Levels {
    uint8_t of[256];
    explicit Levels(int mode) {
        for (int i = 0; i < 256; ++i) of[i] = QuantizeLevel(uint8_t(i), mode);
    }
    void Apply(uint8_t* v, size_t count, size_t stride) const {
        for (size_t i = 0; i < count; ++i, v += stride) *v = of[*v];
    }
};

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
    const Levels levels(mode);
    const size_t w = size_t(picture.width);
    if (picture.components == 1) {
        ParallelRows(0, picture.height, [&](int y) { levels.Apply(picture.Row<uint8_t>(y), w, 1); });
        return RepaintStatus::Done;
    }
    // The brightness of colour pictures, through YUV row by row.
    PicBufHolder yuv;
    if (!CBxPicBufAPI::ReinitHeap(yuv.buf, picture)) return RepaintStatus::OutOfMemory;
    ParallelRows(0, picture.height, [&](int y) {
        SBxPicBuf row = RowsOf(picture, y, y + 1), yuvRow = RowsOf(yuv.buf, y, y + 1);
        CBxPicBufAPI::ConvertRGBtoYUV(yuvRow, row);
        levels.Apply(yuvRow.pixels, w, 3);
        CBxPicBufAPI::ConvertYUVtoRGB(row, yuvRow);
    });
    return RepaintStatus::Done;
}
