#pragma once

#include <functional>
#include <string>
#include <vector>

#include "picbuf.h"
#include "progress.h"

using BenchRun = std::function<void(SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress)>;

struct BenchMethod {
    std::string name;
    BenchRun run;
    // The preview as the program's panel makes it, where that differs from
    // a run on the crop.
    BenchRun preview;
};

const std::vector<BenchMethod>& BenchMethods();
