// Files that only claim to be pictures: every format we do not accept, and
// headers of accepted formats that promise more than the file holds, are
// refused from the header alone, before any decoder runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "file_header.h"
#include "imagefile.h"
#include "test_files.h"

namespace {

std::string Le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

std::string Be(uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

// A BMP with the 12-byte OS/2 header: 16-bit sizes, no compression field.
std::string Os2Bmp(uint32_t width, uint32_t height, const std::string& pixels) {
    const std::string info = Le(12, 4) + Le(width, 2) + Le(height, 2) + Le(1, 2) + Le(24, 2);
    return "BM" + Le(uint32_t(26 + pixels.size()), 4) + Le(0, 4) + Le(26, 4) + info + pixels;
}

// A little-endian TIFF whose only directory holds the given (tag, value) pairs.
std::string Tiff(const std::vector<std::pair<uint16_t, uint32_t>>& tags, const std::string& data = "") {
    std::string s = std::string("II*\0", 4) + Le(8, 4) + Le(uint32_t(tags.size()), 2);
    for (const auto& [tag, value] : tags) s += Le(tag, 2) + Le(4, 2) + Le(1, 4) + Le(value, 4);
    return s + Le(0, 4) + data;
}

// A BMP of 64 × 64 pixels whose run-length data (`compression` 1 or 2)
// claims `dataSize` bytes, of which the file holds eight.
std::string RleBmp(uint32_t bits, uint32_t compression, uint32_t dataSize) {
    const std::string info = Le(40, 4) + Le(64, 4) + Le(64, 4) + Le(1, 2) + Le(bits, 2) + Le(compression, 4) +
                             Le(dataSize, 4) + std::string(16, '\0');
    const std::string data("\x04\x01\x00\x00\x04\x02\x00\x01", 8);
    return "BM" + Le(uint32_t(14 + info.size() + data.size()), 4) + Le(0, 4) + Le(54, 4) + info + data;
}

// A TIFF of 16000 x 16000 RGBA pixels of 16 bits in one strip of 20 coded
// bytes, compressed with `compression`.
std::string CodedTiff(uint32_t compression) {
    const uint32_t dataAt = 8 + 2 + 8 * 12 + 4;
    return Tiff({{256, 16000}, {257, 16000}, {258, 16}, {259, compression}, {262, 2}, {273, dataAt}, {277, 4},
                 {279, 20}},
                std::string(20, '\x80'));
}

// A PNG of 16000 x 16000 RGBA pixels of 16 bits whose IDAT chunks hold
// `coded` bytes; checksums are left zero.
std::string CodedPng(uint32_t coded) {
    const std::string ihdr = "IHDR" + Be(16000, 4) + Be(16000, 4) + std::string("\x10\x06\0\0\0", 5);
    return "\x89PNG\r\n\x1a\n" + Be(13, 4) + ihdr + Be(0, 4) + Be(coded / 2, 4) + "IDAT" +
           std::string(coded / 2, '\x01') + Be(0, 4) + Be(coded - coded / 2, 4) + "IDAT" +
           std::string(coded - coded / 2, '\x01') + Be(0, 4) + Be(0, 4) + "IEND" + Be(0, 4);
}

struct Hostile {
    const char* name;
    std::string bytes;
    const char* reason;  // part of the refusal
};

std::vector<Hostile> HostileFiles() {
    std::string dds = "DDS " + Le(124, 4) + Le(0x1007, 4) + Le(16384, 4) + Le(16384, 4);
    dds.resize(328, '\0');
    const std::string gif = "GIF89a" + Le(65535, 2) + Le(65535, 2) + std::string("\xf7\x00\x00", 3) +
                            std::string(768, '\0') + "," + Le(0, 4) + Le(65535, 2) + Le(65535, 2) + std::string(4, '\0');
    const std::string iff = "FORM" + Be(40, 4) + "ILBMBMHD" + Be(20, 4) + Be(65535, 2) + Be(65535, 2) +
                            std::string(16, '\0') + "BODY" + Be(0, 4);
    const std::string jpegFrame = std::string("\xFF\xD8\xFF\xC0", 4) + Be(17, 2) + "\x08" + Be(16000, 2) +
                                  Be(16000, 2) + "\x03" + std::string("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9);
    return {
        {"photo.jpg", dds, "not a BMP"},  // a DDS file under a JPEG name
        {"icon.xpm", "/* XPM */\nstatic char *x[] = {\"30000 30000 1 1\",\"a c #000000\",\n", "not a BMP"},
        {"pic.iff", iff, "not a BMP"},
        {"anim.gif", gif, "not a BMP"},
        {"mask.xbm", "#define m_width 30000\n#define m_height 30000\nstatic char m_bits[] = {0x00,\n", "not a BMP"},
        {"hdr.exr", std::string("\x76\x2f\x31\x01\x02\x00\x00\x00", 8) + std::string(64, 'x'), "not a BMP"},
        {"empty.png", "", "empty"},
        // Claims that only the header can refute.
        {"os2.bmp", Os2Bmp(16000, 16000, std::string(64, '\x7f')), "truncated"},
        {"header-only.ppm", "P6\n16000 16000\n255\n", "truncated"},
        {"short.pgm", "P5 4 4 255\n" + std::string(15, 'a'), "truncated"},
        {"text.pbm", "P1 100 100\n0 1 1 0", "truncated"},
        // A comment ended by a lone carriage return: other readers take the
        // next line for the comment's and see another picture.
        {"cr-comment.pgm", "P5 # note\r2\n1 255\n" + std::string(2, 'a'), "damaged"},
        {"glued-comment.pbm", "P4 2#note 99999\n1\n" + std::string(1, 'a'), "damaged"},
        {"frame-only.jpg", jpegFrame + "\xFF\xD9", "truncated"},
        {"huge.tif", Tiff({{256, 16000}, {257, 16000}, {258, 8}, {259, 1}, {277, 3}}, "pixels?"), "truncated"},
        {"wide.tif", Tiff({{256, 70000}, {257, 70000}, {258, 8}, {259, 5}, {277, 1}}), "too large"},
        {"wide.bmp", "BM" + Le(60, 4) + Le(0, 4) + Le(54, 4) + Le(40, 4) + Le(100000, 4) + Le(100000, 4) +
                         Le(1, 2) + Le(8, 2) + Le(1, 4) + std::string(26, '\0'), "too large"},
        {"nowhere.bmp", "BM" + Le(60, 4) + Le(0, 4) + Le(5000, 4) + Le(40, 4) + Le(10, 4) + Le(10, 4) + Le(1, 2) +
                            Le(8, 2) + Le(1, 4) + std::string(26, '\0'), "truncated"},
        // Run-length data longer than the file, or of another depth than it codes.
        {"rle-cut.bmp", RleBmp(8, 1, 5000), "truncated"},
        {"rle4-cut.bmp", RleBmp(4, 2, 300), "truncated"},
        {"rle-depth.bmp", RleBmp(24, 1, 8), "damaged"},
        // Compressed strips and tiles whose offsets or lengths leave the file.
        {"strip-beyond.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 5}, {273, 90000}, {277, 1}, {279, 10}}),
         "truncated"},
        {"strip-long.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 8}, {273, 8}, {277, 1}, {279, 90000}}),
         "truncated"},
        {"strips-missing.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 5}, {273, 8}, {277, 1}, {278, 1}, {279, 10}}),
         "damaged"},
        {"no-strips.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 5}, {277, 1}}), "no picture data"},
        {"rgb-two-samples.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 5}, {262, 2}, {277, 2}}), "damaged"},
        {"grey-eight-bits.tif", Tiff({{256, 10}, {257, 10}, {259, 1}, {262, 1}, {277, 8}}), "fewer than 8 bits"},
        {"rgb-four-bits.tif", Tiff({{256, 10}, {257, 10}, {258, 4}, {259, 5}, {262, 2}, {277, 3}}), "fewer than 8 bits"},
        {"tile-long.tif", Tiff({{256, 10}, {257, 10}, {258, 8}, {259, 5}, {277, 1}, {322, 16}, {323, 16}, {324, 8},
                                {325, 1u << 30}}),
         "truncated"},
        // Pictures of gigabytes from a few coded bytes: more than any
        // compression can expand them to, whether the decoder knows it or not.
        {"lzw.tif", CodedTiff(5), "truncated"},
        {"deflate.tif", CodedTiff(8), "truncated"},
        {"packbits.tif", CodedTiff(32773), "truncated"},
        {"jpeg.tif", CodedTiff(7), "truncated"},
        {"unknown-coding.tif", CodedTiff(12345), "truncated"},
        {"short-idat.png", CodedPng(2000), "truncated"},
    };
}

// The kind of failure each refusal reason stands for.
LoadFailure KindOf(const std::string& reason) {
    if (reason == "not a BMP") return LoadFailure::Unsupported;
    if (reason == "too large") return LoadFailure::TooLarge;
    return LoadFailure::Damaged;
}

}  // namespace

TEST(HostileFiles, RefusedFromTheHeaderWithinASecond) {
    ScratchDir dir;
    for (const Hostile& h : HostileFiles()) {
        SCOPED_TRACE(h.name);
        WriteBytes(dir.File(h.name), h.bytes);
        const FileHeader header = ReadFileHeader(dir.File(h.name));
        EXPECT_FALSE(header.accepted);
        EXPECT_NE(header.refusal.find(h.reason), std::string::npos) << header.refusal;
        const auto start = std::chrono::steady_clock::now();
        const LoadResult r = LoadImageFile(dir.File(h.name));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.damaged) << "refused by the header, not by a failing decoder";
        EXPECT_NE(r.error.find(h.reason), std::string::npos) << r.error;
        EXPECT_EQ(int(r.failure), int(KindOf(h.reason))) << r.error;
        EXPECT_EQ(int(header.failure), int(KindOf(h.reason)));
        EXPECT_LT(seconds, 1.0);
    }
}

TEST(HostileFiles, EveryAcceptedKindOfHeaderStillLoads) {
    ScratchDir dir;
    // OS/2 BMP, 2 × 2, bottom row first, rows padded to four bytes.
    const std::string rows = std::string("\x01\x02\x03\x04\x05\x06\0\0", 8) + std::string("\x07\x08\x09\x0a\x0b\x0c\0\0", 8);
    WriteBytes(dir.File("os2.bmp"), Os2Bmp(2, 2, rows));
    LoadResult r = LoadImageFile(dir.File("os2.bmp"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.picture.buf.width, 2);
    EXPECT_EQ(r.image.picture.buf.Row<uint8_t>(0)[0], 0x07);  // top row, blue of the left pixel
    EXPECT_EQ(r.image.picture.buf.Row<uint8_t>(1)[5], 0x06);

    struct Pnm {
        const char* name;
        std::string bytes;
        int components, bits;
        uint16_t lastSample;
    };
    const Pnm pnms[] = {
        {"a.ppm", "P6\n# made by hand\n2 1\n255\n" + std::string("\x10\x20\x30\x40\x50\x60", 6), 3, 8, 0x40},
        {"b.pgm", "P5 2 1 65535\n" + std::string("\x01\x02\x03\x04", 4), 1, 16, 0x0304},
        {"c.ppm", "P3 2 1 255 1 2 3 4 5 6\n", 3, 8, 4},
        {"d.pgm", "P2\n2 2\n255\n0 50\n100 200\n", 1, 8, 200},
        {"e.pgm", "P5\r\n# Windows lines\r\n2 1\r\n255\n" + std::string("\x07\x09", 2), 1, 8, 9},
    };
    for (const Pnm& p : pnms) {
        SCOPED_TRACE(p.name);
        WriteBytes(dir.File(p.name), p.bytes);
        r = LoadImageFile(dir.File(p.name));
        ASSERT_TRUE(r.ok) << r.error;
        const SBxPicBuf& b = r.image.picture.buf;
        EXPECT_EQ(b.components, p.components);
        EXPECT_EQ(b.bits, p.bits);
        const int last = b.width * b.components - 1;
        // Colour pictures are stored blue first: the last sample is red.
        EXPECT_EQ(b.bits == 8 ? b.Row<uint8_t>(b.height - 1)[last] : b.Row<uint16_t>(b.height - 1)[last],
                  p.lastSample);
    }
    // Bitmaps pass the header check; their one-bit layout is refused by name.
    WriteBytes(dir.File("e.pbm"), std::string("P4 8 1\n\x0f", 8));
    EXPECT_TRUE(ReadFileHeader(dir.File("e.pbm")).accepted);
    const LoadResult bitmap = LoadImageFile(dir.File("e.pbm"));
    EXPECT_EQ(bitmap.error, "unsupported pixel layout");
    EXPECT_EQ(int(bitmap.failure), int(LoadFailure::Unsupported));

    // The JPEG frame may follow large metadata segments; the TIFF directory
    // may sit at the end of the file.
    PicBufHolder pic = Pattern(40, 30, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("plain.jpg"), 90, "", -1);
    std::string jpeg = ReadBytes(dir.File("plain.jpg"));
    std::string segments;
    for (int i = 0; i < 3; ++i) segments += std::string("\xFF\xE9", 2) + Be(65535, 2) + std::string(65533, char('a' + i));
    jpeg.insert(2, segments);
    WriteBytes(dir.File("padded.jpg"), jpeg);
    r = LoadImageFile(dir.File("padded.jpg"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.picture.buf.width, 40);
    const std::string strip(6 * 4 * 3, '\x55');
    const std::string late = std::string("II*\0", 4) + Le(uint32_t(8 + strip.size() + 200000), 4) + strip +
                             std::string(200000, '\0') + Le(8, 2) + Le(256, 2) + Le(4, 2) + Le(1, 4) + Le(6, 4) +
                             Le(257, 2) + Le(4, 2) + Le(1, 4) + Le(4, 4) + Le(258, 2) + Le(3, 2) + Le(1, 4) + Le(8, 4) +
                             Le(259, 2) + Le(3, 2) + Le(1, 4) + Le(1, 4) + Le(262, 2) + Le(3, 2) + Le(1, 4) + Le(2, 4) +
                             Le(273, 2) + Le(4, 2) + Le(1, 4) + Le(8, 4) + Le(277, 2) + Le(3, 2) + Le(1, 4) + Le(3, 4) +
                             Le(279, 2) + Le(4, 2) + Le(1, 4) + Le(uint32_t(strip.size()), 4) + Le(0, 4);
    WriteBytes(dir.File("late.tif"), late);
    r = LoadImageFile(dir.File("late.tif"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image.picture.buf.height, 4);

    // One colour compresses as far as the codings go, and is still believed.
    PicBufHolder flat = Pattern(3000, 2000, 1, 8);
    for (int y = 0; y < flat.buf.height; ++y) std::memset(flat.buf.Row<uint8_t>(y), 0, size_t(flat.buf.width));
    for (const char* name : {"flat.png", "flat.tif"}) {
        SCOPED_TRACE(name);
        SaveImageFile(&flat.buf, nullptr, dir.File(name), 0, "", -1);
        if (std::string(name) == "flat.png") {
            EXPECT_LT(ReadBytes(dir.File(name)).size(), 20000u);  // near Deflate's best
        }
        r = LoadImageFile(dir.File(name));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(SamePixels(r.image.picture.buf, flat.buf));
    }
    // Enough coded bytes for the picture pass the header check.
    WriteBytes(dir.File("long-idat.png"), CodedPng(3000000));
    EXPECT_TRUE(ReadFileHeader(dir.File("long-idat.png")).accepted);
}
