// Grey TIFF pictures with transparency keep it, in every layout libtiff
// writes, and keep it again when saved.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <vector>

#include "imagefile.h"
#include "test_files.h"

namespace {

struct TiffLayout {
    int bits = 8;
    bool separatePlanes = false;
    bool tiled = false;
    uint16_t compression = COMPRESSION_NONE;
    const char* mode = "w";  // "wb": big-endian
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t alphaKind = EXTRASAMPLE_UNASSALPHA;
};

constexpr int kWidth = 37, kHeight = 21;  // neither a multiple of the tiles nor of the strips

// The stored samples of pixel (x, y): grey and alpha.
uint32_t StoredGrey(int x, int y, int bits) { return uint32_t(uint64_t(x * 7 + y * 13 + (bits == 16 ? x * 1031 : 0)) % (uint64_t(1) << bits)); }
uint32_t StoredAlpha(int x, int y, int bits) { return uint32_t(uint64_t(uint32_t(255 - x * 3 - y + (bits == 16 ? y * 2999 : 0))) % (uint64_t(1) << bits)); }

void Put(std::vector<unsigned char>& bytes, size_t index, uint32_t value, int bits) {
    if (bits == 8)
        bytes[index] = uint8_t(value);
    else
        reinterpret_cast<uint16_t*>(bytes.data())[index] = uint16_t(value);
}

// Writes the picture with libtiff; the block for (x0, y0, plane) is filled
// from the stored samples, zero outside the picture.
bool WriteGreyAlphaTiff(const std::string& path, const TiffLayout& l) {
    TIFF* t = TIFFOpen(path.c_str(), l.mode);
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 2);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &l.alphaKind);
    const int blockW = l.tiled ? 16 : kWidth, blockH = l.tiled ? 16 : 4;
    if (l.tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, blockW);
        TIFFSetField(t, TIFFTAG_TILELENGTH, blockH);
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, blockH);
    }
    const int planes = l.separatePlanes ? 2 : 1, samples = l.separatePlanes ? 1 : 2;
    bool ok = true;
    for (int plane = 0; plane < planes; ++plane)
        for (int y0 = 0; y0 < kHeight; y0 += blockH)
            for (int x0 = 0; x0 < kWidth; x0 += blockW) {
                const int rows = l.tiled ? blockH : std::min(blockH, kHeight - y0);
                std::vector<unsigned char> block(size_t(blockW) * rows * samples * (l.bits / 8), 0);
                for (int r = 0; r < rows && y0 + r < kHeight; ++r)
                    for (int c = 0; c < blockW && x0 + c < kWidth; ++c) {
                        const size_t at = (size_t(r) * blockW + c) * samples;
                        const int x = x0 + c, y = y0 + r;
                        if (samples == 2) {
                            Put(block, at, StoredGrey(x, y, l.bits), l.bits);
                            Put(block, at + 1, StoredAlpha(x, y, l.bits), l.bits);
                        } else {
                            Put(block, at, plane == 0 ? StoredGrey(x, y, l.bits) : StoredAlpha(x, y, l.bits), l.bits);
                        }
                    }
                const tmsize_t n = tmsize_t(block.size());
                ok = ok && (l.tiled ? TIFFWriteEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, plane), block.data(), n)
                                    : TIFFWriteEncodedStrip(t, TIFFComputeStrip(t, y0, plane), block.data(), n)) >= 0;
            }
    TIFFClose(t);
    return ok;
}

uint32_t Sample(const SBxPicBuf& b, int x, int y, int c = 0) {
    return b.bits == 8 ? b.Row<uint8_t>(y)[x * b.components + c] : b.Row<uint16_t>(y)[x * b.components + c];
}

// The first pixel whose grey or alpha differs from what `expectGrey` says, or "".
template <typename Grey>
std::string FirstDifference(const PictureAndAlpha& image, int bits, Grey expectGrey) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (Sample(image.picture.buf, x, y) != expectGrey(x, y) ||
                Sample(image.alpha.buf, x, y) != StoredAlpha(x, y, bits))
                return "pixel " + std::to_string(x) + "," + std::to_string(y);
    return "";
}

}  // namespace

TEST(GreyAlphaTiff, EveryLayoutKeepsItsTransparency) {
    ScratchDir dir;
    int files = 0;
    for (int bits : {8, 16})
        for (bool separate : {false, true})
            for (bool tiled : {false, true})
                for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE})
                    for (const char* mode : {"w", "wb"}) {
                        TiffLayout l;
                        l.bits = bits, l.separatePlanes = separate, l.tiled = tiled, l.compression = compression;
                        l.mode = mode;
                        const std::string name = "ga" + std::to_string(files++) + ".tif";
                        SCOPED_TRACE(name + ": " + std::to_string(bits) + " bits" + (separate ? ", planes" : "") +
                                     (tiled ? ", tiles" : "") + ", compression " + std::to_string(compression) +
                                     ", mode " + mode);
                        ASSERT_TRUE(WriteGreyAlphaTiff(dir.File(name), l));
                        const LoadResult r = LoadImageFile(dir.File(name));
                        ASSERT_TRUE(r.ok) << r.error;
                        const SBxPicBuf& pic = r.image.picture.buf;
                        EXPECT_EQ(pic.width, kWidth);
                        EXPECT_EQ(pic.height, kHeight);
                        EXPECT_EQ(pic.components, 1);
                        EXPECT_EQ(pic.bits, bits);
                        ASSERT_FALSE(r.image.alpha.Empty());
                        EXPECT_EQ(FirstDifference(r.image, bits, [&](int x, int y) { return StoredGrey(x, y, bits); }),
                                  "");
                    }
}

TEST(GreyAlphaTiff, WhiteIsZeroAndPremultipliedGreyBecomePlainGrey) {
    ScratchDir dir;
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        const uint32_t maximum = (1u << bits) - 1;
        TiffLayout inverted;
        inverted.bits = bits;
        inverted.photometric = PHOTOMETRIC_MINISWHITE;
        ASSERT_TRUE(WriteGreyAlphaTiff(dir.File("white.tif"), inverted));
        LoadResult r = LoadImageFile(dir.File("white.tif"));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(FirstDifference(r.image, bits, [&](int x, int y) { return maximum - StoredGrey(x, y, bits); }), "");

        TiffLayout associated;
        associated.bits = bits;
        associated.alphaKind = EXTRASAMPLE_ASSOCALPHA;
        ASSERT_TRUE(WriteGreyAlphaTiff(dir.File("associated.tif"), associated));
        r = LoadImageFile(dir.File("associated.tif"));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(FirstDifference(r.image, bits,
                                  [&](int x, int y) {
                                      const uint32_t a = StoredAlpha(x, y, bits), g = StoredGrey(x, y, bits);
                                      return a ? std::min(maximum, (g * maximum + a / 2) / a) : 0;
                                  }),
                  "");
    }
}

// Nothing to hold grey with transparency in our writers' layouts: it is
// saved as colour with the grey in every channel, and keeps its alpha.
TEST(GreyAlphaTiff, SavedPicturesKeepTheTransparency) {
    ScratchDir dir;
    for (int bits : {8, 16}) {
        TiffLayout l;
        l.bits = bits;
        ASSERT_TRUE(WriteGreyAlphaTiff(dir.File("in.tif"), l));
        const LoadResult in = LoadImageFile(dir.File("in.tif"));
        ASSERT_TRUE(in.ok) << in.error;
        for (const char* name : {"out.png", "out.tif"}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(bits) + " bits");
            SaveImageFile(&in.image.picture.buf, &in.image.alpha.buf, dir.File(name), 0, "", -1);
            const LoadResult back = LoadImageFile(dir.File(name));
            ASSERT_TRUE(back.ok) << back.error;
            ASSERT_EQ(back.image.picture.buf.components, 3);
            EXPECT_EQ(back.image.picture.buf.bits, bits);
            ASSERT_FALSE(back.image.alpha.Empty());
            EXPECT_TRUE(SamePixels(back.image.alpha.buf, in.image.alpha.buf));
            bool grey = true;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    for (int c = 0; c < 3; ++c)
                        grey = grey && Sample(back.image.picture.buf, x, y, c) == Sample(in.image.picture.buf, x, y);
            EXPECT_TRUE(grey);
        }
        // A JPEG has no alpha: the grey alone, as before.
        if (bits == 8) {
            SaveImageFile(&in.image.picture.buf, &in.image.alpha.buf, dir.File("out.jpg"), 100, "", -1);
            const LoadResult jpeg = LoadImageFile(dir.File("out.jpg"));
            EXPECT_TRUE(jpeg.ok && jpeg.image.picture.buf.components == 1 && jpeg.image.alpha.Empty());
        }
    }
}

TEST(GreyAlphaTiff, DamagedOrUnusualFilesAreRefusedWithAReason) {
    ScratchDir dir;
    TiffLayout l;
    l.compression = COMPRESSION_LZW;
    ASSERT_TRUE(WriteGreyAlphaTiff(dir.File("whole.tif"), l));
    const std::string whole = ReadBytes(dir.File("whole.tif"));
    // The coded strips come first and the directory last: garble the strips.
    std::string garbled = whole;
    for (size_t i = 8; i < garbled.size() / 2; ++i) garbled[i] = char(0xff - garbled[i]);
    WriteBytes(dir.File("garbled.tif"), garbled);
    const LoadResult bad = LoadImageFile(dir.File("garbled.tif"));
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.error.empty());

    TiffLayout wide;
    wide.bits = 32;
    WriteGreyAlphaTiff(dir.File("wide.tif"), wide);
    const LoadResult unusual = LoadImageFile(dir.File("wide.tif"));
    EXPECT_FALSE(unusual.ok);
    EXPECT_EQ(int(unusual.failure), int(LoadFailure::Unsupported)) << unusual.error;
}
