#include "golden.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "original.h"
#include "parallel.h"
#include "redraw.h"
#include "smudge.h"

namespace {

// Slider positions in table order.
// Original: smoothness, weak edges, flattening, sharpening, flattening on, sharpening on.
// Smudge: details, prolongation, sigma.
// Redraw: details, cut, colours, import edges.
struct Setting {
    const char* name;
    GoldenMethod method;
    std::vector<int> positions;
};

const std::vector<Setting>& Settings() {
    static const std::vector<Setting> settings = {
        {"original-defaults", GoldenMethod::Original, {14, 5, 4, 5, 1, 1}},
        {"original-strongest", GoldenMethod::Original, {20, 25, 20, 20, 1, 1}},
        {"original-weakest", GoldenMethod::Original, {1, 0, 1, 1, 1, 1}},
        {"original-smoothing-only", GoldenMethod::Original, {9, 12, 4, 5, 0, 0}},
        {"smudge-defaults", GoldenMethod::Smudge, {10, 50, 30}},
        {"smudge-sharpest", GoldenMethod::Smudge, {100, 100, 0}},
        {"smudge-softest", GoldenMethod::Smudge, {1, 1, 100}},
        {"redraw-defaults", GoldenMethod::Redraw, {10, 50, 1, 1}},
        {"redraw-finest-rough", GoldenMethod::Redraw, {100, 1, 0, 1}},
        {"redraw-coarsest-detailed", GoldenMethod::Redraw, {1, 100, 2, 1}},
        {"redraw-strokes-only", GoldenMethod::Redraw, {50, 80, 3, 0}},
        {"redraw-smoothed", GoldenMethod::Redraw, {30, 70, 3, 1}},
        {"redraw-original-colours", GoldenMethod::Redraw, {10, 60, 4, 1}},
    };
    return settings;
}

template <typename Positions>
Positions ToPositions(const std::vector<int>& v) {
    Positions p{};
    for (size_t i = 0; i < p.size() && i < v.size(); ++i) p[i] = v[i];
    return p;
}

// Mirrors the picture out to width × height, each copy reflected against its
// neighbours, so that a large picture keeps a photograph's structure.
bool MirrorOut(const SBxPicBuf& tile, int width, int height, PicBufHolder& out) {
    if (!CBxPicBufAPI::ReinitHeap(out.buf, width, height, tile.components, tile.bits)) return false;
    const int bpp = tile.BytesPerPixel();
    auto fold = [](int v, int n) {
        const int m = v % (2 * n);
        return m < n ? m : 2 * n - 1 - m;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memcpy(out.buf.Row<uint8_t>(y) + size_t(x) * bpp,
                        tile.Row<uint8_t>(fold(y, tile.height)) + size_t(fold(x, tile.width)) * bpp, size_t(bpp));
    return true;
}

// SHA-256 (FIPS 180-4).
class Sha256 {
public:
    void Add(const uint8_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            block_[fill_++] = data[i];
            if (fill_ == 64) {
                Compress();
                fill_ = 0;
            }
        }
        length_ += n;
    }
    std::string HexDigest() {
        const uint64_t bits = length_ * 8;
        const uint8_t one = 0x80, zero = 0;
        Add(&one, 1);
        while (fill_ != 56) Add(&zero, 1);
        uint8_t tail[8];
        for (int i = 0; i < 8; ++i) tail[i] = uint8_t(bits >> (56 - 8 * i));
        Add(tail, 8);
        std::string hex;
        char part[9];
        for (uint32_t v : h_) {
            std::snprintf(part, sizeof part, "%08x", v);
            hex += part;
        }
        return hex;
    }

private:
    static uint32_t Rot(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }
    void Compress() {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(block_[4 * i]) << 24 | uint32_t(block_[4 * i + 1]) << 16 |
                   uint32_t(block_[4 * i + 2]) << 8 | block_[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = Rot(w[i - 15], 7) ^ Rot(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = Rot(w[i - 2], 17) ^ Rot(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = h + (Rot(e, 6) ^ Rot(e, 11) ^ Rot(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (Rot(a, 2) ^ Rot(a, 13) ^ Rot(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const uint32_t add[8] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i) h_[i] += add[i];
    }

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t block_[64] = {};
    size_t fill_ = 0;
    uint64_t length_ = 0;
};

int SampleAt(const SBxPicBuf& p, int x, int y, int c) {
    return p.bits == 8 ? p.Row<uint8_t>(y)[x * p.components + c] : p.Row<uint16_t>(y)[x * p.components + c];
}

}  // namespace

std::vector<GoldenCase> GoldenCases() {
    std::vector<GoldenCase> cases;
    for (const Setting& s : Settings())
        for (const char* input : {"colour", "grey", "deep"}) {
            const char* ext = std::string(input) == "grey" ? ".pgm" : ".ppm";
            cases.push_back({std::string(s.name) + "-" + input, s.method, std::string(input) + ext, s.positions});
        }
    // Pictures large enough to be tiled: Original tiles blended across a
    // vertical and a horizontal overlap, Smudge tiles under one tensor field.
    cases.push_back({"original-tiled-grey", GoldenMethod::Original, "grey.pgm", {1, 5, 4, 5, 1, 1}, 1000, 500});
    cases.push_back({"original-tiled-deep", GoldenMethod::Original, "deep.ppm", {2, 5, 8, 10, 1, 1}, 500, 1000});
    cases.push_back({"smudge-tiled-colour", GoldenMethod::Smudge, "colour.ppm", {10, 50, 30}, 1000, 500});
    return cases;
}

std::string ExpectedFileName(const GoldenCase& c, int components) {
    return c.name + (components == 1 ? ".pgm" : ".ppm");
}

bool ReadPnm(const std::string& path, PicBufHolder& picture) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxValue = 0;
    if (!(in >> magic >> width >> height >> maxValue) || (magic != "P5" && magic != "P6") || width <= 0 ||
        height <= 0 || (maxValue != 255 && maxValue != 65535))
        return false;
    in.get();  // the single whitespace before the samples
    const int components = magic == "P5" ? 1 : 3, bits = maxValue == 255 ? 8 : 16;
    if (!CBxPicBufAPI::ReinitHeap(picture.buf, width, height, components, bits)) return false;
    std::vector<uint8_t> raw(picture.buf.size);
    if (!in.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()))) return false;
    const size_t samples = size_t(width) * height * components;
    for (size_t i = 0; i < samples; ++i) {
        // Colour files run red first; buffers blue first.
        const size_t to = components == 3 ? i - i % 3 + (2 - i % 3) : i;
        if (bits == 8)
            picture.buf.pixels[to] = raw[i];
        else
            reinterpret_cast<uint16_t*>(picture.buf.pixels)[to] = uint16_t(raw[2 * i] << 8 | raw[2 * i + 1]);
    }
    return true;
}

bool WritePnm(const std::string& path, const SBxPicBuf& picture) {
    if (!CBxPicBufAPI::IsValid(picture) || (picture.bits != 8 && picture.bits != 16) ||
        (picture.components != 1 && picture.components != 3))
        return false;
    std::ofstream out(path, std::ios::binary);
    out << (picture.components == 1 ? "P5" : "P6") << "\n"
        << picture.width << " " << picture.height << "\n"
        << (picture.bits == 8 ? 255 : 65535) << "\n";
    const size_t samples = size_t(picture.width) * picture.height * picture.components;
    std::vector<uint8_t> raw;
    for (size_t i = 0; i < samples; ++i) {
        const size_t from = picture.components == 3 ? i - i % 3 + (2 - i % 3) : i;
        if (picture.bits == 8) {
            raw.push_back(picture.pixels[from]);
        } else {
            const uint16_t v = reinterpret_cast<const uint16_t*>(picture.pixels)[from];
            raw.push_back(uint8_t(v >> 8));
            raw.push_back(uint8_t(v & 0xFF));
        }
    }
    out.write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
    return bool(out);
}

bool LoadGoldenInput(const std::string& dir, const GoldenCase& c, PicBufHolder& picture) {
    if (!ReadPnm(dir + "/" + c.input, picture)) return false;
    if (!PinnedByDigest(c)) return true;
    PicBufHolder large;
    if (!MirrorOut(picture.buf, c.tiledWidth, c.tiledHeight, large)) return false;
    picture = std::move(large);
    return true;
}

bool RunGoldenCase(const GoldenCase& c, const SBxPicBuf& input, int threads, PicBufHolder& result) {
    SetEngineThreads(threads);
    QuietProgress quiet;
    RepaintStatus status = RepaintStatus::BadInput;
    switch (c.method) {
        case GoldenMethod::Original:
            status = RepaintOriginal(result.buf, input, OriginalParamsFromPositions(ToPositions<OriginalPositions>(c.positions)),
                                     quiet);
            break;
        case GoldenMethod::Smudge:
            status = RepaintSmudge(result.buf, input, SmudgeParamsFromPositions(ToPositions<SmudgePositions>(c.positions)),
                                   quiet);
            break;
        case GoldenMethod::Redraw:
            status = RunRedraw(result.buf, input, RedrawParamsFromPositions(ToPositions<RedrawPositions>(c.positions)),
                               quiet);
            break;
    }
    SetEngineThreads(0);
    return status == RepaintStatus::Done;
}

bool RunRedrawInTwoSteps(const GoldenCase& c, const SBxPicBuf& input, PicBufHolder& result) {
    const RedrawParams p = RedrawParamsFromPositions(ToPositions<RedrawPositions>(c.positions));
    QuietProgress quiet;
    PicBufHolder edgeMap;
    return BuildRedrawEdgeMap(edgeMap.buf, input, p, quiet) == RepaintStatus::Done &&
           RedrawWithEdgeMap(result.buf, input, edgeMap.buf, p, quiet) == RepaintStatus::Done;
}

std::string PictureDigest(const SBxPicBuf& p) {
    Sha256 sha;
    const int32_t geometry[4] = {p.width, p.height, p.components, p.bits};
    for (int32_t g : geometry) {
        const uint8_t le[4] = {uint8_t(g), uint8_t(g >> 8), uint8_t(g >> 16), uint8_t(g >> 24)};
        sha.Add(le, 4);
    }
    if (p.pixels) sha.Add(p.pixels, p.size);
    return sha.HexDigest();
}

std::vector<std::pair<std::string, std::string>> ReadDigests(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> digests;
    std::ifstream in(path);
    std::string name, digest;
    while (in >> name >> digest) digests.emplace_back(name, digest);
    return digests;
}

Difference Compare(const SBxPicBuf& expected, const SBxPicBuf& actual) {
    Difference d;
    d.sameGeometry = CBxPicBufAPI::SameGeometry(expected, actual) && expected.pixels && actual.pixels;
    if (!d.sameGeometry) return d;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            for (int c = 0; c < expected.components; ++c) {
                const int delta = std::abs(SampleAt(expected, x, y, c) - SampleAt(actual, x, y, c));
                if (delta == 0) continue;
                if (d.differing++ == 0) {
                    d.firstX = x;
                    d.firstY = y;
                    d.firstComponent = c;
                }
                if (delta > d.largest) d.largest = delta;
            }
    return d;
}

std::string Describe(const Difference& d) {
    if (!d.sameGeometry) return "different geometry";
    if (d.differing == 0) return "identical";
    std::ostringstream s;
    s << d.differing << " samples differ, by up to " << d.largest << "; first at (" << d.firstX << ", " << d.firstY
      << ") component " << d.firstComponent;
    return s.str();
}
