#include <gtest/gtest.h>

#include <atomic>

#include "cimg_bridge.h"
#include "streamlines.h"
#include "engine_test_util.h"
#include "quantize.h"

namespace {

// Says "abort" from its `abortAt`-th question on (never with -1), and counts
// the questions.
class AskedProgress : public RepaintProgress {
public:
    explicit AskedProgress(int abortAt) : abortAt_(abortAt) {}
    void Step(int) override {}
    bool AbortRequested() const override {
        const int n = ++asked;
        return abortAt_ >= 0 && n >= abortAt_;
    }
    mutable std::atomic<int> asked{0};

private:
    int abortAt_;
};

FloatPlanes Plane(const PicBufHolder& p) { return PlaneFromBuffer(p.buf); }

}  // namespace

// The smoothing consults the abort flag while it runs (not only around it),
// stops soon after it is raised, and gives the same result as without the
// flag when it is not.
TEST(AbortInsideFilters, AnisotropicSmoothingStopsSoonAfterAbortAndOnlyThen) {
    const PicBufHolder picture = TestPicture(300, 200, 1, 8, 5);
    FloatPlanes plain = Plane(picture);
    const FloatPlanes tensors = DiffusionTensors(plain, 0.25f, 1.f, 0.4f, 4.f);
    ASSERT_TRUE(BlurAnisotropic(plain, tensors));

    AskedProgress never(-1);
    FloatPlanes watched = Plane(picture);
    ASSERT_TRUE(BlurAnisotropic(watched, tensors, &never));
    EXPECT_EQ(watched.data, plain.data);
    const int questions = never.asked.load();
    EXPECT_GT(questions, 40);  // asked for every band of rows and direction, not once

    AskedProgress soon(10);
    FloatPlanes stopped = Plane(picture);
    EXPECT_FALSE(BlurAnisotropic(stopped, tensors, &soon));
    EXPECT_LT(soon.asked.load(), questions / 2);

    // The tensor field of a picture stops too, with nothing to show.
    AskedProgress tensorsNever(-1), tensorsSoon(3);
    EXPECT_EQ(DiffusionTensors(Plane(picture), 0.25f, 1.f, 0.4f, 4.f, &tensorsNever).data, tensors.data);
    EXPECT_GT(tensorsNever.asked.load(), 100);
    EXPECT_TRUE(DiffusionTensors(Plane(picture), 0.25f, 1.f, 0.4f, 4.f, &tensorsSoon).data.empty());

    // Channels smoothed together stop the same way.
    FloatPlanes three(300, 200, 3);
    for (int c = 0; c < 3; ++c) std::copy(plain.data.begin(), plain.data.end(), three.Channel(c));
    AskedProgress alsoSoon(10);
    EXPECT_FALSE(BlurAnisotropicChannels(three, tensors, &alsoSoon));
}

TEST(AbortInsideFilters, ColourSmoothingEndsAsAbortedNotAsAFailure) {
    PicBufHolder picture = TestPicture(120, 90, 3, 8, 9), copy;
    CBxPicBufAPI::ReinitHeap(copy.buf, picture.buf);
    CBxPicBufAPI::Copy(copy.buf, picture.buf);
    AskedProgress never(-1), atOnce(1);
    EXPECT_EQ(QuantizeColors(picture.buf, 1, &never), RepaintStatus::Done);
    EXPECT_GT(never.asked.load(), 3);  // asked while filtering, not only between channels
    EXPECT_EQ(QuantizeColors(copy.buf, 1, &atOnce), RepaintStatus::Aborted);
}
