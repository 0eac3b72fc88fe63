// Picture buffers: the in-memory picture record shared by the whole program
// and the operations on it. Rows are packed and components interleaved;
// colour is stored blue, green, red (component 0 = blue, 2 = red).
#pragma once

#include <cstddef>
#include <cstdint>

template <typename T>
struct CBxPoint {
    T x = 0, y = 0;
    CBxPoint() = default;
    CBxPoint(T x_, T y_) : x(x_), y(y_) {}
};

template <typename T>
struct CBxSize {
    T width = 0, height = 0;
    CBxSize() = default;
    CBxSize(T w, T h) : width(w), height(h) {}
};

template <typename T>
struct CBxRect {
    T left = 0, top = 0, right = 0, bottom = 0;
    CBxRect() = default;
    CBxRect(T l, T t, T r, T b) : left(l), top(t), right(r), bottom(b) {}
    T Width() const { return right - left; }
    T Height() const { return bottom - top; }
};

struct SBxPicBuf {
    unsigned char* pixels = nullptr;  // null while empty or after a failed allocation
    uint32_t size = 0;                // bytes in the pixel block
    uint32_t pitch = 0;               // bytes per row
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;           // 1 or 3
    int32_t bits = 0;                 // bits per component: 8, 16 or 32 (float)

    int BytesPerSample() const { return bits / 8; }
    int BytesPerPixel() const { return components * (bits / 8); }
    template <typename T> T* Row(int y) { return reinterpret_cast<T*>(pixels + size_t(y) * pitch); }
    template <typename T> const T* Row(int y) const {
        return reinterpret_cast<const T*>(pixels + size_t(y) * pitch);
    }
};

// Similarity mapping: the source point (srcX, srcY) lands on the destination
// point (dstX, dstY), scaled by `scale` and rotated by `angle` (radians).
class CBxPicMap {
public:
    CBxPicMap() { Compute(0, 0, 0, 0, 0, 1); }
    CBxPicMap(double dstX, double dstY, double srcX, double srcY, double angle, double scale) {
        Compute(dstX, dstY, srcX, srcY, angle, scale);
    }
    void Compute(double dstX, double dstY, double srcX, double srcY, double angle, double scale);
    // Destination coordinates rounded to the nearest integer.
    void MapPointSrcToDst(int* x, int* y, double sx, double sy) const;
    void MapPointDstToSrc(double* x, double* y, double dx, double dy) const;

    double Scale() const { return scale_; }
    double Angle() const { return angle_; }

private:
    double dstX_ = 0, dstY_ = 0, srcX_ = 0, srcY_ = 0, angle_ = 0, scale_ = 1;
    double cos_ = 1, sin_ = 0;
};

// All operations validate their arguments: mismatched geometry or empty
// buffers give `false` and leave the destination untouched. Nothing throws.
class CBxPicBufAPI {
public:
    static void Init(SBxPicBuf& buf);
    static bool ReinitHeap(SBxPicBuf& buf, int width, int height, int components, int bits);
    static bool ReinitHeap(SBxPicBuf& dst, const SBxPicBuf& src);
    // Frees the pixels, however they were obtained (heap or Adopt).
    static void DoneHeap(SBxPicBuf& buf);

    // Makes `buf` a packed picture over `bytes` bytes of pixels that were
    // not allocated here (a mapped file, say): DoneHeap hands them to
    // `release` instead of freeing them. False (and `release` not called,
    // `buf` left empty) when the layout does not fit into `bytes`.
    using PixelRelease = void (*)(unsigned char* pixels, size_t bytes);
    static bool Adopt(SBxPicBuf& buf, unsigned char* pixels, size_t bytes, int width, int height, int components,
                      int bits, PixelRelease release);

    static bool Copy(SBxPicBuf& dst, const SBxPicBuf& src);
    static bool Copy(SBxPicBuf& dst, const SBxPicBuf& src, const CBxRect<int>& rect);
    static bool CopyRect(SBxPicBuf& dst, const SBxPicBuf& src, CBxPoint<int> dstPoint,
                         CBxPoint<int> srcPoint, CBxSize<int> size);

    static bool ExtractComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src);
    static bool InsertComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src);

    static bool ConvertBpcComp(SBxPicBuf& buf, int bits, int components);
    // dst := src converted to `bits` and `components`; src stays as it is.
    static bool CopyConverted(SBxPicBuf& dst, const SBxPicBuf& src, int bits, int components);
    static bool ConvertRGBtoYUV(SBxPicBuf& dst, const SBxPicBuf& src);
    static bool ConvertYUVtoRGB(SBxPicBuf& dst, const SBxPicBuf& src);

    static bool SetConst(SBxPicBuf& buf, unsigned char value);
    static bool SetConst(SBxPicBuf& buf, const CBxRect<int>& rect, unsigned char value);

    static bool TransformConstantFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);
    static bool TransformBilinearFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);
    static bool TransformBicubicFast(SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map);

    // Packed buffer: rows follow each other without a gap.
    static bool IsValid(const SBxPicBuf& buf);
    // Also accepts a view into a wider buffer (pitch above width × bytes per
    // pixel); SetConst, CopyRect and the transforms work on such views.
    static bool IsValidView(const SBxPicBuf& buf);
    // A width × height view at the top-left of `buf`, sharing its pixels.
    static SBxPicBuf View(const SBxPicBuf& buf, int width, int height);
    static bool SameGeometry(const SBxPicBuf& a, const SBxPicBuf& b);
};

// Owns a picture buffer for the length of a scope.
class PicBufHolder {
public:
    PicBufHolder() { CBxPicBufAPI::Init(buf); }
    ~PicBufHolder() { CBxPicBufAPI::DoneHeap(buf); }
    PicBufHolder(const PicBufHolder&) = delete;
    PicBufHolder& operator=(const PicBufHolder&) = delete;
    PicBufHolder(PicBufHolder&& other) noexcept : buf(other.buf) { CBxPicBufAPI::Init(other.buf); }
    PicBufHolder& operator=(PicBufHolder&& other) noexcept {
        if (this != &other) {
            CBxPicBufAPI::DoneHeap(buf);
            buf = other.buf;
            CBxPicBufAPI::Init(other.buf);
        }
        return *this;
    }
    bool Empty() const { return buf.pixels == nullptr; }
    SBxPicBuf buf;
};
