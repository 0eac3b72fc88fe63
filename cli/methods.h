// The repaint methods as the command-line tool sees them: a name, the
// declared parameters, and how to run the method from slider positions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine_status.h"
#include "param_spec.h"
#include "picbuf.h"
#include "progress.h"

struct CliMethod {
    std::string name;
    std::string summary;
    std::vector<ParamSpec> params;
    // Progress steps a run on a width × height picture takes.
    std::function<int(int width, int height, int components)> steps;
    std::function<RepaintStatus(SBxPicBuf& dst, const SBxPicBuf& src, const std::vector<int>& positions,
                                RepaintProgress& progress)>
        run;
};

const std::vector<CliMethod>& CliMethods();
