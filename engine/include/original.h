// The Original method: flow-line smoothing, flattening and border sharpening,
// whole or in overlapping tiles from 500 × 500 pixels upward.
#pragma once

#include "engine_status.h"
#include "original_params.h"
#include "picbuf.h"
#include "progress.h"

constexpr int kOriginalCycles = 10;

// Repaints `source` (1 or 3 components of 8 or 16 bits) into `destination`,
// which gets the source's geometry. On Aborted or OutOfMemory the
// destination is not a usable result.
RepaintStatus RepaintOriginal(SBxPicBuf& destination, const SBxPicBuf& source, const OriginalParams& params,
                              RepaintProgress& progress);
RepaintStatus RepaintOriginalTile(SBxPicBuf& result, const SBxPicBuf& source, const OriginalParams& params,
                                  RepaintProgress& progress);
void BlendTile(SBxPicBuf& destination, const SBxPicBuf& tile, int x0, int x1, int y0, int y1);
void PadReplicate(SBxPicBuf& padded, int border);

// Flow-line scale σ and length limit L for a smoothness value.
float FlowSigma(float smoothness);
int FlowLength(float sigma);

// Progress steps of a complete run.
int OriginalSteps(int width, int height);
