// Edge-preserving patch-weighted smoothing of one 8-bit channel: each pixel
// becomes a weighted mean of its 7 × 7 neighbourhood, weights falling with
// the distance between 6 × 6 patches measured at half resolution.
#pragma once

#include <cstdint>
#include <vector>

#include "picbuf.h"
#include "progress.h"

constexpr int kPatchTableLength = 9216;

// `dst` receives the smoothed `src` (one component, 8 bits); `src` is unchanged.
// With `stop`, bands are left unfiltered once an abort is requested there;
// the result is then of no use.
bool SmoothPatchWeighted(SBxPicBuf& dst, const SBxPicBuf& src, double strength, double gain,
                         const RepaintProgress* stop = nullptr);
// The core on even-sized buffers; `guide` supplies distances and values.
// Bands of rows are spread over the engine's threads when `threads` > 1.
bool PatchWeightedFilter(SBxPicBuf& dst, const SBxPicBuf& src, const SBxPicBuf& guide, double strength, double gain,
                         int threads, const RepaintProgress* stop = nullptr);
// Fills the margins of a padded one-component buffer by mirroring without
// repeating the edge row or column.
void MirrorPad(SBxPicBuf& buffer, int margin);

// The 256 weight tables for (gain, C), from the process-wide cache of 7
// slots; null when memory for them cannot be had.
const std::vector<int32_t>* WeightTables(double gain, double c);
// How many times tables were computed since the process started.
int WeightTableBuilds();
