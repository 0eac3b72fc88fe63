// libFuzzer entry: every input is decoded the way a user's file is, in this
// process so that the sanitizers see what the decoders do with it. A picture
// that comes out must be one the program can take.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "imagefile.h"

namespace {

const std::string& InputPath() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvane-fuzz-" + std::to_string(std::rand()) + "-input")).string();
    return path;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "quorvane-fuzz-load: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    LoadResult r = DecodeImageFile(InputPath());
    if (!r.ok) return 0;
    const SBxPicBuf& pic = r.image.picture.buf;
    Check(pic.pixels && pic.width > 0 && pic.height > 0, "an accepted picture without pixels");
    Check(uint64_t(pic.width) * uint64_t(pic.height) <= kMaxPixels, "an accepted picture above the size limit");
    Check((pic.components == 1 || pic.components == 3) && (pic.bits == 8 || pic.bits == 16),
          "an accepted picture of a layout the program does not handle");
    const SBxPicBuf& alpha = r.image.alpha.buf;
    Check(!alpha.pixels || (alpha.width == pic.width && alpha.height == pic.height && alpha.components == 1 &&
                            alpha.bits == pic.bits),
          "an alpha plane that does not match its picture");
    // Touch every sample so that a short buffer shows.
    unsigned sum = 0;
    for (uint32_t i = 0; i < pic.size; ++i) sum += pic.pixels[i];
    return sum == 0x7fffffff;  // never; keeps the loop
}
