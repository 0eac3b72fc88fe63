// Flattening: a shock filter across edges, replayed from a per-tile table
// of the across-edge neighbours.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "flow_sample.h"
#include "picbuf.h"
#include "scratch.h"
#include "work_image.h"

struct ShockRecord {
    FlowSample backward, forward;  // the centre is the pixel itself
};

struct ShockTable {
    int width = 0, height = 0, components = 0;
    std::vector<ShockRecord> records;
};

bool BuildShockTable(ShockTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                     int components);
void ShockStep(IntImage& image, const ShockTable& table, int threshold, ScratchSpace* scratch = nullptr);
// Row y of the colour step with AVX2, from the paired copy's row.
void ShockColourRowAvx2(const ShockTable& table, const int32_t* src, int32_t* dst, int y, int threshold);

// One pixel of the step, from its own samples z and those read behind (b)
// and ahead (f) across the edge: where the second difference of their sums
// passes the threshold, each component takes the largest or the smallest
// of the three. Every path of the step decides here.
inline void ShockPixel(const int32_t* z, const int32_t* b, const int32_t* f, int C, float lower, float upper,
                       int32_t* dst) {
    int32_t sb = 0, sf = 0, sz = 0;
    for (int c = 0; c < C; ++c) {
        sb += b[c];
        sf += f[c];
        sz += z[c];
    }
    const float s = (float(sf) - float(sz)) - (float(sz) - float(sb));
    if (s < lower) {
        for (int c = 0; c < C; ++c) dst[c] = std::max({z[c], b[c], f[c]});
    } else if (s > upper) {
        for (int c = 0; c < C; ++c) dst[c] = std::min({z[c], b[c], f[c]});
    }
}

// Threshold from the flattening value (0.075 .. 0.55).
int ShockThreshold(float flattening);
