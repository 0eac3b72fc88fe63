// Files are decoded in a child process: whatever the decoder does, the caller
// gets the picture the decoder saw or a refusal, in bounded time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "decoded_image.h"
#include "imagefile.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Sets the decoder's test fault for the life of a scope.
struct DecoderFault {
    explicit DecoderFault(const char* fault) { setenv("QUORVANE_DECODE_TEST_FAULT", fault, 1); }
    ~DecoderFault() { unsetenv("QUORVANE_DECODE_TEST_FAULT"); }
};

std::string SavedPattern(const ScratchDir& dir, const std::string& name, int components, int bits, bool alpha) {
    PicBufHolder pic = Pattern(23, 17, components, bits);
    PicBufHolder a = Pattern(23, 17, 1, bits);
    SaveImageFile(&pic.buf, alpha ? &a.buf : nullptr, dir.File(name), 0, "", -1);
    return dir.File(name);
}

std::vector<uint8_t> Encoded(const PictureAndAlpha& image) {
    std::vector<uint8_t> bytes;
    WriteDecodedImage(image, [&](const void* data, size_t size) {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    });
    return bytes;
}

// Reads `bytes` back as a picture whose result claims to be `size` bytes long.
bool Decoded(const std::vector<uint8_t>& bytes, size_t size, PictureAndAlpha& out, std::string& why) {
    auto source = [&](uint64_t offset, void* data, size_t n) {
        if (offset > bytes.size() || n > bytes.size() - offset) return false;
        std::memcpy(data, bytes.data() + offset, n);
        return true;
    };
    return ReadDecodedImage(source, size, out, why) == LoadFailure::None;
}

DecodedImageHeader HeaderOf(const std::vector<uint8_t>& bytes) {
    DecodedImageHeader h;
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

void SetHeader(std::vector<uint8_t>& bytes, const DecodedImageHeader& h) { std::memcpy(bytes.data(), &h, sizeof h); }

}  // namespace

TEST(ContainedDecoding, EveryLayoutArrivesAsTheDecoderSawIt) {
    ScratchDir dir;
    struct Case {
        const char* name;
        int components, bits;
        bool alpha;
    };
    for (const Case& c : {Case{"g8.png", 1, 8, false}, Case{"c8.bmp", 3, 8, false}, Case{"a8.png", 3, 8, true},
                          Case{"g16.tif", 1, 16, false}, Case{"c16.png", 3, 16, false}, Case{"a16.tif", 3, 16, true},
                          Case{"c8.jpg", 3, 8, false}}) {
        SCOPED_TRACE(c.name);
        const std::string path = SavedPattern(dir, c.name, c.components, c.bits, c.alpha);
        LoadResult contained = LoadImageFile(path);
        LoadResult direct = DecodeImageFile(path);
        ASSERT_TRUE(contained.ok) << contained.error;
        ASSERT_TRUE(direct.ok);
        EXPECT_TRUE(SamePixels(contained.image.picture.buf, direct.image.picture.buf));
        EXPECT_EQ(contained.image.alpha.Empty(), !c.alpha);
        if (c.alpha) {
            EXPECT_TRUE(SamePixels(contained.image.alpha.buf, direct.image.alpha.buf));
        }
    }
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

TEST(DecodedImageTransfer, ForgedOrShortResultsAreRefused) {
    PictureAndAlpha image;
    image.picture = Pattern(5, 4, 3, 16);
    image.alpha = Pattern(5, 4, 1, 16);
    const std::vector<uint8_t> sound = Encoded(image);
    PictureAndAlpha back;
    std::string why;
    ASSERT_TRUE(Decoded(sound, sound.size(), back, why)) << why;
    EXPECT_TRUE(SamePixels(back.picture.buf, image.picture.buf));
    EXPECT_TRUE(SamePixels(back.alpha.buf, image.alpha.buf));

    auto refused = [&](std::vector<uint8_t> bytes, size_t size) {
        PictureAndAlpha out;
        std::string reason;
        const bool ok = Decoded(bytes, size, out, reason);
        return !ok && !reason.empty() && out.picture.Empty() && out.alpha.Empty();
    };
    EXPECT_TRUE(refused(sound, sound.size() - 1)) << "one byte short";
    EXPECT_TRUE(refused(sound, sizeof(DecodedImageHeader) - 1)) << "header cut";
    EXPECT_TRUE(refused(sound, 0));
    EXPECT_TRUE(refused(std::vector<uint8_t>(sound.begin(), sound.end() - 1), sound.size()))
        << "the bytes ran out before the size said";

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
        // Claims that only overflow would make fit the bytes sent.
        [](DecodedImageHeader& h) { h.width = 1u << 16, h.height = 1u << 16; },
        [](DecodedImageHeader& h) { h.width = 0xffffffffu; },
    };
    for (size_t i = 0; i < std::size(forgeries); ++i) {
        std::vector<uint8_t> forged = sound;
        DecodedImageHeader h = HeaderOf(forged);
        forgeries[i](h);
        SetHeader(forged, h);
        EXPECT_TRUE(refused(forged, forged.size())) << "forgery " << i;
    }
}
