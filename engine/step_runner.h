// Progress and abort of a method run. Each method lists its steps once, with
// their progress weights; its progress total is computed from that list, and
// the run ends each step through the runner, which advances the progress by
// the step's weight and then tells whether to go on.
#pragma once

#include <mutex>

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

// The caller's progress for parts of a run (tiles) that run at the same
// time: one call at a time reaches it, so it need not be thread-safe itself.
class SerialProgress : public RepaintProgress {
public:
    explicit SerialProgress(RepaintProgress& inner) : inner_(inner) {}
    void Step(int n) override {
        std::lock_guard<std::mutex> lock(mutex_);
        inner_.Step(n);
    }
    bool AbortRequested() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return inner_.AbortRequested();
    }
    bool ProgressVisible() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return inner_.ProgressVisible();
    }

private:
    RepaintProgress& inner_;
    mutable std::mutex mutex_;
};
