#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "picbuf.h"
#include "progress.h"

// Counts progress steps and requests an abort once `abortAfter` steps are done.
class CountingProgress : public RepaintProgress {
public:
    explicit CountingProgress(int abortAfter = -1, bool visible = true) : abortAfter_(abortAfter), visible_(visible) {}
    void Step(int n) override { steps += n; }
    bool AbortRequested() const override { return abortAfter_ >= 0 && steps >= abortAfter_; }
    bool ProgressVisible() const override { return visible_; }
    int steps = 0;

private:
    int abortAfter_;
    bool visible_;
};

// Smooth shapes plus a little texture: gives the methods edges to follow.
inline PicBufHolder TestPicture(int w, int h, int components, int bits, uint32_t seed = 1) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, components, bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const bool inDisc = (x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3) < (w * h) / 10;
                int v = (inDisc ? 180 : 60) + (x * 3 + y * 2 + c * 40) % 50 + int(seed >> 29);
                v = v > 255 ? 255 : v;
                if (bits == 8)
                    p.buf.Row<uint8_t>(y)[x * components + c] = uint8_t(v);
                else
                    p.buf.Row<uint16_t>(y)[x * components + c] = uint16_t(v * 257 + (seed >> 24));
            }
    return p;
}

inline bool SameBuffer(const SBxPicBuf& a, const SBxPicBuf& b) {
    return CBxPicBufAPI::SameGeometry(a, b) && a.pixels && b.pixels &&
           std::memcmp(a.pixels, b.pixels, size_t(a.pitch) * a.height) == 0;
}
