// Tracing of the flow lines through one pixel (both directions), the part
// of the flow table that costs most. Four pixels of a row can be traced at
// once with SSE2, eight with AVX2; the result is the same as tracing them
// one by one.
#pragma once

#include <vector>

#include "flow_sample.h"

struct FlowTracer {
    TensorField field;
    const float* grey;  // blurred grey guide, width × height
    float sigma;
    int length;         // L: the lines take at most L - 1 steps each way
    int components;
    std::vector<float> spatialWeight;  // exp(-m² / (2σ² + 1)) for m < L

    FlowTracer(TensorField f, const float* g, float s, int l, int c);
};

struct PixelTrace {
    int total = 0;  // weights of the kept samples, centre not included
    int forward = 0, backward = 0;
    FlowSample fwd[kFlowListMax], bwd[kFlowListMax];
};

// One step of N pixels traced together, taken out of the vector registers:
// the samples at the points reached each way, with their weights; each
// lane still open keeps them, or closes once both weights are 0.
template <int N>
struct LaneStep {
    alignas(32) FlowSample fwd[N], bwd[N];
    alignas(32) int wf[N], wb[N];

    void Keep(bool open[N], int& stillOpen, PixelTrace out[N]) const {
        for (int l = 0; l < N; ++l) {
            if (!open[l]) continue;
            PixelTrace& o = out[l];
            o.total += wf[l] + wb[l];
            if (wf[l] == 0 && wb[l] == 0) {
                open[l] = false;
                --stillOpen;
                continue;
            }
            if (wf[l]) o.fwd[o.forward++] = fwd[l];
            if (wb[l]) o.bwd[o.backward++] = bwd[l];
        }
    }
};

void TraceFlowPixel(const FlowTracer& t, int x, int y, PixelTrace& out);
// Pixels x .. x + 3 of row y.
void TraceFlowFour(const FlowTracer& t, int x, int y, PixelTrace out[4]);
// Pixels x0 .. x0 + count - 1 of row y into out[0 .. count - 1], eight at a
// time; only on processors with AVX2.
void TraceFlowRowEight(const FlowTracer& t, int y, int x0, int count, PixelTrace* out);
// Where one step across the edges leads, both ways, from pixels x .. x + 7
// of row y: the points flattening reads (as DirectionStep with
// GradientDirection); only on processors with AVX2.
void StepAcrossEight(const TensorField& f, int x, int y, Vec2 forward[8], Vec2 backward[8]);

