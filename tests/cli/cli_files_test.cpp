// What the command line does with the files around it: full disks, paths it
// cannot use, inputs of the same run, read-only targets and interrupts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "../imagefile/test_files.h"
#include "imagefile.h"
#include "small_file_system.h"

namespace fs = std::filesystem;

namespace {

struct CliResult {
    int exitCode = -1;
    std::string errors;  // what it wrote to stderr
};

CliResult Cli(const std::string& args) {
    char errorsFile[] = "/tmp/quorvane-cli-errors-XXXXXX";
    const int fd = mkstemp(errorsFile);
    close(fd);
    const std::string cmd = std::string(QUORVANE_CLI) + " " + args + " >/dev/null 2>" + errorsFile;
    const int status = std::system(cmd.c_str());
    CliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.errors = ReadBytes(errorsFile);
    fs::remove(errorsFile);
    return r;
}

PicBufHolder Noise(int width, int height) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, width, height, 3, 8);
    std::mt19937 random(11);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i) p.buf.Row<uint8_t>(y)[i] = uint8_t(random());
    return p;
}

}  // namespace

TEST(CliFiles, FullDiskKeepsTheOldResultAndExitsWithOne) {
    ScratchDir dir;
    const PicBufHolder noise = Noise(160, 160);
    SaveImageFile(&noise.buf, nullptr, dir.File("big.png"), 0, "", -1);
    const std::string input = dir.File("big.png");
    const SmallFileSystemRun run = RunOnSmallFileSystem(256 * 1024, [&](const std::string& folder) {
        std::string problems;
        const PicBufHolder small = Pattern(8, 8, 3, 8);
        for (const char* ext : {"png", "tif", "bmp", "jpg"}) {
            const std::string keep = folder + "/keep." + ext;
            SaveImageFile(&small.buf, nullptr, keep, 0, "", -1);
            const std::string old = ReadBytes(keep);
            FillFileSystem(folder);
            const CliResult r = Cli("smudge --quiet -o " + keep + " " + input);
            if (r.exitCode != 1) problems += std::string(ext) + ": exit code " + std::to_string(r.exitCode) + "\n";
            if (r.errors.find("No space left") == std::string::npos) problems += std::string(ext) + ": " + r.errors;
            if (ReadBytes(keep) != old) problems += std::string(ext) + ": the old file changed\n";
            // A new file is not created either.
            const CliResult fresh = Cli("smudge --quiet -o " + folder + "/new." + ext + " " + input);
            if (fresh.exitCode != 1 || fs::exists(folder + "/new." + ext))
                problems += std::string(ext) + ": a new file on a full disk\n";
            fs::remove(folder + "/filler");
            fs::remove(keep);
        }
        return problems;
    });
    if (!run.ran) GTEST_SKIP() << run.skipped;
    EXPECT_EQ(run.failures, "");
}
