// Line-integral smoothing along the streamlines of a diffusion tensor field:
// for each of twelve directions every pixel becomes the mean of the samples
// met while walking from it along the field, and the twelve means are
// averaged. Nearest-sample walking, flat weights; the arithmetic of every
// pixel is fixed, so the result does not depend on the thread count.
#pragma once

#include <utility>
#include <vector>

#include "cimg_bridge.h"
#include "progress.h"
#include "tiles.h"

// Smooths the pixels of `region` of every channel of `image` under
// `tensors` (same size, 3 channels: the square-root tensors) into the same
// pixels of `out` (same size and channels as `image`; nothing else of it is
// written). Walks run over the whole image, so `region` may be the core of a
// larger tile. Each channel is clamped to its range in `ranges` (one pair of
// low, high per channel). With `stop`, it returns false soon after an abort
// is requested there, `out` half written. Mismatched planes throw
// std::invalid_argument.
bool SmoothAlongStreamlines(const FloatPlanes& image, const FloatPlanes& tensors, const TileRect& region,
                            const std::vector<std::pair<float, float>>& ranges, FloatPlanes& out,
                            const RepaintProgress* stop = nullptr);

// The whole image, every channel clamped to the range of all channels
// together. Returns false when an abort was requested, the image unchanged.
bool BlurAnisotropic(FloatPlanes& image, const FloatPlanes& tensors, const RepaintProgress* stop = nullptr);
// Every channel of `image` in one pass, each clamped to its own range, so
// that each comes out exactly as if it had been smoothed alone. With
// `region`, only that part is smoothed (the walks still use the whole image
// and each channel's range is still that of the whole image). Returns false
// when an abort was requested, the image unchanged.
bool BlurAnisotropicChannels(FloatPlanes& image, const FloatPlanes& tensors, const RepaintProgress* stop = nullptr,
                             const TileRect* region = nullptr);
