#pragma once

#include <functional>
#include <string>
#include <vector>

#include "picbuf.h"
#include "progress.h"

struct BenchMethod {
    std::string name;
    std::function<void(SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress)> run;
};

const std::vector<BenchMethod>& BenchMethods();
