// The Original method: flow-line smoothing, flattening and border sharpening,
// whole or in overlapping tiles from 500 × 500 pixels upward.
#pragma once

#include <memory>

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

struct OriginalTileWork;

// What one preview leaves for the next: the buffers, and the tables of the
// flow lines and of flattening, which are built again only when the
// picture, the smoothness or the weak-edge threshold changes, so moving the
// flattening or sharpening slider replays the cycles alone. The result is
// that of RepaintOriginal. Pictures large enough to be tiled keep nothing.
class OriginalPreviewCache {
public:
    OriginalPreviewCache();
    ~OriginalPreviewCache();
    OriginalPreviewCache(const OriginalPreviewCache&) = delete;
    OriginalPreviewCache& operator=(const OriginalPreviewCache&) = delete;
    RepaintStatus Repaint(SBxPicBuf& destination, const SBxPicBuf& source, const OriginalParams& params,
                          RepaintProgress& progress);
    // How many times tables were built.
    int TableBuilds() const;
    // The next preview builds its tables again, as after a change of the
    // smoothness or the weak-edge threshold; the buffers stay.
    void ForgetTables();

private:
    std::unique_ptr<OriginalTileWork> work_;
};

// Flow-line scale σ and length limit L for a smoothness value.
float FlowSigma(float smoothness);
int FlowLength(float sigma);

// Progress steps of a complete run.
int OriginalSteps(int width, int height);
