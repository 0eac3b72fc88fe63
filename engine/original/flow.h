// Smoothing along flow lines: the lines are traced once per tile into a
// table that each cycle replays in integer arithmetic.
#pragma once

#include <vector>

#include "engine_status.h"
#include "flow_sample.h"
#include "picbuf.h"
#include "progress.h"
#include "scratch.h"
#include "work_image.h"

// Per pixel, the kept samples of both directions (backward first) are stored
// contiguously in the list of the pixel's row; the centre sample (weight 128)
// is implicit. A table keeps its storage when it is built again, so the
// tiles of one picture reuse it.
struct FlowTable {
    int width = 0, height = 0, components = 0;
    // Per pixel (row-major), where its samples begin in its row's list;
    // they end where those of the next pixel begin. Border pixels have none.
    std::vector<uint32_t> start;
    std::vector<int32_t> total;  // sum of the weights, centre included
    std::vector<std::vector<FlowSample>> rows;

    const FlowSample* Begin(int x, int y) const { return rows[size_t(y)].data() + start[size_t(y) * width + x]; }
    const FlowSample* End(int x, int y) const { return Begin(x + 1, y); }
};

// Without `scratch`, the blur takes its working memory for this call only.
bool GaussianBlurFloat(SBxPicBuf& dst, const SBxPicBuf& src, float sigma, ScratchSpace* scratch = nullptr);
// With `stop`, rows are left untraced once an abort is requested there; the
// table is then of no use.
// BadSettings when the length does not fit the sample lists, BadInput when
// the planes do not match, OutOfMemory when the blurred guide cannot be made.
RepaintStatus BuildFlowTable(FlowTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                    const SBxPicBuf& guide, float sigma, int length, int components,
                    const RepaintProgress* stop = nullptr, ScratchSpace* scratch = nullptr);
void FlowSmooth(IntImage& image, const FlowTable& table, ScratchSpace* scratch = nullptr);
// Row y of the colour smoothing with AVX2, from the paired copy's row.
void FlowSmoothColourRowAvx2(const FlowTable& table, const int32_t* src, int32_t* dst, int y);
// The working image minus 32768 in 16 bits (working values lie in
// 0..65535), for the vector multiply-adds: sample i as the low half of
// entry i and the same component of the next pixel (sample i + 3) as its
// high half, so one load gives the left and right pairs a bilinear read
// needs. Eight zero entries to spare past the end; kept in `scratch`.
const int32_t* PairedCopy(const IntImage& image, ScratchSpace& scratch);
// The working sample held in the low half of a paired entry.
inline int32_t PairedSample(int32_t entry) { return int32_t(int16_t(uint16_t(uint32_t(entry)))) + 32768; }

// The three tensor planes of a tile, interleaved for the direction fields.
std::vector<float> InterleaveTensorPlanes(const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy);
