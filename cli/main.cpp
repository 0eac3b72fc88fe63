// quorvane-cli: repaints image files in batch with the program's methods.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <stdexcept>

#include "imagefile.h"
#include "options.h"
#include "output_names.h"
#include "parallel.h"
#include "platform.h"
#include "terminal_progress.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_interrupted{false};

enum class FileOutcome { Done, Failed, Interrupted };

bool IsFolderTarget(const std::string& output) {
    return !output.empty() && (fs::is_directory(output) || output.back() == '/');
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

FileOutcome RepaintFile(const CliOptions& o, const std::string& input, TerminalProgress& progress,
                        std::set<std::string>& written) {
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
    const int format = ChooseOutputFormat(o.format, input, picture);
    if (!FormatCanWrite(format, picture))
        return fail("a " + std::to_string(picture.bits) + "-bit picture cannot be saved as " + ExtensionFor(format) +
                    " (use --format tif or png)");
    const std::string output =
        o.output.empty() || IsFolderTarget(o.output) ? DefaultOutputPath(input, o.output, format) : o.output;
    if (SameFile(input, output)) return fail("refusing to overwrite the input file " + output);
    if (written.count(output)) return fail("another input of this run was already written to " + output);

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
        const SaveStatus saved = SaveImageFile(&result.buf, &loaded.image.alpha.buf, output, o.quality, input, format);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        written.insert(output);
        progress.Done(output, seconds);
        if (saved == SaveStatus::SavedWithoutMetadata)
            std::cerr << "quorvane-cli: " << output << ": saved without the metadata of " << input << "\n";
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
    if (o.inputs.size() > 1 && !o.output.empty() && !IsFolderTarget(o.output)) {
        std::cerr << "quorvane-cli: -o must name an existing folder when several inputs are given\n";
        return 2;
    }
    SetEngineThreads(o.threads);
    CatchInterrupts(g_interrupted);

    TerminalProgress progress(g_interrupted, o.quiet, isatty(STDERR_FILENO) != 0);
    int failed = 0;
    std::set<std::string> written;
    for (const std::string& input : o.inputs) {
        if (g_interrupted.load()) break;
        const FileOutcome outcome = RepaintFile(o, input, progress, written);
        if (outcome == FileOutcome::Interrupted) break;
        failed += outcome == FileOutcome::Failed;
    }
    if (g_interrupted.load()) {
        std::cerr << "quorvane-cli: interrupted; the picture in progress was not saved\n";
        return 130;
    }
    return failed ? 1 : 0;
}
