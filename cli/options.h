// Command-line parsing for quorvane-cli.
#pragma once

#include <string>
#include <vector>

#include "methods.h"

struct CliOptions {
    const CliMethod* method = nullptr;
    std::vector<int> positions;
    std::vector<std::string> inputs;
    std::string output;   // file or folder; empty = beside each input
    int format = -1;      // FreeImage code; -1 = keep the input's
    int quality = 90;
    int threads = 0;      // 0 = all cores
    bool quiet = false;
    bool help = false, version = false;
};

// Throws std::invalid_argument with a message fit for the user.
CliOptions ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
