// Decoding cost: each file read many times in this process and through the
// contained decoder, alternately, so that both see the same machine, with
// large pages under the heap on both sides. CPU time counts the decoder child
// too; on a shared machine the minimum is the figure to trust.
#include "bench_decode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "imagefile.h"
#include "platform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Samples {
    std::vector<double> wall, cpu;
};

double Min(std::vector<double> v) { return *std::min_element(v.begin(), v.end()); }
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Reads a byte of every page, as the first look at a picture would: pixels
// that are mapped rather than copied are only then really there.
unsigned Touch(const SBxPicBuf& buf) {
    unsigned sum = 0;
    const size_t bytes = size_t(buf.pitch) * size_t(buf.height);
    for (size_t at = 0; buf.pixels && at < bytes; at += 4096) sum += buf.pixels[at];
    return sum;
}

volatile unsigned g_touched;

bool Once(const std::string& path, bool contained, Samples& s) {
    const double cpu0 = ProcessorSeconds() + ChildrenProcessorSeconds();
    const Clock::time_point t0 = Clock::now();
    const LoadResult r = contained ? LoadImageFile(path) : DecodeImageFile(path);
    g_touched = Touch(r.image.picture.buf) + Touch(r.image.alpha.buf);
    s.wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    s.cpu.push_back(ProcessorSeconds() + ChildrenProcessorSeconds() - cpu0);
    return r.ok;
}

void Print(const char* how, const Samples& s) {
    std::printf("  %-12s cpu min %7.1f ms  median %7.1f ms   wall min %7.1f ms  median %7.1f ms\n", how,
                Min(s.cpu) * 1e3, Median(s.cpu) * 1e3, Min(s.wall) * 1e3, Median(s.wall) * 1e3);
}

}  // namespace

int RunDecodeBench(const std::vector<std::string>& files, int repeats) {
    int failed = 0;
    std::printf("in process: the file decoded here; contained: a child forked by the waiting decoder process\n"
                "(started once, by the first read) decodes it, its rows are copied into a picture here;\n"
                "cpu: this process, the decoder process and its children; heap on large pages: %s\n",
                HasLargePages() ? "both" : "the decoder only");
    for (const std::string& path : files) {
        Samples here, contained;
        bool ok = Once(path, false, here) && Once(path, true, contained);  // warm the file cache
        here = contained = Samples();
        for (int r = 0; ok && r < repeats; ++r) ok = Once(path, false, here) && Once(path, true, contained);
        if (!ok) {
            std::printf("%s: cannot be read\n", path.c_str());
            ++failed;
            continue;
        }
        std::printf("%s, %d times each:\n", path.c_str(), repeats);
        Print("in process", here);
        Print("contained", contained);
        std::printf("  contained / in process: cpu min %+.0f %%, median %+.0f %%; wall min %+.0f %%, median %+.0f %%\n",
                    (Min(contained.cpu) / Min(here.cpu) - 1) * 100, (Median(contained.cpu) / Median(here.cpu) - 1) * 100,
                    (Min(contained.wall) / Min(here.wall) - 1) * 100,
                    (Median(contained.wall) / Median(here.wall) - 1) * 100);
        std::fflush(stdout);
    }
    return failed ? 1 : 0;
}
