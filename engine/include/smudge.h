// The Smudge method: every channel smeared along the picture's structure by
// tensor-driven anisotropic smoothing; tiled from 500 × 500 pixels upward
// under one tensor field of the whole picture.
#pragma once

#include "engine_status.h"
#include "picbuf.h"
#include "progress.h"
#include "smudge_params.h"

// `target` gets the source's geometry. Progress steps are made only while
// the progress is visible.
RepaintStatus RepaintSmudge(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                            RepaintProgress& progress);
RepaintStatus RepaintSmudgeWhole(SBxPicBuf& target, const SBxPicBuf& source, const SmudgeParams& params,
                                 RepaintProgress& progress);

// Progress steps of a complete run.
int SmudgeSteps(int width, int height, int components);
