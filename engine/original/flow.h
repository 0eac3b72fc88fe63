// Smoothing along flow lines: the lines are traced once per tile into a
// table that each cycle replays in integer arithmetic.
#pragma once

#include <vector>

#include "flow_sample.h"
#include "picbuf.h"
#include "work_image.h"

constexpr int kFlowListMax = 40;

// Per pixel, the kept samples of both directions (backward first) are stored
// contiguously; the centre sample (weight 128) is implicit.
struct FlowTable {
    int width = 0, height = 0, components = 0;
    std::vector<uint32_t> start;   // width × height + 1 entries into `samples`
    std::vector<int32_t> total;    // sum of the weights, centre included
    std::vector<FlowSample> samples;
    std::vector<uint8_t> forwardCount, backwardCount;
};

bool GaussianBlurFloat(SBxPicBuf& dst, const SBxPicBuf& src, float sigma);
bool BuildFlowTable(FlowTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                    const SBxPicBuf& guide, float sigma, int length, int components);
void FlowSmooth(IntImage& image, const FlowTable& table);

std::vector<float> GaussianKernel(float sigma);
// The three tensor planes of a tile, interleaved for the direction fields.
std::vector<float> InterleaveTensorPlanes(const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy);
