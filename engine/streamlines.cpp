#include "streamlines.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <new>

#include "parallel.h"

namespace {

// The smoothing of both methods: amplitude 200 (walks of up to 2 × 20 × n
// pixels, n the tensor's stretch of the direction), steps of 0.8 pixels,
// directions every 30°.
constexpr float kStepLength = 0.8f, kAngleStep = 30.f, kPrecision = 2.f;
const float kSqrt2Amplitude = std::sqrt(2 * 200.f);

// The walking direction of one pixel for the direction (vx, vy): a step of
// kStepLength along the tensor's image of it, and that image's length.
struct Direction {
    float du, dv, n;
};
inline Direction DirectionAt(float a, float b, float c, float vx, float vy) {
    const float u = a * vx + b * vy, v = b * vx + c * vy;
    const float n = std::max(1e-5f, std::sqrt(u * u + v * v)), dln = kStepLength / n;
    return {u * dln, v * dln, n};
}

inline float WalkLength(float n) {
    const float fsigma = n * kSqrt2Amplitude;
    return kPrecision * fsigma;
}

// Four walks side by side in the lanes of SSE registers. The picture is
// stored pixel by pixel as (du, dv, channel 0, …), so one unaligned load per
// lane fetches the step and the first samples together. Every lane performs
// the same float operations in the same order as a walk on its own; a lane
// that has ended stops counting and reads pixel 0 from then on.
template <int C>
struct Walks {
    static constexpr int kStride = 2 + C;
    static constexpr int kBlocks = (kStride + 3) / 4;

    __m128 x, y, l, length, s, live;
    __m128 val[C];

    // Walks from pixels x0 … x0 + 3 of row y0, those before x1; `lengths`
    // holds the walk lengths of the row (and is read past x1, for lanes that
    // never walk).
    void Start(const float* lengths, int y0, int x0, int x1) {
        const __m128i xs = _mm_add_epi32(_mm_set1_epi32(x0), _mm_setr_epi32(0, 1, 2, 3));
        x = _mm_cvtepi32_ps(xs);
        y = _mm_set1_ps(float(y0));
        l = _mm_setzero_ps();
        length = _mm_loadu_ps(lengths + x0);
        s = _mm_setzero_ps();
        live = _mm_castsi128_ps(_mm_cmplt_epi32(xs, _mm_set1_epi32(x1)));
        for (int c = 0; c < C; ++c) val[c] = _mm_setzero_ps();
    }

    // The loop condition of every lane; false once all lanes have ended.
    bool Continue(__m128 right, __m128 bottom) {
        const __m128 zero = _mm_setzero_ps();
        __m128 go = _mm_and_ps(_mm_cmplt_ps(l, length), _mm_cmpge_ps(x, zero));
        go = _mm_and_ps(go, _mm_and_ps(_mm_cmple_ps(x, right), _mm_cmpge_ps(y, zero)));
        live = _mm_and_ps(live, _mm_and_ps(go, _mm_cmple_ps(y, bottom)));
        return _mm_movemask_ps(live) != 0;
    }

    // `pixels` holds the rows from `top` on.
    void Step(const float* pixels, int width, __m128i top) {
        const __m128 half = _mm_set1_ps(0.5f);
        const __m128i liveBits = _mm_castps_si128(live);
        alignas(16) int32_t cx[4], cy[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(cx),
                        _mm_and_si128(_mm_cvttps_epi32(_mm_add_ps(x, half)), liveBits));
        _mm_store_si128(reinterpret_cast<__m128i*>(cy),
                        _mm_and_si128(_mm_sub_epi32(_mm_cvttps_epi32(_mm_add_ps(y, half)), top), liveBits));
        const float* p[4];
        for (int k = 0; k < 4; ++k) p[k] = pixels + (size_t(cy[k]) * width + size_t(cx[k])) * kStride;
        __m128 block[kBlocks][4];
        for (int b = 0; b < kBlocks; ++b) {
            for (int k = 0; k < 4; ++k) block[b][k] = _mm_loadu_ps(p[k] + 4 * b);
            _MM_TRANSPOSE4_PS(block[b][0], block[b][1], block[b][2], block[b][3]);
        }
        // An ended lane adds +0, which leaves its sums as they are: they
        // start at +0 and so are never -0.
        for (int c = 0; c < C; ++c) val[c] = _mm_add_ps(val[c], _mm_and_ps(live, block[(c + 2) / 4][(c + 2) % 4]));
        s = _mm_add_ps(s, _mm_and_ps(live, _mm_set1_ps(1.f)));
        x = _mm_add_ps(x, block[0][0]);
        y = _mm_add_ps(y, block[0][1]);
        l = _mm_add_ps(l, _mm_set1_ps(kStepLength));
    }

    // sum[c][x - x0] += the mean met by the lane at x, or the pixel's own
    // sample for a walk that never started; `row` is the pixels' row.
    void Finish(const float* row, float* const sum[C], int x0, int from, int x1) const {
        alignas(16) float means[C][4], counts[4];
        for (int c = 0; c < C; ++c) _mm_store_ps(means[c], _mm_div_ps(val[c], s));
        _mm_store_ps(counts, s);
        for (int k = 0; k < 4 && from + k < x1; ++k) {
            const int x = from + k;
            for (int c = 0; c < C; ++c)
                sum[c][x - x0] += counts[k] > 0 ? means[c][k] : row[size_t(x) * kStride + 2 + size_t(c)];
        }
    }
};

// Walks of one row of the region for one direction, twelve pixels at a time
// in three sets of lanes, whose steps the processor overlaps. `pixels` holds
// the picture's rows from `top` on; `sum` the region's row.
constexpr int kSets = 3;

template <int C>
void WalkRow(const float* pixels, int top, const float* lengths, float* const sum[C], int width, int height,
             const TileRect& region, int y) {
    const __m128 right = _mm_set1_ps(float(width - 1)), bottom = _mm_set1_ps(float(height - 1));
    const __m128i topRow = _mm_set1_epi32(top);
    const float* row = pixels + size_t(y - top) * width * Walks<C>::kStride;
    for (int x = region.x0; x < region.x1; x += 4 * kSets) {
        Walks<C> sets[kSets];
        for (int k = 0; k < kSets; ++k) sets[k].Start(lengths, y, x + 4 * k, region.x1);
        for (bool any = true; any;) {
            any = false;
            for (Walks<C>& w : sets)
                if (w.Continue(right, bottom)) {
                    w.Step(pixels, width, topRow);
                    any = true;
                }
        }
        for (int k = 0; k < kSets; ++k) sets[k].Finish(row, sum, region.x0, x + 4 * k, region.x1);
    }
}

// The step of pixels [0, count) for the direction (vx, vy) into the first
// two floats of every `stride` floats of `pixels`, and the walk lengths of
// pixels [from, to) into `lengths` from its start: four pixels at a time with
// the operations of DirectionAt and WalkLength in their order.
void SetDirections(const float* const t[3], size_t count, float vx, float vy, float* pixels, int stride,
                   float* lengths, size_t from, size_t to) {
    const __m128 mvx = _mm_set1_ps(vx), mvy = _mm_set1_ps(vy), least = _mm_set1_ps(1e-5f),
                 step = _mm_set1_ps(kStepLength), amplitude = _mm_set1_ps(kSqrt2Amplitude),
                 precision = _mm_set1_ps(kPrecision);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 a = _mm_loadu_ps(t[0] + i), b = _mm_loadu_ps(t[1] + i), c = _mm_loadu_ps(t[2] + i);
        const __m128 u = _mm_add_ps(_mm_mul_ps(a, mvx), _mm_mul_ps(b, mvy)),
                     v = _mm_add_ps(_mm_mul_ps(b, mvx), _mm_mul_ps(c, mvy));
        // max(root, least) takes `least` where std::max(least, root) does:
        // below it, equal to it, and for NaN.
        const __m128 n = _mm_max_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(u, u), _mm_mul_ps(v, v))), least);
        const __m128 dln = _mm_div_ps(step, n);
        alignas(16) float du[4], dv[4], length[4];
        _mm_store_ps(du, _mm_mul_ps(u, dln));
        _mm_store_ps(dv, _mm_mul_ps(v, dln));
        _mm_store_ps(length, _mm_mul_ps(precision, _mm_mul_ps(n, amplitude)));
        for (size_t k = 0; k < 4; ++k) {
            pixels[(i + k) * stride] = du[k];
            pixels[(i + k) * stride + 1] = dv[k];
            if (i + k >= from && i + k < to) lengths[i + k - from] = length[k];
        }
    }
    for (; i < count; ++i) {
        const Direction d = DirectionAt(t[0][i], t[1][i], t[2][i], vx, vy);
        pixels[i * stride] = d.du;
        pixels[i * stride + 1] = d.dv;
        if (i >= from && i < to) lengths[i - from] = WalkLength(d.n);
    }
}

// Rows of the region smoothed together: each band keeps the steps and
// samples of its rows and of every row its walks can reach, not the whole
// picture's.
constexpr int kBandRows = 64;

// How many rows a walk starting in rows [y0, y1) of the region can move up
// or down. A walk is at most 2 × 20 × n long, n the length of the tensor's
// image of a unit direction, which is at most the tensor's Frobenius norm;
// its steps are 0.8 long, so it looks up pixels at most that far away
// (plus rounding). Tensors that are not finite give the whole picture.
int Reach(const float* tensors[3], int width, const TileRect& region, int y0, int y1) {
    double most = 0;
    for (int y = y0; y < y1; ++y)
        for (size_t i = size_t(y) * width + region.x0, end = size_t(y) * width + region.x1; i < end; ++i) {
            const double a = tensors[0][i], b = tensors[1][i], c = tensors[2][i], f = a * a + 2 * b * b + c * c;
            if (f > most) most = f;
        }
    const double rows = double(kPrecision) * kSqrt2Amplitude * std::sqrt(most) * 1.01 + 4.0;
    return rows < 1e9 ? int(std::ceil(rows)) : std::numeric_limits<int>::max() / 2;
}

// Channels [first, first + C) of `image` smoothed over `region` into `out`.
template <int C>
bool SmoothGroup(const FloatPlanes& image, int first, const FloatPlanes& tensors, const TileRect& region,
                 const std::vector<std::pair<float, float>>& ranges, FloatPlanes& out, const RepaintProgress* stop) {
    constexpr int kStride = Walks<C>::kStride;
    const int w = image.width, h = image.height, rw = region.x1 - region.x0;
    const float* t[3] = {tensors.Channel(0), tensors.Channel(1), tensors.Channel(2)};
    std::atomic<bool> stopped{false};
    auto abortNow = [&] {
        if (stopped.load(std::memory_order_relaxed)) return true;
        if (stop && stop->AbortRequested()) stopped = true;
        return stopped.load(std::memory_order_relaxed);
    };
    const int bands = (region.y1 - region.y0 + kBandRows - 1) / kBandRows;
    ParallelRows(0, bands, [&](int k) {
        if (abortNow()) return;
        const int y0 = region.y0 + k * kBandRows, y1 = std::min(region.y1, y0 + kBandRows);
        const int reach = Reach(t, w, region, y0, y1);
        const int top = std::max(0, y0 - reach), bottom = std::min(h, y1 + reach);
        // Padded so that the last pixel's loads stay inside.
        std::vector<float> pixels(size_t(bottom - top) * w * kStride + 8);
        const size_t offset = size_t(top) * w, count = size_t(bottom - top) * w;
        for (int c = 0; c < C; ++c) {
            const float* from = image.Channel(first + c) + offset;
            for (size_t i = 0; i < count; ++i) pixels[i * kStride + 2 + size_t(c)] = from[i];
        }
        std::vector<float> sums(static_cast<size_t>(C) * (y1 - y0) * rw, 0.f);
        // The walk lengths of the band's rows, padded for the last lanes:
        // the last sets of a row start up to 4 × kSets - 1 pixels past its
        // end and load four lengths each.
        std::vector<float> lengths(size_t(y1 - y0) * w + 4 * kSets + 4);
        const float* const bandTensors[3] = {t[0] + offset, t[1] + offset, t[2] + offset};
        const size_t bandFrom = size_t(y0 - top) * w, bandTo = size_t(y1 - top) * w;
        int directions = 0;
        for (float theta = 0; theta < 360; theta += kAngleStep, ++directions) {
            if (abortNow()) return;
            const float radians = float(double(theta) * 3.14159265358979323846 / 180);
            SetDirections(bandTensors, count, std::cos(radians), std::sin(radians), pixels.data(), kStride,
                          lengths.data(), bandFrom, bandTo);
            for (int y = y0; y < y1; ++y) {
                if (abortNow()) return;  // a band's direction can take a while on a busy machine
                float* sum[C];
                for (int c = 0; c < C; ++c) sum[c] = sums.data() + (size_t(c) * (y1 - y0) + (y - y0)) * rw;
                WalkRow<C>(pixels.data(), top, lengths.data() + size_t(y - y0) * w, sum, w, h, region, y);
            }
        }
        for (int c = 0; c < C; ++c) {
            const auto [low, high] = ranges[size_t(first + c)];
            for (int y = y0; y < y1; ++y) {
                const float* sum = sums.data() + (size_t(c) * (y1 - y0) + (y - y0)) * rw;
                float* to = out.Channel(first + c) + size_t(y) * w + region.x0;
                for (int x = 0; x < rw; ++x) to[x] = std::clamp(sum[x] / float(directions), low, high);
            }
        }
    });
    return !abortNow();
}

}  // namespace

bool SmoothAlongStreamlines(const FloatPlanes& image, const FloatPlanes& tensors, const TileRect& region,
                            const std::vector<std::pair<float, float>>& ranges, FloatPlanes& out,
                            const RepaintProgress* stop) {
    if (image.width != tensors.width || image.height != tensors.height || tensors.channels != 3 ||
        int(ranges.size()) < image.channels || out.width != image.width || out.height != image.height ||
        out.channels != image.channels)
        throw std::invalid_argument("streamline smoothing: mismatched planes");
    const TileRect r{std::max(region.x0, 0), std::min(region.x1, image.width), std::max(region.y0, 0),
                     std::min(region.y1, image.height)};
    if (r.x0 >= r.x1 || r.y0 >= r.y1) return true;
    // Up to four channels are walked together; more take several rounds.
    for (int first = 0; first < image.channels; first += 4) {
        bool done = true;
        switch (std::min(4, image.channels - first)) {
            case 1: done = SmoothGroup<1>(image, first, tensors, r, ranges, out, stop); break;
            case 2: done = SmoothGroup<2>(image, first, tensors, r, ranges, out, stop); break;
            case 3: done = SmoothGroup<3>(image, first, tensors, r, ranges, out, stop); break;
            default: done = SmoothGroup<4>(image, first, tensors, r, ranges, out, stop); break;
        }
        if (!done) return false;
    }
    return true;
}

namespace {

TileRect Whole(const FloatPlanes& p) { return {0, p.width, 0, p.height}; }

}  // namespace

bool BlurAnisotropic(FloatPlanes& image, const FloatPlanes& tensors, const RepaintProgress* stop) {
    if (image.data.empty()) return true;
    const std::vector<std::pair<float, float>> ranges(size_t(image.channels),
                                                      ValueRange(image.data.data(), image.data.size()));
    FloatPlanes out = FloatPlanes::Unfilled(image.width, image.height, image.channels);
    if (!SmoothAlongStreamlines(image, tensors, Whole(image), ranges, out, stop)) return false;
    image = std::move(out);
    return true;
}

bool BlurAnisotropicChannels(FloatPlanes& image, const FloatPlanes& tensors, const RepaintProgress* stop,
                             const TileRect* region) {
    if (image.data.empty()) return true;
    const size_t n = size_t(image.width) * image.height;
    std::vector<std::pair<float, float>> ranges;
    for (int c = 0; c < image.channels; ++c) ranges.push_back(ValueRange(image.Channel(c), n));
    FloatPlanes out = region ? image : FloatPlanes::Unfilled(image.width, image.height, image.channels);
    if (!SmoothAlongStreamlines(image, tensors, region ? *region : Whole(image), ranges, out, stop)) return false;
    image = std::move(out);
    return true;
}
