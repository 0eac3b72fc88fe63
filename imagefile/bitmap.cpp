// Conversion between FreeImage bitmaps and picture buffers.
#include <FreeImage.h>

#include <cstring>

#include "freeimage_guard.h"
#include "imagefile.h"

namespace {

// Bitmap scan lines run bottom-up; picture rows top-down.
inline const BYTE* SourceLine(FIBITMAP* bitmap, int height, int row) {
    return FreeImage_GetScanLine(bitmap, height - 1 - row);
}

void SwapRedBlue16(SBxPicBuf& picture) {
    for (int y = 0; y < picture.height; ++y) {
        uint16_t* p = picture.Row<uint16_t>(y);
        for (int x = 0; x < picture.width; ++x, p += 3) std::swap(p[0], p[2]);
    }
}

void ReadAlpha8(FIBITMAP* bitmap, SBxPicBuf& alpha) {
    for (int r = 0; r < alpha.height; ++r) {
        const BYTE* line = SourceLine(bitmap, alpha.height, r);
        uint8_t* a = alpha.Row<uint8_t>(r);
        for (int x = 0; x < alpha.width; ++x) a[x] = line[4 * x + 3];
    }
}

void ReadRgba16(FIBITMAP* bitmap, SBxPicBuf& picture, SBxPicBuf& alpha) {
    for (int r = 0; r < picture.height; ++r) {
        const uint16_t* line = reinterpret_cast<const uint16_t*>(SourceLine(bitmap, picture.height, r));
        uint16_t* p = picture.Row<uint16_t>(r);
        uint16_t* a = alpha.Row<uint16_t>(r);
        for (int x = 0; x < picture.width; ++x, line += 4, p += 3) {
            p[0] = line[2];
            p[1] = line[1];
            p[2] = line[0];
            a[x] = line[3];
        }
    }
}

void CopyPlainRows(FIBITMAP* bitmap, SBxPicBuf& picture) {
    const size_t rowBytes = size_t(picture.pitch);
    for (int r = 0; r < picture.height; ++r)
        std::memcpy(picture.Row<uint8_t>(r), SourceLine(bitmap, picture.height, r), rowBytes);
}

}  // namespace

bool AllocateOnHeap(const PictureLayout& layout, PictureAndAlpha& image) {
    image = PictureAndAlpha();
    if (CBxPicBufAPI::ReinitHeap(image.picture.buf, layout.width, layout.height, layout.components, layout.bits) &&
        (!layout.alpha || CBxPicBufAPI::ReinitHeap(image.alpha.buf, layout.width, layout.height, 1, layout.bits)))
        return true;
    image = PictureAndAlpha();
    return false;
}

namespace {

// The layout a bitmap becomes and its channels (4 with alpha); None, or why
// it has none of ours.
LoadFailure LayoutOfBitmap(FIBITMAP* bitmap, PictureLayout& layout, unsigned& channels) {
    if (!FreeImage_HasPixels(bitmap)) return LoadFailure::Unsupported;
    const FREE_IMAGE_COLOR_TYPE colorType = FreeImage_GetColorType(bitmap);
    if (colorType == FIC_PALETTE || colorType == FIC_CMYK) return LoadFailure::Unsupported;

    const unsigned bpp = FreeImage_GetBPP(bitmap);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
    // Only integer layouts: a 32-bit float or integer plane would otherwise
    // pass the channel test below as four 8-bit channels.
    const bool wide = type == FIT_UINT16 || type == FIT_RGB16 || type == FIT_RGBA16;
    if (!wide && type != FIT_BITMAP) return LoadFailure::Unsupported;
    channels = wide ? bpp / 16 : bpp / 8;
    if (channels < 1 || channels > 4 || channels * (wide ? 16 : 8) != bpp) return LoadFailure::Unsupported;
    if (channels == 2) return LoadFailure::Unsupported;  // grey + alpha has no layout of its own here

    layout.width = int(FreeImage_GetWidth(bitmap));
    layout.height = int(FreeImage_GetHeight(bitmap));
    layout.components = channels > 3 ? 3 : int(channels);
    layout.bits = wide ? 16 : 8;
    layout.alpha = channels == 4;
    if (layout.width <= 0 || layout.height <= 0) return LoadFailure::Unsupported;
    return LoadFailure::None;
}

}  // namespace

bool BitmapHasPictureRows(FIBITMAP* bitmap, PictureRows& rows) {
    if (!bitmap) return false;
    EnsureFreeImage();
    unsigned channels = 0;
    PictureLayout layout;
    if (LayoutOfBitmap(bitmap, layout, channels) != LoadFailure::None || layout.alpha) return false;
    // 16-bit colour has its red and blue swapped on the way.
    if (layout.bits == 16 && layout.components != 1) return false;
    rows.layout = layout;
    rows.top = FreeImage_GetScanLine(bitmap, layout.height - 1);
    rows.stride = -int64_t(FreeImage_GetPitch(bitmap));
    return true;
}

LoadFailure BitmapToPicture(FIBITMAP* bitmap, PictureAndAlpha& out, const PictureAllocator& allocate) {
    out = PictureAndAlpha();
    if (!bitmap) return LoadFailure::None;
    EnsureFreeImage();
    unsigned channels = 0;
    PictureLayout layout;
    const LoadFailure unusable = LayoutOfBitmap(bitmap, layout, channels);
    if (unusable != LoadFailure::None) return unusable;
    const unsigned bpp = FreeImage_GetBPP(bitmap);
    if (!allocate(layout, out)) {
        out = PictureAndAlpha();
        return LoadFailure::OutOfMemory;
    }
    SBxPicBuf& pic = out.picture.buf;
    if (layout.bits == 8) {
        FreeImage_ConvertToRawBits(pic.pixels, bitmap, int(pic.pitch), layout.alpha ? 24 : bpp,
                                   FreeImage_GetRedMask(bitmap), FreeImage_GetGreenMask(bitmap),
                                   FreeImage_GetBlueMask(bitmap), TRUE);
        if (layout.alpha) ReadAlpha8(bitmap, out.alpha.buf);
    } else if (!layout.alpha) {
        CopyPlainRows(bitmap, pic);
        if (channels == 3) SwapRedBlue16(pic);
    } else {
        ReadRgba16(bitmap, pic, out.alpha.buf);
    }
    return LoadFailure::None;
}

FIBITMAP* PictureToBitmap(const SBxPicBuf* picture, const SBxPicBuf* alpha) {
    if (!picture || !CBxPicBufAPI::IsValid(*picture)) return nullptr;
    const SBxPicBuf& pic = *picture;
    if (pic.bits == 32) return nullptr;
    const bool hasAlpha = alpha && alpha->pixels && alpha->width == pic.width && alpha->height == pic.height &&
                          alpha->components == 1 && alpha->bits == pic.bits;
    EnsureFreeImage();
    // Grey with transparency has no bitmap layout of its own: it is written
    // as colour with the grey in every channel, so that nothing is lost.
    const int step = pic.components;
    const int red = step == 3 ? 2 : 0, green = step == 3 ? 1 : 0;

    FREE_IMAGE_TYPE type = FIT_BITMAP;
    int bpp = 8;
    if (pic.components == 1 && !hasAlpha) {
        type = pic.bits == 8 ? FIT_BITMAP : FIT_UINT16;
        bpp = pic.bits;
    } else if (pic.bits == 8) {
        bpp = hasAlpha ? 32 : 24;
    } else {
        type = hasAlpha ? FIT_RGBA16 : FIT_RGB16;
        bpp = hasAlpha ? 64 : 48;
    }
    FIBITMAP* bitmap = FreeImage_AllocateT(type, pic.width, pic.height, bpp, 0, 0, 0);
    if (!bitmap) return nullptr;

    const int h = pic.height;
    for (int r = 0; r < h; ++r) {
        BYTE* line = FreeImage_GetScanLine(bitmap, h - 1 - r);
        if ((pic.components == 1 && !hasAlpha) || (pic.bits == 8 && !hasAlpha)) {
            std::memcpy(line, pic.Row<uint8_t>(r), pic.pitch);
        } else if (pic.bits == 8) {
            const uint8_t* s = pic.Row<uint8_t>(r);
            const uint8_t* a = alpha->Row<uint8_t>(r);
            for (int x = 0; x < pic.width; ++x, s += step, line += 4) {
                line[0] = s[0];
                line[1] = s[green];
                line[2] = s[red];
                line[3] = a[x];
            }
        } else {
            const uint16_t* s = pic.Row<uint16_t>(r);
            const uint16_t* a = hasAlpha ? alpha->Row<uint16_t>(r) : nullptr;
            uint16_t* d = reinterpret_cast<uint16_t*>(line);
            for (int x = 0; x < pic.width; ++x, s += step) {
                *d++ = s[red];
                *d++ = s[green];
                *d++ = s[0];
                if (a) *d++ = a[x];
            }
        }
    }
    return bitmap;
}
