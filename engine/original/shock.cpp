#include "shock.h"

#include <algorithm>

#include "flow.h"
#include "parallel.h"

int ShockThreshold(float flattening) {
    return -200 - int(flattening * flattening * -20000.f);
}

bool BuildShockTable(ShockTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                     int components) {
    const int W = jxx.width, H = jxx.height;
    if (W < 3 || H < 3 || !jxy.pixels || !jyy.pixels) return false;
    const std::vector<float> tensor = InterleaveTensorPlanes(jxx, jxy, jyy);
    const TensorField field{tensor.data(), W, H};
    table.width = W;
    table.height = H;
    table.components = components;
    table.records.resize(size_t(W) * H);  // the border records are never read
    ParallelRows(1, H - 1, [&](int y) {
        for (int x = 1; x <= W - 2; ++x) {
            const Vec2 d0 = GradientDirection(float(x), float(y), field);
            Vec2 pf{float(x), float(y)}, pb = pf, rf = d0, rb{-d0.x, -d0.y};
            DirectionStep(pf, rf, field, GradientDirection);
            DirectionStep(pb, rb, field, GradientDirection);
            ShockRecord& r = table.records[size_t(y) * W + x];
            r.backward = MakeSample(pb, x, y, W, components, 0);
            r.forward = MakeSample(pf, x, y, W, components, 0);
        }
    });
    return true;
}

void ShockStep(IntImage& image, const ShockTable& table, int threshold) {
    const int W = image.width, H = image.height, C = image.components, rowSamples = W * C;
    if (W != table.width || H != table.height || C != table.components) return;
    const IntImage copy = image.Clone();
    const float upper = float(threshold), lower = -float(threshold);
    ParallelRows(1, H - 1, [&](int y) {
        const int32_t* src = copy.Row(y);
        int32_t* dst = image.Row(y);
        for (int x = 1; x <= W - 2; ++x) {
            const ShockRecord& r = table.records[size_t(y) * W + x];
            const int32_t* at = src + x * C;
            int32_t b[3], f[3];
            int32_t sb = 0, sf = 0, sz = 0;
            for (int c = 0; c < C; ++c) {
                b[c] = ReadSample(at, r.backward, rowSamples, C, c);
                f[c] = ReadSample(at, r.forward, rowSamples, C, c);
                sb += b[c];
                sf += f[c];
                sz += at[c];
            }
            const float s = (float(sf) - float(sz)) - (float(sz) - float(sb));
            if (s < lower) {
                for (int c = 0; c < C; ++c) dst[x * C + c] = std::max({at[c], b[c], f[c]});
            } else if (s > upper) {
                for (int c = 0; c < C; ++c) dst[x * C + c] = std::min({at[c], b[c], f[c]});
            }
        }
    });
}
