// Depth, component and colour-space conversions.
#include <cmath>
#include <cstdint>

#include "picbuf.h"

namespace {

template <typename T>
T GreyOf(T b, T g, T r) {
    return T((299u * uint32_t(r) + 587u * uint32_t(g) + 114u * uint32_t(b) + 500u) / 1000u);
}
template <>
uint16_t GreyOf(uint16_t b, uint16_t g, uint16_t r) {
    return uint16_t((299ull * r + 587ull * g + 114ull * b + 500ull) / 1000ull);
}
template <>
float GreyOf(float b, float g, float r) {
    return (0.299f * r + 0.587f * g) + 0.114f * b;
}

template <typename T>
void ChangeComponents(SBxPicBuf& dst, const SBxPicBuf& src) {
    const size_t n = size_t(src.width) * src.height;
    const T* s = reinterpret_cast<const T*>(src.pixels);
    T* d = reinterpret_cast<T*>(dst.pixels);
    if (src.components == 3) {
        for (size_t i = 0; i < n; ++i, s += 3) d[i] = GreyOf<T>(s[0], s[1], s[2]);
    } else {
        for (size_t i = 0; i < n; ++i, d += 3) d[0] = d[1] = d[2] = s[i];
    }
}

template <typename T>
T FromFloat(float v, float max) {
    if (!(v > 0.0f)) v = 0.0f;  // also catches NaN
    if (v > max) v = max;
    return T(std::floor(v + 0.5f));
}

template <typename S, typename D>
D ConvertSample(S v);
template <> uint8_t ConvertSample(uint8_t v) { return v; }
template <> uint16_t ConvertSample(uint16_t v) { return v; }
template <> float ConvertSample(float v) { return v; }
template <> uint16_t ConvertSample(uint8_t v) { return uint16_t(v * 257); }
template <> float ConvertSample(uint8_t v) { return float(v); }
template <> uint8_t ConvertSample(uint16_t v) { return uint8_t(v >> 8); }
template <> float ConvertSample(uint16_t v) { return float(v); }
template <> uint8_t ConvertSample(float v) { return FromFloat<uint8_t>(v, 255.0f); }
template <> uint16_t ConvertSample(float v) { return FromFloat<uint16_t>(v, 65535.0f); }

template <typename S, typename D>
void ChangeDepth(SBxPicBuf& dst, const SBxPicBuf& src) {
    const size_t n = size_t(src.width) * src.height * src.components;
    const S* s = reinterpret_cast<const S*>(src.pixels);
    D* d = reinterpret_cast<D*>(dst.pixels);
    for (size_t i = 0; i < n; ++i) d[i] = ConvertSample<S, D>(s[i]);
}

template <typename S>
void ChangeDepthFrom(SBxPicBuf& dst, const SBxPicBuf& src) {
    switch (dst.bits) {
        case 8: ChangeDepth<S, uint8_t>(dst, src); break;
        case 16: ChangeDepth<S, uint16_t>(dst, src); break;
        default: ChangeDepth<S, float>(dst, src); break;
    }
}

// `out` becomes `src` with `components`, at src's depth.
bool ComponentsConverted(PicBufHolder& out, const SBxPicBuf& src, int components) {
    if (!CBxPicBufAPI::ReinitHeap(out.buf, src.width, src.height, components, src.bits)) return false;
    switch (src.bits) {
        case 8: ChangeComponents<uint8_t>(out.buf, src); break;
        case 16: ChangeComponents<uint16_t>(out.buf, src); break;
        default: ChangeComponents<float>(out.buf, src); break;
    }
    return true;
}

bool ReplaceWithComponents(SBxPicBuf& buf, int components) {
    PicBufHolder out;
    if (!ComponentsConverted(out, buf, components)) return false;
    std::swap(buf, out.buf);
    return true;
}

// `out` becomes `src` at `bits`, with src's components.
bool DepthConverted(PicBufHolder& out, const SBxPicBuf& src, int bits) {
    if (!CBxPicBufAPI::ReinitHeap(out.buf, src.width, src.height, src.components, bits)) return false;
    switch (src.bits) {
        case 8: ChangeDepthFrom<uint8_t>(out.buf, src); break;
        case 16: ChangeDepthFrom<uint16_t>(out.buf, src); break;
        default: ChangeDepthFrom<float>(out.buf, src); break;
    }
    return true;
}

bool ReplaceWithDepth(SBxPicBuf& buf, int bits) {
    PicBufHolder out;
    if (!DepthConverted(out, buf, bits)) return false;
    std::swap(buf, out.buf);
    return true;
}

uint8_t ToByte(float v) {
    float r = std::floor(v + 0.5f);
    if (!(r > 0.0f)) return 0;
    return r > 255.0f ? 255 : uint8_t(r);
}

bool YuvArgumentsOk(const SBxPicBuf& dst, const SBxPicBuf& src) {
    return CBxPicBufAPI::IsValid(src) && CBxPicBufAPI::IsValid(dst) && CBxPicBufAPI::SameGeometry(dst, src) &&
           src.components == 3 && src.bits == 8;
}

}  // namespace

bool CBxPicBufAPI::ConvertBpcComp(SBxPicBuf& buf, int bits, int components) {
    if (!IsValid(buf) || !(components == 1 || components == 3) || !(bits == 8 || bits == 16 || bits == 32))
        return false;
    if (components != buf.components && !ReplaceWithComponents(buf, components)) return false;
    if (bits != buf.bits && !ReplaceWithDepth(buf, bits)) return false;
    return true;
}

// The first conversion reads the source itself, so that no full-size copy of
// it is made on the way; components before depth, as in ConvertBpcComp.
bool CBxPicBufAPI::CopyConverted(SBxPicBuf& dst, const SBxPicBuf& src, int bits, int components) {
    if (&dst == &src) return ConvertBpcComp(dst, bits, components);
    if (!IsValid(src) || !(components == 1 || components == 3) || !(bits == 8 || bits == 16 || bits == 32))
        return false;
    PicBufHolder out;
    bool made;
    if (components != src.components)
        made = ComponentsConverted(out, src, components);
    else if (bits != src.bits)
        made = DepthConverted(out, src, bits);
    else
        made = ReinitHeap(out.buf, src) && Copy(out.buf, src);
    if (!made || !ConvertBpcComp(out.buf, bits, components)) return false;
    std::swap(dst, out.buf);
    return true;
}

// BT.601 full range, as in JPEG. Channel 0 = Y, 1 = U (Cb), 2 = V (Cr).
bool CBxPicBufAPI::ConvertRGBtoYUV(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!YuvArgumentsOk(dst, src)) return false;
    const size_t n = size_t(src.width) * src.height;
    const uint8_t* s = src.pixels;
    uint8_t* d = dst.pixels;
    for (size_t i = 0; i < n; ++i, s += 3, d += 3) {
        const float B = s[0], G = s[1], R = s[2];
        const float Y = 0.299f * R + 0.587f * G + 0.114f * B;
        const float U = -0.168736f * R - 0.331264f * G + 0.5f * B + 128.0f;
        const float V = 0.5f * R - 0.418688f * G - 0.081312f * B + 128.0f;
        d[0] = ToByte(Y);
        d[1] = ToByte(U);
        d[2] = ToByte(V);
    }
    return true;
}

bool CBxPicBufAPI::ConvertYUVtoRGB(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!YuvArgumentsOk(dst, src)) return false;
    const size_t n = size_t(src.width) * src.height;
    const uint8_t* s = src.pixels;
    uint8_t* d = dst.pixels;
    for (size_t i = 0; i < n; ++i, s += 3, d += 3) {
        const float Y = s[0], U = s[1], V = s[2];
        const float R = Y + 1.402f * (V - 128.0f);
        const float G = Y - 0.344136f * (U - 128.0f) - 0.714136f * (V - 128.0f);
        const float B = Y + 1.772f * (U - 128.0f);
        d[0] = ToByte(B);
        d[1] = ToByte(G);
        d[2] = ToByte(R);
    }
    return true;
}
