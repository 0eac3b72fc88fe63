// The view's rules without a window: fit, zoom texts, typed and wheel zoom,
// checkerboard, preview frame, back buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "document.h"
#include "image_view.h"

namespace {

PicBufHolder Picture(int w, int h, uint8_t value = 100) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, 8);
    CBxPicBufAPI::SetConst(p.buf, value);
    return p;
}

}  // namespace

TEST(ViewRules, FitCentresTheLongPictureInTheFitArea) {
    PicBufHolder p = Picture(4000, 1000);
    ViewAnchor a;
    ASSERT_TRUE(FitToView(a, p.buf, ViewRect{0, 40, 1000, 640}));
    EXPECT_DOUBLE_EQ(a.zoom, 0.25);
    int x0, y0, x1, y1;
    a.Map().MapPointSrcToDst(&x0, &y0, 0, 0);
    a.Map().MapPointSrcToDst(&x1, &y1, 4000, 1000);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(x1, 1000);
    EXPECT_EQ((y0 + y1) / 2, 340);  // centred in 40 .. 640
    PicBufHolder none;
    EXPECT_FALSE(FitToView(a, none.buf, ViewRect{0, 0, 10, 10}));
}

TEST(ViewRules, ZoomTextsAndTypedZoom) {
    EXPECT_EQ(ZoomText(1.2), "120.0 %");
    EXPECT_EQ(ZoomText(1 * kZoomStepOut), "83.3 %");
    EXPECT_EQ(ZoomText(0.25), "25.0 %");
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("12,5"), 0.125);
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("12.5 %"), 0.125);
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("5"), 0.1);
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("2000 %"), 8.0);
    EXPECT_DOUBLE_EQ(*ParseTypedZoom(""), 0.1);
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("150%x"), 1.5);  // scanning stops at "%"
    EXPECT_FALSE(ParseTypedZoom("abc"));
    EXPECT_FALSE(ParseTypedZoom("1x0"));
    EXPECT_DOUBLE_EQ(*ParseTypedZoom("123456789999"), 8.0);  // only nine characters are read
    EXPECT_DOUBLE_EQ(ZoomOfEntry(0), 0.1);
    EXPECT_DOUBLE_EQ(ZoomOfEntry(7), 8.0);
    EXPECT_DOUBLE_EQ(ZoomOfEntry(99), 1.0);
}

TEST(ViewRules, WheelZoomKeepsThePointUnderTheMouseWithinItsLimits) {
    PicBufHolder p = Picture(400, 300);
    ViewAnchor a;
    a.dstX = 10;
    a.dstY = 20;
    double sx, sy;
    a.Map().MapPointDstToSrc(&sx, &sy, 110, 70);
    WheelZoom(a, 110, 70, 120, p.buf, p.buf);
    EXPECT_DOUBLE_EQ(a.zoom, 1.2);
    int x, y;
    a.Map().MapPointSrcToDst(&x, &y, sx, sy);
    EXPECT_EQ(x, 110);
    EXPECT_EQ(y, 70);
    // Outside the picture: about the nearest edge point.
    int storedX = 0, storedY = 0;
    WheelZoom(a, -500, 70, -120, p.buf, p.buf, &storedX, &storedY);
    a.Map().MapPointDstToSrc(&sx, &sy, storedX, storedY);
    EXPECT_NEAR(sx, 0.0, 1.0);
    for (int i = 0; i < 40; ++i) WheelZoom(a, 110, 70, 1, p.buf, p.buf);
    EXPECT_DOUBLE_EQ(a.zoom, 8.0);
    for (int i = 0; i < 80; ++i) WheelZoom(a, 110, 70, -1, p.buf, p.buf);
    EXPECT_DOUBLE_EQ(a.zoom, 100.0 / 400);
}

TEST(ViewRules, CheckerboardUnderTransparentPixels) {
    PicBufHolder target = Picture(20, 1, 100), alpha;
    CBxPicBufAPI::ReinitHeap(alpha.buf, 20, 1, 1, 8);
    uint8_t* a = alpha.buf.pixels;
    CBxPicBufAPI::SetConst(alpha.buf, 255);
    a[0] = 0;     // square (0, 0): 190
    a[1] = 128;
    a[16] = 0;    // square (1, 0): 220
    CompositeChecker(target.buf, alpha.buf);
    const uint8_t* t = target.buf.pixels;
    EXPECT_EQ(t[0], 190);
    EXPECT_EQ(t[3], (127 * 190 + 100 * 128) / 255);
    EXPECT_EQ(t[6], 100);
    EXPECT_EQ(t[16 * 3 + 2], 220);
}

TEST(ViewRules, PreviewFrameInvertsEachFramePixelOnce) {
    PicBufHolder target = Picture(20, 16, 10);
    DrawPreviewFrame(target.buf, CBxPicMap(), CBxRect<int>(2, 3, 12, 11));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool outerX = x == 2 || x == 12, innerX = x == 3 || x == 11;
            const bool outerY = y == 3 || y == 11, innerY = y == 4 || y == 10;
            const bool inside = x >= 2 && x <= 12 && y >= 3 && y <= 11;
            const bool frame = inside && (outerX || innerX || outerY || innerY);
            const uint8_t* px = target.buf.Row<uint8_t>(y) + 3 * x;
            ASSERT_EQ(px[2], frame ? uint8_t(~10) : 10) << x << "," << y;
            ASSERT_EQ(px[0], 10);
        }
}

TEST(ViewRules, RenderingFillsABackBufferThatGrowsWithTheWindow) {
    Document doc;
    ASSERT_TRUE(InitDocument(doc, 35));
    EXPECT_EQ(doc.backBuffer.width, kBackBufferWidth);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(doc.backBuffer.pixels[i * 7919], 35);
    ImageView view;
    ViewAnchor anchor;
    PicBufHolder p = Picture(40, 30, 200), none;
    anchor.zoom = 100;  // the picture covers the whole window
    EXPECT_TRUE(RenderView(view, doc, anchor, p.buf, 0, kSlotDisplayed, true, none.buf, 3500, 2200, 48));
    EXPECT_GE(doc.backBuffer.width, 3500);
    EXPECT_GE(doc.backBuffer.height, 2200);
    EXPECT_EQ(doc.backBuffer.Row<uint8_t>(2150)[3 * 3450], 200);
    // Reusing an empty copy, or another slot, leaves only the background.
    EXPECT_FALSE(RenderView(view, doc, anchor, p.buf, 1, kSlotLoaded, true, none.buf, 100, 100, 48));
    EXPECT_EQ(doc.backBuffer.Row<uint8_t>(50)[150], 48);
    EXPECT_FALSE(RenderView(view, doc, anchor, p.buf, 0, kSlotNone, true, none.buf, 100, 100, 48));
    ReleaseViewCopies(view);
    ReleaseDocument(doc);
}

// On a screen with more device pixels than window pixels the zoom counts
// device pixels: 100 % gives each picture pixel one screen pixel, unblended,
// wherever the anchor falls; the window mapping (mouse, frame) shrinks by the
// ratio, the checkerboard and the frame grow with it.
TEST(ViewRules, ScaledScreensShowThePictureInDevicePixels) {
    PicBufHolder p = Picture(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) p.buf.Row<uint8_t>(y)[3 * x + c] = uint8_t(10 + (x * 5 + y * 3 + c * 50) % 120);
    PicBufHolder none;
    for (double ratio : {1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        ViewAnchor a;
        a.ratio = ratio;
        ASSERT_TRUE(FitToView(a, p.buf, ViewRect{0, 0, 200, 120}));
        EXPECT_DOUBLE_EQ(a.zoom, 4 * ratio);  // 160 window pixels wide
        int x0, y0, x1, y1;
        a.Map().MapPointSrcToDst(&x0, &y0, 0, 0);
        a.Map().MapPointSrcToDst(&x1, &y1, 40, 30);
        EXPECT_EQ(x1 - x0, 160);
        EXPECT_EQ(y1 - y0, 120);

        Zoom100(a, ViewRect{0, 0, 201, 121});  // the centre falls between device pixels
        a.srcX = 20.25;
        EXPECT_DOUBLE_EQ(a.Scale(), 1 / ratio);
        Document doc;
        ASSERT_TRUE(InitDocument(doc, 48));
        ImageView view;
        ASSERT_TRUE(RenderView(view, doc, a, p.buf, 0, kSlotDisplayed, true, none.buf, 320, 200, 48));
        // Exactly 40 × 30 device pixels hold the picture, each one a sample of it.
        int left = -1, top = -1, width = 0, height = 0;
        for (int y = 0; y < 200; ++y) {
            int inRow = 0;
            for (int x = 0; x < 320; ++x) {
                const uint8_t* px = doc.backBuffer.Row<uint8_t>(y) + 3 * x;
                if (px[0] == 48 && px[1] == 48 && px[2] == 48) continue;
                if (left < 0) left = x, top = y;
                const uint8_t* sample = p.buf.Row<uint8_t>(y - top) + 3 * (x - left);
                ASSERT_TRUE(std::equal(px, px + 3, sample)) << x << "," << y;
                ++inRow;
            }
            if (inRow) width = inRow, ++height;
        }
        EXPECT_EQ(width, 40);
        EXPECT_EQ(height, 30);
        EXPECT_NEAR(left + 20.25, 100.5 * ratio, 0.5);  // the anchor point stays where the window puts it

        // The checkerboard under a transparent picture keeps its size in window pixels.
        PicBufHolder clear;
        CBxPicBufAPI::ReinitHeap(clear.buf, 40, 30, 1, 8);
        CBxPicBufAPI::SetConst(clear.buf, 0);
        ASSERT_TRUE(RenderView(view, doc, a, p.buf, 0, kSlotDisplayed, true, clear.buf, 320, 200, 48));
        const int square = int(std::lround(kChecker * ratio)), y = top + 1;
        for (int x = left; x < left + 40; ++x)
            ASSERT_EQ(doc.backBuffer.Row<uint8_t>(y)[3 * x], (x / square) % 2 == (y / square) % 2 ? 190 : 220) << x;
        ReleaseViewCopies(view);
        ReleaseDocument(doc);
    }
}

TEST(ViewRules, CheckerSquaresAndFrameWidthsFollowTheirArgument) {
    PicBufHolder target = Picture(40, 1, 100), alpha;
    CBxPicBufAPI::ReinitHeap(alpha.buf, 40, 1, 1, 8);
    CBxPicBufAPI::SetConst(alpha.buf, 0);
    CompositeChecker(target.buf, alpha.buf, 30);
    EXPECT_EQ(target.buf.pixels[3 * 29], 190);
    EXPECT_EQ(target.buf.pixels[3 * 30], 220);
    PicBufHolder framed = Picture(20, 20, 10);
    DrawPreviewFrame(framed.buf, CBxPicMap(), CBxRect<int>(2, 2, 17, 17), 3);
    auto red = [&](int x, int y) { return framed.buf.Row<uint8_t>(y)[3 * x + 2]; };
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(red(i, 10), i >= 2 && i <= 4 ? uint8_t(~10) : i >= 15 && i <= 17 ? uint8_t(~10) : 10) << i;
        EXPECT_EQ(red(10, i), i >= 2 && i <= 4 ? uint8_t(~10) : i >= 15 && i <= 17 ? uint8_t(~10) : 10) << i;
    }
}
