#include <FreeImage.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "../imagefile/tagged_files.h"
#include "../imagefile/test_files.h"
#include "imagefile.h"
#include "metadata.h"
#include "options.h"
#include "original_params.h"
#include "output_names.h"

namespace fs = std::filesystem;

namespace {

// Runs quorvane-cli with `args`; returns its exit status.
int RunCli(const std::string& args) {
    const std::string cmd = std::string(QUORVANE_CLI) + " " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs quorvane-cli with `args`; returns what it wrote to stderr.
std::string CliMessages(const std::string& args) {
    const std::string cmd = std::string(QUORVANE_CLI) + " " + args + " 2>&1 >/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    return out;
}

std::vector<std::string> Args(std::initializer_list<const char*> a) { return {a.begin(), a.end()}; }

}  // namespace

TEST(CliOptions, DefaultsValuesAndRefusals) {
    CliOptions o = ParseCommandLine(Args({"original", "a.png"}));
    EXPECT_EQ(o.positions, (std::vector<int>{14, 5, 4, 5, 1, 1}));
    o = ParseCommandLine(Args({"original", "--smoothness", "3", "--weak-edges=0", "--no-sharpening", "-o", "x",
                               "--quality", "55", "a.png", "b.png"}));
    EXPECT_EQ(o.positions, (std::vector<int>{3, 0, 4, 5, 1, 0}));
    EXPECT_EQ(o.output, "x");
    EXPECT_EQ(o.quality, 55);
    EXPECT_EQ(o.inputs.size(), 2u);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--smoothness", "21", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--weak-edges", "-1", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--smoothness", "4x", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--quality", "5", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--format", "gif", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original", "--bogus", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"watercolour", "a.png"})), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine(Args({"original"})), std::invalid_argument);
    try {
        ParseCommandLine(Args({"original", "--smoothness", "0", "a.png"}));
        FAIL() << "a smoothness of 0 was taken";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("1 to 20"), std::string::npos);
    }
    EXPECT_TRUE(ParseCommandLine(Args({"--help"})).help);
}

TEST(CliOutput, NamesAndFormats) {
    PicBufHolder eight, sixteen;
    CBxPicBufAPI::ReinitHeap(eight.buf, 2, 2, 3, 8);
    CBxPicBufAPI::ReinitHeap(sixteen.buf, 2, 2, 3, 16);
    EXPECT_EQ(ChooseOutputFormat(-1, "p/cat.jpg", eight.buf), kFormatJpeg);
    EXPECT_EQ(ChooseOutputFormat(-1, "p/cat.gif", eight.buf), kFormatPng);
    EXPECT_EQ(ChooseOutputFormat(-1, "p/cat.bmp", sixteen.buf), kFormatPng);
    EXPECT_EQ(ChooseOutputFormat(-1, "p/cat.tif", sixteen.buf), kFormatTiff);
    EXPECT_EQ(DefaultOutputPath("p/cat.JPG", "", kFormatJpeg), "p/cat-repainted.JPG");
    EXPECT_EQ(DefaultOutputPath("p/cat.gif", "out", kFormatPng), "out/cat-repainted.png");
    EXPECT_EQ(DefaultOutputPath("noext", "", kFormatPng), "noext-repainted.png");
}

TEST(CliRun, RepaintsKeepsAlphaAndMetadataAndReportsFailures) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(24, 20, 3, 8), alpha = Pattern(24, 20, 1, 8);
    SaveImageFile(&pic.buf, &alpha.buf, dir.File("in.png"), 0, "", -1);
    WriteBytes(dir.File("bad.png"), "this is no picture");

    EXPECT_EQ(RunCli("original --quiet --smoothness 2 " + dir.File("in.png")), 0);
    LoadResult out = LoadImageFile(dir.File("in-repainted.png"));
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(SamePixels(out.image.alpha.buf, alpha.buf));
    EXPECT_FALSE(SamePixels(out.image.picture.buf, pic.buf));

    // One bad file does not stop the batch; the exit code says so.
    fs::create_directory(dir.File("out"));
    EXPECT_EQ(RunCli("original --quiet --smoothness 2 -o " + dir.File("out") + " " + dir.File("bad.png") + " " +
                     dir.File("in.png")),
              1);
    EXPECT_TRUE(fs::exists(dir.File("out/in-repainted.png")));
    EXPECT_EQ(RunCli("original --quiet " + dir.File("missing.png")), 1);
    // Two inputs of the same name from different folders: the second is not written over the first.
    fs::create_directory(dir.File("other"));
    fs::copy_file(dir.File("in.png"), dir.File("other/in.png"));
    EXPECT_EQ(RunCli("original --quiet --smoothness 1 -o " + dir.File("out") + " " + dir.File("in.png") + " " +
                     dir.File("other/in.png")),
              1);
    EXPECT_EQ(RunCli("original --smoothness 99 " + dir.File("in.png")), 2);
    // Never overwrites its input.
    const std::string before = ReadBytes(dir.File("in.png"));
    EXPECT_EQ(RunCli("original --quiet -o " + dir.File("in.png") + " " + dir.File("in.png")), 1);
    EXPECT_EQ(ReadBytes(dir.File("in.png")), before);
    // 16-bit pictures go into JPEG at 8 bits and keep their depth in TIFF.
    PicBufHolder deep = Pattern(16, 16, 3, 16);
    SaveImageFile(&deep.buf, nullptr, dir.File("deep.tif"), 0, "", -1);
    EXPECT_EQ(RunCli("original --quiet --format jpg " + dir.File("deep.tif")), 0);
    EXPECT_EQ(LoadImageFile(dir.File("deep-repainted.jpg")).image.picture.buf.bits, 8);
    EXPECT_EQ(RunCli("original --quiet --smoothness 1 " + dir.File("deep.tif")), 0);
    EXPECT_EQ(LoadImageFile(dir.File("deep-repainted.tif")).image.picture.buf.bits, 16);
}

TEST(CliRun, MetadataAndColourProfileTravelWithTheResult) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("photo.tif"));
    ASSERT_EQ(RunCli("redraw --quiet " + dir.File("photo.tif")), 0);
    const FileTags before = ReadTags(dir.File("photo.tif")), after = ReadTags(dir.File("photo-repainted.tif"));
    EXPECT_EQ(after.icc, before.icc);
    for (const auto& [key, value] : kCameraTags) EXPECT_EQ(after.values.at(key), before.values.at(key)) << key;
    // BMP has no room for them: said once per run, and the pictures are written.
    fs::create_directory(dir.File("bmp"));
    fs::copy_file(dir.File("photo.tif"), dir.File("second.tif"));
    const std::string said = CliMessages("smudge --quiet --format bmp -o " + dir.File("bmp") + " " +
                                         dir.File("photo.tif") + " " + dir.File("second.tif"));
    EXPECT_NE(said.find("BMP files hold no metadata"), std::string::npos) << said;
    EXPECT_EQ(said.find("BMP files hold no metadata"), said.rfind("BMP files hold no metadata"));
    EXPECT_TRUE(LoadImageFile(dir.File("bmp/photo-repainted.bmp")).ok);
    EXPECT_TRUE(LoadImageFile(dir.File("bmp/second-repainted.bmp")).ok);
    // Nothing else is said about the tags.
    EXPECT_EQ(CliMessages("smudge --quiet --format png -o " + dir.File("bmp") + " " + dir.File("photo.tif")), "");
}

TEST(CliRun, ACrashingDecoderRefusesOnlyItsFileAndTheBatchGoesOn) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(20, 16, 3, 8);
    for (const char* name : {"a.png", "poison.png", "b.png"}) SaveImageFile(&pic.buf, nullptr, dir.File(name), 0, "", -1);
    setenv("QUORVANE_DECODE_TEST_FAULT", "crash:poison", 1);
    const int code = RunCli("smudge --quiet " + dir.File("a.png") + " " + dir.File("poison.png") + " " + dir.File("b.png"));
    unsetenv("QUORVANE_DECODE_TEST_FAULT");
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(LoadImageFile(dir.File("a-repainted.png")).ok);
    EXPECT_TRUE(LoadImageFile(dir.File("b-repainted.png")).ok);
    EXPECT_FALSE(fs::exists(dir.File("poison-repainted.png")));
}

TEST(CliRun, InterruptWhileAFileIsReadEndsTheRun) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(20, 16, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("slow.png"), 0, "", -1);
    setenv("QUORVANE_DECODE_TEST_FAULT", "hang", 1);
    const std::string cmd = "timeout --preserve-status -s TERM 1 " + std::string(QUORVANE_CLI) + " original --quiet " +
                            dir.File("slow.png") + " >/dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(cmd.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    unsetenv("QUORVANE_DECODE_TEST_FAULT");
    // Whether the signal lands while the decoder is awaited (our handler: 130) or
    // before the handler is installed (default action, which timeout reports as
    // 128 + SIGTERM), the run must end instead of waiting on the hung decoder.
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 130 || code == 128 + SIGTERM) << code;
    EXPECT_LT(seconds, 5.0) << "the interrupt waited for the decoder's time limit";
}

TEST(CliRecipe, ALikeRunReproducesTheResultAndExplicitOptionsWin) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("in.png"), 0, "", -1);
    fs::create_directory(dir.File("first"));
    fs::create_directory(dir.File("second"));
    fs::create_directory(dir.File("plain"));
    ASSERT_EQ(RunCli("redraw --quiet --details 77 --cut 12 --colors rough -o " + dir.File("first") + " " +
                     dir.File("in.png")),
              0);
    const std::string first = dir.File("first/in-repainted.png");
    ASSERT_EQ(RunCli("redraw --quiet --like " + first + " -o " + dir.File("second") + " " + dir.File("in.png")), 0);
    ASSERT_EQ(RunCli("redraw --quiet -o " + dir.File("plain") + " " + dir.File("in.png")), 0);
    const SBxPicBuf& a = LoadImageFile(first).image.picture.buf;
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("second/in-repainted.png")).image.picture.buf, a));
    EXPECT_FALSE(SamePixels(LoadImageFile(dir.File("plain/in-repainted.png")).image.picture.buf, a));

    const std::vector<int> liked = ParseCommandLine({"redraw", "--like", first, "x.png"}).positions;
    std::vector<int> expected = ParseCommandLine({"redraw", "--details", "77", "--cut", "12", "--colors", "rough",
                                                  "x.png"}).positions;
    EXPECT_EQ(liked, expected);
    // An explicit option wins wherever it stands.
    const std::vector<int> mixed = ParseCommandLine({"redraw", "--details", "5", "--like", first, "x.png"}).positions;
    EXPECT_EQ(mixed, ParseCommandLine({"redraw", "--details", "5", "--cut", "12", "--colors", "rough", "x.png"})
                         .positions);
    EXPECT_THROW(ParseCommandLine({"smudge", "--like", first, "x.png"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"redraw", "--like", dir.File("in.png"), "x.png"}), std::invalid_argument);
    EXPECT_THROW(ParseCommandLine({"redraw", "--like", dir.File("none.png"), "x.png"}), std::invalid_argument);
}

// The recipe is read from a user's file like every other parse of one: in the
// decoder process. A file that crashes that reader ends the run with a clear
// error and exit code 2, never with a crash of the command.
TEST(CliRecipe, AHostileLikePictureIsReadInTheDecoderAndRefused) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("in.png"), 0, "", -1);
    ASSERT_EQ(RunCli("redraw --quiet --details 77 " + dir.File("in.png")), 0);
    fs::copy_file(dir.File("in-repainted.png"), dir.File("hostile.png"));
    const std::string like = "redraw --quiet --like " + dir.File("hostile.png") + " -o " + dir.File("out.png") + " " +
                             dir.File("in.png");
    ASSERT_EQ(RunCli(like), 0) << "the recipe is readable while the reader behaves";
    fs::remove(dir.File("out.png"));

    setenv("QUORVANE_DECODE_TEST_FAULT", "crash:hostile", 1);
    const std::string messages = CliMessages(like);
    EXPECT_EQ(RunCli(like), 2);
    EXPECT_THROW(ParseCommandLine({"redraw", "--like", dir.File("hostile.png").c_str(), "x.png"}),
                 std::invalid_argument);
    unsetenv("QUORVANE_DECODE_TEST_FAULT");
    EXPECT_NE(messages.find("hostile.png cannot be read: the decoder crashed"), std::string::npos) << messages;
    EXPECT_FALSE(fs::exists(dir.File("out.png")));
}

TEST(CliRecipe, SettingsOfTheDesktopProgramAreTakenReadOnly) {
    ScratchDir dir;
    fs::create_directories(dir.File("Quorvane"));
    const std::string file = dir.File("Quorvane/Quorvane.txt");
    WriteBytes(file, "[General]\nCrashed Last Time=0\nuiSmoothAlpha=9\nuiRelaxation=99\nuiDoLoG=0\n");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const std::vector<int> stored = ParseCommandLine({"original", "--settings", "x.png"}).positions;
    const std::vector<int> overridden =
        ParseCommandLine({"original", "--weak-edges", "3", "--settings", "x.png"}).positions;
    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
    // Keys absent from the file take the desktop program's own defaults; out
    // of range values are brought into range.
    EXPECT_EQ(stored[kSmoothAlpha], 9);
    EXPECT_EQ(stored[kRelaxation], kOriginalSpecs[kRelaxation].max);
    EXPECT_EQ(stored[kDoLoG], 0);
    EXPECT_EQ(stored[kFlatten], kOriginalSpecs[kFlatten].firstRunDefault);
    EXPECT_EQ(overridden[kRelaxation], 3);
    EXPECT_EQ(overridden[kSmoothAlpha], 9);
    EXPECT_EQ(ReadBytes(file), "[General]\nCrashed Last Time=0\nuiSmoothAlpha=9\nuiRelaxation=99\nuiDoLoG=0\n");
}
