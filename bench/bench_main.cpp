// Repaint benchmarks: a real photograph upscaled to 1 and 12 megapixels and a
// 300 × 300 preview crop (made the way the program's panel makes its previews),
// at one thread and at all threads. Reports wall time,
// CPU time, megapixels per second and the peak resident memory of each run.
//
// Modes besides the default:
//   --loaded  the same runs on a quiet machine and beside a competing
//             CPU-bound process started by the benchmark itself, taking turns;
//   --abort   how long each method takes to stop after Abort at 12 MP;
//   --50mp    every method on a 50-megapixel picture, with its peak memory;
//   --decode FILE... [--repeats N]  what the contained decoder costs (bench_decode.h).
// --threads N stands for "all threads" (1: everything on one thread, for profiling);
// --preview runs the preview crop alone; --repeats N runs each 1, 12 and 50 MP
// measurement N times and reports the best and the median; --preview-repeats N
// takes the best of N previews instead of five; --steps shows how long each
// progress step of a preview took (where a preview's time goes).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_decode.h"
#include "bench_methods.h"
#include "engine_threads.h"
#include "imagefile.h"
#include "platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

PicBufHolder Upscaled(const SBxPicBuf& photo, int w, int h) {
    PicBufHolder out;
    CBxPicBufAPI::ReinitHeap(out.buf, w, h, photo.components, photo.bits);
    const double scale = std::max(double(w) / photo.width, double(h) / photo.height);
    CBxPicBufAPI::TransformBilinearFast(out.buf, photo, CBxPicMap(0, 0, 0, 0, 0, scale));
    return out;
}

struct Timing {
    double best = 1e30, median = 0, cpu = 0;
    long peakKb = 0;
};

// Runs of one measurement, gathered as they come; the best and median are
// taken at the end.
struct Series {
    std::vector<double> times;
    double cpu = 0;
    long peakKb = 0;

    void Take(const BenchRun& run, const SBxPicBuf& picture, int threads) {
        SetEngineThreads(threads);
        PicBufHolder out;
        QuietProgress progress;
        ResetPeakResident();
        const double cpu0 = ProcessorSeconds();
        const Clock::time_point t0 = Clock::now();
        run(out.buf, picture, progress);
        times.push_back(Seconds(t0));
        cpu = std::max(cpu, ProcessorSeconds() - cpu0);
        peakKb = std::max(peakKb, PeakResidentKilobytes());
    }
    Timing Summary() const {
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        Timing t;
        t.best = sorted.front();
        t.median = sorted[sorted.size() / 2];
        t.cpu = cpu;
        t.peakKb = peakKb;
        return t;
    }
};

Timing Measure(const BenchRun& run, const SBxPicBuf& picture, int threads, int repeats) {
    Series s;
    for (int r = 0; r < repeats; ++r) s.Take(run, picture, threads);
    return s.Summary();
}

void Print(const BenchMethod& m, const std::string& label, const SBxPicBuf& picture, const Timing& t,
           const char* load = "") {
    const double mp = double(picture.width) * picture.height / 1e6;
    std::printf("%-11s %-13s %5dx%-5d threads %d %-7s %8.3f s (median %8.3f)  cpu %8.2f s  %7.3f MP/s  peak %6.0f MB\n",
                m.name.c_str(), label.c_str(), picture.width, picture.height, EngineThreads(), load, t.best, t.median,
                t.cpu, mp / t.best, t.peakKb / 1024.0);
    std::fflush(stdout);
}

void Run(const BenchMethod& m, const std::string& label, const SBxPicBuf& picture, int threads, int repeats) {
    Print(m, label, picture, Measure(m.run, picture, threads, repeats));
}

// Previews best of five, made as the program makes them.
// Where a preview's time goes: the time from one progress step to the next,
// the best of `repeats` previews for every step.
class StepClock : public RepaintProgress {
public:
    void Step(int) override { marks.push_back(Clock::now()); }
    bool AbortRequested() const override { return false; }
    std::vector<Clock::time_point> marks;
};

void PrintPreviewSteps(const BenchMethod& m, const SBxPicBuf& crop, int threads, int repeats) {
    SetEngineThreads(threads);
    std::vector<double> best;
    for (int r = 0; r < repeats; ++r) {
        PicBufHolder out;
        StepClock clock;
        const Clock::time_point t0 = Clock::now();
        (m.preview ? m.preview : m.run)(out.buf, crop, clock);
        clock.marks.push_back(Clock::now());
        best.resize(clock.marks.size(), 1e30);
        Clock::time_point last = t0;
        for (size_t i = 0; i < clock.marks.size(); ++i) {
            best[i] = std::min(best[i], std::chrono::duration<double>(clock.marks[i] - last).count());
            last = clock.marks[i];
        }
    }
    std::printf("%-11s preview steps, threads %d, best of %d (ms):", m.name.c_str(), threads, repeats);
    double sum = 0;
    for (double b : best) {
        std::printf(" %.1f", b * 1e3);
        sum += b;
    }
    std::printf("  sum %.1f\n", sum * 1e3);
}

// Best of five, or of more when asked (for profiling a preview).
int gPreviewRepeats = 5;

Timing MeasurePreview(const BenchMethod& m, const SBxPicBuf& crop, int threads) {
    return Measure(m.preview ? m.preview : m.run, crop, threads, gPreviewRepeats);
}

// Quiet and with one competing process: previews and the picture at all
// threads, and the picture at one thread on the quiet machine for reference.
// The quiet and loaded runs take turns, so that both see the machine as it
// is at the time (its speed drifts over minutes even with nothing else on it).
void RunLoaded(const BenchMethod& m, const SBxPicBuf& crop, const std::string& label, const SBxPicBuf& picture,
               int all, int repeats) {
    const BenchRun& preview = m.preview ? m.preview : m.run;
    Series previewQuiet, previewLoaded, oneQuiet, allQuiet, allLoaded;
    for (int r = 0; r < gPreviewRepeats; ++r) {
        previewQuiet.Take(preview, crop, all);
        BusyProcess other;
        if (!other.Running()) {
            std::printf("cannot start a competing process\n");
            return;
        }
        previewLoaded.Take(preview, crop, all);
    }
    for (int r = 0; r < repeats; ++r) {
        oneQuiet.Take(m.run, picture, 1);
        allQuiet.Take(m.run, picture, all);
        BusyProcess other;
        allLoaded.Take(m.run, picture, all);
    }
    SetEngineThreads(all);
    Print(m, "preview crop", crop, previewQuiet.Summary(), "quiet");
    Print(m, "preview crop", crop, previewLoaded.Summary(), "loaded");
    SetEngineThreads(1);
    Print(m, label, picture, oneQuiet.Summary(), "quiet");
    SetEngineThreads(all);
    Print(m, label, picture, allQuiet.Summary(), "quiet");
    Print(m, label, picture, allLoaded.Summary(), "loaded");
    const Timing pq = previewQuiet.Summary(), pl = previewLoaded.Summary(), one = oneQuiet.Summary(),
                 loaded = allLoaded.Summary();
    std::printf("%-11s loaded/quiet preview %.2f;  %d threads loaded / 1 thread quiet %.2f (medians %.2f)\n",
                m.name.c_str(), pl.median / pq.median, all, loaded.best / one.best, loaded.median / one.median);
    std::fflush(stdout);
}

// Presses Abort at several moments of a run and reports how long the method
// took to return after each.
void RunAbort(const BenchMethod& m, const SBxPicBuf& picture, int all) {
    SetEngineThreads(all);
    std::printf("%-11s abort latency at %dx%d, %d threads:", m.name.c_str(), picture.width, picture.height, all);
    double worst = 0;
    for (double at : {0.3, 1.0, 2.5, 4.5, 7.0}) {
        std::atomic<bool> abort{false}, finished{false};
        QuietProgress progress(&abort);
        PicBufHolder out;
        std::thread job([&] {
            m.run(out.buf, picture, progress);
            finished = true;
        });
        const Clock::time_point t0 = Clock::now();
        while (!finished && Seconds(t0) < at) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (finished) {
            job.join();
            std::printf("  (done before %.1f s)", at);
            continue;
        }
        const Clock::time_point pressed = Clock::now();
        abort = true;
        job.join();
        const double latency = Seconds(pressed);
        worst = std::max(worst, latency);
        std::printf("  %.1f s: %.3f s", at, latency);
    }
    std::printf("  worst %.3f s\n", worst);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--decode") == 0) {
        // The decoder's heap has large pages; so must the decoding here, or
        // the comparison favours the decoder.
        if (!HasLargePages()) RestartWithLargePages(argv);
        std::vector<std::string> files;
        int repeats = 15;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--repeats") == 0 && i + 1 < argc) repeats = std::max(1, std::atoi(argv[++i]));
            else files.push_back(argv[i]);
        }
        return RunDecodeBench(files, repeats);
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: quorvane-bench PHOTO [METHOD...] [--quick] [--loaded | --abort | --50mp] "
                     "[--threads N] [--preview] [--preview-repeats N] [--save-12mp FILE]\n"
                     "       quorvane-bench --decode FILE... [--repeats N]\n");
        return 2;
    }
    bool quick = false, loaded = false, abort = false, huge = false, previewOnly = false, steps = false;
    int threads = 0;
    int repeats = 1;
    std::string save12;
    std::vector<std::string> only;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (std::strcmp(argv[i], "--loaded") == 0) loaded = true;
        else if (std::strcmp(argv[i], "--abort") == 0) abort = true;
        else if (std::strcmp(argv[i], "--50mp") == 0) huge = true;
        else if (std::strcmp(argv[i], "--preview") == 0) previewOnly = quick = true;
        else if (std::strcmp(argv[i], "--steps") == 0) steps = previewOnly = quick = true;
        else if (std::strcmp(argv[i], "--preview-repeats") == 0 && i + 1 < argc)
            gPreviewRepeats = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--save-12mp") == 0 && i + 1 < argc) save12 = argv[++i];
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) threads = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--repeats") == 0 && i + 1 < argc) repeats = std::max(1, std::atoi(argv[++i]));
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
    if (!quick && !huge) mp12 = Upscaled(p, 4000, 3000);
    // "All threads" is every core unless --threads says otherwise (for
    // profiling one thread alone).
    const int all = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    if (!save12.empty()) {
        // The same 12-megapixel picture, for timing other tools on it.
        SaveImageFile(&mp12.buf, nullptr, save12, 0, "", -1);
        return 0;
    }
    PicBufHolder mp50;
    if (huge) mp50 = Upscaled(p, 8160, 6120);
    const SBxPicBuf& big = quick ? mp1.buf : mp12.buf;
    const std::string bigLabel = quick ? "1 MP" : "12 MP";

    for (const BenchMethod& m : BenchMethods()) {
        if (!only.empty() && std::find(only.begin(), only.end(), m.name) == only.end()) continue;
        if (huge) {
            Run(m, "50 MP", mp50.buf, all, repeats);
        } else if (abort) {
            if (m.name != "patchfilter") RunAbort(m, big, all);
        } else if (loaded) {
            RunLoaded(m, crop.buf, bigLabel, big, all, repeats);
        } else {
            if (steps) {
                PrintPreviewSteps(m, crop.buf, all, gPreviewRepeats);
                continue;
            }
            Print(m, "preview crop", crop.buf, MeasurePreview(m, crop.buf, all));
            if (previewOnly) continue;
            Run(m, "1 MP", mp1.buf, 1, 1);
            Run(m, "1 MP", mp1.buf, all, 2);
            if (!quick) {
                Run(m, "12 MP", mp12.buf, 1, repeats);
                Run(m, "12 MP", mp12.buf, all, repeats);
            }
        }
    }
    return 0;
}
