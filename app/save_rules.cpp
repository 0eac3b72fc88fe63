#include "save_rules.h"

#include <algorithm>
#include <cctype>

#include "imagefile.h"

namespace {

const std::vector<std::string> kTypeList = {"*.bmp", "*.tif", "*.png", "*.jpg"};
const char* const kExtensions[5] = {"", ".bmp", ".tif", ".png", ".jpg"};
constexpr int kTiffEntry = 2;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Format index of an extension (dot included); 0 if none.
int FormatOfExtension(const std::string& ext) {
    const std::string e = Lower(ext);
    for (int i = 1; i <= 4; ++i)
        if (e == kExtensions[i]) return i;
    return 0;
}

}  // namespace

SaveDialogRequest MakeSaveDialogRequest(const std::string& path, int bits) {
    SaveDialogRequest r;
    r.filters = kTypeList;
    // A deep picture starts on TIFF, which keeps its depth, unless its own
    // extension names one of the four (a .tiff or .ppm would otherwise leave
    // the first entry, BMP, selected).
    if (bits > 8) {
        r.filterIndex = kTiffEntry;
        r.defaultExtension = kExtensions[kTiffEntry];
    }
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return r;
    const std::string file = path.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    if (dot == std::string::npos) return r;
    const int entry = FormatOfExtension(file.substr(dot));
    if (entry) {
        r.defaultExtension = kExtensions[entry];
        r.filterIndex = entry;
    }
    r.defaultName = file.substr(0, dot) + "-repainted";
    return r;
}

SaveTarget ResolveSaveTarget(const std::string& chosen, int entry) {
    SaveTarget t;
    if (chosen.size() >= 4) t.formatIndex = FormatOfExtension(chosen.substr(chosen.size() - 4));
    if (t.formatIndex) {
        t.path = chosen;
        return t;
    }
    t.formatIndex = entry >= 1 && entry <= 4 ? entry : 1;
    t.path = chosen + kExtensions[t.formatIndex];
    return t;
}

int FreeImageFormatOf(int formatIndex) {
    switch (formatIndex) {
        case 1: return kFormatBmp;
        case 2: return kFormatTiff;
        case 3: return kFormatPng;
        case 4: return kFormatJpeg;
        default: return kFormatUnknown;
    }
}

int InitialJpegQuality(int stored) { return std::max(stored, 10); }

bool QualityRowEnabled(int selectedEntry) { return selectedEntry == 4; }
