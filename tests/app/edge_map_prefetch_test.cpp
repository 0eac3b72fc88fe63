// Redraw's edge map built on a thread of its own: the same map as built in
// place, handed over once and only for its Details value, and a build that
// can always be stopped.
#include <gtest/gtest.h>

#include <cstring>

#include "edge_map_prefetch.h"
#include "progress.h"
#include "redraw.h"

namespace {

PicBufHolder Picture(int w, int h) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, 8);
    for (uint32_t i = 0; i < p.buf.size; ++i) p.buf.pixels[i] = uint8_t((i * 7 + (i / (3u * w)) * 13) & 0xFF);
    return p;
}

RedrawParams WithDetails(int details) {
    RedrawPositions p = DefaultRedrawPositions();
    p[0] = details;
    return RedrawParamsFromPositions(p);
}

}  // namespace

TEST(EdgeMapThread, HandsOverTheMapBuiltInPlaceOnceAndOnlyForItsDetails) {
    PicBufHolder picture = Picture(160, 120), expected;
    QuietProgress quiet;
    const RedrawParams params = WithDetails(10), other = WithDetails(40);
    ASSERT_EQ(BuildRedrawEdgeMap(expected.buf, picture.buf, params, quiet), RepaintStatus::Done);

    EdgeMapPrefetch prefetch;
    prefetch.Start(picture.buf, params);
    CBxPicBufAPI::SetConst(picture.buf, 0);  // the build works on its own copy
    PicBufHolder map;
    ASSERT_TRUE(prefetch.Take(params.details, map));
    ASSERT_TRUE(CBxPicBufAPI::SameGeometry(map.buf, expected.buf));
    EXPECT_EQ(std::memcmp(map.buf.pixels, expected.buf.pixels, expected.buf.size), 0);
    EXPECT_FALSE(prefetch.Pending());
    EXPECT_FALSE(prefetch.Take(params.details, map));  // taken already
    EXPECT_NE(map.buf.pixels, nullptr);                // and a refusal leaves the caller's map alone

    prefetch.Start(Picture(160, 120).buf, params);
    PicBufHolder none;
    EXPECT_FALSE(prefetch.Take(other.details, none));  // built for another Details value
    EXPECT_EQ(none.buf.pixels, nullptr);
    EXPECT_FALSE(prefetch.Pending());
}

TEST(EdgeMapThread, ACancelledOrAbandonedBuildEndsWithNothingToTake) {
    const PicBufHolder picture = Picture(1600, 1200);
    const RedrawParams params = WithDetails(10);
    EdgeMapPrefetch prefetch;
    prefetch.Start(picture.buf, params);
    EXPECT_TRUE(prefetch.Pending());
    prefetch.Cancel();
    EXPECT_FALSE(prefetch.Pending());
    PicBufHolder map;
    EXPECT_FALSE(prefetch.Take(params.details, map));
    // A second start replaces the first; one still running when the owner
    // goes is stopped and joined, not left behind.
    prefetch.Start(picture.buf, params);
    prefetch.Start(picture.buf, WithDetails(20));
    EXPECT_FALSE(prefetch.Take(params.details, map));
    {
        EdgeMapPrefetch abandoned;
        abandoned.Start(picture.buf, params);
    }
    EXPECT_EQ(map.buf.pixels, nullptr);
}
