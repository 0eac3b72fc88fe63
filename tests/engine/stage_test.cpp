// The stages of the Original method on tiny synthetic pictures whose
// results can be worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine_test_util.h"
#include "flow.h"
#include "original.h"
#include "sharpen.h"
#include "shock.h"
#include "tensor.h"

namespace {

PicBufHolder FloatPlane(int w, int h, float value) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 1, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.buf.Row<float>(y)[x] = value;
    return p;
}

IntImage Row(const std::vector<int32_t>& values, int height = 1) {
    IntImage img(int(values.size()), height, 1);
    for (int y = 0; y < height; ++y) std::copy(values.begin(), values.end(), img.Row(y));
    return img;
}

// A tensor field whose across-edge direction is x everywhere: the shock
// step's neighbours are the pixels left and right.
ShockTable HorizontalShockTable(int w, int h) {
    PicBufHolder jxx = FloatPlane(w, h, 1.f), jxy = FloatPlane(w, h, 0.f), jyy = FloatPlane(w, h, 0.f);
    ShockTable table;
    EXPECT_TRUE(BuildShockTable(table, jxx.buf, jxy.buf, jyy.buf, 1));
    return table;
}

}  // namespace

TEST(ShockStage, RaisesTheBrightSideAndLowersTheDarkSideOfAnEdge) {
    // A soft step on the 16-bit scale; row 2 is the one row whose neighbours
    // lie inside the band of a 16 × 5 tile.
    const std::vector<int32_t> edge = {10000, 10000, 10000, 10000, 10000, 10000, 14000, 26000,
                                       30000, 30000, 30000, 30000, 30000, 30000, 30000, 30000};
    const ShockTable table = HorizontalShockTable(16, 5);

    // x = 6: s = (26000 - 14000) - (14000 - 10000) = 8000 > T, the dark side: minimum.
    // x = 7: s = (30000 - 26000) - (26000 - 14000) = -8000 < -T, the bright side: maximum.
    IntImage img = Row(edge, 5);
    ShockStep(img, table, 250);
    EXPECT_EQ(img.Row(2)[6], 10000);
    EXPECT_EQ(img.Row(2)[7], 30000);
    EXPECT_EQ(img.Row(2)[5], 10000);
    EXPECT_EQ(img.Row(2)[8], 30000);
    EXPECT_EQ(img.Row(0)[6], 14000);  // the outer rows are never changed

    // An edge weaker than the threshold is spared.
    IntImage spared = Row(edge, 5);
    ShockStep(spared, table, 9000);
    EXPECT_EQ(spared.Row(2)[6], 14000);
    EXPECT_EQ(spared.Row(2)[7], 26000);

    // With a negative threshold (slider position 1) every pixel moves: on a
    // linear ramp (s = 0) each one takes its brighter neighbour.
    IntImage ramp = Row({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000, 13000,
                         14000, 15000},
                        5);
    ShockStep(ramp, table, ShockThreshold(0.075f));
    for (int x = 3; x <= 12; ++x) EXPECT_EQ(ramp.Row(2)[x], 1000 * (x + 1)) << x;
}

TEST(SharpenStage, OvershootsBothSidesOfAnEdgeByTheAmount) {
    // One row: the vertical pass leaves it alone, the horizontal one uses the
    // weights 2, 27, 74, 27, 2. Beside the step, the blur gives
    // x = 3: (2 + 27 + 74) × 1000 + (27 + 2) × 3000 = 190000, ÷ 132 = 1439;
    // x = 4: (2 + 27) × 1000 + (74 + 27 + 2) × 3000 = 338000, ÷ 132 = 2560;
    // x = 2: (2 + 27 + 74 + 27) × 1000 + 2 × 3000 = 136000, ÷ 132 = 1030.
    const std::vector<int32_t> step = {1000, 1000, 1000, 1000, 3000, 3000, 3000, 3000};
    IntImage strong = Row(step);
    SharpenStep(strong, 0.7f, 20.f);  // strength 40: half of the difference
    EXPECT_EQ(strong.data, (std::vector<int32_t>{1000, 1000, 985, 1000 - 219, 3000 + 220, 3015, 3000, 3000}));

    IntImage mild = Row(step);
    SharpenStep(mild, 0.7f, 10.f);  // a quarter
    EXPECT_EQ(mild.data[3], 1000 - 109);
    EXPECT_EQ(mild.data[4], 3000 + 110);
    EXPECT_EQ(mild.data[0], 1000);
}

TEST(WeakFillStage, OnePassAveragesTheFourNeighboursOfWeakPixels) {
    TensorLevel level(5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const size_t i = size_t(y) * 5 + x;
            level.jxx[i] = float(x * x + 3 * y * y);
            level.jxy[i] = float(x * y * y);
            level.jyy[i] = float(x + y * y * y);
        }
    level.mask[2 * 5 + 2] = 255;  // the centre is weak
    level.mask[0 * 5 + 2] = 255;  // so is a border pixel, which a pass never changes
    TensorLevel fixed = level;
    QuietProgress quiet;

    RelaxWeak(level, 1000.f, 1, quiet);
    // Left (1, 2), right (3, 2), above (2, 1), below (2, 3).
    EXPECT_EQ(level.jxx[12], (13.f + 21.f + 7.f + 31.f) * 0.25f);
    EXPECT_EQ(level.jxy[12], (4.f + 12.f + 2.f + 18.f) * 0.25f);
    EXPECT_EQ(level.jyy[12], (9.f + 11.f + 3.f + 29.f) * 0.25f);
    EXPECT_EQ(level.jxx[2], 4.f);
    EXPECT_EQ(level.mask[12], 255);

    // Strong enough for the threshold: the pixel is fixed and keeps its values.
    RelaxWeak(fixed, 1.f, 1, quiet);
    EXPECT_EQ(fixed.jxx[12], 16.f);
    EXPECT_EQ(fixed.mask[12], 1);
}

TEST(WeakFillStage, TheFullSizeLevelGetsTwentyPasses) {
    // 40 × 7 has no coarse level, and with a huge threshold every pixel stays
    // weak, so each pass carries the strong left column one pixel further.
    const int w = 40, h = 7;
    PicBufHolder jxx = FloatPlane(w, h, 0.f), jxy = FloatPlane(w, h, 0.f), jyy = FloatPlane(w, h, 0.f);
    for (int y = 0; y < h; ++y) jxx.buf.Row<float>(y)[0] = 1000.f;
    auto passes = [&](int n) {
        TensorLevel level(w, h);
        for (int y = 0; y < h; ++y) level.jxx[size_t(y) * w] = 1000.f;
        std::fill(level.mask.begin(), level.mask.end(), 255);
        QuietProgress quiet;
        RelaxWeak(level, 1e6f, n, quiet);
        return level.jxx;
    };
    QuietProgress quiet;
    ASSERT_TRUE(FillWeakTensor(jxx.buf, jxy.buf, jyy.buf, 1e6f, quiet));
    const std::vector<float> filled(jxx.buf.Row<float>(0), jxx.buf.Row<float>(0) + w * h);
    EXPECT_EQ(filled, passes(20));
    EXPECT_NE(filled, passes(19));
    EXPECT_GT(filled[size_t(3) * w + 20], 0.f);
    EXPECT_EQ(filled[size_t(3) * w + 21], 0.f);
}

TEST(FlowStage, SmoothingKeepsAConstantAndALinearRamp) {
    // A diagonal ramp: the flow lines run along its level lines, so every
    // sample of a pixel reads (up to the 7-bit weights) the pixel's own value.
    const int w = 40, h = 36;
    PicBufHolder guide = FloatPlane(w, h, 0.f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) guide.buf.Row<float>(y)[x] = float(3 * x + 2 * y);
    PicBufHolder jxx = FloatPlane(w, h, 0.f), jxy = FloatPlane(w, h, 0.f), jyy = FloatPlane(w, h, 0.f);
    ASSERT_TRUE(StructureTensor(jxx.buf, jxy.buf, jyy.buf, guide.buf));
    const float sigma = FlowSigma(1.75f);
    FlowTable table;
    ASSERT_EQ(BuildFlowTable(table, jxx.buf, jxy.buf, jyy.buf, guide.buf, sigma, FlowLength(sigma), 1),
              RepaintStatus::Done);
    // A line longer than the lists hold is a bad setting, not a lack of memory.
    FlowTable tooLong;
    EXPECT_EQ(BuildFlowTable(tooLong, jxx.buf, jxy.buf, jyy.buf, guide.buf, sigma, kFlowListMax + 1, 1),
              RepaintStatus::BadSettings);

    IntImage constant(w, h, 1);
    std::fill(constant.data.begin(), constant.data.end(), 51234);
    FlowSmooth(constant, table);
    for (int32_t v : constant.data) ASSERT_EQ(v, 51234);

    IntImage ramp(w, h, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ramp.Row(y)[x] = 256 * (3 * x + 2 * y);
    FlowSmooth(ramp, table);
    for (int y = 10; y < h - 10; ++y)
        for (int x = 10; x < w - 10; ++x) ASSERT_NEAR(ramp.Row(y)[x], 256 * (3 * x + 2 * y), 8) << x << "," << y;
}

namespace {

// The weak-area fill as the method describes it, level by level, with the
// coarse levels averaged, relaxed and their change added back.
void ReferenceFill(std::vector<float>& jxx, std::vector<float>& jxy, std::vector<float>& jyy, int w, int h, float t) {
    QuietProgress quiet;
    TensorLevel full(w, h);
    full.jxx = jxx;
    full.jxy = jxy;
    full.jyy = jyy;
    for (size_t i = 0; i < full.mask.size(); ++i) full.mask[i] = IsWeak(jxx[i], jxy[i], jyy[i], t) ? 255 : 1;
    RelaxWeak(full, t, 20, quiet);
    int m = std::min(w, h), n = 0;
    while (m > 4 && n < 6) {
        m /= 2;
        ++n;
    }
    for (int k = 1; k <= n - 1; ++k) {
        const int u = 1 << k, cw = (w - 1) / u + 1, ch = (h - 1) / u + 1;
        TensorLevel coarse(cw, ch);
        std::vector<int> count(size_t(cw) * ch, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t f = size_t(y) * w + x, c = size_t(y / u) * cw + x / u;
                coarse.jxx[c] += full.jxx[f];
                coarse.jxy[c] += full.jxy[f];
                coarse.jyy[c] += full.jyy[f];
                coarse.mask[c] = std::max(coarse.mask[c], full.mask[f]);
                ++count[c];
            }
        for (size_t c = 0; c < count.size(); ++c) {
            coarse.mask[c] = coarse.mask[c] == 1 ? 1 : 255;
            coarse.jxx[c] /= float(count[c]);
            coarse.jxy[c] /= float(count[c]);
            coarse.jyy[c] /= float(count[c]);
        }
        const TensorLevel kept = coarse;
        RelaxWeak(coarse, t, 40 + 20 * (k - 1), quiet);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t f = size_t(y) * w + x, c = size_t(y / u) * cw + x / u;
                full.jxx[f] += coarse.jxx[c] - kept.jxx[c];
                full.jxy[f] += coarse.jxy[c] - kept.jxy[c];
                full.jyy[f] += coarse.jyy[c] - kept.jyy[c];
                full.mask[f] = IsWeak(full.jxx[f], full.jxy[f], full.jyy[f], t) ? 255 : 1;
            }
    }
    jxx = full.jxx;
    jxy = full.jxy;
    jyy = full.jyy;
}

}  // namespace

TEST(WeakFillStage, CoarseLevelsCarryTheFillFarIntoAWideFlatArea) {
    // Large enough for all five coarse levels; a few strong spots in a flat
    // field, with a threshold that keeps most of the field weak to the end.
    const int w = 170, h = 164;
    PicBufHolder jxx = FloatPlane(w, h, 0.f), jxy = FloatPlane(w, h, 0.f), jyy = FloatPlane(w, h, 0.f);
    for (int y = 0; y < h; ++y) jxx.buf.Row<float>(y)[0] = 900.f;
    for (int y = 60; y < 64; ++y)
        for (int x = 100; x < 104; ++x) {
            jyy.buf.Row<float>(y)[x] = 4000.f;
            jxy.buf.Row<float>(y)[x] = -700.f;
        }
    auto plane = [&](PicBufHolder& p) { return std::vector<float>(p.buf.Row<float>(0), p.buf.Row<float>(0) + w * h); };
    std::vector<float> rxx = plane(jxx), rxy = plane(jxy), ryy = plane(jyy);
    const float t = 300.f;
    ReferenceFill(rxx, rxy, ryy, w, h, t);
    QuietProgress quiet;
    ASSERT_TRUE(FillWeakTensor(jxx.buf, jxy.buf, jyy.buf, t, quiet));
    EXPECT_EQ(plane(jxx), rxx);
    EXPECT_EQ(plane(jxy), rxy);
    EXPECT_EQ(plane(jyy), ryy);
    // The far corner, well beyond twenty passes from any strong pixel, was reached.
    EXPECT_GT(jxx.buf.Row<float>(h - 20)[w - 20], 0.f);
}
