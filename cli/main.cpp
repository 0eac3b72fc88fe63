// quorvane-cli: repaints image files in batch with the program's methods.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <stdexcept>

#include "engine_threads.h"
#include "imagefile.h"
#include "metadata.h"
#include "options.h"
#include "output_names.h"
#include "platform.h"
#include "terminal_progress.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_interrupted{false};

enum class FileOutcome { Done, Failed, Interrupted };

// What -o names: a folder to write into, a file, or a path that cannot be
// looked at (no permission, a link loop, a name too long), which ends the run.
struct OutputTarget {
    bool folder = false;
    std::string problem;
};

OutputTarget InspectOutput(const std::string& output) {
    OutputTarget t;
    if (output.empty()) return t;
    std::error_code ec;
    const fs::file_status st = fs::status(output, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        t.problem = "cannot use -o " + output + ": " + ec.message();
        return t;
    }
    t.folder = fs::is_directory(st) || output.back() == '/';
    return t;
}

// The format a named output file asks for by its extension, if it is one we write.
int FormatOfOutputName(const std::string& output) {
    const int named = FormatFromFileName(output);
    return named == kFormatBmp || named == kFormatTiff || named == kFormatPng || named == kFormatJpeg ? named : -1;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

Recipe RecipeOf(const CliOptions& o) {
    Recipe r{o.method->name, {}, QUORVANE_VERSION};
    for (size_t i = 0; i < o.positions.size(); ++i)
        r.positions.emplace_back(o.method->params[i].settingsKey, o.positions[i]);
    return r;
}

struct Run {
    const CliOptions& options;
    bool outputIsFolder = false;
    std::set<std::string> written;
    bool toldBmp = false;  // BMP's lack of metadata is said once a run
};

FileOutcome RepaintFile(Run& run, const std::string& input, TerminalProgress& progress) {
    const CliOptions& o = run.options;
    auto fail = [&](const std::string& why) {
        progress.Finish();
        std::cerr << "quorvane-cli: " << input << ": " << why << "\n";
        return FileOutcome::Failed;
    };
    LoadControl control;
    control.cancelled = [] { return g_interrupted.load(); };
    LoadResult loaded = LoadImageFile(input, control);
    if (loaded.cancelled) return FileOutcome::Interrupted;
    if (!loaded.ok)
        return fail("cannot read the picture (" + (loaded.error.empty() ? "unsupported format" : loaded.error) + ")");
    const SBxPicBuf& picture = loaded.image.picture.buf;
    const bool namedFile = !o.output.empty() && !run.outputIsFolder;
    const int format = o.format < 0 && namedFile && FormatOfOutputName(o.output) >= 0
                           ? FormatOfOutputName(o.output)
                           : ChooseOutputFormat(o.format, input, picture);
    const std::string output = namedFile ? o.output : DefaultOutputPath(input, o.output, format);
    for (const std::string& other : o.inputs)
        if (SameFile(other, output)) return fail("refusing to overwrite " + output + ", an input of this run");
    if (run.written.count(output)) return fail("another input of this run was already written to " + output);

    const auto started = std::chrono::steady_clock::now();
    progress.Start(input, o.method->steps(picture.width, picture.height, picture.components));
    PicBufHolder result;
    const RepaintStatus status = o.method->run(result.buf, picture, o.positions, progress);
    if (status == RepaintStatus::Aborted) {
        progress.Finish();
        return FileOutcome::Interrupted;
    }
    if (status != RepaintStatus::Done) return fail(RepaintStatusText(status));
    try {
        const Recipe recipe = RecipeOf(o);
        const SBxPicBuf* saving = &result.buf;
        const SBxPicBuf* alpha = &loaded.image.alpha.buf;
        PictureAndAlpha narrowed;
        const bool narrow = NarrowForFormat(format, saving, alpha, narrowed);
        const SaveStatus saved = SaveImageFile(saving, alpha, output, o.quality, input, format, &recipe);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        run.written.insert(output);
        progress.Done(output, seconds);
        if (narrow)
            std::cerr << "quorvane-cli: " << output << ": written at 8 bits a sample, as "
                      << (format == kFormatBmp ? "BMP" : "JPEG") << " holds no more (TIFF and PNG keep 16 bits)\n";
        if (saved == SaveStatus::SavedWithoutMetadata)
            std::cerr << "quorvane-cli: " << output << ": saved without the metadata of " << input << "\n";
        if (saved == SaveStatus::FormatHoldsNoMetadata && !run.toldBmp) {
            std::cerr << "quorvane-cli: BMP files hold no metadata; the tags and colour profiles of the inputs are "
                         "not carried into the BMP results\n";
            run.toldBmp = true;
        }
    } catch (const UnsupportedImageFormat&) {
        return fail("the output format cannot be written: " + output);
    } catch (const ImageWriteError& e) {
        return fail("cannot write " + output + ": " + e.what());
    }
    return FileOutcome::Done;
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions o;
    try {
        o = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& e) {
        std::cerr << "quorvane-cli: " << e.what() << "\n";
        return 2;
    }
    if (o.help) {
        std::cout << UsageText();
        return 0;
    }
    if (o.version) {
        std::cout << "quorvane-cli " QUORVANE_VERSION "\n";
        return 0;
    }
    const OutputTarget target = InspectOutput(o.output);
    if (!target.problem.empty()) {
        std::cerr << "quorvane-cli: " << target.problem << "\n";
        return 2;
    }
    if (o.inputs.size() > 1 && !o.output.empty() && !target.folder) {
        std::cerr << "quorvane-cli: -o must name an existing folder when several inputs are given\n";
        return 2;
    }
    SetEngineThreads(o.threads);
    CatchInterrupts(g_interrupted);

    TerminalProgress progress(g_interrupted, o.quiet, StandardErrorIsTerminal());
    Run run{o, target.folder, {}};
    int failed = 0;
    size_t finished = 0;
    bool cutShort = false;
    for (const std::string& input : o.inputs) {
        if (g_interrupted.load()) break;
        const FileOutcome outcome = RepaintFile(run, input, progress);
        if (outcome == FileOutcome::Interrupted) {
            cutShort = true;
            break;
        }
        ++finished;
        failed += outcome == FileOutcome::Failed;
    }
    // An interrupt that arrives while a result is being written lets the
    // write finish: say what happened to each file, not what was asked for.
    if (cutShort) {
        std::cerr << "quorvane-cli: interrupted; the picture in progress was not saved\n";
        return 130;
    }
    if (g_interrupted.load() && finished < o.inputs.size()) {
        std::cerr << "quorvane-cli: interrupted; the remaining " << o.inputs.size() - finished
                  << " input(s) were not repainted\n";
        return 130;
    }
    if (g_interrupted.load()) std::cerr << "quorvane-cli: interrupted after the last result was saved\n";
    return failed ? 1 : 0;
}
