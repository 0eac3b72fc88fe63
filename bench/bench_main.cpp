// Repaint benchmarks: a real photograph upscaled to 1 and 12 megapixels and a
// 300 × 300 preview crop, at one thread and at all threads. Reports wall time,
// megapixels per second and the peak resident memory of each run.
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_methods.h"
#include "imagefile.h"
#include "parallel.h"

namespace {

long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

PicBufHolder Upscaled(const SBxPicBuf& photo, int w, int h) {
    PicBufHolder out;
    CBxPicBufAPI::ReinitHeap(out.buf, w, h, photo.components, photo.bits);
    const double scale = std::max(double(w) / photo.width, double(h) / photo.height);
    CBxPicBufAPI::TransformBilinearFast(out.buf, photo, CBxPicMap(0, 0, 0, 0, 0, scale));
    return out;
}

void Run(const BenchMethod& m, const std::string& label, const SBxPicBuf& picture, int threads, int repeats) {
    SetEngineThreads(threads);
    double best = 1e30;
    long peak = 0;
    for (int r = 0; r < repeats; ++r) {
        PicBufHolder out;
        QuietProgress progress;
        ResetPeak();
        const auto t0 = std::chrono::steady_clock::now();
        m.run(out.buf, picture, progress);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
        peak = std::max(peak, PeakResidentKb());
    }
    const double mp = double(picture.width) * picture.height / 1e6;
    std::printf("%-10s %-14s %9dx%-5d threads %d  %9.3f s  %7.3f MP/s  peak %6.0f MB\n", m.name.c_str(),
                label.c_str(), picture.width, picture.height, EngineThreads(), best, mp / best, peak / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvane-bench PHOTO [METHOD...] [--quick] [--save-12mp FILE]\n");
        return 2;
    }
    bool quick = false;
    std::string save12;
    std::vector<std::string> only;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (std::strcmp(argv[i], "--save-12mp") == 0 && i + 1 < argc) save12 = argv[++i];
        else only.push_back(argv[i]);
    }
    LoadResult photo = LoadImageFile(argv[1]);
    if (!photo.ok) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    PicBufHolder crop;
    const SBxPicBuf& p = photo.image.picture.buf;
    CBxPicBufAPI::Copy(crop.buf, p, CBxRect<int>(p.width / 2 - 150, p.height / 2 - 150, p.width / 2 + 150, p.height / 2 + 150));
    PicBufHolder mp1 = Upscaled(p, 1155, 866);
    PicBufHolder mp12;
    if (!quick) mp12 = Upscaled(p, 4000, 3000);
    const int all = int(std::thread::hardware_concurrency());
    if (!save12.empty()) {
        // The same 12-megapixel picture, for timing other tools on it.
        SaveImageFile(&mp12.buf, nullptr, save12, 0, "", -1);
        return 0;
    }

    for (const BenchMethod& m : BenchMethods()) {
        if (!only.empty() && std::find(only.begin(), only.end(), m.name) == only.end()) continue;
        Run(m, "preview crop", crop.buf, all, 5);
        Run(m, "1 MP", mp1.buf, 1, 1);
        Run(m, "1 MP", mp1.buf, all, 2);
        if (!quick) {
            Run(m, "12 MP", mp12.buf, 1, 1);
            Run(m, "12 MP", mp12.buf, all, 1);
        }
    }
    return 0;
}
