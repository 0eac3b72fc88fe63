// The optimised flow smoothing and blur against literal implementations.
#include <gtest/gtest.h>
#include <cstring>
#include <string>

#include "engine_test_util.h"
#include "blur.h"
#include "flow.h"
#include "sharpen.h"
#include "exp_float.h"
#include "flow_trace.h"
#include "vector_width.h"

namespace {

// The pass as written: each window position in turn, output transposed.
template <typename T>
void NaiveTransposingPass(const std::vector<T>& in, std::vector<T>& out, int w, int h, const std::vector<T>& k) {
    const int half = int(k.size()) / 2;
    out.assign(in.size(), T(0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int first = std::max(x - half, 0), last = std::min(x + half, w - 1);
            int e = x < half ? half - x : 0;
            T acc = 0, wsum = 0;
            for (int p = first; p <= last; ++p, ++e) {
                acc += k[size_t(e)] * in[size_t(y) * w + p];
                wsum += k[size_t(e)];
            }
            out[size_t(x) * h + y] = acc / wsum;
        }
}

}  // namespace

TEST(FlowReference, SeparableBlurMatchesTheTransposingPasses) {
    PicBufHolder src = TestPicture(23, 17, 1, 8), f, blurred;
    CBxPicBufAPI::Copy(f.buf, src.buf, CBxRect<int>(0, 0, 23, 17));
    CBxPicBufAPI::ConvertBpcComp(f.buf, 32, 1);
    const float sigma = 2.3f;
    ASSERT_TRUE(GaussianBlurFloat(blurred.buf, f.buf, sigma));
    std::vector<float> in(reinterpret_cast<float*>(f.buf.pixels), reinterpret_cast<float*>(f.buf.pixels) + 23 * 17),
        t, back;
    const std::vector<float> k = GaussianKernel(sigma);
    NaiveTransposingPass(in, t, 23, 17, k);
    NaiveTransposingPass(t, back, 17, 23, k);
    for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(back[i], reinterpret_cast<float*>(blurred.buf.pixels)[i]) << i;

    // The integer blur of sharpening, with plain, SSE2 and AVX2 loops, on
    // samples up to 65535 and rows with every remainder of the vector loops.
    const VectorWidth chosen = CurrentVectorWidth();
    for (VectorWidth width : {VectorWidth::One, VectorWidth::Four, VectorWidth::Eight}) {
        if (!SetVectorWidth(width)) continue;
        for (int w : {1, 6, 23, 37}) {
            const int h = 11;
            std::vector<int32_t> plane(size_t(w) * h), ti, expected;
            uint32_t seed = uint32_t(w);
            for (int32_t& v : plane) v = int32_t((seed = seed * 1664525u + 1013904223u) >> 16);
            const std::vector<int32_t> ik = IntegerGaussianKernel(0.7f);
            NaiveTransposingPass(plane, ti, w, h, ik);
            NaiveTransposingPass(ti, expected, h, w, ik);
            GaussianBlurInt(plane, w, h, 0.7f);
            EXPECT_EQ(plane, expected) << "width " << int(width) << ", " << w << " columns";
        }
    }
    SetVectorWidth(chosen);
}

TEST(FlowReference, FlowSmoothMatchesTheLiteralSum) {
    for (int C : {1, 3}) {
        const int W = 30, H = 24;
        IntImage img(W, H, C);
        uint32_t seed = 7;
        for (int32_t& v : img.data) {
            seed = seed * 1664525u + 1013904223u;
            v = int32_t(seed >> 16);
        }
        FlowTable t;
        t.width = W;
        t.height = H;
        t.components = C;
        t.total.assign(size_t(W) * H, 128);
        t.start.assign(size_t(W) * H, 0);
        t.rows.resize(size_t(H));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                std::vector<FlowSample>& row = t.rows[size_t(y)];
                t.start[i] = uint32_t(row.size());
                if (x < 1 || y < 1 || x > W - 2 || y > H - 2) continue;
                for (int n = 0; n < 5; ++n) {
                    seed = seed * 1664525u + 1013904223u;
                    Vec2 p{std::clamp(x + float(int(seed % 9) - 4) * 0.7f, 1.01f, W - 2.01f),
                           std::clamp(y + float(int((seed >> 8) % 9) - 4) * 0.6f, 1.01f, H - 2.01f)};
                    const int wgt = 1 + int((seed >> 20) % 128);
                    row.push_back(MakeSample(p, x, y, W, C, wgt));
                    t.total[i] += wgt;
                }
            }
        IntImage expected = img;
        const IntImage before = img;
        for (int y = 1; y < H - 1; ++y)
            for (int x = 1; x < W - 1; ++x) {
                const size_t i = size_t(y) * W + x;
                for (int c = 0; c < C; ++c) {
                    const int32_t* at = img.Row(y) + x * C;
                    int32_t acc = 128 * at[c];
                    for (const FlowSample* s = t.Begin(x, y); s != t.End(x, y); ++s)
                        acc += s->weight * ReadSample(at, *s, W * C, C, c);
                    expected.Row(y)[x * C + c] = acc / t.total[i];
                }
            }
        // Plain, SSE2 and AVX2 loops alike.
        const VectorWidth chosen = CurrentVectorWidth();
        for (VectorWidth w : {VectorWidth::One, VectorWidth::Four, VectorWidth::Eight}) {
            if (!SetVectorWidth(w)) continue;
            img = before;
            FlowSmooth(img, t);
            EXPECT_EQ(img.data, expected.data) << C << " components, width " << int(w);
        }
        SetVectorWidth(chosen);
    }
}

// Random tensors and guide of a W × H tile, with a zero-tensor corner ((0, 0)
// directions) and two rows without the mixed term (the second eigenvector
// taken where the first has length 0).
struct RandomField {
    static constexpr int W = 41, H = 23;
    std::vector<float> tensor = std::vector<float>(size_t(W) * H * 3), grey = std::vector<float>(size_t(W) * H);
    TensorField field{tensor.data(), W, H};

    RandomField() {
        uint32_t seed = 99;
        auto next = [&] {
            seed = seed * 1664525u + 1013904223u;
            return float(seed >> 8) / float(1 << 24);
        };
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                const bool flat = x > 25 && y > 12, axis = y == 5 || y == 6;
                // Whole numbers on those rows, so that at whole positions the
                // first eigenvector comes out exactly (0, 0) on row 5.
                const float a = flat ? 0.f : axis ? float(int(50.f * next()) + 4) : 50.f * next();
                const float b = flat || axis ? 0.f : 30.f * (next() - 0.5f);
                tensor[3 * i] = a;
                tensor[3 * i + 1] = b;
                tensor[3 * i + 2] = flat ? 0.f : axis ? (y == 5 ? a - 2.f : a + 3.f) : b * b / (a + 1.f) + 40.f * next();
                grey[i] = 100.f + 20.f * next() + float(x);
            }
    }
};

TEST(FlowReference, FourAndEightLaneTracingEqualsTracingPixelByPixel) {
    const RandomField random;
    const int W = random.W, H = random.H;
    const TensorField& field = random.field;
    const std::vector<float>& grey = random.grey;
    auto expectSame = [](const PixelTrace& traced, const PixelTrace& one, const std::string& where) {
        ASSERT_EQ(traced.total, one.total) << where;
        ASSERT_EQ(traced.forward, one.forward) << where;
        ASSERT_EQ(traced.backward, one.backward) << where;
        for (int k = 0; k < one.forward; ++k) ASSERT_EQ(0, std::memcmp(&traced.fwd[k], &one.fwd[k], sizeof(FlowSample)));
        for (int k = 0; k < one.backward; ++k) ASSERT_EQ(0, std::memcmp(&traced.bwd[k], &one.bwd[k], sizeof(FlowSample)));
    };
    for (float sigma : {0.7f, 0.7625f, 12.95f, 25.7f}) {
        // 0.7 gives lines of length 1: no steps at all.
        const int length = sigma == 0.7f ? 1 : int(1.5 * double(sigma) + 0.5) + 1;
        const FlowTracer tracer(field, grey.data(), sigma, length, 3);
        PixelTrace one;
        for (int y = 1; y <= H - 2; ++y)
            for (int x = 1; x + 3 <= W - 2; x += 4) {
                PixelTrace traced[4];
                TraceFlowFour(tracer, x, y, traced);
                for (int l = 0; l < 4; ++l) {
                    TraceFlowPixel(tracer, x + l, y, one);
                    expectSame(traced[l], one, "4 lanes, " + std::to_string(sigma) + " " + std::to_string(x + l) + "," + std::to_string(y));
                }
            }
        if (!VectorWidthAvailable(VectorWidth::Eight)) continue;
        // Whole rows, and runs of every length up to two lane sets and some.
        std::vector<PixelTrace> row(static_cast<size_t>(W));
        for (int y = 1; y <= H - 2; ++y)
            for (int count : {W - 2, 1, 5, 8, 9, 17}) {
                const int x0 = count == W - 2 ? 1 : 1 + (y * 7) % (W - 2 - count);
                TraceFlowRowEight(tracer, y, x0, count, row.data());
                for (int i = 0; i < count; ++i) {
                    TraceFlowPixel(tracer, x0 + i, y, one);
                    expectSame(row[size_t(i)], one, "8 lanes, " + std::to_string(sigma) + " " + std::to_string(x0 + i) + "," + std::to_string(y));
                }
            }
    }
}

TEST(FlowReference, EightLaneStepsAcrossTheEdgesEqualThePixelByPixelOnes) {
    if (!VectorWidthAvailable(VectorWidth::Eight)) GTEST_SKIP() << "no AVX2 on this processor";
    const RandomField random;
    const TensorField& field = random.field;
    for (int y = 1; y <= random.H - 2; ++y)
        for (int x = 1; x + 7 <= random.W - 2; x += 8) {
            Vec2 forward[8], backward[8];
            StepAcrossEight(field, x, y, forward, backward);
            for (int l = 0; l < 8; ++l) {
                const Vec2 d0 = GradientDirection(float(x + l), float(y), field);
                Vec2 pf{float(x + l), float(y)}, pb = pf, rf = d0, rb{-d0.x, -d0.y};
                DirectionStep(pf, rf, field, GradientDirection);
                DirectionStep(pb, rb, field, GradientDirection);
                ASSERT_EQ(0, std::memcmp(&forward[l], &pf, sizeof(Vec2))) << x + l << "," << y;
                ASSERT_EQ(0, std::memcmp(&backward[l], &pb, sizeof(Vec2))) << x + l << "," << y;
            }
        }
}

TEST(FlowReference, FourLaneExpEqualsTheScalarOne) {
    for (float x = -130.f; x <= 0.f; x += 0.0137f) {
        alignas(16) float out[4];
        _mm_store_ps(out, ExpFloat4(_mm_setr_ps(x, x * 0.5f, -x * x, x / 7.f)));
        ASSERT_EQ(out[0], ExpFloat(x)) << x;
        ASSERT_EQ(out[1], ExpFloat(x * 0.5f)) << x;
        ASSERT_EQ(out[2], ExpFloat(-x * x)) << x;
        ASSERT_EQ(out[3], ExpFloat(x / 7.f)) << x;
    }
    alignas(16) float huge[4];
    _mm_store_ps(huge, ExpFloat4(_mm_setr_ps(-5.6e9f, -111.f, -110.f, 0.f)));
    EXPECT_EQ(huge[0], 0.f);
    EXPECT_EQ(huge[1], 0.f);
    EXPECT_EQ(huge[2], ExpFloat(-110.f));
    EXPECT_EQ(huge[3], 1.f);
}
