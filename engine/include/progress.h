// How a repaint method reports progress and learns that the user wants it to
// stop. Every method takes one of these; the GUI, the command-line tool and
// the tests each implement it their own way.
#pragma once

#include <atomic>

class RepaintProgress {
public:
    virtual ~RepaintProgress() = default;
    // Advances the progress bar by `n` steps.
    virtual void Step(int n) = 0;
    // True once an abort was requested; methods poll this at fixed points.
    virtual bool AbortRequested() const = 0;
    // Whether a progress bar is shown at all (the Smudge method only steps
    // while it is).
    virtual bool ProgressVisible() const { return true; }
};

// Counts nothing, shows nothing; aborts when the flag it watches is set.
class QuietProgress : public RepaintProgress {
public:
    explicit QuietProgress(const std::atomic<bool>* abort = nullptr) : abort_(abort) {}
    void Step(int) override {}
    bool AbortRequested() const override { return abort_ && abort_->load(std::memory_order_relaxed); }
    bool ProgressVisible() const override { return false; }

private:
    const std::atomic<bool>* abort_;
};
