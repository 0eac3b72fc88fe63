// Saving on a full disk: the old file stays as it was and the failure is
// reported, for every format the program writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "imagefile.h"
#include "small_file_system.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ImageFileSave, FullDiskKeepsTheOldFileAndReportsForEveryFormat) {
    const SmallFileSystemRun run = RunOnSmallFileSystem(320 * 1024, [](const std::string& folder) {
        std::string problems;
        const PicBufHolder small = Pattern(8, 8, 3, 8), noise = Noise(200, 200, 7);
        for (const char* ext : {"bmp", "tif", "png", "jpg"}) {
            const std::string keep = folder + "/keep." + ext, fresh = folder + "/fresh." + ext;
            SaveImageFile(&small.buf, nullptr, keep, 95, "", -1);
            const std::string old = ReadBytes(keep);
            // First a little room, less than the new file needs; then none.
            for (size_t room : {size_t(40000), size_t(0)}) {
                const std::string where = std::string(ext) + " with " + std::to_string(room) + " bytes free: ";
                FillFileSystem(folder);
                fs::resize_file(folder + "/filler", fs::file_size(folder + "/filler") - room);
                for (const std::string& target : {keep, fresh}) {
                    try {
                        SaveImageFile(&noise.buf, nullptr, target, 95, "", -1);
                        problems += where + "saving " + target + " reported success\n";
                    } catch (const ImageWriteError& e) {
                        if (std::string(e.what()).find("No space") == std::string::npos)
                            problems += where + "unclear reason: " + e.what() + "\n";
                    }
                }
                if (ReadBytes(keep) != old) problems += where + "the old file changed\n";
                const LoadResult back = LoadImageFile(keep);
                if (!back.ok || back.image.picture.buf.width != 8) problems += where + "the old file is unreadable\n";
                if (Names(folder) != std::vector<std::string>{"filler", std::string("keep.") + ext})
                    problems += where + "a new or temporary file was left behind\n";
                fs::remove(folder + "/filler");
            }
            // With the room back, the same save goes through.
            try {
                SaveImageFile(&noise.buf, nullptr, keep, 95, "", -1);
                if (LoadImageFile(keep).image.picture.buf.width != 200) problems += std::string(ext) + ": bad save\n";
            } catch (const std::exception& e) {
                problems += std::string(ext) + ": save with room failed: " + e.what() + "\n";
            }
            fs::remove(keep);
        }
        return problems;
    });
    if (!run.ran) GTEST_SKIP() << run.skipped;
    EXPECT_EQ(run.failures, "");
}

// The decoder servers started here stay with this process: a forked copy in a
// mount namespace of its own starts its own, which see the files it sees.
TEST(ImageFileLoad, AForkedCopyReadsWhatOnlyItCanSee) {
    const std::string here = fs::temp_directory_path() / "quorvane-fork-parent.jpg";
    const PicBufHolder small = Pattern(8, 8, 3, 8);
    SaveImageFile(&small.buf, nullptr, here, 95, "", -1);
    ASSERT_TRUE(LoadImageFile(here).ok);  // a server of this process is now idle
    const SmallFileSystemRun run = RunOnSmallFileSystem(1024 * 1024, [&](const std::string& folder) {
        const std::string there = folder + "/only-here.jpg";
        SaveImageFile(&small.buf, nullptr, there, 95, "", -1);
        const LoadResult back = LoadImageFile(there);
        return back.ok && back.image.picture.buf.width == 8 ? std::string() : "not read: " + back.error;
    });
    EXPECT_TRUE(LoadImageFile(here).ok);  // and this process's servers still answer
    fs::remove(here);
    if (!run.ran) GTEST_SKIP() << run.skipped;
    EXPECT_EQ(run.failures, "");
}
