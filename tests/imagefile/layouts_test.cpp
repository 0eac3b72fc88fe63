// Layouts common files use that the decoder alone gets wrong: BMPs with the
// newer headers, and grey TIFFs with transparency.
#include <gtest/gtest.h>

#include "file_header.h"
#include "imagefile.h"
#include "test_files.h"

namespace {

std::string Le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

struct Masks {
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};

// A 2 × 2 BMP with a header of `infoSize` bytes (108: version 4, 124: version 5).
std::string NewerBmp(uint32_t infoSize, unsigned bits, uint32_t compression, const Masks& m, const std::string& palette,
                     const std::string& pixels) {
    std::string info = Le(infoSize, 4) + Le(2, 4) + Le(2, 4) + Le(1, 2) + Le(bits, 2) + Le(compression, 4) +
                       Le(uint32_t(pixels.size()), 4) + Le(2835, 4) + Le(2835, 4) +
                       Le(uint32_t(palette.size() / 4), 4) + Le(0, 4);
    info += Le(m.red, 4) + Le(m.green, 4) + Le(m.blue, 4) + Le(m.alpha, 4) + "BGRs";
    info.resize(infoSize, '\0');
    const uint32_t offset = uint32_t(14 + infoSize + palette.size());
    return "BM" + Le(uint32_t(offset + pixels.size()), 4) + Le(0, 4) + Le(offset, 4) + info + palette + pixels;
}

// Blue, green, red of the picture's pixel (x, y), y counted from the top.
std::vector<int> Bgr(const SBxPicBuf& p, int x, int y) {
    const uint8_t* row = p.Row<uint8_t>(y);
    if (p.components == 1) return {row[x], row[x], row[x]};
    return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

}  // namespace

TEST(BmpHeaders, VersionFourAndFiveLoadWithTheirColoursAndTransparency) {
    ScratchDir dir;
    const Masks standard{0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000};
    // Bottom row first. 32 bits with an alpha mask: blue, green, red, alpha bytes.
    const std::string bgra = std::string("\x01\x02\x03\xc8\x04\x05\x06\x64\x07\x08\x09\x32\x0a\x0b\x0c\x00", 16);
    WriteBytes(dir.File("v5.bmp"), NewerBmp(124, 32, 3, standard, "", bgra));
    LoadResult r = LoadImageFile(dir.File("v5.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Bgr(r.image.picture.buf, 0, 0), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(Bgr(r.image.picture.buf, 1, 1), (std::vector<int>{4, 5, 6}));
    ASSERT_FALSE(r.image.alpha.Empty());
    EXPECT_EQ(r.image.alpha.buf.Row<uint8_t>(0)[0], 0x32);
    EXPECT_EQ(r.image.alpha.buf.Row<uint8_t>(1)[0], 0xc8);

    // Without an alpha mask the fourth byte is padding: the picture is opaque.
    WriteBytes(dir.File("x.bmp"), NewerBmp(124, 32, 0, {}, "", bgra));
    r = LoadImageFile(dir.File("x.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.image.alpha.Empty());
    EXPECT_EQ(Bgr(r.image.picture.buf, 1, 0), (std::vector<int>{10, 11, 12}));

    // Other masks: red in the low byte, alpha second.
    const std::string swapped = std::string("\x09\xff\x08\x07\x0c\xff\x0b\x0a\x03\xff\x02\x01\x06\xff\x05\x04", 16);
    WriteBytes(dir.File("m.bmp"), NewerBmp(108, 32, 3, {0x000000ff, 0x00ff0000, 0xff000000, 0x0000ff00}, "", swapped));
    r = LoadImageFile(dir.File("m.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Bgr(r.image.picture.buf, 0, 1), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(Bgr(r.image.picture.buf, 1, 0), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(r.image.alpha.buf.Row<uint8_t>(1)[1], 0xff);

    // 24 bits, 16 bits in 5-6-5, and a grey palette.
    const std::string rgb24 = std::string("\x01\x02\x03\x04\x05\x06\0\0\x07\x08\x09\x0a\x0b\x0c\0\0", 16);
    WriteBytes(dir.File("v4.bmp"), NewerBmp(108, 24, 0, {}, "", rgb24));
    r = LoadImageFile(dir.File("v4.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Bgr(r.image.picture.buf, 1, 0), (std::vector<int>{10, 11, 12}));
    const std::string rgb565 = Le(0xf800, 2) + Le(0x07e0, 2) + Le(0x001f, 2) + Le(0xffff, 2);
    WriteBytes(dir.File("565.bmp"), NewerBmp(124, 16, 3, {0xf800, 0x07e0, 0x001f, 0}, "", rgb565));
    r = LoadImageFile(dir.File("565.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Bgr(r.image.picture.buf, 0, 1), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(Bgr(r.image.picture.buf, 1, 1), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(Bgr(r.image.picture.buf, 0, 0), (std::vector<int>{255, 0, 0}));
    std::string greys;
    for (int i = 0; i < 256; ++i) greys += std::string(3, char(i)) + '\0';
    WriteBytes(dir.File("grey.bmp"), NewerBmp(124, 8, 0, {}, greys, std::string("\x10\x20\0\0\x30\x40\0\0", 8)));
    r = LoadImageFile(dir.File("grey.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.picture.buf.components, 1);
    EXPECT_EQ(r.image.picture.buf.Row<uint8_t>(0)[1], 0x40);

    // An embedded PNG is refused by name.
    WriteBytes(dir.File("png.bmp"), NewerBmp(124, 0, 5, {}, "", "\x89PNG"));
    EXPECT_NE(LoadImageFile(dir.File("png.bmp")).error.find("PNG"), std::string::npos);
}

TEST(TiffLayouts, GreyWithTransparencyKeepsIt) {
    ScratchDir dir;
    // 2 × 1 grey + alpha, uncompressed, one strip after the directory.
    const uint16_t tags[][2] = {{256, 2}, {257, 1}, {258, 8}, {259, 1}, {262, 1}, {273, 0}, {277, 2}, {279, 4}, {338, 2}};
    const uint32_t entries = sizeof tags / sizeof tags[0];
    const uint32_t stripAt = 8 + 2 + entries * 12 + 4;
    std::string tiff = std::string("II*\0", 4) + Le(8, 4) + Le(entries, 2);
    for (const auto& t : tags) tiff += Le(t[0], 2) + Le(3, 2) + Le(1, 4) + Le(t[0] == 273 ? stripAt : t[1], 4);
    tiff += Le(0, 4) + std::string("\x40\x80\xc0\x10", 4);
    WriteBytes(dir.File("ga.tif"), tiff);
    const LoadResult r = LoadImageFile(dir.File("ga.tif"));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.image.picture.buf.components, 1);
    ASSERT_FALSE(r.image.alpha.Empty());
    EXPECT_EQ(r.image.picture.buf.Row<uint8_t>(0)[0], 0x40);
    EXPECT_EQ(r.image.picture.buf.Row<uint8_t>(0)[1], 0xc0);
    EXPECT_EQ(r.image.alpha.buf.Row<uint8_t>(0)[0], 0x80);
    EXPECT_EQ(r.image.alpha.buf.Row<uint8_t>(0)[1], 0x10);
}
