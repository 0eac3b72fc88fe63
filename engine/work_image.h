// Integer working image: interleaved 32-bit samples, row-major.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct IntImage {
    int width = 0, height = 0, components = 0;
    std::vector<int32_t> data;

    IntImage() = default;
    IntImage(int w, int h, int c) : width(w), height(h), components(c), data(size_t(w) * h * c, 0) {}
    // A copy made by all threads.
    IntImage Clone() const;
    int32_t* Row(int y) { return data.data() + size_t(y) * width * components; }
    const int32_t* Row(int y) const { return data.data() + size_t(y) * width * components; }
};
