// Damaged files must be refused or decoded, never crash or hang the loader.
#include <gtest/gtest.h>

#include "imagefile.h"
#include "test_files.h"

namespace {

// The bytes of a sound 40 × 30 picture in the format of `ext`.
std::string GoodFile(const ScratchDir& dir, const char* ext) {
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    const std::string good = dir.File(std::string("good.") + ext);
    SaveImageFile(&pic.buf, nullptr, good, 90, "", -1);
    return ReadBytes(good);
}

}  // namespace

TEST(ImageFileCorrupt, TruncatedFilesAreRefused) {
    ScratchDir dir;
    for (const char* ext : {"bmp", "png", "jpg", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string bytes = GoodFile(dir, ext);
        for (size_t keep : {size_t(0), size_t(1), size_t(8), size_t(30), bytes.size() / 2, bytes.size() - 200}) {
            const std::string bad = dir.File(std::string("cut.") + ext);
            WriteBytes(bad, bytes.substr(0, keep));
            LoadResult r = LoadImageFile(bad);
            EXPECT_FALSE(r.ok) << "kept " << keep << " of " << bytes.size();
        }
    }
}

TEST(ImageFileCorrupt, BitFlippedFilesNeverCrash) {
    ScratchDir dir;
    for (const char* ext : {"bmp", "png", "jpg", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string bytes = GoodFile(dir, ext);
        uint32_t seed = 12345;
        for (int round = 0; round < 60; ++round) {
            std::string damaged = bytes;
            for (int k = 0; k < 1 + round % 8; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const size_t at = seed % damaged.size();
                damaged[at] = char(damaged[at] ^ (1 << ((seed >> 24) % 8)));
            }
            WriteBytes(dir.File(std::string("flip.") + ext), damaged);
            LoadResult r = LoadImageFile(dir.File(std::string("flip.") + ext));
            if (r.ok) {
                EXPECT_GT(r.image.picture.buf.width, 0);
                EXPECT_NE(r.image.picture.buf.pixels, nullptr);
            }
        }
    }
}

namespace {

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string BigEndian(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
    return BigEndian(uint32_t(data.size())) + type + data + BigEndian(Crc32(type + data));
}

}  // namespace

TEST(ImageFileCorrupt, HeadersPromisingHugePicturesAreRefusedBeforeDecoding) {
    ScratchDir dir;
    // A PNG header of 60000 × 60000 pixels followed by nothing.
    const std::string header = BigEndian(60000) + BigEndian(60000) + std::string("\x08\x02\x00\x00\x00", 5);
    // One stored deflate block holding a single zero byte.
    const std::string idat("\x78\x01\x01\x01\x00\xfe\xff\x00\x00\x01\x00\x01", 12);
    WriteBytes(dir.File("huge.png"), std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) +
                                         PngChunk("IDAT", idat) + PngChunk("IEND", ""));
    LoadResult r = LoadImageFile(dir.File("huge.png"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("too large"), std::string::npos) << r.error;
}
