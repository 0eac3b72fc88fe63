#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>
#include <sstream>

#include "platform.h"
#include "small_file_system.h"

namespace fs = std::filesystem;

namespace {

class Folder {
public:
    Folder() {
        char name[] = "/tmp/quorvane-platform-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~Folder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char('a' + i * 7 % 26);
    return s;
}

}  // namespace

TEST(SafeWrite, CreatesAndReplacesWholeFilesKeepingModeAndLinks) {
    Folder dir;
    std::string why;
    ASSERT_TRUE(WriteFileSafely(dir.File("new.txt"), "fresh", 5, why)) << why;
    EXPECT_EQ(Read(dir.File("new.txt")), "fresh");
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(Mode(dir.File("new.txt")), 0666u & ~mask);

    // Replacing keeps the permissions the user gave the file.
    chmod(dir.File("new.txt").c_str(), 0640);
    const std::string big = Bytes(300000);
    ASSERT_TRUE(WriteFileSafely(dir.File("new.txt"), big.data(), big.size(), why)) << why;
    EXPECT_EQ(Read(dir.File("new.txt")), big);
    EXPECT_EQ(Mode(dir.File("new.txt")), 0640u);

    // A link keeps pointing at the file, which gets the new contents.
    fs::create_symlink("new.txt", dir.File("link.txt"));
    ASSERT_TRUE(WriteFileSafely(dir.File("link.txt"), "via link", 8, why)) << why;
    EXPECT_TRUE(fs::is_symlink(dir.File("link.txt")));
    EXPECT_EQ(Read(dir.File("new.txt")), "via link");

    // An empty file is a valid result too, and nothing is left beside it.
    ASSERT_TRUE(WriteFileSafely(dir.File("empty"), "", 0, why)) << why;
    EXPECT_EQ(Read(dir.File("empty")), "");
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"empty", "link.txt", "new.txt"}));
}

TEST(SafeWrite, RefusesWhatItMustNotReplaceAndLeavesItAsItWas) {
    Folder dir;
    std::string why;
    Put(dir.File("locked.txt"), "keep");
    chmod(dir.File("locked.txt").c_str(), 0444);
    EXPECT_FALSE(WriteFileSafely(dir.File("locked.txt"), "new", 3, why));
    EXPECT_NE(why.find("read-only"), std::string::npos) << why;
    EXPECT_EQ(Read(dir.File("locked.txt")), "keep");
    EXPECT_TRUE(IsReadOnlyFile(dir.File("locked.txt")));
    EXPECT_FALSE(IsReadOnlyFile(dir.File("missing.txt")));

    fs::create_directory(dir.File("sub"));
    Put(dir.File("sub/inside"), "x");
    EXPECT_FALSE(WriteFileSafely(dir.File("sub"), "new", 3, why));
    EXPECT_EQ(Read(dir.File("sub/inside")), "x");

    EXPECT_FALSE(WriteFileSafely(dir.File("no/such/folder/f"), "new", 3, why));
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"locked.txt", "sub"}));
}

TEST(SafeWrite, FullDiskLeavesTheOldFileAndReportsTheFailure) {
    const SmallFileSystemRun run = RunOnSmallFileSystem(256 * 1024, [](const std::string& folder) {
        std::string problems, why;
        const std::string target = folder + "/target", fresh = folder + "/fresh";
        const std::string old = Bytes(10000), big = Bytes(200000);
        if (!WriteFileSafely(target, old.data(), old.size(), why)) problems += "first write failed: " + why + "\n";
        // Room for part of the new contents only, then no room at all.
        FillFileSystem(folder);
        fs::resize_file(folder + "/filler", fs::file_size(folder + "/filler") - 100000);
        std::vector<std::string> names{"filler", "target"};
        for (int round = 0; round < 2; ++round) {
            if (WriteFileSafely(target, big.data(), big.size(), why)) problems += "a write on a full disk succeeded\n";
            if (why.find("No space") == std::string::npos) problems += "unclear reason: " + why + "\n";
            if (Read(target) != old) problems += "the old file changed\n";
            if (WriteFileSafely(fresh, big.data(), big.size(), why)) problems += "a new file on a full disk succeeded\n";
            if (fs::exists(fresh)) problems += "a failed new file was left behind\n";
            if (Names(folder) != names) problems += "temporary files left\n";
            FillFileSystem(folder, "filler2");
            names = {"filler", "filler2", "target"};
        }
        return problems;
    });
    if (!run.ran) GTEST_SKIP() << run.skipped;
    EXPECT_EQ(run.failures, "");
}

TEST(SafeWrite, StaleTemporaryFilesOfOursGoWhenTheFolderIsNextWritten) {
    Folder dir;
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const char* name : {".quorvane-Ab12Cd", ".quorvane-Zz99zz", ".quorvane-old", "photo.jpg", ".quorvane-Ab12Cd.x"}) {
        Put(dir.File(name), "left over");
        fs::last_write_time(dir.File(name), twoDaysAgo);
    }
    Put(dir.File(".quorvane-Fresh1"), "being written right now");
    EXPECT_TRUE(IsSafeWriterTemporaryName(".quorvane-Ab12Cd"));
    EXPECT_FALSE(IsSafeWriterTemporaryName(".quorvane-Ab12C"));
    EXPECT_FALSE(IsSafeWriterTemporaryName(".quorvane-Ab12C_"));

    std::string why;
    ASSERT_TRUE(WriteFileSafely(dir.File("result"), "r", 1, why)) << why;
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".quorvane-Ab12Cd.x", ".quorvane-Fresh1", ".quorvane-old",
                                                           "photo.jpg", "result"}));
}

TEST(Interrupts, FirstSignalSetsTheFlagSecondEndsTheProcess) {
    auto childStatus = [](auto work) {
        const pid_t pid = fork();
        if (pid == 0) _exit(work());
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    };
    static std::atomic<bool> flag{false};
    // Caught once: the flag is set and work goes on; the second one ends it.
    int status = childStatus([] {
        CatchInterrupts(flag);
        raise(SIGINT);
        if (!flag.load()) return 3;
        raise(SIGINT);
        return 4;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    status = childStatus([] {
        CatchInterrupts(flag);
        raise(SIGTERM);
        return flag.load() ? 0 : 3;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    status = childStatus([] {
        CatchInterrupts(flag);
        raise(SIGTERM);
        raise(SIGTERM);
        return 5;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

TEST(Places, ConfigurationFolderFollowsXdgAndExecutableFolderIsFound) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = savedXdg ? savedXdg : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(UserConfigFolder(), "/somewhere/config");
    setenv("XDG_CONFIG_HOME", "", 1);
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(UserConfigFolder(), std::string(home) + "/.config");
    }
    if (savedXdg)
        setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");

    EXPECT_TRUE(fs::exists(ExecutableFolder() + "/platform_tests")) << ExecutableFolder();
}

// AddressSanitizer keeps freed blocks in its quarantine, out of malloc_trim's
// reach, so memory freed there stays resident.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kFreedMemoryStaysResident = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kFreedMemoryStaysResident = true;
#else
constexpr bool kFreedMemoryStaysResident = false;
#endif
#else
constexpr bool kFreedMemoryStaysResident = false;
#endif

TEST(Measurements, ProcessorTimeAndPeakMemoryFollowTheWorkAndTheBusyProcessEnds) {
    const double before = ProcessorSeconds();
    volatile double sink = 0;
    for (long i = 0; ProcessorSeconds() - before < 0.05 && i < 2000000000L; ++i) sink = sink + 1;
    EXPECT_GE(ProcessorSeconds() - before, 0.05);

    const long peak = PeakResidentKilobytes();
    ASSERT_GT(peak, 0);
    {
        std::vector<char> touched(size_t(96) << 20, 1);
        EXPECT_GE(PeakResidentKilobytes(), peak + 90 * 1024);
        EXPECT_EQ(touched[touched.size() / 2], 1);
    }
    ResetPeakResident();
    if (kFreedMemoryStaysResident) {
        std::printf("not checked under AddressSanitizer: the peak after a reset (freed memory stays resident)\n");
    } else {
        EXPECT_LT(PeakResidentKilobytes(), peak + 90 * 1024);
    }

    int pid = -1;
    {
        BusyProcess busy;
        ASSERT_TRUE(busy.Running());
        pid = busy.Id();
        EXPECT_EQ(kill(pid, 0), 0);
    }
    EXPECT_NE(kill(pid, 0), 0);  // killed and reaped, no zombie left

    // Standard error sent to a file: progress must not redraw lines there.
    Folder folder;
    const int saved = dup(STDERR_FILENO);
    const int file = open((folder.Path() + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
    dup2(file, STDERR_FILENO);
    const bool terminal = StandardErrorIsTerminal();
    dup2(saved, STDERR_FILENO);
    close(file);
    close(saved);
    EXPECT_FALSE(terminal);
}
