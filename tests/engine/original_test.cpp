#include <gtest/gtest.h>

#include "blur.h"
#include "direction.h"
#include "engine_test_util.h"
#include "flow.h"
#include "original.h"
#include "parallel.h"
#include "sharpen.h"
#include "shock.h"
#include "tensor.h"
#include "tiles.h"

namespace {

OriginalParams Fast() {
    OriginalPositions p = DefaultOriginalPositions();
    p[kSmoothAlpha] = 4;
    return OriginalParamsFromPositions(p);
}

}  // namespace

TEST(OriginalParams, SliderTablesMatchThePanel) {
    const int lengths[20] = {2, 2, 3, 4, 4, 5, 7, 8, 10, 11, 13, 16, 18, 20, 23, 26, 29, 32, 36, 40};
    const int thresholds[20] = {-88,  0,    112,  250,  412,  600,  812,  1050, 1312, 1600,
                                1912, 2250, 2612, 3000, 3412, 3850, 4312, 4800, 5312, 5850};
    OriginalPositions p = DefaultOriginalPositions();
    for (int pos = 1; pos <= 20; ++pos) {
        p[kSmoothAlpha] = pos;
        p[kFlatten] = pos;
        const OriginalParams o = OriginalParamsFromPositions(p);
        EXPECT_EQ(FlowLength(FlowSigma(o.smoothness)), lengths[pos - 1]) << pos;
        EXPECT_EQ(ShockThreshold(o.flattening), thresholds[pos - 1]) << pos;
    }
    const OriginalParams d = OriginalParamsFromPositions(DefaultOriginalPositions());
    EXPECT_FLOAT_EQ(d.smoothness, 3.5f);
    EXPECT_FLOAT_EQ(d.weakThreshold, 20.f);
    EXPECT_FLOAT_EQ(d.flattening, 0.15f);
    EXPECT_FLOAT_EQ(d.sharpenStrength, 10.f);
    EXPECT_EQ(IntegerGaussianKernel(0.7f), (std::vector<int32_t>{2, 27, 74, 27, 2}));
}

namespace {

TileRect OriginalTile(int width, int height, int index) {
    return WithMargin(TileCore(width, height, index), 70, width, height);
}

}  // namespace

TEST(OriginalTiles, GeometryAndCounts) {
    EXPECT_EQ(TileCount(499, 2000), 0);
    EXPECT_EQ(OriginalSteps(499, 2000), 38);
    EXPECT_EQ(TileCount(999, 999), 1);
    EXPECT_EQ(OriginalSteps(999, 999), 38);
    EXPECT_EQ(TileCount(1200, 800), 2);
    EXPECT_EQ(OriginalSteps(1200, 800), 2 * 38);
    const TileRect whole = OriginalTile(999, 999, 0);
    EXPECT_EQ(whole.x0, 0);
    EXPECT_EQ(whole.x1, 999);
    ASSERT_EQ(TileCount(1000, 1000), 4);
    const TileRect a = OriginalTile(1000, 1000, 0), d = OriginalTile(1000, 1000, 3);
    EXPECT_EQ(a.x0, 0);
    EXPECT_EQ(a.x1, 570);
    EXPECT_EQ(a.y1, 570);
    EXPECT_EQ(d.x0, 430);
    EXPECT_EQ(d.x1, 1000);
    EXPECT_EQ(d.y0, 430);
}

TEST(OriginalTiles, BlendWeightsAddUpToOneAcrossOverlaps) {
    PicBufHolder dst;
    CBxPicBufAPI::ReinitHeap(dst.buf, 1000, 1000, 1, 16);
    CBxPicBufAPI::SetConst(dst.buf, 0);
    for (int t = 0; t < 4; ++t) {
        const TileRect s = OriginalTile(1000, 1000, t);
        PicBufHolder tile;
        CBxPicBufAPI::ReinitHeap(tile.buf, s.x1 - s.x0, s.y1 - s.y0, 1, 16);
        for (int y = 0; y < tile.buf.height; ++y)
            for (int x = 0; x < tile.buf.width; ++x) tile.buf.Row<uint16_t>(y)[x] = 40000;
        BlendTile(dst.buf, tile.buf, s.x0, s.x1, s.y0, s.y1);
    }
    for (int y = 0; y < 1000; y += 7)
        for (int x = 0; x < 1000; x += 3) ASSERT_NEAR(dst.buf.Row<uint16_t>(y)[x], 40000, 2) << x << "," << y;
    EXPECT_EQ(dst.buf.Row<uint16_t>(0)[0], 40000);      // outer sides carry no ramp
    EXPECT_EQ(dst.buf.Row<uint16_t>(999)[999], 40000);
}

TEST(OriginalPipeline, ProgressStepsAndFlatPicturesComeBackUnchanged) {
    for (uint8_t level : {uint8_t(0), uint8_t(77), uint8_t(255)}) {
        PicBufHolder flat, out;
        CBxPicBufAPI::ReinitHeap(flat.buf, 31, 17, 3, 8);
        CBxPicBufAPI::SetConst(flat.buf, level);
        CountingProgress progress;
        ASSERT_EQ(RepaintOriginal(out.buf, flat.buf, OriginalParamsFromPositions(DefaultOriginalPositions()),
                                  progress),
                  RepaintStatus::Done);
        EXPECT_EQ(progress.steps, 38);
        EXPECT_TRUE(SameBuffer(out.buf, flat.buf)) << int(level);
    }
    // Both steps off: still three progress steps per cycle.
    PicBufHolder pic = TestPicture(20, 20, 1, 8), out;
    OriginalParams p = Fast();
    p.flattenOn = p.sharpenOn = 0;
    CountingProgress progress;
    RepaintOriginal(out.buf, pic.buf, p, progress);
    EXPECT_EQ(progress.steps, 38);
}

TEST(OriginalPipeline, SameResultWithAnyThreadCountAtBothDepths) {
    for (int bits : {8, 16}) {
        for (int comps : {1, 3}) {
            PicBufHolder pic = TestPicture(57, 43, comps, bits), one, many;
            CountingProgress p1, p2;
            SetEngineThreads(1);
            RepaintOriginal(one.buf, pic.buf, OriginalParamsFromPositions(DefaultOriginalPositions()), p1);
            SetEngineThreads(3);
            RepaintOriginal(many.buf, pic.buf, OriginalParamsFromPositions(DefaultOriginalPositions()), p2);
            SetEngineThreads(0);
            EXPECT_TRUE(SameBuffer(one.buf, many.buf)) << bits << " bits, " << comps << " components";
            EXPECT_FALSE(SameBuffer(one.buf, pic.buf));
        }
    }
}

TEST(OriginalPipeline, AbortsStopWhereTheyShould) {
    PicBufHolder pic = TestPicture(40, 30, 3, 8), out;
    // Before the tensor step: the result keeps the untouched source.
    CountingProgress early(4);
    EXPECT_EQ(RepaintOriginal(out.buf, pic.buf, Fast(), early), RepaintStatus::Aborted);
    EXPECT_EQ(early.steps, 4);
    EXPECT_TRUE(SameBuffer(out.buf, pic.buf));

    // Tiled, on one thread: an abort in the first tile's cycles skips the
    // second tile, whose own part of the destination stays zero.
    PicBufHolder wide = TestPicture(1000, 500, 1, 8), dst;
    CountingProgress inCycles(12);
    SetEngineThreads(1);
    EXPECT_EQ(RepaintOriginal(dst.buf, wide.buf, Fast(), inCycles), RepaintStatus::Aborted);
    SetEngineThreads(0);
    EXPECT_LT(inCycles.steps, 2 * 38);
    EXPECT_EQ(dst.buf.Row<uint8_t>(250)[900], 0);
    EXPECT_NE(dst.buf.Row<uint8_t>(250)[100], 0);
    EXPECT_FALSE(dst.buf.Row<uint8_t>(250)[100] == wide.buf.Row<uint8_t>(250)[100] &&
                 dst.buf.Row<uint8_t>(251)[101] == wide.buf.Row<uint8_t>(251)[101] &&
                 dst.buf.Row<uint8_t>(120)[40] == wide.buf.Row<uint8_t>(120)[40]);
}

TEST(OriginalPipeline, TilesRunAtOnceAreBlendedInOrder) {
    // Four tiles, more than threads: whatever thread finishes first, the
    // result, the progress and an abort come out as on one thread.
    PicBufHolder pic = TestPicture(1000, 1000, 1, 8), one;
    const OriginalParams p = Fast();
    SetEngineThreads(1);
    CountingProgress serial;
    ASSERT_EQ(RepaintOriginal(one.buf, pic.buf, p, serial), RepaintStatus::Done);
    EXPECT_EQ(serial.steps, 4 * 38);
    for (int threads : {2, 3}) {
        SetEngineThreads(threads);
        PicBufHolder many, stopped;
        CountingProgress counted, aborting(2 * 38);
        ASSERT_EQ(RepaintOriginal(many.buf, pic.buf, p, counted), RepaintStatus::Done);
        EXPECT_EQ(counted.steps, 4 * 38);
        EXPECT_TRUE(SameBuffer(one.buf, many.buf)) << threads << " threads";
        EXPECT_EQ(RepaintOriginal(stopped.buf, pic.buf, p, aborting), RepaintStatus::Aborted);
        EXPECT_LT(aborting.steps, 4 * 38);
    }
    SetEngineThreads(0);
}

TEST(OriginalPipeline, OneTileInTiledModeEqualsTheTileAlone) {
    // 999 × 999 is processed in tiled mode as one tile with every weight 1.
    PicBufHolder pic = TestPicture(999, 999, 1, 8), tiled, alone;
    OriginalParams p = Fast();
    p.smoothness = 0.25f;
    CountingProgress a, b;
    ASSERT_EQ(RepaintOriginal(tiled.buf, pic.buf, p, a), RepaintStatus::Done);
    ASSERT_EQ(RepaintOriginalTile(alone.buf, pic.buf, p, b), RepaintStatus::Done);
    EXPECT_EQ(a.steps, 38);
    EXPECT_TRUE(SameBuffer(tiled.buf, alone.buf));
}

TEST(OriginalPipeline, BadInputIsRefused) {
    PicBufHolder empty, out, floaty;
    CountingProgress progress;
    EXPECT_EQ(RepaintOriginal(out.buf, empty.buf, Fast(), progress), RepaintStatus::BadInput);
    CBxPicBufAPI::ReinitHeap(floaty.buf, 5, 5, 1, 32);
    EXPECT_EQ(RepaintOriginal(out.buf, floaty.buf, Fast(), progress), RepaintStatus::BadInput);
    // A smoothness beyond the slider's range asks for longer flow lines than
    // the tables hold: a bad setting, not a lack of memory.
    OriginalParams tooSmooth = Fast();
    tooSmooth.smoothness = 6.f;
    PicBufHolder small = TestPicture(12, 10, 1, 8);
    EXPECT_EQ(RepaintOriginal(out.buf, small.buf, tooSmooth, progress), RepaintStatus::BadSettings);
    PicBufHolder one = TestPicture(1, 1, 3, 8);
    EXPECT_EQ(RepaintOriginal(out.buf, one.buf, Fast(), progress), RepaintStatus::Done);
    EXPECT_TRUE(SameBuffer(out.buf, one.buf));
}

TEST(OriginalStages, TensorOfARampAndZeroDirections) {
    PicBufHolder guide, jxx, jxy, jyy;
    CBxPicBufAPI::ReinitHeap(guide.buf, 8, 6, 1, 32);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) guide.buf.Row<float>(y)[x] = float(3 * x);
    for (auto* p : {&jxx, &jxy, &jyy}) CBxPicBufAPI::ReinitHeap(p->buf, 8, 6, 1, 32);
    ASSERT_TRUE(StructureTensor(jxx.buf, jxy.buf, jyy.buf, guide.buf));
    // Interior: Dx = -2 × 3 (weights 0.183 + 0.634 + 0.183 on both sides), Dy = 0.
    EXPECT_NEAR(jxx.buf.Row<float>(2)[3], 36.f, 1e-3);
    EXPECT_NEAR(jyy.buf.Row<float>(2)[3], 0.f, 1e-6);
    // Replicated borders halve the difference at the edge.
    EXPECT_NEAR(jxx.buf.Row<float>(2)[0], 9.f, 1e-3);

    std::vector<float> j = InterleaveTensor(jxx.buf.Row<float>(0), jxy.buf.Row<float>(0), jyy.buf.Row<float>(0), 48);
    const TensorField f{j.data(), 8, 6};
    const Vec2 along = FlowDirection(3.f, 2.f, f), across = GradientDirection(3.f, 2.f, f);
    EXPECT_NEAR(std::fabs(along.y), 1.f, 1e-6);
    EXPECT_NEAR(std::fabs(across.x), 1.f, 1e-6);

    std::fill(j.begin(), j.end(), 0.f);
    const Vec2 none = FlowDirection(2.5f, 2.5f, f), none2 = GradientDirection(2.5f, 2.5f, f);
    EXPECT_EQ(none.x, 0.f);
    EXPECT_EQ(none.y, 0.f);
    EXPECT_EQ(none2.x, 0.f);
    EXPECT_EQ(none2.y, 0.f);
}

TEST(OriginalStages, WeakFillLeavesStrongAreasAndCarriesDirectionsIntoFlatOnes) {
    const int w = 40, h = 30;
    PicBufHolder jxx, jxy, jyy;
    for (auto* p : {&jxx, &jxy, &jyy}) {
        CBxPicBufAPI::ReinitHeap(p->buf, w, h, 1, 32);
        CBxPicBufAPI::SetConst(p->buf, 0);
    }
    // A strong vertical edge on the left columns, flat elsewhere.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 4; ++x) jxx.buf.Row<float>(y)[x] = 1000.f;
    CountingProgress progress;
    PicBufHolder copy;
    CBxPicBufAPI::Copy(copy.buf, jxx.buf, CBxRect<int>(0, 0, w, h));
    ASSERT_TRUE(FillWeakTensor(jxx.buf, jxy.buf, jyy.buf, 0.f, progress));
    EXPECT_TRUE(SameBuffer(copy.buf, jxx.buf));  // T = 0: nothing is weak

    ASSERT_TRUE(FillWeakTensor(jxx.buf, jxy.buf, jyy.buf, 20.f, progress));
    EXPECT_EQ(jxx.buf.Row<float>(10)[2], 1000.f);
    EXPECT_GT(jxx.buf.Row<float>(15)[20], 0.f);
    EXPECT_EQ(jyy.buf.Row<float>(15)[20], 0.f);

    for (auto* p : {&jxx, &jxy, &jyy}) CBxPicBufAPI::SetConst(p->buf, 0);
    ASSERT_TRUE(FillWeakTensor(jxx.buf, jxy.buf, jyy.buf, 20.f, progress));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(jxx.buf.Row<float>(y)[x], 0.f);
}

TEST(OriginalStages, SharpeningClampsToTheSixteenBitRange) {
    IntImage img(5, 1, 1);
    const int32_t v[5] = {0, 0, 65535, 0, 0};
    std::copy(v, v + 5, img.data.begin());
    SharpenStep(img, 0.7f, 20.f);
    EXPECT_EQ(img.data[2], 65535);
    EXPECT_EQ(img.data[1], 0);
    IntImage dip(5, 1, 1);
    const int32_t d[5] = {65535, 65535, 100, 65535, 65535};
    std::copy(d, d + 5, dip.data.begin());
    SharpenStep(dip, 0.7f, 20.f);
    EXPECT_EQ(dip.data[2], 0);
}

TEST(OriginalPreviewCache, TablesAreReusedOnlyWhenTheyStillFit) {
    OriginalPreviewCache cache;
    // Each call gives the uncached result and the full progress; `builds`
    // is how many times the tables have been built by then.
    auto check = [&](const PicBufHolder& source, const OriginalParams& p, int builds) {
        PicBufHolder fresh, cached;
        CountingProgress a, b;
        ASSERT_EQ(RepaintOriginal(fresh.buf, source.buf, p, a), RepaintStatus::Done);
        ASSERT_EQ(cache.Repaint(cached.buf, source.buf, p, b), RepaintStatus::Done);
        EXPECT_EQ(b.steps, 38);
        EXPECT_TRUE(SameBuffer(fresh.buf, cached.buf)) << builds;
        EXPECT_EQ(cache.TableBuilds(), builds);
    };
    PicBufHolder pic = TestPicture(60, 45, 3, 8);
    OriginalParams p = Fast();
    check(pic, p, 1);
    p.flattening = 0.4f;
    check(pic, p, 1);
    p.sharpenStrength = 30.f;
    p.flattenOn = 0;
    check(pic, p, 1);
    p.smoothness = 1.5f;
    check(pic, p, 2);
    p.weakThreshold = 60.f;
    check(pic, p, 3);
    check(TestPicture(60, 45, 3, 8, 2), p, 4);  // another crop of the same size
    pic.buf.Row<uint8_t>(44)[179] ^= 1;          // one sample of the last row
    check(pic, p, 5);
    check(TestPicture(60, 45, 3, 16), p, 6);     // a 16-bit picture
    // Tables left half built by an abort are not used.
    PicBufHolder stopped;
    CountingProgress early(6);
    p.smoothness = 2.f;
    EXPECT_EQ(cache.Repaint(stopped.buf, pic.buf, p, early), RepaintStatus::Aborted);
    check(pic, p, 7);
}
