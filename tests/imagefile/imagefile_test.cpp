#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "imagefile.h"
#include "test_files.h"

namespace {

struct Layout {
    int components, bits;
    bool alpha;
    const char* ext;
};

}  // namespace

TEST(ImageFile, EveryLayoutRoundTripsThroughEveryLosslessFormat) {
    ScratchDir dir;
    const Layout layouts[] = {
        {1, 8, false, "bmp"},  {1, 8, false, "tif"},  {1, 8, false, "png"},  {3, 8, false, "bmp"},
        {3, 8, false, "tif"},  {3, 8, false, "png"},  {3, 8, true, "tif"},   {3, 8, true, "png"},
        {1, 16, false, "tif"}, {1, 16, false, "png"}, {3, 16, false, "tif"}, {3, 16, false, "png"},
        {3, 16, true, "tif"},  {3, 16, true, "png"},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::to_string(l.components) + "x" + std::to_string(l.bits) + (l.alpha ? "+a." : ".") + l.ext);
        PicBufHolder pic = Pattern(7, 5, l.components, l.bits);
        PicBufHolder alpha = Pattern(7, 5, 1, l.bits);
        const std::string path = dir.File(std::string("rt.") + l.ext);
        ASSERT_EQ(SaveImageFile(&pic.buf, l.alpha ? &alpha.buf : nullptr, path, 0, "", -1), SaveStatus::Saved);
        LoadResult back = LoadImageFile(path);
        ASSERT_TRUE(back.ok) << back.error;
        EXPECT_TRUE(SamePixels(back.image.picture.buf, pic.buf));
        if (l.alpha)
            EXPECT_TRUE(SamePixels(back.image.alpha.buf, alpha.buf));
        else
            EXPECT_TRUE(back.image.alpha.Empty());
    }
}

TEST(ImageFile, SinglePixelAndJpegPictures) {
    ScratchDir dir;
    PicBufHolder one = Pattern(1, 1, 3, 8);
    ASSERT_EQ(SaveImageFile(&one.buf, nullptr, dir.File("one.png"), 0, "", -1), SaveStatus::Saved);
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("one.png")).image.picture.buf, one.buf));

    // JPEG cannot hold alpha: the plane is dropped rather than the save failing.
    PicBufHolder pic = Pattern(16, 16, 3, 8), alpha = Pattern(16, 16, 1, 8);
    ASSERT_EQ(SaveImageFile(&pic.buf, &alpha.buf, dir.File("a.jpg"), 90, "", -1), SaveStatus::Saved);
    LoadResult back = LoadImageFile(dir.File("a.jpg"));
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.image.picture.buf.components, 3);
    EXPECT_TRUE(back.image.alpha.Empty());
}

TEST(ImageFile, RgbaPngGivesColourPlusAlphaByte) {
    ScratchDir dir;
    FIBITMAP* bmp = FreeImage_Allocate(2, 1, 32);
    BYTE* line = FreeImage_GetScanLine(bmp, 0);
    const BYTE px[8] = {10, 20, 30, 40, 50, 60, 70, 80};  // blue, green, red, alpha
    std::memcpy(line, px, 8);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, bmp, dir.File("rgba.png").c_str(), 0));
    FreeImage_Unload(bmp);
    LoadResult r = LoadImageFile(dir.File("rgba.png"));
    ASSERT_TRUE(r.ok);
    const SBxPicBuf& p = r.image.picture.buf;
    ASSERT_EQ(p.components, 3);
    EXPECT_EQ(p.pixels[0], 10);
    EXPECT_EQ(p.pixels[2], 30);
    EXPECT_EQ(p.pixels[3], 50);
    ASSERT_FALSE(r.image.alpha.Empty());
    EXPECT_EQ(r.image.alpha.buf.pixels[0], 40);
    EXPECT_EQ(r.image.alpha.buf.pixels[1], 80);
    EXPECT_TRUE(IsRepaintablePicture(p));
}

TEST(ImageFile, SixteenBitColourIsStoredBlueGreenRed) {
    FIBITMAP* bmp = FreeImage_AllocateT(FIT_RGB16, 1, 1, 48);
    FIRGB16* px = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(bmp, 0));
    px->red = 1000;
    px->green = 2000;
    px->blue = 3000;
    PictureAndAlpha out;
    EXPECT_EQ(BitmapToPicture(bmp, out), LoadFailure::None);
    FreeImage_Unload(bmp);
    const uint16_t* s = out.picture.buf.Row<uint16_t>(0);
    EXPECT_EQ(s[0], 3000);
    EXPECT_EQ(s[2], 1000);
    EXPECT_TRUE(IsRepaintablePicture(out.picture.buf));
}

TEST(ImageFile, PaletteCmykFloatAndOddDepthsAreRefused) {
    PictureAndAlpha out;
    EXPECT_EQ(BitmapToPicture(nullptr, out), LoadFailure::None);
    EXPECT_TRUE(out.picture.Empty());

    FIBITMAP* pal = FreeImage_Allocate(4, 4, 8);
    RGBQUAD* colours = FreeImage_GetPalette(pal);
    for (int i = 0; i < 256; ++i) colours[i] = RGBQUAD{BYTE(i), 0, BYTE(255 - i), 0};
    EXPECT_EQ(BitmapToPicture(pal, out), LoadFailure::Unsupported);
    FreeImage_Unload(pal);

    FIBITMAP* cmyk = FreeImage_Allocate(4, 4, 32);
    const BYTE profile[16] = {};
    FreeImage_CreateICCProfile(cmyk, const_cast<BYTE*>(profile), sizeof profile)->flags |= FIICC_COLOR_IS_CMYK;
    EXPECT_EQ(BitmapToPicture(cmyk, out), LoadFailure::Unsupported);
    FreeImage_Unload(cmyk);

    for (FREE_IMAGE_TYPE t : {FIT_FLOAT, FIT_UINT32, FIT_RGBF, FIT_INT16}) {
        FIBITMAP* b = FreeImage_AllocateT(t, 4, 4);
        EXPECT_EQ(BitmapToPicture(b, out), LoadFailure::Unsupported) << t;
        FreeImage_Unload(b);
    }
    FIBITMAP* mono = FreeImage_Allocate(4, 4, 1);
    EXPECT_EQ(BitmapToPicture(mono, out), LoadFailure::Unsupported);
    FreeImage_Unload(mono);
    EXPECT_TRUE(out.picture.Empty());

    ScratchDir dir;
    pal = FreeImage_Allocate(4, 4, 8);
    colours = FreeImage_GetPalette(pal);
    for (int i = 0; i < 256; ++i) colours[i] = RGBQUAD{BYTE(i), BYTE(i / 2), 0, 0};
    FreeImage_Save(FIF_GIF, pal, dir.File("p.gif").c_str(), 0);
    FreeImage_Unload(pal);
    EXPECT_FALSE(LoadImageFile(dir.File("p.gif")).ok);
}

TEST(ImageFile, JpegQualityFlag) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(64, 64, 3, 8);
    SaveImageFile(&pic.buf, nullptr, dir.File("q0.jpg"), 0, "", kFormatJpeg);
    SaveImageFile(&pic.buf, nullptr, dir.File("q95.jpg"), 95, "", kFormatJpeg);
    SaveImageFile(&pic.buf, nullptr, dir.File("q10.jpg"), 10, "", kFormatJpeg);
    SaveImageFile(&pic.buf, nullptr, dir.File("q100.jpg"), 100, "", kFormatJpeg);
    SaveImageFile(&pic.buf, nullptr, dir.File("q4000.jpg"), 4000, "", kFormatJpeg);
    EXPECT_EQ(ReadBytes(dir.File("q0.jpg")), ReadBytes(dir.File("q95.jpg")));
    EXPECT_EQ(ReadBytes(dir.File("q4000.jpg")), ReadBytes(dir.File("q100.jpg")));
    EXPECT_LT(ReadBytes(dir.File("q10.jpg")).size(), ReadBytes(dir.File("q95.jpg")).size());
}

TEST(ImageFile, UnknownOrUnwritableFormatsAreRefused) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(4, 4, 3, 8);
    EXPECT_THROW(SaveImageFile(&pic.buf, nullptr, dir.File("x.qqq"), 0, "", -1), UnsupportedImageFormat);
    EXPECT_THROW(SaveImageFile(&pic.buf, nullptr, dir.File("x.gif"), 0, "", -1), UnsupportedImageFormat);
    PicBufHolder deep = Pattern(4, 4, 3, 16);
    EXPECT_THROW(SaveImageFile(&deep.buf, nullptr, dir.File("x.jpg"), 0, "", -1), UnsupportedImageFormat);
    EXPECT_THROW(SaveImageFile(&deep.buf, nullptr, dir.File("x.bmp"), 0, "", -1), UnsupportedImageFormat);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(ImageFile, MissingMetadataSourceStillSavesThePicture) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(5, 5, 3, 8);
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("o.png"), 0, dir.File("gone.jpg"), -1),
              SaveStatus::SavedWithoutMetadata);
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("o.png")).image.picture.buf, pic.buf));
    WriteBytes(dir.File("garbage.png"), "not a picture at all");
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("o2.png"), 0, dir.File("garbage.png"), -1),
              SaveStatus::SavedWithoutMetadata);
}

TEST(ImageFile, FailedSaveReportsAndKeepsTheExistingFile) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(5, 5, 3, 8);
    EXPECT_THROW(SaveImageFile(&pic.buf, nullptr, dir.File("no/such/folder/o.png"), 0, "", -1), ImageWriteError);
    // A folder in the way: the rename fails and the folder stays as it was.
    std::filesystem::create_directory(dir.File("taken.png"));
    WriteBytes(dir.File("taken.png/inside"), "keep me");
    EXPECT_THROW(SaveImageFile(&pic.buf, nullptr, dir.File("taken.png"), 0, "", -1), ImageWriteError);
    EXPECT_EQ(ReadBytes(dir.File("taken.png/inside")), "keep me");
    // No temporary file is left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) entries += e.path().filename() != "taken.png";
    EXPECT_EQ(entries, 0);
    EXPECT_THROW(SaveImageFile(nullptr, nullptr, dir.File("x.png"), 0, "", -1), ImageWriteError);

    // An existing file is replaced whole by a successful save.
    WriteBytes(dir.File("old.png"), "old contents");
    ASSERT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("old.png"), 0, "", -1), SaveStatus::Saved);
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("old.png")).image.picture.buf, pic.buf));
}
