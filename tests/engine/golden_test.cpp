// Every method's result on real photographs, pinned sample for sample at
// every thread count the engine is run with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "vector_width.h"
#include "golden.h"

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

namespace {

const std::string kDir = QUORVANE_GOLDEN_DIR;

// Every thread count the engine runs with here; scripts/mutants asks for one
// (QUORVANE_GOLDEN_THREADS) to go faster.
std::vector<int> ThreadCounts() {
    if (const char* one = std::getenv("QUORVANE_GOLDEN_THREADS")) return {std::atoi(one)};
    return {1, 2, 3};
}

std::string Expected(const GoldenCase& c) {
    static const std::map<std::string, std::string> digests = [] {
        std::map<std::string, std::string> m;
        for (const auto& [name, digest] : ReadDigests(kDir + "/digests.txt")) m[name] = digest;
        return m;
    }();
    const auto it = digests.find(c.name);
    return it == digests.end() ? std::string() : it->second;
}

class Golden : public testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, ResultIsUnchangedAtEveryThreadCount) {
    const GoldenCase& c = GetParam();
    PicBufHolder input;
    ASSERT_TRUE(LoadGoldenInput(kDir, c, input)) << c.input;
    PicBufHolder expected;
    if (!PinnedByDigest(c)) {
        ASSERT_TRUE(ReadPnm(kDir + "/" + ExpectedFileName(c, input.buf.components), expected))
            << "no expected result for " << c.name << "; scripts/golden makes it";
    }
    for (int threads : ThreadCounts()) {
        PicBufHolder result;
        ASSERT_TRUE(RunGoldenCase(c, input.buf, threads, result)) << threads << " threads";
        if (PinnedByDigest(c))
            EXPECT_EQ(PictureDigest(result.buf), Expected(c)) << threads << " threads";
        else
            EXPECT_EQ(Describe(Compare(expected.buf, result.buf)), "identical") << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, Golden, testing::ValuesIn(GoldenCases()),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(GoldenRedraw, TwoStepsGiveTheOneCallResult) {
    for (const GoldenCase& c : GoldenCases()) {
        if (c.method != GoldenMethod::Redraw || PinnedByDigest(c)) continue;
        PicBufHolder input, expected, result;
        ASSERT_TRUE(LoadGoldenInput(kDir, c, input));
        ASSERT_TRUE(ReadPnm(kDir + "/" + ExpectedFileName(c, input.buf.components), expected));
        ASSERT_TRUE(RunRedrawInTwoSteps(c, input.buf, result)) << c.name;
        EXPECT_EQ(Describe(Compare(expected.buf, result.buf)), "identical") << c.name;
    }
}

// The engine's loops one, four or eight pixels at a time (each width the
// processor can do) give the pinned results, and the same result on a
// larger picture whose rows end in every kind of remainder.
TEST(GoldenOriginal, EveryVectorWidthGivesTheSameResult) {
    const VectorWidth chosen = CurrentVectorWidth();
    std::vector<VectorWidth> widths;
    for (VectorWidth w : {VectorWidth::One, VectorWidth::Four, VectorWidth::Eight})
        if (VectorWidthAvailable(w)) widths.push_back(w);
    EXPECT_TRUE(VectorWidthAvailable(VectorWidth::Four));
    for (const GoldenCase& c : GoldenCases()) {
        if (c.method != GoldenMethod::Original || PinnedByDigest(c)) continue;
        PicBufHolder input, expected;
        ASSERT_TRUE(LoadGoldenInput(kDir, c, input));
        ASSERT_TRUE(ReadPnm(kDir + "/" + ExpectedFileName(c, input.buf.components), expected));
        for (VectorWidth w : widths) {
            ASSERT_TRUE(SetVectorWidth(w));
            PicBufHolder result;
            ASSERT_TRUE(RunGoldenCase(c, input.buf, 2, result));
            EXPECT_EQ(Describe(Compare(expected.buf, result.buf)), "identical") << c.name << ", width " << int(w);
        }
    }
    // 301 pixels inside the border: 37 × 8 + 4 + 1.
    const GoldenCase larger{"larger", GoldenMethod::Original, "colour.ppm", {16, 5, 4, 5, 1, 1}, 303, 211};
    PicBufHolder input, first;
    ASSERT_TRUE(LoadGoldenInput(kDir, larger, input));
    for (VectorWidth w : widths) {
        ASSERT_TRUE(SetVectorWidth(w));
        PicBufHolder result;
        ASSERT_TRUE(RunGoldenCase(larger, input.buf, 2, result));
        if (first.Empty())
            first = std::move(result);
        else
            EXPECT_EQ(Describe(Compare(first.buf, result.buf)), "identical") << "width " << int(w);
    }
    SetVectorWidth(chosen);
}

TEST(GoldenDigest, KnownVectors) {
    // The digest covers geometry and samples: one changed sample, or the
    // same bytes read as another shape, gives another digest.
    PicBufHolder a, b;
    CBxPicBufAPI::ReinitHeap(a.buf, 4, 2, 1, 8);
    CBxPicBufAPI::SetConst(a.buf, 9);
    CBxPicBufAPI::ReinitHeap(b.buf, 2, 4, 1, 8);
    CBxPicBufAPI::SetConst(b.buf, 9);
    const std::string da = PictureDigest(a.buf);
    EXPECT_EQ(da.size(), 64u);
    EXPECT_NE(da, PictureDigest(b.buf));
    a.buf.pixels[5] = 10;
    EXPECT_NE(da, PictureDigest(a.buf));
    // An empty buffer hashes its zero geometry: 16 zero bytes.
    PicBufHolder empty;
    EXPECT_EQ(PictureDigest(empty.buf), "374708fff7719dd5979ec875d56cd2286f6d3cf7ec317a3b25632aab28ec37bb");
}

}  // namespace
