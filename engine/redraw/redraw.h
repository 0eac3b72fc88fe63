// The Redraw method: pen strokes from the edge stage, optionally burnt into
// a smoothed, softly quantised colour version of the picture.
#pragma once

#include "engine_status.h"
#include "picbuf.h"
#include "progress.h"
#include "redraw_params.h"

// `target` gets the source's geometry. 16-bit pictures are repainted at 8
// bits and written back at 16.
RepaintStatus RunRedraw(SBxPicBuf& target, const SBxPicBuf& source, const RedrawParams& params,
                        RepaintProgress& progress);

// Progress steps of a complete run.
inline int RedrawSteps(int components) { return 10 + 2 * components; }

// The preview's sequence on a crop, with an edge map already built on the
// whole picture and cropped like the picture.
RepaintStatus RedrawPreview(SBxPicBuf& result, SBxPicBuf& crop, SBxPicBuf& edgeCrop, const RedrawParams& params);
