#include "output_names.h"

#include <filesystem>

#include "imagefile.h"

namespace fs = std::filesystem;

std::string ExtensionFor(int format) {
    switch (format) {
        case kFormatBmp: return ".bmp";
        case kFormatTiff: return ".tif";
        case kFormatJpeg: return ".jpg";
        default: return ".png";
    }
}

int ChooseOutputFormat(int requested, const std::string& input, const SBxPicBuf& picture) {
    if (requested >= 0) return requested;
    const int own = FormatFromFileName(input);
    if (own == kFormatBmp || own == kFormatTiff || own == kFormatPng || own == kFormatJpeg)
        if (FormatCanWrite(own, picture)) return own;
    return kFormatPng;
}

std::string DefaultOutputPath(const std::string& input, const std::string& folder, int format) {
    const fs::path in(input);
    const fs::path dir = folder.empty() ? in.parent_path() : fs::path(folder);
    std::string ext = in.extension().string();
    if (FormatFromFileName(input) != format) ext = ExtensionFor(format);
    return (dir / (in.stem().string() + "-repainted" + ext)).string();
}
