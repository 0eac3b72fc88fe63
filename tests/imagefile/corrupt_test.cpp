// Damaged files must be refused or decoded, never crash or hang the loader.
#include <gtest/gtest.h>

#include "imagefile.h"
#include "test_files.h"

TEST(ImageFileCorrupt, TruncatedFilesAreRefused) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    for (const char* ext : {"bmp", "png", "jpg", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string good = dir.File(std::string("good.") + ext);
        SaveImageFile(&pic.buf, nullptr, good, 90, "", -1);
        const std::string bytes = ReadBytes(good);
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
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    for (const char* ext : {"bmp", "png", "jpg", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string good = dir.File(std::string("good.") + ext);
        SaveImageFile(&pic.buf, nullptr, good, 90, "", -1);
        const std::string bytes = ReadBytes(good);
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
