// Progress and abort of a method run. Each method lists its steps once, with
// their progress weights; its progress total is computed from that list, and
// the run ends each step through the runner, which advances the progress by
// the step's weight and then tells whether to go on.
#pragma once

#include "progress.h"

struct MethodStep {
    const char* what;
    int weight;  // progress units
};

class StepRunner {
public:
    // With `onlyWhileVisible`, steps are counted only while the progress is
    // shown (the Smudge method's rule).
    explicit StepRunner(RepaintProgress& progress, bool onlyWhileVisible = false)
        : progress_(progress), onlyWhileVisible_(onlyWhileVisible) {}

    // Ends a step of `weight` units; false once an abort was requested.
    bool End(int weight) {
        if (!onlyWhileVisible_ || progress_.ProgressVisible()) progress_.Step(weight);
        return !progress_.AbortRequested();
    }
    bool End(const MethodStep& step) { return End(step.weight); }
    // For checks between steps and inside long loops.
    bool AbortRequested() const { return progress_.AbortRequested(); }
    RepaintProgress& Progress() { return progress_; }

private:
    RepaintProgress& progress_;
    bool onlyWhileVisible_;
};

// Sum of a step list's weights, for the progress totals.
template <int N>
constexpr int TotalWeight(const MethodStep (&steps)[N]) {
    int total = 0;
    for (int i = 0; i < N; ++i) total += steps[i].weight;
    return total;
}
