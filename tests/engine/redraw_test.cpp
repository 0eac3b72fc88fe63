#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "edges.h"
#include "engine_test_util.h"
#include "patch_filter.h"
#include "quantize.h"
#include "parallel.h"
#include "redraw.h"

namespace {

PicBufHolder Noise(int w, int h, uint32_t seed) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 1, 8);
    for (uint32_t i = 0; i < p.buf.size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p.buf.pixels[i] = uint8_t(((i % uint32_t(w)) * 5 + (seed >> 28) * 9) & 0xFF);
    }
    return p;
}

// The filter written out literally: full-resolution differences, block and
// box sums, and the two weights of every displacement.
std::vector<uint8_t> ReferenceFilter(const SBxPicBuf& src) {
    const int W = src.width, H = src.height;
    const int window = std::min(2 * (std::min(W, H) / 2) - 1, 71), F = window / 2 + 3;
    const int wp = W + 2 * F, hp = H + 2 * F;
    PicBufHolder g;
    CBxPicBufAPI::ReinitHeap(g.buf, wp, hp, 1, 8);
    CBxPicBufAPI::CopyRect(g.buf, src, {F, F}, {0, 0}, {W, H});
    MirrorPad(g.buf, F);
    auto G = [&](int x, int y) { return int(g.buf.pixels[size_t(y) * wp + x]); };
    const std::vector<int32_t>& tables = *WeightTables(1.0, std::pow(150.0, 3.5));
    std::vector<double> wsum(size_t(W) * H, 0), vsum(size_t(W) * H, 0);
    for (int i = 0; i < 25; ++i) {
        const int dx = i % 7 - 3, dy = i / 7 - 3;
        auto D = [&](int x, int y) {  // padded coordinates
            const int X = x / 2, Y = y / 2;
            int sum = 0;
            for (int cy = Y - 1; cy <= Y + 1; ++cy)
                for (int cx = X - 1; cx <= X + 1; ++cx)
                    for (int j = 0; j < 2; ++j)
                        for (int k = 0; k < 2; ++k)
                            sum += std::abs(G(2 * cx + k, 2 * cy + j) - G(2 * cx + k + dx, 2 * cy + j + dy));
            return sum;
        };
        for (int by = 0; by < H; by += 2)
            for (int bx = 0; bx < W; bx += 2) {
                const int px = bx + F, py = by + F;
                const int32_t* t = tables.data() + size_t(G(px, py)) * kPatchTableLength;
                for (int j = 0; j < 2; ++j)
                    for (int k = 0; k < 2; ++k) {
                        const size_t o = size_t(by + j) * W + bx + k;
                        const int x = px + k, y = py + j;
                        if (dx == 0 && dy == 0) {
                            wsum[o] += t[0];
                            vsum[o] += double(t[0]) * G(x, y);
                        } else {
                            const int wp1 = t[D(px, py)], wm = t[D(px - dx, py - dy)];
                            wsum[o] += wp1 + wm;
                            vsum[o] += double(wp1) * G(x + dx, y + dy) + double(wm) * G(x - dx, y - dy);
                        }
                    }
            }
    }
    std::vector<uint8_t> out(wsum.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(std::min(std::floor(vsum[i] / wsum[i] + 0.5), 255.0));
    return out;
}

}  // namespace

TEST(RedrawQuantize, SoftBandsOfTheThreeModes) {
    const std::pair<int, int> rough[] = {{0, 0}, {32, 32}, {40, 64}, {64, 64}, {96, 96}, {200, 192}, {255, 255}};
    for (auto [in, out] : rough) EXPECT_EQ(QuantizeLevel(uint8_t(in), 0), out) << in;
    EXPECT_EQ(QuantizeLevel(128, 1), 131);
    EXPECT_EQ(QuantizeLevel(255, 1), 255);
    EXPECT_EQ(QuantizeLevel(250, 1), 255);  // the top plateau of mode 1 is 5 × 51
}

TEST(PatchFilter, WeightTablesAreComputedOnceAndHoldTheirValues) {
    const double c = std::pow(150.0, 3.5);
    const std::vector<int32_t>* t = WeightTables(1.0, c);
    ASSERT_NE(t, nullptr);
    const int builds = WeightTableBuilds();
    EXPECT_EQ(WeightTables(1.0, c + 0.0005), t);
    EXPECT_EQ(WeightTableBuilds(), builds);
    EXPECT_EQ((*t)[0], 10000);
    const double k = 300.0;
    EXPECT_EQ((*t)[300], int32_t(std::floor(10000.0 * std::exp(-k * k * k / 300.0 / c) + 0.5)));
    const size_t brightest = size_t(255) * kPatchTableLength;
    const double e255 = (1.0 + 255.0 / 256.0) * c;
    EXPECT_EQ((*t)[brightest + 300], int32_t(std::floor(10000.0 * std::exp(-k * k * k / 300.0 / e255) + 0.5)));
    EXPECT_GT((*t)[brightest + 300], (*t)[300]);  // brighter centres get wider tables
}

TEST(PatchFilter, MatchesTheLiteralFilterAtAnyThreadCount) {
    // The last sizes span several bands of rows, with a short last band.
    for (auto [w, h] : {std::pair<int, int>{18, 18}, {40, 26}, {36, 150}, {90, 100}}) {
        PicBufHolder src = Noise(w, h, 3), one, four;
        const std::vector<uint8_t> expected = ReferenceFilter(src.buf);
        ASSERT_TRUE(PatchWeightedFilter(one.buf, src.buf, src.buf, 150, 1.0, 1));
        ASSERT_TRUE(PatchWeightedFilter(four.buf, src.buf, src.buf, 150, 1.0, 4));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), one.buf.pixels)) << w << "x" << h;
        EXPECT_TRUE(SameBuffer(one.buf, four.buf));
        EXPECT_FALSE(SameBuffer(one.buf, src.buf));
    }
}

TEST(PatchFilter, SizesBoundsAndUniformPictures) {
    PicBufHolder small = Noise(16, 100, 5), out;
    ASSERT_TRUE(SmoothPatchWeighted(out.buf, small.buf, 150, 1.0));
    EXPECT_TRUE(SameBuffer(out.buf, small.buf));

    PicBufHolder flat;
    CBxPicBufAPI::ReinitHeap(flat.buf, 40, 30, 1, 8);
    CBxPicBufAPI::SetConst(flat.buf, 93);
    ASSERT_TRUE(SmoothPatchWeighted(out.buf, flat.buf, 150, 1.0));
    EXPECT_TRUE(SameBuffer(out.buf, flat.buf));

    // Odd sizes: filtered with a zero column and row added, then cropped back.
    PicBufHolder odd = Noise(31, 21, 9), padded, filtered;
    ASSERT_TRUE(SmoothPatchWeighted(out.buf, odd.buf, 150, 1.0));
    EXPECT_EQ(out.buf.width, 31);
    EXPECT_EQ(out.buf.height, 21);
    CBxPicBufAPI::ReinitHeap(padded.buf, 32, 22, 1, 8);
    CBxPicBufAPI::SetConst(padded.buf, 0);
    CBxPicBufAPI::CopyRect(padded.buf, odd.buf, {0, 0}, {0, 0}, {31, 21});
    PatchWeightedFilter(filtered.buf, padded.buf, padded.buf, 150, 1.0, 4);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 31; ++x) ASSERT_EQ(out.buf.Row<uint8_t>(y)[x], filtered.buf.Row<uint8_t>(y)[x]);

    // Every output lies within its 7 × 7 window.
    PicBufHolder noisy = Noise(50, 40, 11);
    ASSERT_TRUE(SmoothPatchWeighted(out.buf, noisy.buf, 150, 1.0));
    for (int y = 3; y < 37; ++y)
        for (int x = 3; x < 47; ++x) {
            int lo = 255, hi = 0;
            for (int j = -3; j <= 3; ++j)
                for (int i = -3; i <= 3; ++i) {
                    lo = std::min<int>(lo, noisy.buf.Row<uint8_t>(y + j)[x + i]);
                    hi = std::max<int>(hi, noisy.buf.Row<uint8_t>(y + j)[x + i]);
                }
            const int v = out.buf.Row<uint8_t>(y)[x];
            ASSERT_TRUE(v >= lo && v <= hi) << x << "," << y;
        }
}

TEST(RedrawEdges, StretchBoundsAndTheFlatPicture) {
    // Rows of a ramp of 100 samples 0, 100, … 9900; the tall map's samples
    // are counted in several parts, which must all reach the histogram.
    for (int rows : {1, 10000}) {
        PicBufHolder b;
        CBxPicBufAPI::ReinitHeap(b.buf, 100, rows, 1, 16);
        const auto ramp = [&] {
            for (int y = 0; y < rows; ++y)
                for (int i = 0; i < 100; ++i) b.buf.Row<uint16_t>(y)[i] = uint16_t(i * 100);
        };
        for (int y : {0, rows - 1}) {
            const uint16_t* v = b.buf.Row<uint16_t>(y);
            ramp();
            StretchEdgeMap(b.buf);
            // 3 % at each end: L = 300 (the running sum passes 3 % there), U = 9600.
            EXPECT_EQ(v[0], 0);
            EXPECT_EQ(v[3], 0) << rows;
            EXPECT_EQ(v[4], uint16_t(100.f / 9300.f * 65535.f)) << rows;
            EXPECT_EQ(v[50], uint16_t(float(5000 - 300) / 9300.f * 65535.f));
            EXPECT_EQ(v[95], uint16_t(9200.f / 9300.f * 65535.f)) << rows;
            EXPECT_EQ(v[96], 65535) << rows;
            EXPECT_EQ(v[99], 65535);
            // Unequal ends: 10 % low (L = 1000), 20 % high (U = 7900, the 21st from the top).
            ramp();
            StretchContrast(b.buf, 0.1f, 0.2f);
            EXPECT_EQ(v[10], 0) << rows;
            EXPECT_EQ(v[11], uint16_t(100.f / 6900.f * 65535.f)) << rows;
            EXPECT_EQ(v[78], uint16_t(6800.f / 6900.f * 65535.f)) << rows;
            EXPECT_EQ(v[79], 65535) << rows;
        }
    }

    // A flat picture draws as white paper, not as a black sheet.
    PicBufHolder flat, map, strokes;
    CBxPicBufAPI::ReinitHeap(flat.buf, 40, 30, 3, 8);
    CBxPicBufAPI::SetConst(flat.buf, 128);
    CountingProgress progress;
    StepRunner run(progress);
    ASSERT_EQ(BuildEdgeMap(map.buf, flat.buf, 0.4f, run), RepaintStatus::Done);
    EXPECT_EQ(progress.steps, 6);
    for (uint32_t i = 0; i < map.buf.size; ++i) ASSERT_EQ(map.buf.pixels[i], 255);
    ASSERT_EQ(DrawEdges(strokes.buf, flat.buf, map.buf, 127.5f, 1.125f, true, run), RepaintStatus::Done);
    EXPECT_EQ(progress.steps, 11);
    for (uint32_t i = 0; i < strokes.buf.size; ++i) ASSERT_EQ(strokes.buf.pixels[i], 255);
}

TEST(RedrawRun, StrokesColoursProgressAndDepths) {
    PicBufHolder pic = TestPicture(64, 48, 3, 8), out;
    RedrawParams p = RedrawParamsFromPositions(DefaultRedrawPositions());

    // Import off: grey strokes, equal in the three channels.
    p.importEdges = false;
    CountingProgress grey;
    ASSERT_EQ(RunRedraw(out.buf, pic.buf, p, grey), RepaintStatus::Done);
    EXPECT_EQ(grey.steps, 16);
    bool someGrey = false;
    for (int i = 0; i < 64 * 48; ++i) {
        const uint8_t* px = out.buf.pixels + 3 * i;
        ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]);
        someGrey |= px[0] != 0 && px[0] != 255;
    }
    EXPECT_TRUE(someGrey);

    // Import on with the original colours: the picture with pure black strokes.
    p.importEdges = true;
    p.colourMode = int(ColourMode::Original);
    CountingProgress colour;
    ASSERT_EQ(RunRedraw(out.buf, pic.buf, p, colour), RepaintStatus::Done);
    int kept = 0, black = 0;
    for (uint32_t i = 0; i < out.buf.size; ++i) {
        kept += out.buf.pixels[i] == pic.buf.pixels[i];
        black += out.buf.pixels[i] == 0 && pic.buf.pixels[i] != 0;
    }
    EXPECT_GT(kept, int(out.buf.size) / 2);
    EXPECT_GT(black, 0);
    EXPECT_EQ(kept + black, int(out.buf.size));

    PicBufHolder g = TestPicture(40, 40, 1, 8);
    CountingProgress greyPicture;
    p.colourMode = 1;
    ASSERT_EQ(RunRedraw(out.buf, g.buf, p, greyPicture), RepaintStatus::Done);
    EXPECT_EQ(greyPicture.steps, 12);

    PicBufHolder deep = TestPicture(40, 40, 3, 16);
    CountingProgress deepProgress;
    ASSERT_EQ(RunRedraw(out.buf, deep.buf, p, deepProgress), RepaintStatus::Done);
    EXPECT_EQ(out.buf.bits, 16);
    for (int i = 0; i < 40 * 40 * 3; ++i) ASSERT_EQ(reinterpret_cast<uint16_t*>(out.buf.pixels)[i] % 257, 0);
}

TEST(RedrawRun, SameResultWithAnyThreadCount) {
    // Wide enough for CImg to split its loops between threads.
    PicBufHolder pic = TestPicture(320, 60, 3, 8), one, two;
    const RedrawParams p = RedrawParamsFromPositions(DefaultRedrawPositions());
    CountingProgress a, b;
    SetEngineThreads(1);
    ASSERT_EQ(RunRedraw(one.buf, pic.buf, p, a), RepaintStatus::Done);
    SetEngineThreads(2);
    ASSERT_EQ(RunRedraw(two.buf, pic.buf, p, b), RepaintStatus::Done);
    SetEngineThreads(0);
    EXPECT_TRUE(SameBuffer(one.buf, two.buf));
}

TEST(RedrawRun, TwoStepsShareTheProgressAndRefuseAMismatchedMap) {
    PicBufHolder pic = TestPicture(40, 30, 3, 8), map, out;
    const RedrawParams p = RedrawParamsFromPositions(DefaultRedrawPositions());
    CountingProgress first, second;
    ASSERT_EQ(BuildRedrawEdgeMap(map.buf, pic.buf, p, first), RepaintStatus::Done);
    EXPECT_EQ(first.steps, 1 + 2 * 3);
    EXPECT_EQ(map.buf.components, 1);
    EXPECT_EQ(map.buf.bits, 8);
    ASSERT_EQ(RedrawWithEdgeMap(out.buf, pic.buf, map.buf, p, second), RepaintStatus::Done);
    EXPECT_EQ(first.steps + second.steps, RedrawSteps(3));

    PicBufHolder crop;
    CBxPicBufAPI::Copy(crop.buf, pic.buf, CBxRect<int>(5, 5, 25, 15));
    EXPECT_EQ(RedrawWithEdgeMap(out.buf, crop.buf, map.buf, p, second), RepaintStatus::BadInput);
    RedrawParams noSuchMode = p;
    noSuchMode.colourMode = 7;
    EXPECT_EQ(RunRedraw(out.buf, pic.buf, noSuchMode, second), RepaintStatus::BadSettings);

    CountingProgress abortAtOnce(1);
    EXPECT_EQ(BuildRedrawEdgeMap(map.buf, pic.buf, p, abortAtOnce), RepaintStatus::Aborted);
    EXPECT_EQ(RunRedraw(out.buf, pic.buf, p, abortAtOnce), RepaintStatus::Aborted);
}
