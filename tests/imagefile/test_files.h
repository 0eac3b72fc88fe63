// Scratch folder and synthetic pictures for the image-file tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "picbuf.h"

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A picture whose every sample differs from its neighbours.
PicBufHolder Pattern(int width, int height, int components, int bits);
// 8-bit colour noise: its encoded file is about as large as its pixels.
PicBufHolder Noise(int width, int height, unsigned seed);
// The smallest well-formed RGB display profile: a header and an empty tag table.
std::vector<unsigned char> MinimalIccProfile();
bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
