// Flattening: a shock filter across edges, replayed from a per-tile table
// of the across-edge neighbours.
#pragma once

#include <vector>

#include "flow_sample.h"
#include "picbuf.h"
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
void ShockStep(IntImage& image, const ShockTable& table, int threshold);
// Row y of the colour step with AVX2, from the shifted copy's row.
void ShockColourRowAvx2(const ShockTable& table, const int16_t* src, int32_t* dst, int y, int threshold);

// Threshold from the flattening value (0.075 .. 0.55).
int ShockThreshold(float flattening);
