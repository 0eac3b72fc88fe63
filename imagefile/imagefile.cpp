// Opening and saving image files.
#include "imagefile.h"

#include <FreeImage.h>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "freeimage_guard.h"
#include "platform.h"

namespace {

struct BitmapDeleter {
    void operator()(FIBITMAP* b) const { FreeImage_Unload(b); }
};
using BitmapPtr = std::unique_ptr<FIBITMAP, BitmapDeleter>;

FREE_IMAGE_FORMAT DetectFormat(const std::string& path) {
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
    return fif;
}

BitmapPtr LoadBitmap(const std::string& path, FREE_IMAGE_FORMAT* formatOut = nullptr) {
    const FREE_IMAGE_FORMAT fif = DetectFormat(path);
    if (formatOut) *formatOut = fif;
    if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) return nullptr;
    return BitmapPtr(FreeImage_Load(fif, path.c_str(), fif == FIF_JPEG ? JPEG_ACCURATE : 0));
}

// Copies metadata and ICC profile; false when the source cannot be read.
bool CopyMetadata(FIBITMAP* bitmap, const std::string& source) {
    // Only a regular file: a pipe or device could block or give other bytes.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec)) return false;
    const FREE_IMAGE_FORMAT sfif = DetectFormat(source);
    if (sfif == FIF_UNKNOWN || sfif == FIF_GIF || !FreeImage_FIFSupportsReading(sfif)) return false;
    // Only the metadata is wanted: skip the pixels where the decoder can.
    int flags = sfif == FIF_JPEG ? JPEG_ACCURATE : 0;
    if (FreeImage_FIFSupportsNoPixels(sfif)) flags |= FIF_LOAD_NOPIXELS;
    BitmapPtr src(FreeImage_Load(sfif, source.c_str(), flags));
    if (!src) return false;
    FreeImage_CloneMetadata(bitmap, src.get());
    if (FIICCPROFILE* icc = FreeImage_GetICCProfile(src.get()); icc && icc->data && icc->size > 0)
        FreeImage_CreateICCProfile(bitmap, icc->data, long(icc->size));
    return true;
}

uint32_t LittleEndian(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// FreeImage reads a short uncompressed BMP without complaint, leaving the
// missing rows undefined; compare the file size with what the header needs.
bool BmpIsTruncated(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return true;
    unsigned char h[34] = {};
    const size_t got = std::fread(h, 1, sizeof h, f);
    std::fseek(f, 0, SEEK_END);
    const long fileSize = std::ftell(f);
    std::fclose(f);
    if (got < sizeof h) return true;
    const uint32_t compression = LittleEndian(h + 30, 4);
    if (compression != 0 && compression != 3) return false;
    const uint64_t width = LittleEndian(h + 18, 4);
    const int32_t height = int32_t(LittleEndian(h + 22, 4));
    const uint64_t bitCount = LittleEndian(h + 28, 2);
    const uint64_t stride = (width * bitCount + 31) / 32 * 4;
    const uint64_t rows = uint64_t(height < 0 ? -int64_t(height) : int64_t(height));
    return uint64_t(LittleEndian(h + 10, 4)) + stride * rows > uint64_t(fileSize);
}

struct MemoryDeleter {
    void operator()(FIMEMORY* m) const { FreeImage_CloseMemory(m); }
};
using MemoryPtr = std::unique_ptr<FIMEMORY, MemoryDeleter>;

// Encodes the whole file in memory first: the encoders do not all check their
// own writes, so the bytes reach the disk only through checked writes.
void WriteBitmapSafely(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, const std::string& target, int flags) {
    MemoryPtr encoded(FreeImage_OpenMemory());
    if (!encoded) throw ImageWriteError("not enough memory to encode the picture");
    ClearFreeImageMessage();
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!FreeImage_SaveToMemory(fif, bitmap, encoded.get(), flags) ||
        !FreeImage_AcquireMemory(encoded.get(), &data, &size) || size == 0) {
        const std::string why = LastFreeImageMessage();
        throw ImageWriteError(why.empty() ? "the encoder could not write the file" : why);
    }
    std::string why;
    if (!WriteFileSafely(target, data, size, why)) throw ImageWriteError(why);
}

}  // namespace

bool IsEightBitPicture(const SBxPicBuf& picture) {
    return picture.pixels && picture.bits == 8 && (picture.components == 1 || picture.components == 3);
}

LoadResult DecodeImageFile(const std::string& path) {
    EnsureFreeImage();
    ClearFreeImageMessage();
    LoadResult result;
    const FREE_IMAGE_FORMAT sniffed = DetectFormat(path);
    if (sniffed == FIF_BMP && BmpIsTruncated(path)) {
        result.error = "the file is truncated";
        return result;
    }
    // A header can promise any size: look at it before decoding anything.
    if (sniffed != FIF_UNKNOWN && FreeImage_FIFSupportsNoPixels(sniffed)) {
        BitmapPtr header(FreeImage_Load(sniffed, path.c_str(), FIF_LOAD_NOPIXELS));
        if (header && uint64_t(FreeImage_GetWidth(header.get())) * FreeImage_GetHeight(header.get()) > kMaxPixels) {
            result.error = "the picture is too large (" + std::to_string(FreeImage_GetWidth(header.get())) + " x " +
                           std::to_string(FreeImage_GetHeight(header.get())) + " pixels)";
            return result;
        }
    }
    ClearFreeImageMessage();
    FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
    BitmapPtr bitmap = LoadBitmap(path, &fif);
    if (bitmap && FreeImageReportedDamage()) bitmap.reset();
    if (!bitmap) {
        if (result.error.empty()) result.error = LastFreeImageMessage();
        if (result.error.empty())
            result.error = fif == FIF_UNKNOWN ? "unknown file format" : "the file could not be decoded";
        return result;
    }
    if (BitmapToPicture(bitmap.get(), result.image) || result.image.picture.Empty()) {
        result.image = PictureAndAlpha();
        result.error = "unsupported pixel layout";
        return result;
    }
    result.ok = true;
    return result;
}

int FormatFromFileName(const std::string& path) {
    EnsureFreeImage();
    return FreeImage_GetFIFFromFilename(path.c_str());
}

bool FormatCanWrite(int format, const SBxPicBuf& picture) {
    EnsureFreeImage();
    if (format < 0 || format == FIF_GIF) return false;
    const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(format);
    if (!FreeImage_FIFSupportsWriting(fif)) return false;
    if (picture.bits == 8) return true;
    const FREE_IMAGE_TYPE type = picture.components == 1 ? FIT_UINT16 : FIT_RGB16;
    return FreeImage_FIFSupportsExportType(fif, type);
}

SaveStatus SaveImageFile(const SBxPicBuf* picture, const SBxPicBuf* alpha, const std::string& target,
                         int quality, const std::string& source, int format) {
    EnsureFreeImage();
    if (!picture || !picture->pixels) throw ImageWriteError("there is no picture to save");
    if (format == -1) format = FreeImage_GetFIFFromFilename(target.c_str());
    if (format == -1) throw UnsupportedImageFormat();
    if (!FormatCanWrite(format, *picture)) throw UnsupportedImageFormat();
    const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(format);

    // JPEG has no alpha channel: its encoder refuses 32-bit bitmaps outright.
    const SBxPicBuf* keptAlpha = fif == FIF_JPEG ? nullptr : alpha;
    BitmapPtr bitmap(PictureToBitmap(picture, keptAlpha));
    if (!bitmap) throw ImageWriteError("not enough memory to prepare the picture for saving");

    // The JPEG flags carry the quality in their low bits; larger values would
    // select other encoder options.
    const int flags = fif == FIF_JPEG ? (quality >= 1 ? (quality > 100 ? 100 : quality) : 95) : 0;
    // Metadata and ICC profile travel with the bitmap into the encoded file.
    const bool metadataCopied = source.empty() || CopyMetadata(bitmap.get(), source);
    WriteBitmapSafely(bitmap.get(), fif, target, flags);
    return metadataCopied ? SaveStatus::Saved : SaveStatus::SavedWithoutMetadata;
}
