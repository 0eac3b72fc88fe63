// The Redraw method: pen strokes from the edge stage, optionally burnt into
// a smoothed, softly quantised colour version of the picture.
#pragma once

#include "engine_status.h"
#include "picbuf.h"
#include "progress.h"
#include "redraw_params.h"

// Redraw runs in two steps, so that a preview can build the edge map of the
// whole picture once and draw any crop with the matching crop of the map.
// Pictures of 8 or 16 bits; 16-bit ones are drawn at 8 bits and widened back.
//
// Step 1: `edgeMap` becomes the edge map of `source` (source's size, one
// component, 8 bits). Only the Details setting matters.
RepaintStatus BuildRedrawEdgeMap(SBxPicBuf& edgeMap, const SBxPicBuf& source, const RedrawParams& params,
                                 RepaintProgress& progress);
// Step 2: `target` gets the source's geometry and the drawing of `source`
// with `edgeMap`, which has the source's width and height.
RepaintStatus RedrawWithEdgeMap(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap,
                                const RedrawParams& params, RepaintProgress& progress);
// Both steps on the whole picture.
RepaintStatus RunRedraw(SBxPicBuf& target, const SBxPicBuf& source, const RedrawParams& params,
                        RepaintProgress& progress);

// Progress steps of a complete run.
int RedrawSteps(int components);
