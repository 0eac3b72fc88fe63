#include "terminal_progress.h"

#include <cstdio>

void TerminalProgress::Start(const std::string& name, int totalSteps) {
    name_ = name;
    total_ = totalSteps > 0 ? totalSteps : 1;
    done_ = 0;
    drawnPercent_ = -1;
    Draw();
}

void TerminalProgress::Step(int n) {
    done_ += n;
    Draw();
}

void TerminalProgress::Draw() {
    if (quiet_ || !terminal_) return;
    const int percent = done_ >= total_ ? 100 : 100 * done_ / total_;
    if (percent == drawnPercent_) return;
    drawnPercent_ = percent;
    const int width = 30, filled = percent * width / 100;
    std::fprintf(stderr, "\r%-40.40s [%.*s%*s] %3d%%", name_.c_str(), filled, "##############################",
                 width - filled, "", percent);
    std::fflush(stderr);
    barShown_ = true;
}

void TerminalProgress::Finish() {
    if (barShown_) std::fputc('\n', stderr);
    barShown_ = false;
}

void TerminalProgress::Done(const std::string& output, double seconds) {
    Finish();
    if (!quiet_) std::fprintf(stderr, "%s -> %s (%.1f s)\n", name_.c_str(), output.c_str(), seconds);
}
