#include "picbuf.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>

namespace {

bool ValidFormat(int components, int bits) {
    return (components == 1 || components == 3) && (bits == 8 || bits == 16 || bits == 32);
}

bool RectInside(int left, int top, int width, int height, const SBxPicBuf& buf) {
    return left >= 0 && top >= 0 && width >= 0 && height >= 0 &&
           int64_t(left) + width <= buf.width && int64_t(top) + height <= buf.height;
}

// Pixel blocks taken over by Adopt, with how to give each back. Most
// programs never adopt one, and then freeing never takes the lock.
struct Adopted {
    size_t bytes;
    CBxPicBufAPI::PixelRelease release;
};
std::mutex g_adoptedLock;
std::unordered_map<unsigned char*, Adopted> g_adopted;
std::atomic<size_t> g_adoptedCount{0};

// True when `pixels` was adopted; it is then released.
bool ReleaseAdopted(unsigned char* pixels) {
    if (!pixels || g_adoptedCount.load() == 0) return false;
    Adopted block;
    {
        std::lock_guard<std::mutex> lock(g_adoptedLock);
        const auto found = g_adopted.find(pixels);
        if (found == g_adopted.end()) return false;
        block = found->second;
        g_adopted.erase(found);
        g_adoptedCount = g_adopted.size();
    }
    block.release(pixels, block.bytes);
    return true;
}

uint64_t PackedBytes(int width, int height, int components, int bits) {
    return uint64_t(width) * uint64_t(components) * uint64_t(bits / 8) * uint64_t(height);
}

}  // namespace

void CBxPicBufAPI::Init(SBxPicBuf& buf) { buf = SBxPicBuf{}; }

bool CBxPicBufAPI::IsValid(const SBxPicBuf& buf) {
    return buf.pixels && buf.width > 0 && buf.height > 0 && ValidFormat(buf.components, buf.bits) &&
           buf.pitch == uint32_t(buf.width) * uint32_t(buf.BytesPerPixel()) &&
           uint64_t(buf.pitch) * uint64_t(buf.height) <= buf.size;
}

bool CBxPicBufAPI::IsValidView(const SBxPicBuf& buf) {
    return buf.pixels && buf.width > 0 && buf.height > 0 && ValidFormat(buf.components, buf.bits) &&
           buf.pitch >= uint32_t(buf.width) * uint32_t(buf.BytesPerPixel()) &&
           uint64_t(buf.pitch) * uint64_t(buf.height - 1) + uint64_t(buf.width) * buf.BytesPerPixel() <= buf.size;
}

SBxPicBuf CBxPicBufAPI::View(const SBxPicBuf& buf, int width, int height) {
    SBxPicBuf v = buf;
    v.width = width < buf.width ? width : buf.width;
    v.height = height < buf.height ? height : buf.height;
    if (v.width <= 0 || v.height <= 0) return SBxPicBuf{};
    return v;
}

bool CBxPicBufAPI::SameGeometry(const SBxPicBuf& a, const SBxPicBuf& b) {
    return a.width == b.width && a.height == b.height && a.components == b.components && a.bits == b.bits;
}

bool CBxPicBufAPI::ReinitHeap(SBxPicBuf& buf, int width, int height, int components, int bits) {
    if (buf.pixels && buf.width == width && buf.height == height && buf.components == components &&
        buf.bits == bits)
        return true;
    DoneHeap(buf);
    if (width <= 0 || height <= 0 || !ValidFormat(components, bits)) return false;
    const uint64_t pitch = uint64_t(width) * uint64_t(components) * uint64_t(bits / 8);
    const uint64_t size = pitch * uint64_t(height);
    if (size > std::numeric_limits<uint32_t>::max()) return false;
    buf.pixels = static_cast<unsigned char*>(std::malloc(size_t(size)));
    if (!buf.pixels) return false;
    buf.size = uint32_t(size);
    buf.pitch = uint32_t(pitch);
    buf.width = width;
    buf.height = height;
    buf.components = components;
    buf.bits = bits;
    return true;
}

bool CBxPicBufAPI::ReinitHeap(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (&dst == &src) return src.pixels != nullptr;
    return ReinitHeap(dst, src.width, src.height, src.components, src.bits);
}

void CBxPicBufAPI::DoneHeap(SBxPicBuf& buf) {
    if (!ReleaseAdopted(buf.pixels)) std::free(buf.pixels);
    buf = SBxPicBuf{};
}

bool CBxPicBufAPI::Adopt(SBxPicBuf& buf, unsigned char* pixels, size_t bytes, int width, int height, int components,
                         int bits, PixelRelease release) {
    DoneHeap(buf);
    if (!pixels || !release || width <= 0 || height <= 0 || !ValidFormat(components, bits)) return false;
    const uint64_t size = PackedBytes(width, height, components, bits);
    if (size > bytes || size > std::numeric_limits<uint32_t>::max()) return false;
    {
        std::lock_guard<std::mutex> lock(g_adoptedLock);
        g_adopted[pixels] = Adopted{bytes, release};
        g_adoptedCount = g_adopted.size();
    }
    buf.pixels = pixels;
    buf.size = uint32_t(size);
    buf.pitch = uint32_t(size / uint64_t(height));
    buf.width = width;
    buf.height = height;
    buf.components = components;
    buf.bits = bits;
    return true;
}

bool CBxPicBufAPI::Copy(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!IsValid(src) || !IsValid(dst) || !SameGeometry(dst, src)) return false;
    if (dst.pixels != src.pixels) std::memcpy(dst.pixels, src.pixels, size_t(src.pitch) * src.height);
    return true;
}

bool CBxPicBufAPI::Copy(SBxPicBuf& dst, const SBxPicBuf& src, const CBxRect<int>& rect) {
    if (!IsValid(src) || &dst == &src) return false;
    const int w = rect.Width(), h = rect.Height();
    if (w <= 0 || h <= 0 || !RectInside(rect.left, rect.top, w, h, src)) return false;
    if (!ReinitHeap(dst, w, h, src.components, src.bits)) return false;
    return CopyRect(dst, src, {0, 0}, {rect.left, rect.top}, {w, h});
}

bool CBxPicBufAPI::CopyRect(SBxPicBuf& dst, const SBxPicBuf& src, CBxPoint<int> dstPoint,
                            CBxPoint<int> srcPoint, CBxSize<int> size) {
    if (!IsValidView(src) || !IsValidView(dst) || dst.components != src.components || dst.bits != src.bits)
        return false;
    if (!RectInside(srcPoint.x, srcPoint.y, size.width, size.height, src) ||
        !RectInside(dstPoint.x, dstPoint.y, size.width, size.height, dst))
        return false;
    const size_t bpp = size_t(src.BytesPerPixel());
    const size_t rowBytes = bpp * size_t(size.width);
    for (int r = 0; r < size.height; ++r) {
        std::memmove(dst.pixels + size_t(dstPoint.y + r) * dst.pitch + dstPoint.x * bpp,
                     src.pixels + size_t(srcPoint.y + r) * src.pitch + srcPoint.x * bpp, rowBytes);
    }
    return true;
}

namespace {

// Moves one component between a multi-component and a one-component buffer.
bool MoveComponent(SBxPicBuf& multi, int index, SBxPicBuf& single, bool toSingle) {
    if (!CBxPicBufAPI::IsValid(multi) || !CBxPicBufAPI::IsValid(single)) return false;
    if (single.components != 1 || index < 0 || index >= multi.components || multi.bits != single.bits ||
        multi.width != single.width || multi.height != single.height)
        return false;
    const int bytes = multi.BytesPerSample();
    const size_t stride = size_t(multi.BytesPerPixel());
    for (int y = 0; y < multi.height; ++y) {
        unsigned char* m = multi.Row<unsigned char>(y) + size_t(index) * bytes;
        unsigned char* s = single.Row<unsigned char>(y);
        for (int x = 0; x < multi.width; ++x, m += stride, s += bytes) {
            if (toSingle)
                std::memcpy(s, m, bytes);
            else
                std::memcpy(m, s, bytes);
        }
    }
    return true;
}

}  // namespace

bool CBxPicBufAPI::ExtractComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    return MoveComponent(const_cast<SBxPicBuf&>(src), index, dst, true);
}

bool CBxPicBufAPI::InsertComponent(SBxPicBuf& dst, int index, const SBxPicBuf& src) {
    return MoveComponent(dst, index, const_cast<SBxPicBuf&>(src), false);
}

bool CBxPicBufAPI::SetConst(SBxPicBuf& buf, unsigned char value) {
    if (!IsValidView(buf)) return false;
    const size_t rowBytes = size_t(buf.width) * buf.BytesPerPixel();
    if (rowBytes == buf.pitch) {
        std::memset(buf.pixels, value, size_t(buf.pitch) * buf.height);
    } else {
        for (int y = 0; y < buf.height; ++y) std::memset(buf.pixels + size_t(y) * buf.pitch, value, rowBytes);
    }
    return true;
}

bool CBxPicBufAPI::SetConst(SBxPicBuf& buf, const CBxRect<int>& rect, unsigned char value) {
    if (!IsValidView(buf)) return false;
    const int l = rect.left < 0 ? 0 : rect.left, t = rect.top < 0 ? 0 : rect.top;
    const int r = rect.right > buf.width ? buf.width : rect.right;
    const int b = rect.bottom > buf.height ? buf.height : rect.bottom;
    if (l >= r || t >= b) return true;
    const size_t bpp = size_t(buf.BytesPerPixel());
    for (int y = t; y < b; ++y) std::memset(buf.pixels + size_t(y) * buf.pitch + l * bpp, value, (r - l) * bpp);
    return true;
}
