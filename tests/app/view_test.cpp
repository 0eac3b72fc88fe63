// The view's rules without a window: fit, zoom texts, typed and wheel zoom,
// checkerboard, preview frame, back buffer.
#include <gtest/gtest.h>

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
