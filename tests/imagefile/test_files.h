// Scratch folder and synthetic pictures for the image-file tests.
#pragma once

#include <filesystem>
#include <string>

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
bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
