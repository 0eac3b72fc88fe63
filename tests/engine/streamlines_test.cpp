// The engine's tensor field and streamline walks against CImg's own calls
// with the same settings: the results must be the same float for float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "cimg_bridge.h"
#include "engine_test_util.h"
#include "golden.h"
#include "streamlines.h"

namespace {

const std::string kDir = QUORVANE_GOLDEN_DIR;

// Channel c of a picture buffer as a float plane.
FloatPlanes Planes(const SBxPicBuf& p) {
    FloatPlanes f(p.width, p.height, p.components);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < p.components; ++c)
                f.Channel(c)[size_t(y) * p.width + x] =
                    p.bits == 8 ? float(p.Row<uint8_t>(y)[x * p.components + c])
                                : float(p.Row<uint16_t>(y)[x * p.components + c]);
    return f;
}

FloatPlanes Grey(const FloatPlanes& p) {
    FloatPlanes g(p.width, p.height, 1);
    for (size_t i = 0; i < g.data.size(); ++i) {
        float s = 0;
        for (int c = 0; c < p.channels; ++c) s += p.Channel(c)[i];
        g.data[i] = s / float(p.channels);
    }
    return g;
}

bool SameFloats(const FloatPlanes& a, const FloatPlanes& b) {
    return a.data.size() == b.data.size() &&
           std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(float)) == 0;
}

// The real crops the golden tests use, plus a synthetic picture whose width
// leaves a partial set of lanes at the end of every row and whose pixel
// count is not a multiple of four (the last pixels are set up one by one).
std::vector<FloatPlanes> Pictures() {
    std::vector<FloatPlanes> pictures;
    for (const char* name : {"colour.ppm", "grey.pgm", "deep.ppm"}) {
        PicBufHolder p;
        EXPECT_TRUE(ReadPnm(kDir + "/" + name, p)) << name;
        pictures.push_back(Planes(p.buf));
    }
    pictures.push_back(Planes(TestPicture(39, 29, 3, 8, 4).buf));
    // A crop folded out to several times its height, so that rows are
    // smoothed in bands that each see only part of the picture.
    const FloatPlanes& crop = pictures[0];
    FloatPlanes tall(crop.width, crop.height * 6, crop.channels);
    for (int c = 0; c < crop.channels; ++c)
        for (int y = 0; y < tall.height; ++y) {
            const int from = (y / crop.height) % 2 ? crop.height - 1 - y % crop.height : y % crop.height;
            std::copy(crop.Channel(c) + size_t(from) * crop.width, crop.Channel(c) + size_t(from + 1) * crop.width,
                      tall.Channel(c) + size_t(y) * crop.width);
        }
    pictures.push_back(tall);
    return pictures;
}

}  // namespace

TEST(Streamlines, EqualCImgOnRealCropsAtSmudgeAndRedrawSettings) {
    struct Setting {
        float sharpness, alpha, sigma;
    };
    // Smudge at its defaults and extremes, and the Redraw strokes.
    const Setting settings[] = {{0.25f, 0.4f, 4.f}, {0.f, 4.f, 1.f}, {0.495f, 0.04f, 11.f}, {0.6f / 2.25f, 1.f, 11.25f}};
    for (const FloatPlanes& picture : Pictures()) {
        for (const Setting& s : settings) {
            const FloatPlanes tensors = DiffusionTensors(Grey(picture), s.sharpness, 1.f, s.alpha, s.sigma);
            FloatPlanes ours = picture, theirs = picture;
            ASSERT_TRUE(BlurAnisotropic(ours, tensors));
            BlurAnisotropicCImg(theirs, tensors);
            EXPECT_TRUE(SameFloats(ours, theirs)) << picture.width << "x" << picture.height << " " << s.sharpness;
        }
    }
}

TEST(Streamlines, TensorFieldEqualsCImgsOnRealCropsAndTinyPictures) {
    std::vector<FloatPlanes> greys;
    for (const FloatPlanes& p : Pictures()) greys.push_back(Grey(p));
    for (int size : {1, 2, 3}) greys.push_back(Grey(Planes(TestPicture(size, size + 1, 1, 8, 7).buf)));
    // Degenerate tensors: none at all (a flat picture), and one eigenvalue
    // 0 with the other's eigenvector along an axis (ramps across and down).
    FloatPlanes flat(40, 30, 1), across(40, 30, 1), down(40, 30, 1);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            flat.data[size_t(y) * 40 + x] = 77.f;
            across.data[size_t(y) * 40 + x] = float(3 * x);
            down.data[size_t(y) * 40 + x] = float(5 * y);
        }
    greys.insert(greys.end(), {flat, across, down});
    for (const FloatPlanes& g : greys)
        for (float alpha : {0.04f, 0.4f, 4.f}) {
            const FloatPlanes ours = DiffusionTensors(g, 0.25f, 1.f, alpha, 4.f),
                              theirs = DiffusionTensorsCImg(g, 0.25f, 1.f, alpha, 4.f);
            EXPECT_TRUE(SameFloats(ours, theirs)) << g.width << "x" << g.height << " alpha " << alpha;
        }
}

TEST(Streamlines, ValueRangeFindsTheEndsWhereverTheyLie) {
    // Long enough to be searched in several parts.
    std::vector<float> v(300001);
    for (size_t i = 0; i < v.size(); ++i) v[i] = float((i * 7919) % 1000) - 500.f;
    for (const auto& [low, high] : {std::pair<size_t, size_t>{0, 300000}, {290000, 1}, {70000, 140000}}) {
        std::vector<float> w = v;
        w[low] = -1e6f;
        w[high] = 2e6f;
        EXPECT_EQ(ValueRange(w.data(), w.size()), std::make_pair(-1e6f, 2e6f)) << low << " " << high;
    }
    EXPECT_EQ(ValueRange(v.data(), 1), std::make_pair(-500.f, -500.f));
}

TEST(Streamlines, EqualCImgWithManyChannelsAndDegenerateTensors) {
    // Five channels take two rounds of walks; zero, huge and undefined
    // tensors end walks at once or send them off the picture.
    const FloatPlanes base = Pictures()[0];
    FloatPlanes five(base.width, base.height, 5);
    for (int c = 0; c < 5; ++c)
        std::copy(base.Channel(c % 3), base.Channel(c % 3) + base.data.size() / 3, five.Channel(c));
    FloatPlanes tensors = DiffusionTensors(Grey(base), 0.25f, 1.f, 0.4f, 4.f);
    for (int c = 0; c < 3; ++c) {
        tensors.Channel(c)[5] = 0.f;
        tensors.Channel(c)[700] = std::numeric_limits<float>::quiet_NaN();
        tensors.Channel(c)[1500] = 1e6f;
    }
    FloatPlanes ours = five, theirs = five;
    ASSERT_TRUE(BlurAnisotropic(ours, tensors));
    BlurAnisotropicCImg(theirs, tensors);
    EXPECT_TRUE(SameFloats(ours, theirs));
}

TEST(Streamlines, ARegionIsSmoothedAsInTheWholeAndNothingElseChanges) {
    const FloatPlanes picture = Pictures()[0];
    const FloatPlanes tensors = DiffusionTensors(Grey(picture), 0.25f, 1.f, 0.4f, 4.f);
    FloatPlanes whole = picture, part = picture;
    ASSERT_TRUE(BlurAnisotropicChannels(whole, tensors));
    const TileRect core{13, 42, 7, 30};
    ASSERT_TRUE(BlurAnisotropicChannels(part, tensors, nullptr, &core));
    for (int c = 0; c < picture.channels; ++c)
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const size_t i = size_t(y) * picture.width + x;
                const bool inside = x >= core.x0 && x < core.x1 && y >= core.y0 && y < core.y1;
                ASSERT_EQ(part.Channel(c)[i], (inside ? whole : picture).Channel(c)[i]) << x << "," << y;
            }
}
