#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picbuf.h"

namespace {

PicBufHolder Make(int w, int h, int c, int bits) {
    PicBufHolder p;
    EXPECT_TRUE(CBxPicBufAPI::ReinitHeap(p.buf, w, h, c, bits));
    return p;
}

void Fill8(SBxPicBuf& b) {
    for (uint32_t i = 0; i < b.size; ++i) b.pixels[i] = uint8_t(i * 7 + 3);
}

// Pixel blocks handed back by adopted buffers, in order.
std::vector<std::pair<unsigned char*, size_t>> g_released;
void Release(unsigned char* pixels, size_t bytes) {
    g_released.emplace_back(pixels, bytes);
    std::free(pixels);
}

}  // namespace

TEST(PicBuf, AllocationGeometryAndInvalidRequests) {
    PicBufHolder p = Make(5, 3, 3, 16);
    EXPECT_EQ(p.buf.pitch, 5u * 3 * 2);
    EXPECT_EQ(p.buf.size, 5u * 3 * 2 * 3);
    SBxPicBuf& b = p.buf;
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(b, 0, 3, 3, 8));
    EXPECT_EQ(b.pixels, nullptr);
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(b, 4, 4, 2, 8));
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(b, 4, 4, 3, 12));
    // Larger than the 32-bit size field can describe: refused, not wrapped.
    EXPECT_FALSE(CBxPicBufAPI::ReinitHeap(b, 70000, 70000, 3, 32));
    EXPECT_EQ(b.pixels, nullptr);
}

TEST(PicBuf, CopiesRefuseMismatchedGeometry) {
    PicBufHolder a = Make(4, 4, 3, 8), b = Make(4, 5, 3, 8), c = Make(4, 4, 1, 8);
    Fill8(a.buf);
    EXPECT_FALSE(CBxPicBufAPI::Copy(b.buf, a.buf));
    EXPECT_FALSE(CBxPicBufAPI::Copy(c.buf, a.buf));
    PicBufHolder d = Make(4, 4, 3, 8);
    ASSERT_TRUE(CBxPicBufAPI::Copy(d.buf, a.buf));
    EXPECT_EQ(0, std::memcmp(d.buf.pixels, a.buf.pixels, a.buf.size));

    // Blocks reaching outside either buffer are refused.
    EXPECT_FALSE(CBxPicBufAPI::CopyRect(b.buf, a.buf, {0, 0}, {2, 2}, {3, 3}));
    EXPECT_FALSE(CBxPicBufAPI::CopyRect(b.buf, a.buf, {2, 3}, {0, 0}, {3, 3}));
    EXPECT_FALSE(CBxPicBufAPI::CopyRect(b.buf, a.buf, {-1, 0}, {0, 0}, {2, 2}));
}

TEST(PicBuf, RectangleCopiesLandWhereAsked) {
    PicBufHolder src = Make(6, 5, 1, 16);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) src.buf.Row<uint16_t>(y)[x] = uint16_t(100 * y + x);
    PicBufHolder crop;
    ASSERT_TRUE(CBxPicBufAPI::Copy(crop.buf, src.buf, CBxRect<int>(2, 1, 5, 4)));
    EXPECT_EQ(crop.buf.width, 3);
    EXPECT_EQ(crop.buf.height, 3);
    EXPECT_EQ(crop.buf.Row<uint16_t>(0)[0], 102);
    EXPECT_EQ(crop.buf.Row<uint16_t>(2)[2], 304);
    EXPECT_FALSE(CBxPicBufAPI::Copy(crop.buf, src.buf, CBxRect<int>(4, 0, 7, 2)));

    PicBufHolder dst = Make(6, 5, 1, 16);
    CBxPicBufAPI::SetConst(dst.buf, 0);
    ASSERT_TRUE(CBxPicBufAPI::CopyRect(dst.buf, src.buf, {3, 2}, {0, 0}, {2, 2}));
    EXPECT_EQ(dst.buf.Row<uint16_t>(2)[3], 0);
    EXPECT_EQ(dst.buf.Row<uint16_t>(3)[4], 101);
    EXPECT_EQ(dst.buf.Row<uint16_t>(2)[2], 0);
}

TEST(PicBuf, ComponentsMoveBetweenPlanes) {
    PicBufHolder rgb = Make(3, 2, 3, 16), plane = Make(3, 2, 1, 16);
    for (int i = 0; i < 18; ++i) reinterpret_cast<uint16_t*>(rgb.buf.pixels)[i] = uint16_t(i);
    ASSERT_TRUE(CBxPicBufAPI::ExtractComponent(plane.buf, 2, rgb.buf));
    EXPECT_EQ(reinterpret_cast<uint16_t*>(plane.buf.pixels)[1], 5);
    CBxPicBufAPI::SetConst(plane.buf, 0xff);
    ASSERT_TRUE(CBxPicBufAPI::InsertComponent(rgb.buf, 0, plane.buf));
    EXPECT_EQ(reinterpret_cast<uint16_t*>(rgb.buf.pixels)[3], 0xffff);
    EXPECT_EQ(reinterpret_cast<uint16_t*>(rgb.buf.pixels)[4], 4);
    EXPECT_FALSE(CBxPicBufAPI::ExtractComponent(plane.buf, 3, rgb.buf));
    PicBufHolder wrongDepth = Make(3, 2, 1, 8);
    EXPECT_FALSE(CBxPicBufAPI::ExtractComponent(wrongDepth.buf, 0, rgb.buf));
}

TEST(PicBuf, SetConstClipsItsRectangle) {
    PicBufHolder p = Make(4, 4, 3, 8);
    CBxPicBufAPI::SetConst(p.buf, 1);
    ASSERT_TRUE(CBxPicBufAPI::SetConst(p.buf, CBxRect<int>(-2, 2, 2, 9), 9));
    EXPECT_EQ(p.buf.Row<uint8_t>(1)[0], 1);
    EXPECT_EQ(p.buf.Row<uint8_t>(3)[5], 9);
    EXPECT_EQ(p.buf.Row<uint8_t>(3)[6], 1);
}

TEST(PicBufConvert, GreyUsesRoundedIntegerWeightsAtEveryDepth) {
    PicBufHolder p = Make(2, 1, 3, 8);
    uint8_t* px = p.buf.pixels;  // blue, green, red
    px[0] = 30; px[1] = 20; px[2] = 10;
    px[3] = 255; px[4] = 255; px[5] = 255;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(p.buf, 8, 1));
    // (299*10 + 587*20 + 114*30 + 500) / 1000 = 18.15 -> 18
    EXPECT_EQ(p.buf.pixels[0], 18);
    EXPECT_EQ(p.buf.pixels[1], 255);

    PicBufHolder w = Make(1, 1, 3, 16);
    uint16_t* q = reinterpret_cast<uint16_t*>(w.buf.pixels);
    q[0] = 65535; q[1] = 0; q[2] = 65535;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(w.buf, 16, 1));
    EXPECT_EQ(reinterpret_cast<uint16_t*>(w.buf.pixels)[0], (413ull * 65535 + 500) / 1000);

    PicBufHolder f = Make(1, 1, 3, 32);
    float* fp = reinterpret_cast<float*>(f.buf.pixels);
    fp[0] = 1.f; fp[1] = 2.f; fp[2] = 3.f;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(f.buf, 32, 1));
    EXPECT_EQ(reinterpret_cast<float*>(f.buf.pixels)[0], (0.299f * 3.f + 0.587f * 2.f) + 0.114f * 1.f);
}

TEST(PicBufConvert, DepthChangesRoundTripAndClamp) {
    PicBufHolder p = Make(4, 1, 1, 8);
    const uint8_t v[4] = {0, 1, 128, 255};
    std::memcpy(p.buf.pixels, v, 4);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(p.buf, 16, 3));
    const uint16_t* w = reinterpret_cast<uint16_t*>(p.buf.pixels);
    EXPECT_EQ(p.buf.components, 3);
    EXPECT_EQ(w[9], 65535);
    EXPECT_EQ(w[6], 128 * 257);
    EXPECT_EQ(w[7], 128 * 257);
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(p.buf, 8, 1));
    EXPECT_EQ(0, std::memcmp(p.buf.pixels, v, 4));

    PicBufHolder f = Make(5, 1, 1, 32);
    float* fv = reinterpret_cast<float*>(f.buf.pixels);
    fv[0] = -3.f; fv[1] = 2.5f; fv[2] = 2.49f; fv[3] = 300.f; fv[4] = 254.5f;
    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(f.buf, 8, 1));
    const uint8_t expect[5] = {0, 3, 2, 255, 255};
    EXPECT_EQ(0, std::memcmp(f.buf.pixels, expect, 5));
}

// A converted copy is the copy converted in place, for every layout, and the
// source stays as it was.
TEST(PicBufConvert, ConvertedCopyEqualsCopyThenConvert) {
    for (int bits : {8, 16, 32})
        for (int comps : {1, 3}) {
            PicBufHolder src = Make(7, 5, comps, bits);
            const size_t n = size_t(7 * 5 * comps);
            for (size_t i = 0; i < n; ++i) {
                if (bits == 8) src.buf.pixels[i] = uint8_t(i * 7 + 3);
                if (bits == 16) src.buf.Row<uint16_t>(0)[i] = uint16_t(i * 2654435761u >> 13);
                if (bits == 32) src.buf.Row<float>(0)[i] = float(int(i * 37 % 300) - 10) + 0.25f;
            }
            const std::string before(reinterpret_cast<char*>(src.buf.pixels), src.buf.size);
            for (int toBits : {8, 16, 32})
                for (int toComps : {1, 3}) {
                    SCOPED_TRACE(std::to_string(bits) + "x" + std::to_string(comps) + " to " +
                                 std::to_string(toBits) + "x" + std::to_string(toComps));
                    PicBufHolder expected = Make(7, 5, comps, bits), got = Make(2, 2, 1, 8);
                    ASSERT_TRUE(CBxPicBufAPI::Copy(expected.buf, src.buf));
                    ASSERT_TRUE(CBxPicBufAPI::ConvertBpcComp(expected.buf, toBits, toComps));
                    ASSERT_TRUE(CBxPicBufAPI::CopyConverted(got.buf, src.buf, toBits, toComps));
                    ASSERT_TRUE(CBxPicBufAPI::SameGeometry(got.buf, expected.buf));
                    EXPECT_EQ(0, std::memcmp(got.buf.pixels, expected.buf.pixels, got.buf.size));
                    EXPECT_EQ(std::string(reinterpret_cast<char*>(src.buf.pixels), src.buf.size), before);
                }
        }
    PicBufHolder src = Make(2, 2, 3, 8), dst;
    EXPECT_FALSE(CBxPicBufAPI::CopyConverted(dst.buf, src.buf, 12, 3));
    EXPECT_FALSE(CBxPicBufAPI::CopyConverted(dst.buf, src.buf, 8, 2));
    EXPECT_TRUE(dst.Empty());
}

TEST(PicBufConvert, YuvMatchesHandComputedValuesAndRoundTrips) {
    PicBufHolder rgb = Make(3, 1, 3, 8), yuv = Make(3, 1, 3, 8), back = Make(3, 1, 3, 8);
    uint8_t* s = rgb.buf.pixels;
    // pure red (B,G,R = 0,0,255), mid grey, pure blue
    const uint8_t in[9] = {0, 0, 255, 128, 128, 128, 255, 0, 0};
    std::memcpy(s, in, 9);
    ASSERT_TRUE(CBxPicBufAPI::ConvertRGBtoYUV(yuv.buf, rgb.buf));
    const uint8_t* y = yuv.buf.pixels;
    EXPECT_EQ(y[0], 76);   // 0.299 * 255 = 76.2
    EXPECT_EQ(y[1], 85);   // 128 - 0.168736 * 255 = 84.97
    EXPECT_EQ(y[2], 255);  // 128 + 127.5 = 255.5 -> clamped
    EXPECT_EQ(y[3], 128);
    EXPECT_EQ(y[4], 128);
    EXPECT_EQ(y[5], 128);
    EXPECT_EQ(y[6], 29);   // 0.114 * 255 = 29.07
    ASSERT_TRUE(CBxPicBufAPI::ConvertYUVtoRGB(back.buf, yuv.buf));
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(back.buf.pixels[i], in[i], 2) << i;
    PicBufHolder grey = Make(3, 1, 1, 8);
    EXPECT_FALSE(CBxPicBufAPI::ConvertRGBtoYUV(grey.buf, rgb.buf));
}

TEST(PicBuf, ViewsIntoAWiderBufferStayInsideTheirRows) {
    PicBufHolder big = Make(10, 4, 3, 8);
    CBxPicBufAPI::SetConst(big.buf, 1);
    SBxPicBuf view = CBxPicBufAPI::View(big.buf, 4, 3);
    EXPECT_FALSE(CBxPicBufAPI::IsValid(view));  // not packed
    ASSERT_TRUE(CBxPicBufAPI::IsValidView(view));
    ASSERT_TRUE(CBxPicBufAPI::SetConst(view, 9));
    EXPECT_EQ(big.buf.Row<uint8_t>(2)[11], 9);
    EXPECT_EQ(big.buf.Row<uint8_t>(2)[12], 1);
    EXPECT_EQ(big.buf.Row<uint8_t>(3)[0], 1);
    PicBufHolder src = Make(2, 2, 3, 8);
    CBxPicBufAPI::SetConst(src.buf, 5);
    ASSERT_TRUE(CBxPicBufAPI::TransformConstantFast(view, src.buf, CBxPicMap(3, 0, 0, 0, 0, 2)));
    EXPECT_EQ(view.Row<uint8_t>(1)[9], 5);   // x = 3 inside the view
    EXPECT_EQ(big.buf.Row<uint8_t>(1)[12], 1);  // x = 4 is outside it
    EXPECT_FALSE(CBxPicBufAPI::ConvertBpcComp(view, 8, 1));
}

TEST(PicBuf, AdoptedPixelsGoBackThroughTheirOwnReleaseExactlyOnce) {
    g_released.clear();
    auto* block = static_cast<unsigned char*>(std::malloc(100));
    PicBufHolder first;
    ASSERT_TRUE(CBxPicBufAPI::Adopt(first.buf, block, 100, 4, 3, 3, 8, Release));
    EXPECT_EQ(first.buf.pitch, 12u);
    EXPECT_TRUE(CBxPicBufAPI::IsValid(first.buf));
    {
        PicBufHolder moved = std::move(first);
        PicBufHolder heap = Make(2, 2, 1, 8);  // ordinary buffers are unaffected
        EXPECT_TRUE(g_released.empty());
    }
    ASSERT_EQ(g_released.size(), 1u);
    EXPECT_EQ(g_released[0].first, block);
    EXPECT_EQ(g_released[0].second, 100u);

    // A layout larger than the block is refused and the block stays the caller's.
    unsigned char small[10];
    PicBufHolder refused;
    EXPECT_FALSE(CBxPicBufAPI::Adopt(refused.buf, small, sizeof small, 4, 3, 1, 8, Release));
    EXPECT_EQ(refused.buf.pixels, nullptr);
    EXPECT_FALSE(CBxPicBufAPI::Adopt(refused.buf, small, sizeof small, 2, 2, 2, 8, Release));
    EXPECT_EQ(g_released.size(), 1u);
}
