#include "grey_alpha_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// libtiff's first error on this file becomes the reason; warnings (unknown
// tags and the like) say nothing about the pixels.
int KeepFirstError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* why = static_cast<std::string*>(user);
    if (why->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        *why = std::string(module ? module : "TIFF") + ": " + text;
    }
    return 1;
}
int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TiffPtr OpenTiff(const std::string& path, std::string& errors) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepFirstError, &errors);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    // Read, not mapped: a file cut short while being read must not be fatal.
    TiffPtr tif(TIFFOpenExt(path.c_str(), "rm", options));
    TIFFOpenOptionsFree(options);
    return tif;
}

// One strip or tile: where it lies in the picture and how its rows are laid out.
struct Block {
    uint32_t x, y, width, rows;  // rows and width as stored; the picture may end earlier
    uint16_t plane;              // 0 grey (or both, interleaved), 1 alpha
};

template <typename T>
void CopyBlock(const std::vector<unsigned char>& data, const Block& b, bool interleaved, SBxPicBuf& grey,
               SBxPicBuf& alpha) {
    const uint32_t samples = interleaved ? 2 : 1;
    const uint32_t w = std::min<uint32_t>(b.width, uint32_t(grey.width) - b.x);
    const uint32_t h = std::min<uint32_t>(b.rows, uint32_t(grey.height) - b.y);
    const T* in = reinterpret_cast<const T*>(data.data());
    for (uint32_t r = 0; r < h; ++r) {
        const T* s = in + size_t(r) * b.width * samples;
        T* g = grey.Row<T>(int(b.y + r)) + b.x;
        T* a = alpha.Row<T>(int(b.y + r)) + b.x;
        if (interleaved) {
            for (uint32_t x = 0; x < w; ++x) {
                g[x] = s[2 * x];
                a[x] = s[2 * x + 1];
            }
        } else {
            std::memcpy(b.plane == 0 ? g : a, s, w * sizeof(T));
        }
    }
}

template <typename T>
void ToStraightGrey(SBxPicBuf& grey, const SBxPicBuf& alpha, bool whiteIsZero, bool associated) {
    const uint32_t maximum = (1u << (8 * sizeof(T))) - 1;
    for (int y = 0; y < grey.height; ++y) {
        T* g = grey.Row<T>(y);
        const T* a = alpha.Row<T>(y);
        for (int x = 0; x < grey.width; ++x) {
            uint32_t v = whiteIsZero ? maximum - g[x] : g[x];
            if (associated) v = a[x] ? std::min(maximum, (v * maximum + a[x] / 2) / a[x]) : 0;
            g[x] = T(v);
        }
    }
}

LoadFailure Damaged(std::string& why, const std::string& errors, const char* fallback) {
    why = errors.empty() ? fallback : errors;
    return LoadFailure::Damaged;
}

}  // namespace

LoadFailure ReadGreyAlphaTiff(const std::string& path, PictureAndAlpha& out, const PictureAllocator& allocate,
                              std::string& why) {
    out = PictureAndAlpha();
    std::string errors;
    TiffPtr tif = OpenTiff(path, errors);
    if (!tif) return Damaged(why, errors, "the TIFF file cannot be read");
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (samples != 2 || (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE))
        return Damaged(why, "", "the TIFF file is not a grey picture with transparency");
    if ((bits != 8 && bits != 16) || format != SAMPLEFORMAT_UINT) {
        why = "grey TIFF pictures with transparency of " + std::to_string(bits) + " bits" +
              (format != SAMPLEFORMAT_UINT ? " that are not whole numbers" : "") + " are not supported";
        return LoadFailure::Unsupported;
    }
    if (width == 0 || height == 0 || uint64_t(width) * height > kMaxPixels)
        return Damaged(why, "", "the TIFF file gives an impossible picture size");

    PictureLayout layout;
    layout.width = int(width);
    layout.height = int(height);
    layout.components = 1;
    layout.bits = bits;
    layout.alpha = true;
    if (!allocate(layout, out)) {
        why = "not enough memory for the picture";
        return LoadFailure::OutOfMemory;
    }
    const bool interleaved = planar == PLANARCONFIG_CONTIG;
    const bool tiled = TIFFIsTiled(tif.get()) != 0;
    uint32_t blockWidth = width, blockRows = 0;
    if (tiled) {
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &blockWidth);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &blockRows);
    } else {
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &blockRows);
        blockRows = std::min(blockRows, height);
    }
    const uint64_t blockBytes =
        uint64_t(blockWidth) * blockRows * (interleaved ? 2 : 1) * (bits / 8);
    const tmsize_t stored = tiled ? TIFFTileSize(tif.get()) : TIFFStripSize(tif.get());
    if (blockWidth == 0 || blockRows == 0 || stored <= 0 || uint64_t(stored) < blockBytes) {
        out = PictureAndAlpha();
        return Damaged(why, errors, "the TIFF file's strips or tiles are damaged");
    }
    std::vector<unsigned char> data(size_t(stored), 0);
    for (uint16_t plane = 0; plane < (interleaved ? 1 : 2); ++plane)
        for (uint32_t y = 0; y < height; y += blockRows)
            for (uint32_t x = 0; x < width; x += blockWidth) {
                const Block b{x, y, blockWidth, blockRows, plane};
                const uint32_t rows = std::min(blockRows, height - y);
                const uint64_t needed = uint64_t(blockWidth) * (tiled ? blockRows : rows) * (interleaved ? 2 : 1) *
                                        (bits / 8);
                const tmsize_t got =
                    tiled ? TIFFReadEncodedTile(tif.get(), TIFFComputeTile(tif.get(), x, y, 0, plane), data.data(),
                                                stored)
                          : TIFFReadEncodedStrip(tif.get(), TIFFComputeStrip(tif.get(), y, plane), data.data(),
                                                 stored);
                if (got < 0 || uint64_t(got) < needed || !errors.empty()) {
                    out = PictureAndAlpha();
                    return Damaged(why, errors, "the TIFF file's pixels are damaged");
                }
                if (bits == 8)
                    CopyBlock<uint8_t>(data, b, interleaved, out.picture.buf, out.alpha.buf);
                else
                    CopyBlock<uint16_t>(data, b, interleaved, out.picture.buf, out.alpha.buf);
            }
    const bool whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
    const bool associated = extraCount >= 1 && extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    if (whiteIsZero || associated) {
        if (bits == 8)
            ToStraightGrey<uint8_t>(out.picture.buf, out.alpha.buf, whiteIsZero, associated);
        else
            ToStraightGrey<uint16_t>(out.picture.buf, out.alpha.buf, whiteIsZero, associated);
    }
    return LoadFailure::None;
}
