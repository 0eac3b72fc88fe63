#include "bmp_versions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kFileHeader = 14, kClassicInfo = 40;

uint32_t Get(const std::vector<unsigned char>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + size_t(i)];
    return v;
}

void Put(std::vector<unsigned char>& b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + size_t(i)] = (unsigned char)(v >> (8 * i));
}

// A channel's value under `mask`, scaled to 0..255.
unsigned Channel(uint32_t pixel, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const uint32_t max = mask >> shift;
    return unsigned((uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
}

bool ReadWhole(const std::string& path, std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

}  // namespace

bool RewriteNewerBmp(const std::string& path, std::vector<unsigned char>& classic, std::string& why,
                     LoadFailure& failure) {
    failure = LoadFailure::Damaged;
    std::vector<unsigned char> in;
    if (!ReadWhole(path, in) || in.size() < kFileHeader + 4) return false;
    const uint32_t infoSize = Get(in, 14, 4);
    if (infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) return false;
    const size_t dataOffset = Get(in, 10, 4);
    if (in.size() < kFileHeader + infoSize || dataOffset > in.size() || dataOffset < kFileHeader + infoSize) {
        why = "the file is truncated";
        return true;
    }
    const unsigned bits = Get(in, 28, 2);
    uint32_t compression = Get(in, 30, 4);
    const bool masked = compression == 3 || compression == 6;
    const uint32_t red = Get(in, 54, 4), green = Get(in, 58, 4), blue = Get(in, 62, 4);
    const uint32_t alpha = infoSize >= 56 ? Get(in, 66, 4) : 0;
    const size_t palette = dataOffset - kFileHeader - infoSize;  // colour table, if any
    const bool widen32 = bits == 32;
    const bool keepMasks = masked && bits == 16;

    const size_t headerBytes = kFileHeader + kClassicInfo + (keepMasks ? 12 : 0);
    classic.assign(in.begin(), in.begin() + long(kFileHeader + kClassicInfo));
    Put(classic, 14, kClassicInfo, 4);
    if (keepMasks) {
        classic.resize(headerBytes);
        Put(classic, 54, red, 4);
        Put(classic, 58, green, 4);
        Put(classic, 62, blue, 4);
        compression = 3;
    } else if (widen32) {
        compression = 0;
    } else if (masked) {
        why = "this BMP colour layout is not supported";
        failure = LoadFailure::Unsupported;
        return true;
    }
    Put(classic, 30, compression, 4);
    classic.insert(classic.end(), in.begin() + long(kFileHeader + infoSize), in.begin() + long(dataOffset));
    Put(classic, 10, uint32_t(headerBytes + palette), 4);
    const size_t pixelsAt = classic.size();
    classic.insert(classic.end(), in.begin() + long(dataOffset), in.end());
    Put(classic, 2, uint32_t(classic.size()), 4);

    if (widen32) {
        // Into blue, green, red (and alpha) bytes; masks default to that order.
        const uint32_t r = masked ? red : 0x00ff0000, g = masked ? green : 0x0000ff00, b = masked ? blue : 0x000000ff;
        const uint64_t width = Get(in, 18, 4), height = uint64_t(std::abs(int64_t(int32_t(Get(in, 22, 4)))));
        const unsigned outBytes = alpha ? 4 : 3;
        const uint64_t outStride = (width * outBytes + 3) / 4 * 4;
        if (width * 4 * height > in.size() - dataOffset) {
            why = "the file is truncated";
            return true;
        }
        std::vector<unsigned char> pixels(size_t(outStride * height), 0);
        for (uint64_t y = 0; y < height; ++y)
            for (uint64_t x = 0; x < width; ++x) {
                const uint32_t p = Get(in, size_t(dataOffset + (y * width + x) * 4), 4);
                unsigned char* out = &pixels[size_t(y * outStride + x * outBytes)];
                out[0] = (unsigned char)Channel(p, b);
                out[1] = (unsigned char)Channel(p, g);
                out[2] = (unsigned char)Channel(p, r);
                if (alpha) out[3] = (unsigned char)Channel(p, alpha);
            }
        classic.resize(pixelsAt);
        classic.insert(classic.end(), pixels.begin(), pixels.end());
        Put(classic, 2, uint32_t(classic.size()), 4);
        Put(classic, 28, alpha ? 32 : 24, 2);
        Put(classic, 34, uint32_t(pixels.size()), 4);
    }
    return true;
}
