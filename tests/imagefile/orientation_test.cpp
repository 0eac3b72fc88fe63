#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "imagefile.h"
#include "metadata.h"
#include "tagged_files.h"
#include "test_files.h"

namespace {

// The stored form of an upright bitmap for each EXIF orientation, made with
// FreeImage's own turns and flips (Rotate turns anticlockwise).
FIBITMAP* StoredForm(FIBITMAP* upright, int orientation) {
    FIBITMAP* b = nullptr;
    switch (orientation) {
        case 1: case 2: case 4: b = FreeImage_Clone(upright); break;
        case 3: b = FreeImage_Rotate(upright, 180); break;
        case 5: case 6: case 7: b = FreeImage_Rotate(upright, 90); break;
        case 8: b = FreeImage_Rotate(upright, 270); break;
    }
    if (orientation == 2 || orientation == 7) FreeImage_FlipHorizontal(b);
    if (orientation == 4 || orientation == 5) FreeImage_FlipVertical(b);
    return b;
}

void WriteStored(const PictureAndAlpha& upright, int orientation, FREE_IMAGE_FORMAT fif, const std::string& path) {
    FIBITMAP* b = PictureToBitmap(&upright.picture.buf, &upright.alpha.buf);
    FIBITMAP* stored = StoredForm(b, orientation);
    ASSERT_TRUE(FreeImage_Save(fif, stored, path.c_str(), fif == FIF_JPEG ? 100 : 0));
    FreeImage_Unload(stored);
    FreeImage_Unload(b);
    TagFile(path, orientation);
}

bool Near(const SBxPicBuf& a, const SBxPicBuf& b, int tolerance) {
    if (!CBxPicBufAPI::SameGeometry(a, b)) return false;
    for (int y = 0; y < a.height; ++y)
        for (int i = 0; i < a.width * a.components; ++i)
            if (std::abs(a.Row<uint8_t>(y)[i] - b.Row<uint8_t>(y)[i]) > tolerance) return false;
    return true;
}

}  // namespace

TEST(Orientation, EveryValueGivesTheSameUprightPictureFromTiff) {
    ScratchDir dir;
    PictureAndAlpha upright;
    upright.picture = Pattern(5, 3, 3, 8);
    upright.alpha = Pattern(5, 3, 1, 8);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::string path = dir.File("o" + std::to_string(orientation) + ".tif");
        WriteStored(upright, orientation, FIF_TIFF, path);
        ASSERT_EQ(ReadOrientation(path), orientation);
        LoadResult r = LoadImageFile(path);
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(SamePixels(r.image.picture.buf, upright.picture.buf));
        EXPECT_TRUE(SamePixels(r.image.alpha.buf, upright.alpha.buf));
    }
}

TEST(Orientation, EveryValueGivesTheSameUprightPictureFromJpeg) {
    ScratchDir dir;
    // Flat 8 × 8 blocks survive JPEG at full quality almost unchanged.
    PictureAndAlpha upright;
    CBxPicBufAPI::ReinitHeap(upright.picture.buf, 24, 16, 1, 8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) upright.picture.buf.Row<uint8_t>(y)[x] = uint8_t(20 + 40 * (x / 8) + 120 * (y / 8));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::string path = dir.File("o" + std::to_string(orientation) + ".jpg");
        WriteStored(upright, orientation, FIF_JPEG, path);
        LoadResult r = LoadImageFile(path);
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(Near(r.image.picture.buf, upright.picture.buf, 2));
    }
}

TEST(Orientation, QuarterTurnsByHand) {
    // Stored as one row "dark, light": a quarter turn clockwise puts the dark
    // pixel on top, anticlockwise at the bottom.
    PictureAndAlpha image;
    CBxPicBufAPI::ReinitHeap(image.picture.buf, 2, 1, 1, 16);
    image.picture.buf.Row<uint16_t>(0)[0] = 100;
    image.picture.buf.Row<uint16_t>(0)[1] = 60000;
    ASSERT_TRUE(ApplyOrientation(image, 6));
    ASSERT_EQ(image.picture.buf.width, 1);
    ASSERT_EQ(image.picture.buf.height, 2);
    EXPECT_EQ(image.picture.buf.Row<uint16_t>(0)[0], 100);
    ASSERT_TRUE(ApplyOrientation(image, 3));
    EXPECT_EQ(image.picture.buf.Row<uint16_t>(0)[0], 60000);
    ASSERT_TRUE(ApplyOrientation(image, 9));
    EXPECT_EQ(image.picture.buf.Row<uint16_t>(0)[0], 60000);
    EXPECT_TRUE(image.alpha.Empty());
}
