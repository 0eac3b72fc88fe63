// `quorvane-bench --decode FILE...`: what decoding in a separate process
// costs against decoding in the program's own.
#pragma once

#include <string>
#include <vector>

int RunDecodeBench(const std::vector<std::string>& files, int repeats);
