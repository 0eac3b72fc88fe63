// Files are decoded in a child process: whatever the decoder does, the caller
// gets the picture the decoder saw or a refusal, in bounded time.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "decoded_image.h"
#include "imagefile.h"
#include "platform.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Sets the decoder's test fault for the life of a scope.
struct DecoderFault {
    explicit DecoderFault(const char* fault) {
        if (*fault) setenv("QUORVANE_DECODE_TEST_FAULT", fault, 1);
    }
    ~DecoderFault() { unsetenv("QUORVANE_DECODE_TEST_FAULT"); }
};

std::string SavedPattern(const ScratchDir& dir, const std::string& name, int components, int bits, bool alpha) {
    PicBufHolder pic = Pattern(23, 17, components, bits);
    PicBufHolder a = Pattern(23, 17, 1, bits);
    SaveImageFile(&pic.buf, alpha ? &a.buf : nullptr, dir.File(name), 0, "", -1);
    return dir.File(name);
}

// The bytes a decoding child leaves for `image`: header, then the pixel areas.
std::string Encoded(const PictureAndAlpha& image) {
    const SBxPicBuf& pic = image.picture.buf;
    PictureLayout layout;
    layout.width = pic.width, layout.height = pic.height, layout.components = pic.components, layout.bits = pic.bits;
    layout.alpha = !image.alpha.Empty();
    const DecodedImageHeader h = DecodedImageLayout(layout);
    std::string bytes(size_t(DecodedImageSize(h)), '\0');
    std::memcpy(&bytes[0], &h, sizeof h);
    std::memcpy(&bytes[size_t(h.pictureOffset)], pic.pixels, size_t(h.pictureBytes));
    if (layout.alpha) std::memcpy(&bytes[size_t(h.alphaOffset)], image.alpha.buf.pixels, size_t(h.alphaBytes));
    return bytes;
}

// A shared result holding `bytes`, as the child's would; `fd` is its descriptor.
SharedResult Holding(const std::string& bytes, int* fd = nullptr) {
    const int made = CreateSharedMemoryFile();
    EXPECT_GE(made, 0);
    EXPECT_TRUE(bytes.empty() || WriteSharedMemoryFile(made, 0, bytes.data(), bytes.size()));
    if (fd) *fd = made;
    return SharedResult(made);
}

DecodedImageHeader HeaderOf(const std::string& bytes) {
    DecodedImageHeader h;
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

void SetHeader(std::string& bytes, const DecodedImageHeader& h) { std::memcpy(&bytes[0], &h, sizeof h); }

}  // namespace

TEST(ContainedDecoding, EveryLayoutArrivesAsTheDecoderSawIt) {
    ScratchDir dir;
    struct Case {
        const char* name;
        int components, bits;
        bool alpha;
    };
    // Read from the decoder's memory, and through the result file as where
    // the system forbids that.
    for (const char* transport : {"", "shared-only"}) {
        DecoderFault through(transport);
        for (const Case& c : {Case{"g8.png", 1, 8, false}, Case{"c8.bmp", 3, 8, false}, Case{"a8.png", 3, 8, true},
                              Case{"g16.tif", 1, 16, false}, Case{"c16.png", 3, 16, false},
                              Case{"a16.tif", 3, 16, true}, Case{"c8.jpg", 3, 8, false}}) {
            SCOPED_TRACE(std::string(c.name) + " " + transport);
            const std::string path = SavedPattern(dir, c.name, c.components, c.bits, c.alpha);
            // A caller that could give up, but does not.
            LoadControl patient;
            patient.cancelled = [] { return false; };
            LoadResult contained = LoadImageFile(path, patient);
            LoadResult direct = DecodeImageFile(path);
            ASSERT_TRUE(contained.ok) << contained.error;
            EXPECT_FALSE(contained.damaged || contained.cancelled);
            ASSERT_TRUE(direct.ok);
            EXPECT_TRUE(SamePixels(contained.image.picture.buf, direct.image.picture.buf));
            EXPECT_EQ(contained.image.alpha.Empty(), !c.alpha);
            if (c.alpha) {
                EXPECT_TRUE(SamePixels(contained.image.alpha.buf, direct.image.alpha.buf));
            }
        }
    }
}

// The decoder names where its rows lie; a lie costs the file, not the program.
TEST(ContainedDecoding, RowsThatAreNotWhereTheDecoderSaysAreRefused) {
    ScratchDir dir;
    const std::string path = SavedPattern(dir, "liar.png", 3, 8, true);
    DecoderFault misplace("misplace");
    LoadResult r = LoadImageFile(path);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.damaged);
    EXPECT_EQ(int(r.failure), int(LoadFailure::Damaged));
    EXPECT_TRUE(r.image.picture.Empty());
    EXPECT_TRUE(r.image.alpha.Empty());
}

TEST(ContainedDecoding, RefusalsCarryTheDecodersReason) {
    ScratchDir dir;
    WriteBytes(dir.File("notes.jpg"), "these are not the bytes of a picture\n");
    LoadResult r = LoadImageFile(dir.File("notes.jpg"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.damaged);
    EXPECT_EQ(int(r.failure), int(LoadFailure::Unsupported));
    EXPECT_EQ(r.error, "not a BMP, PNG, JPEG, TIFF or PNM file") << "the kind travels apart from the words";
    LoadResult missing = LoadImageFile(dir.File("absent.png"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(int(missing.failure), int(LoadFailure::Missing));
    EXPECT_FALSE(missing.error.empty());
    // A picture cut short is damaged, whichever decoder notices.
    const std::string cut = SavedPattern(dir, "cut.png", 3, 8, false);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    EXPECT_EQ(int(LoadImageFile(cut).failure), int(LoadFailure::Damaged));
}

TEST(ContainedDecoding, CrashHangOrEndlessAllocationEndsAsRefusalWithinTheLimit) {
    ScratchDir dir;
    const std::string path = SavedPattern(dir, "fine.png", 3, 8, false);
    LoadControl control;
    control.limits.wallMilliseconds = 1500;
    control.limits.addressSpaceBytes = uint64_t(1) << 30;
    for (const char* fault : {"crash", "hang", "allocate"}) {
        SCOPED_TRACE(fault);
        DecoderFault misbehave(fault);
        const auto start = Clock::now();
        LoadResult r = LoadImageFile(path, control);
        const double seconds = SecondsSince(start);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.damaged) << r.error;
        EXPECT_EQ(int(r.failure), int(LoadFailure::Damaged));
        std::printf("%s: %s after %.2f s\n", fault, r.error.c_str(), seconds);
        EXPECT_TRUE(r.image.picture.Empty());
        EXPECT_LT(seconds, 3.0);
        if (std::strcmp(fault, "hang") == 0) {
            EXPECT_GE(seconds, 1.4) << "killed before its time was up";
        }
    }
    // The same file decodes once the decoder behaves.
    EXPECT_TRUE(LoadImageFile(path, control).ok);
}

TEST(ContainedDecoding, FaultsAreConfinedToTheFileThatCausesThem) {
    ScratchDir dir;
    const std::string good = SavedPattern(dir, "good.png", 3, 8, false);
    const std::string poison = SavedPattern(dir, "poison.png", 3, 8, false);
    DecoderFault misbehave("crash:poison");
    EXPECT_TRUE(LoadImageFile(good).ok);
    EXPECT_TRUE(LoadImageFile(poison).damaged);
    EXPECT_TRUE(LoadImageFile(good).ok);
}

TEST(ContainedDecoding, CancellingStopsTheDecoderPromptly) {
    ScratchDir dir;
    const std::string path = SavedPattern(dir, "fine.png", 3, 8, false);
    DecoderFault misbehave("hang");
    const auto start = Clock::now();
    LoadControl control;
    control.cancelled = [&] { return SecondsSince(start) > 0.2; };
    LoadResult r = LoadImageFile(path, control);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.damaged);
    EXPECT_LT(SecondsSince(start), 1.0);
}

// Inputs that made a decoding library fail under the fuzzer (kept in
// tests/data/fuzz) are refused, or decoded to a sound picture, in bounded time.
TEST(ContainedDecoding, InputsThatBrokeTheDecodersAreHandledSafely) {
    const std::filesystem::path folder = std::filesystem::path(QUORVANE_SOURCE_DIR) / "tests/data/fuzz";
    int files = 0;
    LoadControl control;
    control.limits.wallMilliseconds = 10000;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const auto start = Clock::now();
        LoadResult r = LoadImageFile(entry.path().string(), control);
        EXPECT_LT(SecondsSince(start), 11.0);
        if (r.ok) {
            EXPECT_GT(r.image.picture.buf.width, 0);
            EXPECT_NE(r.image.picture.buf.pixels, nullptr);
        }
    }
    EXPECT_GT(files, 0);
}

TEST(ContainedDecoding, LoadsFromSeveralThreadsAtOnce) {
    ScratchDir dir;
    const std::string path = SavedPattern(dir, "shared.png", 3, 16, true);
    const LoadResult reference = DecodeImageFile(path);
    std::vector<int> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                LoadResult r = LoadImageFile(path);
                ok[t] += r.ok && SamePixels(r.image.picture.buf, reference.image.picture.buf);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(ok, std::vector<int>(4, 5));
}

// A decoder started earlier reads a relative path from where the caller is now.
TEST(ContainedDecoding, RelativePathsMeanWhatTheyMeanToTheCaller) {
    ScratchDir dir;
    SavedPattern(dir, "here.png", 3, 8, false);
    const std::filesystem::path before = std::filesystem::current_path();
    ASSERT_TRUE(LoadImageFile(dir.File("here.png")).ok);
    std::filesystem::current_path(std::filesystem::path(dir.File("here.png")).parent_path());
    LoadResult r = LoadImageFile("here.png");
    std::filesystem::current_path(before);
    EXPECT_TRUE(r.ok) << r.error;
}

// The decoder processes this test process started and that still run.
std::vector<int> DecoderProcesses() {
    std::vector<int> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close == std::string::npos || line.find("(quorvane-decode)") == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        std::istringstream(line.substr(close + 1)) >> state >> parent;
        if (parent == ThisProcessId() && state != 'Z') pids.push_back(std::stoi(name));
    }
    return pids;
}

// Decoders waiting between files may die; the next file is decoded all the same.
TEST(ContainedDecoding, ADecoderThatDiedBetweenFilesIsReplaced) {
    ScratchDir dir;
    const std::string path = SavedPattern(dir, "again.png", 3, 8, false);
    const double before = ChildrenProcessorSeconds();
    ASSERT_TRUE(LoadImageFile(path).ok);
    EXPECT_GT(ChildrenProcessorSeconds(), before) << "the decoder's processor time is not counted";
    const std::vector<int> waiting = DecoderProcesses();
    EXPECT_EQ(waiting.empty(), !ContainedDecodersWait()) << "no decoder waits between files";
    for (int pid : waiting) kill(pid, SIGKILL);
    const auto start = Clock::now();
    LoadResult r = LoadImageFile(path);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_LT(SecondsSince(start), 2.0);
    // One killed in the middle of a file costs that file only, at once.
    DecoderFault misbehave("hang");
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int pid : DecoderProcesses()) kill(pid, SIGKILL);
    });
    const auto hung = Clock::now();
    LoadControl control;
    control.limits.wallMilliseconds = 20000;
    r = LoadImageFile(path, control);
    killer.join();
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.damaged);
    EXPECT_LT(SecondsSince(hung), 5.0);
}

TEST(DecodedImageTransfer, ForgedOrShortResultsAreRefused) {
    PictureAndAlpha image;
    image.picture = Pattern(5, 4, 3, 16);
    image.alpha = Pattern(5, 4, 1, 16);
    const std::string sound = Encoded(image);
    PictureAndAlpha back;
    std::string why;
    ASSERT_EQ(int(ReadDecodedImage(Holding(sound), back, why)), int(LoadFailure::None)) << why;
    EXPECT_TRUE(SamePixels(back.picture.buf, image.picture.buf));
    EXPECT_TRUE(SamePixels(back.alpha.buf, image.alpha.buf));

    auto refused = [&](const std::string& bytes) {
        PictureAndAlpha out;
        std::string reason;
        const bool ok = ReadDecodedImage(Holding(bytes), out, reason) == LoadFailure::None;
        return !ok && !reason.empty() && out.picture.Empty() && out.alpha.Empty();
    };
    EXPECT_TRUE(refused(sound.substr(0, sound.size() - 1))) << "one byte short";
    EXPECT_TRUE(refused(sound.substr(0, sizeof(DecodedImageHeader) - 1))) << "header cut";
    EXPECT_TRUE(refused(""));

    using Forge = void (*)(DecodedImageHeader&);
    const Forge forgeries[] = {
        [](DecodedImageHeader& h) { h.magic[0] = 'X'; },
        [](DecodedImageHeader& h) { h.width = 0; },
        [](DecodedImageHeader& h) { h.height = 0; },
        [](DecodedImageHeader& h) { h.components = 2; },
        [](DecodedImageHeader& h) { h.components = 4; },
        [](DecodedImageHeader& h) { h.bits = 32; },
        [](DecodedImageHeader& h) { h.hasAlpha = 2; },
        [](DecodedImageHeader& h) { h.hasAlpha = 0; },
        [](DecodedImageHeader& h) { h.pictureBytes -= 1; },
        [](DecodedImageHeader& h) { h.alphaBytes += 2; },
        // Areas out of place: over the header, over each other, off the page boundaries.
        [](DecodedImageHeader& h) { h.pictureOffset = 0; },
        [](DecodedImageHeader& h) { h.alphaOffset = h.pictureOffset; },
        [](DecodedImageHeader& h) { h.pictureOffset += 8; },
        // Claims that only overflow would make fit the bytes sent.
        [](DecodedImageHeader& h) { h.width = 1u << 16, h.height = 1u << 16; },
        [](DecodedImageHeader& h) { h.width = 0xffffffffu; },
    };
    for (size_t i = 0; i < std::size(forgeries); ++i) {
        std::string forged = sound;
        DecodedImageHeader h = HeaderOf(forged);
        forgeries[i](h);
        SetHeader(forged, h);
        EXPECT_TRUE(refused(forged)) << "forgery " << i;
    }
}

// The program maps the pixels it takes: nobody may change or shorten them
// afterwards (shortening would make reading the mapping fatal), and a result
// that someone can still write to is not taken at all.
TEST(DecodedImageTransfer, PixelsTakenCannotBeChangedBehindTheProgramsBack) {
    PictureAndAlpha image;
    image.picture = Pattern(300, 200, 3, 8);
    const std::string sound = Encoded(image);
    int fd = -1;
    SharedResult result = Holding(sound, &fd);
    PictureAndAlpha back;
    std::string why;
    ASSERT_EQ(int(ReadDecodedImage(result, back, why)), int(LoadFailure::None)) << why;
    EXPECT_FALSE(ResizeSharedMemoryFile(fd, 0));
    EXPECT_FALSE(WriteSharedMemoryFile(fd, HeaderOf(sound).pictureOffset, "x", 1));
    EXPECT_TRUE(SamePixels(back.picture.buf, image.picture.buf));
    // The program's own changes stay its own.
    back.picture.buf.pixels[0] ^= 0xff;
    char first = 0;
    ASSERT_TRUE(result.Read(HeaderOf(sound).pictureOffset, &first, 1));
    EXPECT_EQ(uint8_t(first), image.picture.buf.pixels[0]);

    int other = -1;
    SharedResult inUse = Holding(sound, &other);
    unsigned char* writer = MapSharedMemoryFile(other, 0, sound.size(), MapUse::Fill);
    ASSERT_NE(writer, nullptr);
    PictureAndAlpha refused;
    EXPECT_EQ(int(ReadDecodedImage(inUse, refused, why)), int(LoadFailure::Damaged));
    EXPECT_TRUE(refused.picture.Empty());
    UnmapMemory(writer, sound.size());
}
