// Writes a picture or the settings file over and over, for scripts/test-kill
// to kill at random moments. Each write is one of two known versions, so
// whatever the kill interrupts, the file must be byte for byte one of them.
//   kill_driver write picture|settings 0|1 FILE   write that version once
//   kill_driver loop picture|settings FILE        alternate the versions until killed
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "imagefile.h"
#include "settings.h"

namespace {

// Noise so that the encoded file is a few megabytes and takes a while.
void WritePicture(int version, const std::string& file) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, 1200, 900, 3, 8);
    std::mt19937 random(unsigned(version + 1));
    for (int y = 0; y < p.buf.height; ++y)
        for (int i = 0; i < p.buf.width * 3; ++i) p.buf.Row<uint8_t>(y)[i] = uint8_t(random());
    SaveImageFile(&p.buf, nullptr, file, 0, "", kFormatPng);
}

void WriteSettings(int version, const std::string& file) {
    AppSettings s;
    for (const SettingKey& k : kSettingKeys) s.ui.*k.field = 1000 + version;
    SettingsPaths paths;
    paths.folder = file.substr(0, file.find_last_of('/'));
    paths.settingsFile = file;
    if (!SaveSettings(s, paths)) throw std::runtime_error("the settings could not be written");
}

void Write(const std::string& kind, int version, const std::string& file) {
    if (kind == "picture")
        WritePicture(version, file);
    else
        WriteSettings(version, file);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string kind = argc > 2 ? argv[2] : "";
    if ((kind != "picture" && kind != "settings") || !((mode == "write" && argc == 5) || (mode == "loop" && argc == 4))) {
        std::fprintf(stderr, "usage: kill_driver write picture|settings 0|1 FILE | loop picture|settings FILE\n");
        return 2;
    }
    try {
        if (mode == "write") {
            Write(kind, std::atoi(argv[3]), argv[4]);
            return 0;
        }
        for (int version = 1;; version ^= 1) Write(kind, version, argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kill_driver: %s\n", e.what());
        return 1;
    }
}
