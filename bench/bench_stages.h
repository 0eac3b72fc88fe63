// Single stages of the methods, timed on their own.
#pragma once

#include "picbuf.h"

// The patch-weighted filter of Redraw's colour smoothing, at its default
// strength, on the picture's first channel.
void BenchPatchFilter(SBxPicBuf& dst, const SBxPicBuf& src);
