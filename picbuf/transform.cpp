// Similarity mapping and resampling of one picture into another.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "picbuf.h"

void CBxPicMap::Compute(double dstX, double dstY, double srcX, double srcY, double angle, double scale) {
    dstX_ = dstX;
    dstY_ = dstY;
    srcX_ = srcX;
    srcY_ = srcY;
    angle_ = angle;
    scale_ = scale > 0 ? scale : 1.0;
    cos_ = std::cos(angle);
    sin_ = std::sin(angle);
}

void CBxPicMap::MapPointSrcToDst(int* x, int* y, double sx, double sy) const {
    const double ux = sx - srcX_, uy = sy - srcY_;
    const double dx = dstX_ + scale_ * (cos_ * ux - sin_ * uy);
    const double dy = dstY_ + scale_ * (sin_ * ux + cos_ * uy);
    *x = int(std::floor(dx + 0.5));
    *y = int(std::floor(dy + 0.5));
}

void CBxPicMap::MapPointDstToSrc(double* x, double* y, double dx, double dy) const {
    const double ux = (dx - dstX_) / scale_, uy = (dy - dstY_) / scale_;
    *x = srcX_ + cos_ * ux + sin_ * uy;
    *y = srcY_ - sin_ * ux + cos_ * uy;
}

namespace {

template <typename T> inline T Saturate(float v);
template <> inline uint8_t Saturate(float v) { return v <= 0.f ? 0 : v >= 255.f ? 255 : uint8_t(v + 0.5f); }
template <> inline uint16_t Saturate(float v) {
    return v <= 0.f ? 0 : v >= 65535.f ? 65535 : uint16_t(v + 0.5f);
}
template <> inline float Saturate(float v) { return v; }

struct Nearest {
    template <typename T>
    static void Sample(T* out, const SBxPicBuf& src, double sx, double sy) {
        const int c = src.components;
        const int ix = int(std::floor(sx + 0.5)), iy = int(std::floor(sy + 0.5));
        std::memcpy(out, src.Row<T>(iy) + size_t(ix) * c, sizeof(T) * c);
    }
};

struct Bilinear {
    template <typename T>
    static void Sample(T* out, const SBxPicBuf& src, double sx, double sy) {
        const int c = src.components;
        const double fx0 = std::floor(sx), fy0 = std::floor(sy);
        const float fx = float(sx - fx0), fy = float(sy - fy0);
        const int x0 = std::clamp(int(fx0), 0, src.width - 1), x1 = std::min(std::max(int(fx0) + 1, 0), src.width - 1);
        const int y0 = std::clamp(int(fy0), 0, src.height - 1), y1 = std::min(std::max(int(fy0) + 1, 0), src.height - 1);
        const T* r0 = src.Row<T>(y0);
        const T* r1 = src.Row<T>(y1);
        for (int k = 0; k < c; ++k) {
            const float top = float(r0[x0 * c + k]) + (float(r0[x1 * c + k]) - float(r0[x0 * c + k])) * fx;
            const float bot = float(r1[x0 * c + k]) + (float(r1[x1 * c + k]) - float(r1[x0 * c + k])) * fx;
            out[k] = Saturate<T>(top + (bot - top) * fy);
        }
    }
};

// Catmull-Rom weights for the four taps around a fractional position.
inline void CubicWeights(float t, float w[4]) {
    const float t2 = t * t, t3 = t2 * t;
    w[0] = 0.5f * (-t3 + 2.f * t2 - t);
    w[1] = 0.5f * (3.f * t3 - 5.f * t2 + 2.f);
    w[2] = 0.5f * (-3.f * t3 + 4.f * t2 + t);
    w[3] = 0.5f * (t3 - t2);
}

struct Bicubic {
    template <typename T>
    static void Sample(T* out, const SBxPicBuf& src, double sx, double sy) {
        const int c = src.components;
        const double fx0 = std::floor(sx), fy0 = std::floor(sy);
        float wx[4], wy[4];
        CubicWeights(float(sx - fx0), wx);
        CubicWeights(float(sy - fy0), wy);
        int xs[4], ys[4];
        for (int i = 0; i < 4; ++i) {
            xs[i] = std::clamp(int(fx0) - 1 + i, 0, src.width - 1);
            ys[i] = std::clamp(int(fy0) - 1 + i, 0, src.height - 1);
        }
        for (int k = 0; k < c; ++k) {
            float acc = 0.f;
            for (int j = 0; j < 4; ++j) {
                const T* row = src.Row<T>(ys[j]);
                float line = 0.f;
                for (int i = 0; i < 4; ++i) line += wx[i] * float(row[xs[i] * c + k]);
                acc += wy[j] * line;
            }
            out[k] = Saturate<T>(acc);
        }
    }
};

// Walks the destination; a pixel whose nearest source pixel lies outside the
// source keeps its value.
template <typename Sampler, typename T>
void Resample(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    double ox, oy, ax, ay, bx, by;
    map.MapPointDstToSrc(&ox, &oy, 0, 0);
    map.MapPointDstToSrc(&ax, &ay, 1, 0);
    map.MapPointDstToSrc(&bx, &by, 0, 1);
    const double dxx = ax - ox, dxy = ay - oy, dyx = bx - ox, dyy = by - oy;
    const double maxX = src.width - 0.5, maxY = src.height - 0.5;
    const int c = dst.components;
    for (int y = 0; y < dst.height; ++y) {
        T* row = dst.Row<T>(y);
        const double rx = ox + y * dyx, ry = oy + y * dyy;
        for (int x = 0; x < dst.width; ++x) {
            const double sx = rx + x * dxx, sy = ry + x * dxy;
            if (sx < -0.5 || sy < -0.5 || sx >= maxX || sy >= maxY) continue;
            Sampler::Sample(row + size_t(x) * c, src, sx, sy);
        }
    }
}

template <typename Sampler>
bool Transform(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    if (!CBxPicBufAPI::IsValidView(dst) || !CBxPicBufAPI::IsValidView(src) || dst.components != src.components ||
        dst.bits != src.bits || dst.pixels == src.pixels)
        return false;
    switch (src.bits) {
        case 8: Resample<Sampler, uint8_t>(dst, src, map); break;
        case 16: Resample<Sampler, uint16_t>(dst, src, map); break;
        default: Resample<Sampler, float>(dst, src, map); break;
    }
    return true;
}

}  // namespace

bool CBxPicBufAPI::TransformConstantFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return Transform<Nearest>(dst, src, map);
}

bool CBxPicBufAPI::TransformBilinearFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return Transform<Bilinear>(dst, src, map);
}

bool CBxPicBufAPI::TransformBicubicFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    return Transform<Bicubic>(dst, src, map);
}
