// BMP files with the newer Windows headers (52, 56, 108 and 124 bytes: colour
// masks, colour space, profile), which the decoder does not read, rewritten
// as the classic 40-byte form it does. Pixels with an alpha mask keep their
// transparency; 32-bit pixels without one are opaque.
#pragma once

#include <string>
#include <vector>

#include "load_failure.h"

// True when `path` is a BMP with a newer header; `classic` then holds the
// rewritten file, or `why` says why it cannot be read and `failure` names
// the kind of fault.
bool RewriteNewerBmp(const std::string& path, std::vector<unsigned char>& classic, std::string& why,
                     LoadFailure& failure);
