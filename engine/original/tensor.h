// Structure tensor of a padded tile and the fill of its weak (flat) areas.
#pragma once

#include <vector>

#include "picbuf.h"
#include "progress.h"

// One level of the weak-area fill.
struct TensorLevel {
    int left = 0, top = 0, right = 0, bottom = 0;  // always 0, 0, width, height
    std::vector<unsigned char> mask;               // 255 weak, 1 fixed
    std::vector<float> jxx, jxy, jyy;
    std::vector<float> sxx, sxy, syy;              // scratch for the Jacobi sweeps

    TensorLevel(int width, int height);
    // To width × height, keeping its storage; the values are then undefined
    // until the caller writes them.
    void Resize(int width, int height);
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

inline bool IsWeak(float jxx, float jxy, float jyy, float t) {
    return t * t > jxx * jxx + jyy * jyy + 2.0f * jxy * jxy;
}

// Sums of Dx², Dx·Dy, Dy² over the components of `guide` (32-bit float).
bool StructureTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, const SBxPicBuf& guide);
// Replaces weak tensors by values relaxed in from the strong areas around them.
bool FillWeakTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, float threshold,
                    const RepaintProgress& progress);
// The same with the full-size level's storage kept in `full` (a tile's
// buffers keep one, so the tiles and previews of a picture reuse its pages).
bool FillWeakTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, float threshold,
                    const RepaintProgress& progress, TensorLevel& full);
void RelaxWeak(TensorLevel& level, float threshold, int sweeps, const RepaintProgress& progress);
