// The Redraw colour stage: patch-weighted smoothing of every channel, then a
// soft quantisation of the luminance into bands.
#pragma once

#include <cstdint>

#include "engine_status.h"
#include "picbuf.h"
#include "progress.h"

// In place on an 8-bit picture of 1 or 3 components; mode 0 … 3. With
// `stop`, it ends as Aborted soon after an abort is requested there.
RepaintStatus QuantizeColors(SBxPicBuf& picture, int colourMode, const RepaintProgress* stop = nullptr);
// One luminance value through the soft quantiser of mode 0 … 2.
uint8_t QuantizeLevel(uint8_t v, int colourMode);
