// The only translation unit that includes CImg.
#define cimg_display 0
#include "cimg_bridge.h"

#include "progress.h"

#include <CImg.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "parallel.h"

using cimg_library::CImg;

namespace {

// Wraps our planes without copying.
CImg<float> Shared(FloatPlanes& p) { return CImg<float>(p.data.data(), p.width, p.height, 1, p.channels, true); }
CImg<float> SharedConst(const FloatPlanes& p) {
    return CImg<float>(const_cast<float*>(p.data.data()), p.width, p.height, 1, p.channels, true);
}

template <typename Fn>
void Guarded(Fn&& fn) {
    try {
        fn();
    } catch (const cimg_library::CImgInstanceException&) {
        throw std::bad_alloc();
    }
}

}  // namespace

namespace {

// Applies `filter` (CImg's recursive filters along x) to every row of a
// plane, or to every column when `columns`, on the engine's threads. The
// filters treat each line alone, so this is one pass of the filter over the
// whole plane. Columns are gathered into rows in blocks first, so that they
// are read in memory order. CImg is built here without its own threads,
// whose idle spinning took a shared core from other programs.
template <typename Filter>
bool EachLine(CImg<float>& plane, bool columns, const Filter& filter, const std::function<bool()>& stopped) {
    constexpr int kBlock = 32;
    const int w = plane.width(), h = plane.height();
    std::atomic<bool> complete{true};
    auto go = [&] {
        if (complete.load(std::memory_order_relaxed) && !stopped()) return true;
        complete = false;
        return false;
    };
    if (!columns) {
        ParallelRows(0, h, [&](int y) {
            if (!go()) return;
            CImg<float> row(plane.data(0, y), w, 1, 1, 1, true);
            filter(row);
        });
        return complete;
    }
    ParallelRows(0, (w + kBlock - 1) / kBlock, [&](int block) {
        if (!go()) return;
        const int x0 = block * kBlock, n = std::min(kBlock, w - x0);
        std::vector<float> lines(size_t(n) * h);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < n; ++i) lines[size_t(i) * h + y] = plane(x0 + i, y);
        for (int i = 0; i < n; ++i) {
            CImg<float> line(lines.data() + size_t(i) * h, h, 1, 1, 1, true);
            filter(line);
        }
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < n; ++i) plane(x0 + i, y) = lines[size_t(i) * h + y];
    });
    return complete;
}

// CImg's blur(sigma) of one plane (Gaussian, Neumann borders), along x and
// then y, with stop checks row by row and block by block.
bool GaussianBlur(CImg<float>& plane, float sigma, const std::function<bool()>& stopped) {
    const auto pass = [sigma](CImg<float>& line) { line.vanvliet(sigma, 0, 'x', 1); };
    if (plane.width() > 1 && !EachLine(plane, false, pass, stopped)) return false;
    if (plane.height() > 1 && !EachLine(plane, true, pass, stopped)) return false;
    return !stopped();
}

// CImg's normalize(0, 255) of a plane, with its arithmetic, row by row.
void NormalizeTo255(FloatPlanes& plane) {
    const auto [low, high] = ValueRange(plane.data.data(), plane.data.size());
    const float a = 0.f, b = 255.f;
    if (low == high) {
        ParallelRows(0, plane.height, [&](int y) {
            std::fill_n(plane.data.data() + size_t(y) * plane.width, plane.width, a);
        });
        return;
    }
    if (low == a && high == b) return;
    ParallelRows(0, plane.height, [&](int y) {
        float* v = plane.data.data() + size_t(y) * plane.width;
        for (int x = 0; x < plane.width; ++x) v[x] = (v[x] - low) / (high - low) * (b - a) + a;
    });
}

// CImg's structure tensors of a one-channel picture (central differences,
// edge samples repeated), written into `out` row by row with stop checks.
bool StructureTensors(const CImg<float>& img, FloatPlanes& out, const std::function<bool()>& stopped) {
    const int w = img.width(), h = img.height();
    std::atomic<bool> complete{true};
    ParallelRows(0, h, [&](int y) {
        if (!complete.load(std::memory_order_relaxed) || stopped()) {
            complete = false;
            return;
        }
        const float *row = img.data(0, y), *up = img.data(0, std::max(y - 1, 0)),
                    *down = img.data(0, std::min(y + 1, h - 1));
        const size_t at = size_t(y) * w;
        float *xx = out.Channel(0) + at, *xy = out.Channel(1) + at, *yy = out.Channel(2) + at;
        for (int x = 0; x < w; ++x) {
            const float ix = (row[std::min(x + 1, w - 1)] - row[std::max(x - 1, 0)]) / 2,
                        iy = (down[x] - up[x]) / 2;
            xx[x] = 0.f + ix * ix;
            xy[x] = 0.f + ix * iy;
            yy[x] = 0.f + iy * iy;
        }
    });
    return complete;
}

}  // namespace

// CImg's symmetric_eigen of the tensor [[xx, xy], [xy, yy]], its arithmetic
// in its order, without the two small images it allocates for every pixel:
// the eigenvalues, large first, and the eigenvector of the large one
// (vx, vy); the other is (-vy, vx).
struct Eigen2 {
    float large, small, vx, vy;
};
inline Eigen2 SymmetricEigen2(float xx, float xy, float yy) {
    const double a = xx, b = xy, c = xy, d = yy, e = a + d, f = std::sqrt(std::max(e * e - 4 * (a * d - b * c), 0.0)),
                 l1 = 0.5 * (e - f), l2 = 0.5 * (e + f), n = std::sqrt((l2 - a) * (l2 - a) + b * b);
    Eigen2 r{float(l2), float(l1), 1.f, 0.f};
    if (n > 0) {
        r.vx = float(b / n);
        r.vy = float((l2 - a) / n);
    }
    return r;
}

// CImg's diffusion_tensors of a two-dimensional picture with square-root
// tensors, stage by stage with the same arithmetic, so the result is the
// same to the bit; written out here so that a run can stop between the
// passes of the blurs and between the rows of the other stages, and so that
// the tensors are computed, blurred and turned into diffusion tensors in
// one buffer.
FloatPlanes DiffusionTensors(const FloatPlanes& grey, float sharpness, float anisotropy, float alpha, float sigma,
                             const RepaintProgress* stop) {
    const std::function<bool()> stopped = [stop] { return stop && stop->AbortRequested(); };
    FloatPlanes tensors;
    Guarded([&] {
        const float nsharpness = std::max(sharpness, 1e-5f), power1 = 0.5f * nsharpness,
                    power2 = power1 / (1e-7f + 1 - anisotropy);
        {
            FloatPlanes work = FloatPlanes::Unfilled(grey.width, grey.height, 1);
            ParallelCopy(grey.data.data(), work.data.data(), grey.data.size());
            CImg<float> img = Shared(work);
            if (!GaussianBlur(img, alpha, stopped)) return;
            NormalizeTo255(work);
            tensors = FloatPlanes::Unfilled(grey.width, grey.height, 3);
            if (!StructureTensors(img, tensors, stopped)) return;
        }
        CImg<float> res = Shared(tensors);
        for (int c = 0; c < 3; ++c) {
            CImg<float> channel = res.get_shared_channel(c);
            if (!GaussianBlur(channel, sigma, stopped)) return;
        }
        std::atomic<bool> complete{true};
        ParallelRows(0, grey.height, [&](int y) {
            if (!complete.load(std::memory_order_relaxed) || stopped()) {
                complete = false;
                return;
            }
            const size_t row = size_t(y) * grey.width;
            float *ptrd0 = tensors.Channel(0) + row, *ptrd1 = tensors.Channel(1) + row,
                  *ptrd2 = tensors.Channel(2) + row;
            for (int x = 0; x < grey.width; ++x) {
                const Eigen2 e = SymmetricEigen2(ptrd0[0], ptrd1[0], ptrd2[0]);
                const float _l1 = e.small, _l2 = e.large, l1 = _l1 > 0 ? _l1 : 0, l2 = _l2 > 0 ? _l2 : 0,
                            ux = -e.vy, uy = e.vx, vx = e.vx, vy = e.vy,
                            n1 = (float)std::pow(1 + l1 + l2, -power1), n2 = (float)std::pow(1 + l1 + l2, -power2);
                *(ptrd0++) = n1 * ux * ux + n2 * vx * vx;
                *(ptrd1++) = n1 * ux * uy + n2 * vx * vy;
                *(ptrd2++) = n1 * uy * uy + n2 * vy * vy;
            }
        });
        if (!complete) tensors = FloatPlanes();
    });
    if (stopped()) return FloatPlanes();
    return tensors;
}

FloatPlanes DiffusionTensorsCImg(const FloatPlanes& grey, float sharpness, float anisotropy, float alpha,
                                 float sigma) {
    FloatPlanes out(grey.width, grey.height, 3);
    Guarded([&] {
        CImg<float> img(grey.data.data(), grey.width, grey.height, 1, 1, false);
        img.diffusion_tensors(sharpness, anisotropy, alpha, sigma, true);
        std::copy(img.data(), img.data() + out.data.size(), out.data.begin());
    });
    return out;
}

void BlurAnisotropicCImg(FloatPlanes& image, const FloatPlanes& tensors) {
    constexpr float kAmplitude = 200.f, kDl = 0.8f, kDa = 30.f, kGaussPrecision = 2.f;
    constexpr unsigned kNearest = 0;
    Guarded([&] {
        CImg<float> img = Shared(image);
        img.blur_anisotropic(SharedConst(tensors), kAmplitude, kDl, kDa, kGaussPrecision, kNearest, true);
    });
}

bool BlurDeriche(FloatPlanes& image, float sigma, const RepaintProgress* stop) {
    // CImg's blur(sigma, Neumann, quasi-Gaussian): a pass along x, then y.
    const std::function<bool()> stopped = [stop] { return stop && stop->AbortRequested(); };
    const auto pass = [sigma](CImg<float>& line) { line.deriche(sigma, 0, 'x', 1); };
    bool complete = false;
    Guarded([&] {
        for (int c = 0; c < image.channels; ++c) {
            CImg<float> plane(image.Channel(c), image.width, image.height, 1, 1, true);
            if (image.width > 1 && !EachLine(plane, false, pass, stopped)) return;
            if (image.height > 1 && !EachLine(plane, true, pass, stopped)) return;
        }
        complete = !stopped();
    });
    return complete;
}

FloatPlanes CropPlanes(const FloatPlanes& src, int x0, int y0, int x1, int y1) {
    FloatPlanes out = FloatPlanes::Unfilled(x1 - x0 + 1, y1 - y0 + 1, src.channels);
    ParallelRows(0, out.channels * out.height, [&](int row) {
        const int c = row / out.height, y = y0 + row % out.height;
        std::memcpy(out.Channel(c) + size_t(y - y0) * out.width, src.Channel(c) + size_t(y) * src.width + x0,
                    sizeof(float) * size_t(out.width));
    });
    return out;
}

std::pair<float, float> ValueRange(const float* v, size_t n) {
    if (n == 0) return {0.f, 0.f};
    constexpr size_t kBlock = size_t(1) << 16;
    const int blocks = int((n + kBlock - 1) / kBlock);
    std::vector<std::pair<float, float>> ranges(static_cast<size_t>(blocks));
    ParallelRows(0, blocks, [&](int k) {
        const float *begin = v + size_t(k) * kBlock, *end = v + std::min(n, size_t(k + 1) * kBlock);
        const auto mm = std::minmax_element(begin, end);
        ranges[size_t(k)] = {*mm.first, *mm.second};
    });
    std::pair<float, float> range = ranges[0];
    for (const auto& [low, high] : ranges) {
        range.first = std::min(range.first, low);
        range.second = std::max(range.second, high);
    }
    return range;
}

FloatPlanes PlaneFromBuffer(const SBxPicBuf& b) {
    const int w = b.width, h = b.height, C = b.components;
    FloatPlanes p = FloatPlanes::Unfilled(w, h, C);
    ParallelRows(0, h, [&](int y) {
        for (int c = 0; c < C; ++c) {
            float* to = p.Channel(c) + size_t(y) * w;
            if (b.bits == 8) {
                const uint8_t* from = b.Row<uint8_t>(y) + c;
                for (int x = 0; x < w; ++x) to[x] = float(from[size_t(x) * C]);
            } else {
                const uint16_t* from = b.Row<uint16_t>(y) + c;
                for (int x = 0; x < w; ++x) to[x] = float(from[size_t(x) * C]);
            }
        }
    });
    return p;
}

void BufferFromPlane(SBxPicBuf& b, const FloatPlanes& p, int x0, int y0) {
    const int w = b.width, C = b.components;
    ParallelRows(0, b.height, [&](int y) {
        for (int c = 0; c < C; ++c) {
            const float* from = p.Channel(c) + size_t(y + y0) * p.width + x0;
            if (b.bits == 8) {
                uint8_t* to = b.Row<uint8_t>(y) + c;
                for (int x = 0; x < w; ++x) to[size_t(x) * C] = uint8_t(std::clamp(from[x], 0.f, 255.f));
            } else {
                uint16_t* to = b.Row<uint16_t>(y) + c;
                for (int x = 0; x < w; ++x) to[size_t(x) * C] = uint16_t(std::clamp(from[x], 0.f, 65535.f));
            }
        }
    });
}
