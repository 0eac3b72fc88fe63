#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "imagefile.h"
#include "metadata.h"
#include "tagged_files.h"
#include "test_files.h"

namespace {

const char* const kOutputs[] = {"out.jpg", "out.png", "out.tif"};

void ExpectCameraTagsCarried(const FileTags& source, const FileTags& result) {
    for (const auto& [key, value] : kCameraTags) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(source.values.count(key));
        ASSERT_TRUE(result.values.count(key));
        EXPECT_EQ(result.values.at(key), source.values.at(key));
    }
    EXPECT_FALSE(source.icc.empty());
    EXPECT_EQ(result.icc, source.icc);
}

}  // namespace

TEST(Metadata, EveryTagTravelsFromEverySourceIntoEveryFormat) {
    ScratchDir dir;
    for (const char* sourceName : {"photo.jpg", "photo.png", "photo.tif"}) {
        const std::string source = dir.File(sourceName);
        WriteTaggedPhoto(source, 1);
        const FileTags before = ReadTags(source);
        ASSERT_TRUE(before.hasThumbnail);
        PicBufHolder pic = Pattern(9, 7, 3, 8);
        for (const char* out : kOutputs) {
            SCOPED_TRACE(std::string(sourceName) + " -> " + out);
            ASSERT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File(out), 90, source, -1), SaveStatus::Saved);
            const FileTags after = ReadTags(dir.File(out));
            ExpectCameraTagsCarried(before, after);
            // The camera's thumbnail shows the unpainted photo: it is not carried.
            EXPECT_FALSE(after.hasThumbnail);
            EXPECT_EQ(after.values.at("Exif.Image.Software"), ProgramNameAndVersion() + '\0');
            EXPECT_EQ(after.values.at("Xmp.xmp.CreatorTool"), ProgramNameAndVersion());
            // The result's own size, not the source's.
            EXPECT_EQ(after.values.at("Exif.Photo.PixelXDimension"), std::string("\x09\0\0\0", 4));
            if (std::string(out) != "out.jpg") {
                EXPECT_TRUE(SamePixels(LoadImageFile(dir.File(out)).image.picture.buf, pic.buf));
            }
        }
    }
}

TEST(Metadata, OrientationOfTheResultIsUpright) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("turned.jpg"), 6);
    ASSERT_EQ(ReadOrientation(dir.File("turned.jpg")), 6);
    PicBufHolder pic = Pattern(4, 6, 3, 8);
    for (const char* out : kOutputs) {
        SCOPED_TRACE(out);
        SaveImageFile(&pic.buf, nullptr, dir.File(out), 90, dir.File("turned.jpg"), -1);
        EXPECT_EQ(ReadOrientation(dir.File(out)), 1);
        EXPECT_EQ(ReadTags(dir.File(out)).values.at("Exif.Image.Orientation"), std::string("\x01\0", 2));
    }
}

TEST(Metadata, LosslessResultsKeepEveryLayoutUnderTheTags) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("photo.jpg"));
    for (int bits : {8, 16})
        for (int components : {1, 3})
            for (bool alpha : {false, true}) {
                if (alpha && components == 1) continue;
                PicBufHolder pic = Pattern(11, 5, components, bits), a = Pattern(11, 5, 1, bits);
                for (const char* out : {"out.png", "out.tif"}) {
                    SCOPED_TRACE(std::string(out) + " " + std::to_string(bits) + "/" + std::to_string(components));
                    ASSERT_EQ(SaveImageFile(&pic.buf, alpha ? &a.buf : nullptr, dir.File(out), 0, dir.File("photo.jpg"),
                                            -1),
                              SaveStatus::Saved);
                    LoadResult back = LoadImageFile(dir.File(out));
                    ASSERT_TRUE(back.ok);
                    EXPECT_TRUE(SamePixels(back.image.picture.buf, pic.buf));
                    EXPECT_EQ(back.image.alpha.buf.pixels != nullptr, alpha);
                    if (alpha) {
                        EXPECT_TRUE(SamePixels(back.image.alpha.buf, a.buf));
                    }
                    EXPECT_EQ(ReadTags(dir.File(out)).values.at("Exif.Image.Artist"),
                              ReadTags(dir.File("photo.jpg")).values.at("Exif.Image.Artist"));
                }
            }
}

TEST(Metadata, BmpSaysItHoldsNoneAndSourcesWithoutMetadataAreFine) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("photo.jpg"));
    PicBufHolder pic = Pattern(5, 5, 3, 8);
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("out.bmp"), 0, dir.File("photo.jpg"), -1),
              SaveStatus::FormatHoldsNoMetadata);
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("out.bmp")).image.picture.buf, pic.buf));
    // A BMP or untagged source has nothing to lose.
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("again.bmp"), 0, dir.File("out.bmp"), -1), SaveStatus::Saved);
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("out.png"), 0, dir.File("out.bmp"), -1), SaveStatus::Saved);
    FIBITMAP* plain = FreeImage_Allocate(5, 5, 24);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, plain, dir.File("plain.png").c_str(), 0));
    FreeImage_Unload(plain);
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("out2.bmp"), 0, dir.File("plain.png"), -1),
              SaveStatus::Saved);
    // A damaged source: the picture is saved and the caller told.
    std::string bytes = ReadBytes(dir.File("photo.jpg"));
    WriteBytes(dir.File("cut.jpg"), bytes.substr(0, 40));
    EXPECT_EQ(SaveImageFile(&pic.buf, nullptr, dir.File("out3.png"), 0, dir.File("cut.jpg"), -1),
              SaveStatus::SavedWithoutMetadata);
    EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("out3.png")).image.picture.buf, pic.buf));
}

TEST(Metadata, TiffSavesPrintNothing) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("photo.jpg"));
    PicBufHolder pic = Pattern(8, 8, 3, 16);
    testing::internal::CaptureStderr();
    SaveImageFile(&pic.buf, nullptr, dir.File("out.tif"), 0, dir.File("photo.jpg"), -1);
    LoadImageFile(dir.File("out.tif"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Metadata, RecipeIsWrittenReadBackAndReplacesAnOlderOne) {
    ScratchDir dir;
    PicBufHolder pic = Pattern(5, 4, 3, 8);
    const Recipe first{"smudge", {{"uiDetails", 17}, {"uiSigma", 0}}, "1.1.0"};
    for (const char* out : kOutputs) {
        SCOPED_TRACE(out);
        SaveImageFile(&pic.buf, nullptr, dir.File(out), 90, "", -1, &first);
        const std::optional<Recipe> back = ReadRecipe(dir.File(out));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->method, "smudge");
        EXPECT_EQ(back->version, "1.1.0");
        EXPECT_EQ(back->positions, first.positions);
    }
    // PNG results also carry it as text that any PNG tool shows.
    FIBITMAP* png = FreeImage_Load(FIF_PNG, dir.File("out.png").c_str());
    FITAG* text = nullptr;
    ASSERT_TRUE(FreeImage_GetMetadata(FIMD_COMMENTS, png, "Quorvane recipe", &text));
    EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(text)),
                 "method=smudge uiDetails=17 uiSigma=0 version=1.1.0");
    FreeImage_Unload(png);
    // Repainting a repainted file: only the new recipe is kept.
    const Recipe second{"redraw", {{"uiEdgeCut", 3}}, "1.1.0"};
    SaveImageFile(&pic.buf, nullptr, dir.File("again.png"), 0, dir.File("out.png"), -1, &second);
    EXPECT_EQ(ReadRecipe(dir.File("again.png"))->method, "redraw");
    EXPECT_EQ(ReadRecipe(dir.File("again.png"))->positions, second.positions);
    EXPECT_FALSE(ReadRecipe(dir.File("missing.png")));
    SaveImageFile(&pic.buf, nullptr, dir.File("plain.png"), 0, "", -1);
    EXPECT_FALSE(ReadRecipe(dir.File("plain.png")));
}

TEST(Metadata, AReaderThatCrashesOrHangsOnTheSourceStillSavesThePicture) {
    ScratchDir dir;
    WriteTaggedPhoto(dir.File("hostile.jpg"));
    PicBufHolder pic = Pattern(6, 5, 3, 8);
    for (const char* fault : {"crash:hostile"}) {
        SCOPED_TRACE(fault);
        setenv("QUORVANE_DECODE_TEST_FAULT", fault, 1);
        const SaveStatus status = SaveImageFile(&pic.buf, nullptr, dir.File("out.png"), 0, dir.File("hostile.jpg"), -1);
        unsetenv("QUORVANE_DECODE_TEST_FAULT");
        EXPECT_EQ(status, SaveStatus::SavedWithoutMetadata);
        EXPECT_TRUE(SamePixels(LoadImageFile(dir.File("out.png")).image.picture.buf, pic.buf));
        EXPECT_FALSE(ReadTags(dir.File("out.png")).values.count("Exif.Image.Artist"));
    }
}
