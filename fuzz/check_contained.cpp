// Opens files through the contained decoder the way the program does and says
// whether each was decoded or refused. The process itself must survive every
// one of them within the time limit; anything else is a failure.
//   quorvane-fuzz-check FILE...
#include <chrono>
#include <cstdio>

#include "imagefile.h"

int main(int argc, char** argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const auto start = std::chrono::steady_clock::now();
        LoadControl control;
        control.limits.wallMilliseconds = 20000;
        const LoadResult r = LoadImageFile(argv[i], control);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool plausible = !r.ok || (r.image.picture.buf.pixels && r.image.picture.buf.width > 0);
        std::printf("%s: %s%s (%.2f s)\n", argv[i], r.ok ? "decoded" : "refused: ", r.ok ? "" : r.error.c_str(),
                    seconds);
        failures += !plausible || seconds > 25.0;
    }
    return failures ? 1 : 0;
}
