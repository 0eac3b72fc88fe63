#include <gtest/gtest.h>

#include <cmath>

#include "picbuf.h"

namespace {

PicBufHolder Ramp(int w, int h) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 1, 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.buf.Row<uint8_t>(y)[x] = uint8_t(10 * x + 50 * y);
    return p;
}

}  // namespace

TEST(PicMap, PointsRoundTripThroughScaleAndOffset) {
    CBxPicMap map(100, 50, 20, 10, 0, 0.25);
    int x, y;
    map.MapPointSrcToDst(&x, &y, 20, 10);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    map.MapPointSrcToDst(&x, &y, 420, 10);
    EXPECT_EQ(x, 200);
    double sx, sy;
    map.MapPointDstToSrc(&sx, &sy, 200, 75);
    EXPECT_DOUBLE_EQ(sx, 420);
    EXPECT_DOUBLE_EQ(sy, 110);
    map.Compute(3, 4, 1, 2, M_PI / 2, 2);
    map.MapPointDstToSrc(&sx, &sy, 7, 9);
    map.MapPointSrcToDst(&x, &y, sx, sy);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 9);
}

TEST(PicTransform, IdentityCopiesAndOutsideKeepsDestination) {
    PicBufHolder src = Ramp(4, 3);
    PicBufHolder dst;
    CBxPicBufAPI::ReinitHeap(dst.buf, 6, 5, 1, 8);
    for (auto fn : {CBxPicBufAPI::TransformConstantFast, CBxPicBufAPI::TransformBilinearFast,
                    CBxPicBufAPI::TransformBicubicFast}) {
        CBxPicBufAPI::SetConst(dst.buf, 7);
        // picture shifted by (1, 1) inside a larger destination
        ASSERT_TRUE(fn(dst.buf, src.buf, CBxPicMap(1, 1, 0, 0, 0, 1)));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 3;
                const int want = inside ? 10 * (x - 1) + 50 * (y - 1) : 7;
                EXPECT_EQ(dst.buf.Row<uint8_t>(y)[x], want) << x << "," << y;
            }
    }
}

TEST(PicTransform, MagnifiedEdgesClampAndInteriorInterpolates) {
    PicBufHolder src = Ramp(2, 1);  // values 0 and 10
    PicBufHolder dst;
    CBxPicBufAPI::ReinitHeap(dst.buf, 8, 4, 1, 8);
    CBxPicBufAPI::SetConst(dst.buf, 99);
    // zoom 4 with source pixel centres at destination 0 and 4
    ASSERT_TRUE(CBxPicBufAPI::TransformBilinearFast(dst.buf, src.buf, CBxPicMap(0, 0, 0, 0, 0, 4)));
    const uint8_t* r = dst.buf.Row<uint8_t>(0);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[2], 5);
    EXPECT_EQ(r[4], 10);
    EXPECT_EQ(r[5], 10);  // past the last centre: clamped, still inside the pixel
    EXPECT_EQ(r[6], 99);  // beyond the picture: untouched
    EXPECT_EQ(dst.buf.Row<uint8_t>(2)[0], 99);

    CBxPicBufAPI::SetConst(dst.buf, 99);
    ASSERT_TRUE(CBxPicBufAPI::TransformBicubicFast(dst.buf, src.buf, CBxPicMap(0, 0, 0, 0, 0, 4)));
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[4], 10);
    // between the two centres the values climb without over- or undershoot
    // (an undershoot would wrap round in eight bits)
    for (int x = 0; x < 4; ++x) EXPECT_LE(r[x], r[x + 1]) << x;
    EXPECT_LT(r[0], r[2]);
    EXPECT_LT(r[2], r[4]);

    PicBufHolder rgb;
    CBxPicBufAPI::ReinitHeap(rgb.buf, 2, 2, 3, 8);
    EXPECT_FALSE(CBxPicBufAPI::TransformBilinearFast(dst.buf, rgb.buf, CBxPicMap()));
}

TEST(PicTransform, NearestDownscalePicksSourcePixels) {
    PicBufHolder src = Ramp(8, 8);
    PicBufHolder dst;
    CBxPicBufAPI::ReinitHeap(dst.buf, 4, 4, 1, 8);
    ASSERT_TRUE(CBxPicBufAPI::TransformConstantFast(dst.buf, src.buf, CBxPicMap(0, 0, 0, 0, 0, 0.5)));
    EXPECT_EQ(dst.buf.Row<uint8_t>(1)[1], src.buf.Row<uint8_t>(2)[2]);
    EXPECT_EQ(dst.buf.Row<uint8_t>(3)[2], src.buf.Row<uint8_t>(6)[4]);
}
