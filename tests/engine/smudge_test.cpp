#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "parallel.h"
#include "cimg_bridge.h"
#include "streamlines.h"
#include "smudge.h"
#include "tiles.h"

TEST(SmudgeParams, PanelMapping) {
    SmudgePositions p = DefaultSmudgePositions();
    SmudgeParams s = SmudgeParamsFromPositions(p);
    EXPECT_FLOAT_EQ(s.alpha, 0.4f);
    EXPECT_FLOAT_EQ(s.sharpness, 0.25f);
    EXPECT_FLOAT_EQ(s.sigma, 4.f);
    p = {100, 100, 0};
    s = SmudgeParamsFromPositions(p);
    EXPECT_FLOAT_EQ(s.sharpness, 0.f);
    EXPECT_FLOAT_EQ(s.alpha, 4.f);
    EXPECT_FLOAT_EQ(s.sigma, 1.f);
    p = {1, 1, 100};
    s = SmudgeParamsFromPositions(p);
    EXPECT_FLOAT_EQ(s.sharpness, 0.495f);
    EXPECT_FLOAT_EQ(s.alpha, 0.04f);
    EXPECT_FLOAT_EQ(s.sigma, 11.f);
}

TEST(SmudgeTiles, Geometry) {
    EXPECT_EQ(TileCount(499, 5000), 0);
    ASSERT_EQ(TileCount(500, 500), 1);
    const TileRect one = TileCore(500, 500, 0), oneGrown = WithMargin(one, 50, 500, 500);
    EXPECT_EQ(oneGrown.x0, 0);
    EXPECT_EQ(oneGrown.x1, 500);
    EXPECT_EQ(one.x1, 500);
    ASSERT_EQ(TileCount(1499, 1000), 4);
    const TileRect first = TileCore(1499, 1000, 0), last = TileCore(1499, 1000, 3);
    const TileRect firstGrown = WithMargin(first, 50, 1499, 1000), lastGrown = WithMargin(last, 50, 1499, 1000);
    EXPECT_EQ(first.x1, 750);
    EXPECT_EQ(first.y1, 500);
    EXPECT_EQ(firstGrown.x1, 800);
    EXPECT_EQ(firstGrown.y1, 550);
    EXPECT_EQ(last.x0, 750);
    EXPECT_EQ(last.x1, 1499);
    EXPECT_EQ(last.y0, 500);
    EXPECT_EQ(lastGrown.x0, 700);
    EXPECT_EQ(lastGrown.y0, 450);
    EXPECT_EQ(SmudgeSteps(600, 300, 3), 4);
    EXPECT_EQ(SmudgeSteps(400, 400, 1), 1);
    EXPECT_EQ(SmudgeSteps(1000, 1500, 3), 3 + 6 * 3);
}

TEST(SmudgeRun, ProgressAndDepthsOnTheWholePicturePath) {
    const SmudgeParams params = SmudgeParamsFromPositions(DefaultSmudgePositions());
    for (int bits : {8, 16}) {
        for (int comps : {1, 3}) {
            PicBufHolder pic = TestPicture(60, 40, comps, bits), out;
            CountingProgress progress;
            ASSERT_EQ(RepaintSmudge(out.buf, pic.buf, params, progress), RepaintStatus::Done);
            EXPECT_EQ(progress.steps, comps == 1 ? 1 : 4);
            EXPECT_EQ(out.buf.bits, bits);
            EXPECT_FALSE(SameBuffer(out.buf, pic.buf));
        }
    }
    // No steps while the progress bar is hidden (the preview).
    PicBufHolder pic = TestPicture(30, 30, 3, 8), out;
    CountingProgress hidden(-1, false);
    RepaintSmudge(out.buf, pic.buf, params, hidden);
    EXPECT_EQ(hidden.steps, 0);
}

TEST(SmudgeRun, TiledPathStepsThreadsAndEarlyAbort) {
    const SmudgeParams params = SmudgeParamsFromPositions(DefaultSmudgePositions());
    PicBufHolder pic = TestPicture(500, 500, 1, 8), one, many;
    CountingProgress p1, p2;
    SetEngineThreads(1);
    ASSERT_EQ(RepaintSmudge(one.buf, pic.buf, params, p1), RepaintStatus::Done);
    SetEngineThreads(2);
    RepaintSmudge(many.buf, pic.buf, params, p2);
    SetEngineThreads(0);
    EXPECT_EQ(p1.steps, 3 + 1);
    EXPECT_TRUE(SameBuffer(one.buf, many.buf));

    // Abort while the tensor field is computed: the target is not written at all.
    PicBufHolder target;
    CBxPicBufAPI::ReinitHeap(target.buf, pic.buf);
    CBxPicBufAPI::SetConst(target.buf, 7);
    CountingProgress abortNow(0);
    EXPECT_EQ(RepaintSmudge(target.buf, pic.buf, params, abortNow), RepaintStatus::Aborted);
    for (uint32_t i = 0; i < target.buf.size; ++i) ASSERT_EQ(target.buf.pixels[i], 7);
}

TEST(SmudgeRun, SmoothingAllChannelsAtOnceEqualsSmoothingEachAlone) {
    PicBufHolder pic = TestPicture(70, 50, 3, 8);
    PicBufHolder grey;
    CBxPicBufAPI::Copy(grey.buf, pic.buf, CBxRect<int>(0, 0, 70, 50));
    CBxPicBufAPI::ConvertBpcComp(grey.buf, 8, 1);
    const FloatPlanes g = DiffusionTensors(PlaneFromBuffer(grey.buf), 0.25f, 1.f, 0.4f, 4.f);
    FloatPlanes all(70, 50, 3);
    std::vector<FloatPlanes> alone;
    PicBufHolder channel;
    CBxPicBufAPI::ReinitHeap(channel.buf, 70, 50, 1, 8);
    for (int c = 0; c < 3; ++c) {
        CBxPicBufAPI::ExtractComponent(channel.buf, c, pic.buf);
        alone.push_back(PlaneFromBuffer(channel.buf));
        std::copy(alone.back().data.begin(), alone.back().data.end(), all.Channel(c));
        BlurAnisotropic(alone.back(), g);
    }
    BlurAnisotropicChannels(all, g);
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < 70 * 50; ++i) ASSERT_EQ(all.Channel(c)[i], alone[size_t(c)].data[i]) << c << " " << i;
}

TEST(SmudgeRun, ASingleTileEqualsTheWholePicturePath) {
    // 500 × 500 is one tile covering the whole picture: the tiled path must
    // give exactly what the whole-picture path gives.
    PicBufHolder pic = TestPicture(500, 500, 3, 8), tiled, whole;
    const SmudgeParams params = SmudgeParamsFromPositions(DefaultSmudgePositions());
    CountingProgress a, b;
    ASSERT_EQ(RepaintSmudge(tiled.buf, pic.buf, params, a), RepaintStatus::Done);
    ASSERT_EQ(RepaintSmudgeWhole(whole.buf, pic.buf, params, b), RepaintStatus::Done);
    EXPECT_EQ(a.steps, 3 + 3);
    EXPECT_EQ(b.steps, 4);
    EXPECT_TRUE(SameBuffer(tiled.buf, whole.buf));
}

TEST(SmudgeRun, AGreyPictureProcessedWholeStopsOnAbort) {
    // Narrower than a tile, so processed whole, as a long grey panorama is.
    const SmudgeParams params = SmudgeParamsFromPositions(DefaultSmudgePositions());
    PicBufHolder pic = TestPicture(450, 120, 1, 8), out;
    CountingProgress abortNow(0);
    EXPECT_EQ(RepaintSmudge(out.buf, pic.buf, params, abortNow), RepaintStatus::Aborted);
    CountingProgress never;
    EXPECT_EQ(RepaintSmudge(out.buf, pic.buf, params, never), RepaintStatus::Done);
}
