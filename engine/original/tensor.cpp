#include "tensor.h"

#include <algorithm>
#include <cstring>

#include "parallel.h"

namespace {

// A sweep over fewer weak pixels than this costs less than waking threads;
// most sweeps of the coarse levels are that small.
constexpr int kSerialWeakPixels = 8192;
constexpr int kWeakChunk = 2048;

bool FloatPlaneLike(const SBxPicBuf& p, const SBxPicBuf& ref) {
    return p.pixels && p.components == 1 && p.bits == 32 && p.width == ref.width && p.height == ref.height;
}

// Adds the products of the optimised 3 × 3 derivatives of component c of
// an interleaved float picture of `components` components.
void AddDerivativeProducts(const float* picture, int components, int c, int w, int h, float* jxx, float* jxy,
                           float* jyy) {
    std::vector<float> P(size_t(w) * h), Q(size_t(w) * h);
    ParallelRows(0, h, [&](int y) {
        for (size_t i = size_t(y) * w, e = i + size_t(w); i < e; ++i) {
            const float v = picture[i * components + c];
            P[i] = 0.183f * v;
            Q[i] = 0.634f * v;
        }
    });
    // The one-pixel border replicates the nearest edge pixel: clamped reads.
    ParallelRows(0, h, [&](int y) {
        const size_t up = size_t(std::max(y - 1, 0)) * w, mid = size_t(y) * w,
                     down = size_t(std::min(y + 1, h - 1)) * w;
        for (int x = 0; x < w; ++x) {
            const int l = std::max(x - 1, 0), r = std::min(x + 1, w - 1);
            const float dx = P[up + l] + P[down + l] + Q[mid + l] - P[up + r] - P[down + r] - Q[mid + r];
            const float dy = P[up + r] + P[up + l] + Q[up + x] - P[down + l] - P[down + r] - Q[down + x];
            jxx[mid + x] += dx * dx;
            jxy[mid + x] += dx * dy;
            jyy[mid + x] += dy * dy;
        }
    });
}

float* Plane(SBxPicBuf& p) { return reinterpret_cast<float*>(p.pixels); }

}  // namespace

void TensorLevel::Resize(int width, int height) {
    right = width;
    bottom = height;
    const size_t n = size_t(width) * height;
    mask.resize(n);
    jxx.resize(n);
    jxy.resize(n);
    jyy.resize(n);
}

TensorLevel::TensorLevel(int width, int height)
    : right(width),
      bottom(height),
      mask(size_t(width) * height, 1),
      jxx(mask.size(), 0.f),
      jxy(mask.size(), 0.f),
      jyy(mask.size(), 0.f) {}

bool StructureTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, const SBxPicBuf& guide) {
    if (!guide.pixels || guide.bits != 32 || guide.pitch != uint32_t(guide.width) * guide.components * 4 ||
        !FloatPlaneLike(jxx, guide) || !FloatPlaneLike(jxy, guide) || !FloatPlaneLike(jyy, guide))
        return false;
    CBxPicBufAPI::SetConst(jxx, 0);
    CBxPicBufAPI::SetConst(jxy, 0);
    CBxPicBufAPI::SetConst(jyy, 0);
    const int w = guide.width, h = guide.height;
    for (int c = 0; c < guide.components; ++c)
        AddDerivativeProducts(reinterpret_cast<const float*>(guide.pixels), guide.components, c, w, h, Plane(jxx),
                              Plane(jxy), Plane(jyy));
    return true;
}

void RelaxWeak(TensorLevel& level, float t, int sweeps, const RepaintProgress& progress) {
    if (progress.AbortRequested()) return;
    const int w = level.Width(), h = level.Height();
    for (auto [from, to] : {std::pair(&level.jxx, &level.sxx), {&level.jxy, &level.sxy}, {&level.jyy, &level.syy}}) {
        to->resize(from->size());
        ParallelCopy(from->data(), to->data(), from->size());
    }
    // Interior pixels still marked weak, in row order. Pixels leave the list
    // when they turn strong; the list is the sweep's "found" test.
    std::vector<int> weak;
    for (int y = 1; y <= h - 2; ++y)
        for (int x = 1; x <= w - 2; ++x)
            if (level.mask[size_t(y) * w + x] == 255) weak.push_back(y * w + x);
    std::vector<unsigned char> keep;
    // Each sweep reads one set of planes and writes the other: the pixels
    // still weak get the mean of their neighbours, those turning strong
    // carry their value over, every other pixel is the same in both.
    float *jxx = level.jxx.data(), *jxy = level.jxy.data(), *jyy = level.jyy.data();
    float *sxx = level.sxx.data(), *sxy = level.sxy.data(), *syy = level.syy.data();
    int s = 0;
    for (; s < sweeps && !weak.empty(); ++s) {
        const int n = int(weak.size());
        keep.assign(size_t(n), 0);
        ParallelItems(0, n, [&](int i) {
            const int p = weak[size_t(i)];
            if (IsWeak(jxx[p], jxy[p], jyy[p], t)) {
                sxx[p] = (jxx[p - 1] + jxx[p + 1] + jxx[p - w] + jxx[p + w]) * 0.25f;
                sxy[p] = (jxy[p - 1] + jxy[p + 1] + jxy[p - w] + jxy[p + w]) * 0.25f;
                syy[p] = (jyy[p - 1] + jyy[p + 1] + jyy[p - w] + jyy[p + w]) * 0.25f;
                keep[size_t(i)] = 1;
            } else {
                sxx[p] = jxx[p];
                sxy[p] = jxy[p];
                syy[p] = jyy[p];
                level.mask[size_t(p)] = 1;
            }
        }, kSerialWeakPixels, kWeakChunk);
        std::swap(jxx, sxx);
        std::swap(jxy, sxy);
        std::swap(jyy, syy);
        int kept = 0;
        for (int i = 0; i < n; ++i) {
            weak[size_t(kept)] = weak[size_t(i)];
            kept += keep[size_t(i)];
        }
        weak.resize(size_t(kept));
    }
    // After an odd number of sweeps the latest values are in the scratch set.
    if (s % 2 == 1) {
        level.jxx.swap(level.sxx);
        level.jxy.swap(level.sxy);
        level.jyy.swap(level.syy);
    }
}

namespace {

// Averages the full-size level over u × u blocks (each summed in row order);
// a block holding any weak pixel is weak.
// u is a power of two; shifting by its exponent spares a division per pixel.
int Exponent(int u) {
    int k = 0;
    while ((1 << k) < u) ++k;
    return k;
}

void Downsample(const TensorLevel& full, TensorLevel& coarse, int u) {
    const int w = full.Width(), h = full.Height(), cw = coarse.Width(), ch = coarse.Height(), k = Exponent(u);
    // Each block is summed on its own, in the order of its rows, and written
    // once: threads never write next to each other while they sum.
    ParallelRows(0, ch, [&](int cy) {
        const int y0 = cy << k, y1 = std::min(y0 + u, h);
        for (int cx = 0; cx < cw; ++cx) {
            const int x0 = cx << k, x1 = std::min(x0 + u, w);
            float sxx = 0.f, sxy = 0.f, syy = 0.f;
            unsigned char mask = 1;
            for (int y = y0; y < y1; ++y)
                for (size_t f = size_t(y) * w + x0, e = size_t(y) * w + x1; f < e; ++f) {
                    sxx += full.jxx[f];
                    sxy += full.jxy[f];
                    syy += full.jyy[f];
                    mask = std::max(mask, full.mask[f]);
                }
            const size_t c = size_t(cy) * cw + cx;
            const float n = float((y1 - y0) * (x1 - x0));
            coarse.mask[c] = mask == 1 ? 1 : 255;
            coarse.jxx[c] = sxx / n;
            coarse.jxy[c] = sxy / n;
            coarse.jyy[c] = syy / n;
        }
    });
}

// Row y of the full-size level plus the changes, its mask made again.
void AddChangeToRow(TensorLevel& full, int y, const float* dxx, const float* dxy, const float* dyy, float t) {
    const int w = full.Width();
    float *jxx = full.jxx.data() + size_t(y) * w, *jxy = full.jxy.data() + size_t(y) * w,
          *jyy = full.jyy.data() + size_t(y) * w;
    unsigned char* mask = full.mask.data() + size_t(y) * w;
    for (int x = 0; x < w; ++x) {
        jxx[x] += dxx[x];
        jxy[x] += dxy[x];
        jyy[x] += dyy[x];
        mask[x] = IsWeak(jxx[x], jxy[x], jyy[x], t) ? 255 : 1;
    }
}

// Adds what relaxation changed on the coarse level to every full-size pixel.
void AddCoarseChange(TensorLevel& full, const TensorLevel& relaxed, const TensorLevel& before, int u,
                     float t) {
    const int w = full.Width(), h = full.Height(), cw = relaxed.Width(), ch = relaxed.Height(), k = Exponent(u);
    // The changes of a row of blocks, spread over the row's width first, so
    // the loop over a picture row is straight (and vectorised).
    ParallelRows(0, ch, [&](int cy) {
        thread_local std::vector<float> change;
        change.resize(size_t(w) * 3);
        float *dxx = change.data(), *dxy = dxx + w, *dyy = dxy + w;
        for (int x = 0; x < w; ++x) {
            const size_t c = size_t(cy) * cw + size_t(x >> k);
            dxx[x] = relaxed.jxx[c] - before.jxx[c];
            dxy[x] = relaxed.jxy[c] - before.jxy[c];
            dyy[x] = relaxed.jyy[c] - before.jyy[c];
        }
        for (int y = cy << k, yEnd = std::min(y + u, h); y < yEnd; ++y)
            AddChangeToRow(full, y, dxx, dxy, dyy, t);
    });
}

}  // namespace

bool FillWeakTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, float t, const RepaintProgress& progress,
                    TensorLevel& full) {
    if (!FloatPlaneLike(jxx, jxx) || !FloatPlaneLike(jxy, jxx) || !FloatPlaneLike(jyy, jxx)) return false;
    const int w = jxx.width, h = jxx.height;
    const size_t n = size_t(w) * h;
    full.Resize(w, h);
    ParallelCopy(Plane(jxx), full.jxx.data(), n);
    ParallelCopy(Plane(jxy), full.jxy.data(), n);
    ParallelCopy(Plane(jyy), full.jyy.data(), n);
    ParallelRows(0, h, [&](int y) {
        for (size_t i = size_t(y) * w, e = i + size_t(w); i < e; ++i)
            full.mask[i] = IsWeak(full.jxx[i], full.jxy[i], full.jyy[i], t) ? 255 : 1;
    });
    RelaxWeak(full, t, 20, progress);

    int m = std::min(w, h), levels = 0;
    while (m > 4 && levels < 6) {
        m /= 2;
        ++levels;
    }
    for (int k = 1; k < levels; ++k) {
        const int u = 1 << k;
        TensorLevel coarse((w - 1) / u + 1, (h - 1) / u + 1);
        Downsample(full, coarse, u);
        const TensorLevel before = coarse;
        if (progress.AbortRequested()) break;
        RelaxWeak(coarse, t, 40 + 20 * (k - 1), progress);
        AddCoarseChange(full, coarse, before, u, t);
        if (progress.AbortRequested()) break;
    }
    ParallelCopy(full.jxx.data(), Plane(jxx), n);
    ParallelCopy(full.jxy.data(), Plane(jxy), n);
    ParallelCopy(full.jyy.data(), Plane(jyy), n);
    return true;
}

bool FillWeakTensor(SBxPicBuf& jxx, SBxPicBuf& jxy, SBxPicBuf& jyy, float t, const RepaintProgress& progress) {
    TensorLevel full(0, 0);
    return FillWeakTensor(jxx, jxy, jyy, t, progress, full);
}
