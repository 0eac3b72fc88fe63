// The progress steps of a Redraw run, in order. The two blurs are counted
// for every channel of the picture; the colour steps whether or not the
// colours are used.
#pragma once

#include "step_runner.h"

enum RedrawStep {
    kEdgeMapStart, kNarrowBlur, kWideBlur,                      // the edge map
    kDrawingStart, kStrokeSmoothing, kCut, kBinarise, kStrokes,  // the strokes
    kColours, kComposition,                                     // the colour picture
};
constexpr MethodStep kRedrawSteps[] = {
    {"edge map", 1}, {"narrow blur", 1}, {"wide blur", 1},   {"drawing", 1},  {"stroke smoothing", 3},
    {"cut", 1},      {"binarisation", 1}, {"strokes drawn", 1}, {"colours", 1}, {"composition", 1},
};
constexpr int RedrawStepTotal(int components) {
    return TotalWeight(kRedrawSteps) +
           (components - 1) * (kRedrawSteps[kNarrowBlur].weight + kRedrawSteps[kWideBlur].weight);
}
