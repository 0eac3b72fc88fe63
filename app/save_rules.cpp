#include "save_rules.h"

#include <algorithm>
#include <cctype>

#include "imagefile.h"

namespace {

const std::vector<std::string> kEightBitList = {"*.bmp", "*.tif", "*.png", "*.jpg"};
const std::vector<std::string> kDeepList = {"*.tif", "*.png"};
const char* const kExtensions[5] = {"", ".bmp", ".tif", ".png", ".jpg"};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Format index of an extension (dot included) for the picture's list; 0 if none.
int FormatOfExtension(const std::string& ext, int bits) {
    const std::string e = Lower(ext);
    for (int i = 1; i <= 4; ++i)
        if (e == kExtensions[i] && (bits == 8 || i == 2 || i == 3)) return i;
    return 0;
}

}  // namespace

SaveDialogRequest MakeSaveDialogRequest(const std::string& path, int bits) {
    SaveDialogRequest r;
    r.filters = bits == 8 ? kEightBitList : kDeepList;
    r.jpegOffered = bits == 8;
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return r;
    const std::string file = path.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    if (dot == std::string::npos) return r;
    const int entry = FormatOfExtension(file.substr(dot), bits);
    if (entry) {
        r.defaultExtension = kExtensions[entry];
        r.filterIndex = bits == 8 ? entry : entry - 1;
    }
    r.defaultName = file.substr(0, dot) + "-repainted";
    return r;
}

SaveTarget ResolveSaveTarget(const std::string& chosen, int entry, int bits) {
    SaveTarget t;
    if (chosen.size() >= 4) t.formatIndex = FormatOfExtension(chosen.substr(chosen.size() - 4), bits);
    if (t.formatIndex) {
        t.path = chosen;
        return t;
    }
    if (bits == 8)
        t.formatIndex = entry >= 1 && entry <= 4 ? entry : 1;
    else
        t.formatIndex = entry == 2 ? 3 : 2;
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

bool QualityRowEnabled(int selectedEntry, int bits) { return bits == 8 && selectedEntry == 4; }
