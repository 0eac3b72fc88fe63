// The Redraw edge stage: a difference-of-Gaussians edge map, stretched, then
// drawn out along its own structure into pen strokes.
#pragma once

#include "engine_status.h"
#include "picbuf.h"
#include "step_runner.h"

// `edgeMap` becomes width × height, 1 component, 8 bits: 255 white, lower
// darker. Source: 1 or 3 components, 8 bits. Throws std::bad_alloc.
RepaintStatus BuildEdgeMap(SBxPicBuf& edgeMap, const SBxPicBuf& source, float sigma, StepRunner& run);
// In place on a one-component 16-bit buffer; fractions of the pixel count.
void StretchContrast(SBxPicBuf& buffer, float lowFraction, float highFraction);
// The edge map's stretch: 3 % of the samples at each end are clipped.
void StretchEdgeMap(SBxPicBuf& edgeMap);
// `target` gets the stroke picture drawn from `edgeMap` (one component,
// 8 bits, the source's size) in the source's format. Throws std::bad_alloc.
RepaintStatus DrawEdges(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap, float cut,
                        float strokeScale, bool binarise, StepRunner& run);
