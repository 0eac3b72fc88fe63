// Progress of quorvane-cli on stderr: a bar on a terminal, a line per file
// otherwise. Abort comes from the interrupt flag.
#pragma once

#include <atomic>
#include <string>

#include "progress.h"

class TerminalProgress : public RepaintProgress {
public:
    TerminalProgress(const std::atomic<bool>& interrupted, bool quiet, bool terminal)
        : interrupted_(interrupted), quiet_(quiet), terminal_(terminal) {}
    void Start(const std::string& name, int totalSteps);
    void Step(int n) override;
    bool AbortRequested() const override { return interrupted_.load(std::memory_order_relaxed); }
    bool ProgressVisible() const override { return !quiet_ && terminal_; }
    void Done(const std::string& output, double seconds);
    void Finish();

private:
    void Draw();
    const std::atomic<bool>& interrupted_;
    bool quiet_, terminal_;
    std::string name_;
    int total_ = 1, done_ = 0, drawnPercent_ = -1;
    bool barShown_ = false;
};
