// What the command line does with the files around it: full disks, paths it
// cannot use, inputs of the same run, read-only targets and interrupts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <chrono>
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

// `environment`, when given, is a command put before the program ("env X=1 ").
CliResult Cli(const std::string& args, const std::string& environment = "") {
    char errorsFile[] = "/tmp/quorvane-cli-errors-XXXXXX";
    const int fd = mkstemp(errorsFile);
    close(fd);
    const std::string cmd = environment + QUORVANE_CLI + " " + args + " >/dev/null 2>" + errorsFile;
    const int status = std::system(cmd.c_str());
    CliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.errors = ReadBytes(errorsFile);
    fs::remove(errorsFile);
    return r;
}

// Starts quorvane-cli with its error output on a pipe.
struct RunningCli {
    pid_t pid = -1;
    int errors = -1;

    explicit RunningCli(const std::string& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 2);
            close(fds[0]);
            const std::string cmd = "exec " + std::string(QUORVANE_CLI) + " " + args + " >/dev/null";
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        errors = fds[0];
    }
    // Waits for one line of error output (progress lines go there too).
    std::string Line(std::string& all) {
        char c;
        std::string line;
        while (read(errors, &c, 1) == 1) {
            all += c;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    int Finish(std::string& all) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(errors, buffer, sizeof buffer)) > 0) all.append(buffer, size_t(n));
        close(errors);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool IsPng(const std::string& path) { return ReadBytes(path).rfind("\x89PNG", 0) == 0; }

}  // namespace

TEST(CliFiles, FullDiskKeepsTheOldResultAndExitsWithOne) {
    ScratchDir dir;
    const PicBufHolder noise = Noise(160, 160, 11);
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

TEST(CliFiles, OutputPathsItCannotInspectEndWithOneClearLineAndExitTwo) {
    ScratchDir dir;
    const PicBufHolder pic = Pattern(8, 8, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("in.png"), 0, "", -1);
    fs::create_symlink(dir.File("loop-b"), dir.File("loop-a"));
    fs::create_symlink(dir.File("loop-a"), dir.File("loop-b"));
    fs::create_directories(dir.File("locked/inner"));
    chmod(dir.File("locked").c_str(), 0);
    fs::permissions(dir.Path(), fs::perms::all, fs::perm_options::add);
    // Permissions bind only an ordinary user: root runs that case as nobody.
    const std::string ordinaryUser = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const struct {
        std::string output, reason, prefix;
    } cases[] = {
        {dir.File("loop-a"), "symbolic links", ""},
        {dir.File(std::string(300, 'n') + ".png"), "too long", ""},
        {dir.File("locked/inner/out.png"), "Permission denied", ordinaryUser},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.output.substr(0, 80));
        const std::string cmd = k.prefix + QUORVANE_CLI + " original --quiet -o " + k.output + " " +
                                dir.File("in.png") + " >/dev/null 2>" + dir.File("errors");
        const int status = std::system(cmd.c_str());
        const std::string errors = ReadBytes(dir.File("errors"));
        ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
        EXPECT_EQ(WEXITSTATUS(status), 2) << errors;
        EXPECT_NE(errors.find(k.reason), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
    chmod(dir.File("locked").c_str(), 0755);
}

TEST(CliFiles, InputsOfTheRunAndReadOnlyTargetsAreNeverReplaced) {
    ScratchDir dir;
    const PicBufHolder a = Pattern(10, 8, 3, 8), b = Pattern(12, 6, 3, 8);
    SaveImageFile(&a.buf, nullptr, dir.File("a.png"), 0, "", -1);
    SaveImageFile(&b.buf, nullptr, dir.File("a-repainted.png"), 0, "", -1);
    const std::string second = ReadBytes(dir.File("a-repainted.png"));
    // The result of a.png would land on the first input.
    CliResult r = Cli("smudge --quiet " + dir.File("a-repainted.png") + " " + dir.File("a.png"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errors.find("an input of this run"), std::string::npos) << r.errors;
    EXPECT_EQ(ReadBytes(dir.File("a-repainted.png")), second);
    EXPECT_TRUE(fs::exists(dir.File("a-repainted-repainted.png")));

    // A read-only result of an earlier run stays as it is.
    fs::create_directory(dir.File("out"));
    WriteBytes(dir.File("out/a-repainted.png"), "keep this");
    chmod(dir.File("out/a-repainted.png").c_str(), 0444);
    r = Cli("smudge --quiet -o " + dir.File("out") + " " + dir.File("a.png"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errors.find("read-only"), std::string::npos) << r.errors;
    EXPECT_EQ(ReadBytes(dir.File("out/a-repainted.png")), "keep this");

    // A named output file gets the format its extension names; temporary
    // files a killed run left there over a day ago are cleared on the way.
    WriteBytes(dir.File("out/.quorvane-Ab12Cd"), "left by a killed run");
    fs::last_write_time(dir.File("out/.quorvane-Ab12Cd"), fs::file_time_type::clock::now() - std::chrono::hours(30));
    const PicBufHolder deep = Pattern(8, 8, 3, 16);
    SaveImageFile(&deep.buf, nullptr, dir.File("deep.tif"), 0, "", -1);
    EXPECT_EQ(Cli("smudge --quiet -o " + dir.File("out/deep.png") + " " + dir.File("deep.tif")).exitCode, 0);
    EXPECT_TRUE(IsPng(dir.File("out/deep.png")));
    EXPECT_EQ(LoadImageFile(dir.File("out/deep.png")).image.picture.buf.bits, 16);
    EXPECT_FALSE(fs::exists(dir.File("out/.quorvane-Ab12Cd")));
}

// Ctrl+C while the result is being written: as its first bytes go out, and
// once they are all out but the file has not yet taken its name. The write is
// finished and the file reported saved. The program interrupts itself at
// those moments (see interrupt_shim.cpp), so no timing decides what is tested.
TEST(CliFiles, InterruptDuringTheFinalWriteKeepsTheFileAndSaysSo) {
    ScratchDir dir;
    const PicBufHolder deep = Pattern(120, 90, 3, 16);
    SaveImageFile(&deep.buf, nullptr, dir.File("in.tif"), 0, "", -1);
    const std::string out = fs::weakly_canonical(dir.File("out")).string();
    fs::create_directory(out);
    ASSERT_EQ(Cli("smudge --quiet -o " + dir.File("calm.tif") + " " + dir.File("in.tif")).exitCode, 0);
    const LoadResult calm = LoadImageFile(dir.File("calm.tif"));
    ASSERT_TRUE(calm.ok) << calm.error;
    for (const char* moment : {"write", "rename"}) {
        SCOPED_TRACE(moment);
        fs::remove(out + "/in-repainted.tif");
        // A sanitizer runtime would insist on being loaded before the shim.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string environment = std::string("env LD_PRELOAD=") + QUORVANE_INTERRUPT_SHIM +
                                        " INTERRUPT_SHIM_AT=" + moment + " INTERRUPT_SHIM_FOLDER=" + out +
                                        " ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") +
                                        "verify_asan_link_order=0 ";
        const CliResult r = Cli("smudge -o " + out + " " + dir.File("in.tif"), environment);
        EXPECT_EQ(r.exitCode, 0) << r.errors;
        EXPECT_NE(r.errors.find("interrupted after the last result was saved"), std::string::npos) << r.errors;
        EXPECT_EQ(r.errors.find("not saved"), std::string::npos) << r.errors;
        const LoadResult written = LoadImageFile(out + "/in-repainted.tif");
        ASSERT_TRUE(written.ok) << written.error;
        EXPECT_TRUE(SamePixels(written.image.picture.buf, calm.image.picture.buf));
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"in-repainted.tif"});  // no temporary file left
    }
}

TEST(CliFiles, InterruptDuringARepaintSavesNothingOfThatPicture) {
    ScratchDir dir;
    const PicBufHolder small = Pattern(16, 16, 3, 8), big = Pattern(1500, 1000, 3, 8);
    SaveImageFile(&small.buf, nullptr, dir.File("small.png"), 0, "", -1);
    SaveImageFile(&big.buf, nullptr, dir.File("big.png"), 0, "", -1);
    RunningCli cli("original " + dir.File("small.png") + " " + dir.File("big.png"));
    // The first line reports the small picture saved; the big one is then
    // about to start, being read or being repainted.
    std::string errors;
    EXPECT_NE(cli.Line(errors).find("small-repainted.png"), std::string::npos) << errors;
    kill(cli.pid, SIGINT);
    EXPECT_EQ(cli.Finish(errors), 130) << errors;
    EXPECT_TRUE(errors.find("the picture in progress was not saved") != std::string::npos ||
                errors.find("the remaining 1 input(s) were not repainted") != std::string::npos)
        << errors;
    EXPECT_TRUE(LoadImageFile(dir.File("small-repainted.png")).ok);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.png", "small-repainted.png", "small.png"}));
}
