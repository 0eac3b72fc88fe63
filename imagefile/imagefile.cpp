// Opening and saving image files.
#include "imagefile.h"

#include <FreeImage.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "bmp_versions.h"
#include "file_header.h"
#include "freeimage_guard.h"
#include "grey_alpha_tiff.h"
#include "metadata.h"
#include "platform.h"

namespace {

struct BitmapDeleter {
    void operator()(FIBITMAP* b) const { FreeImage_Unload(b); }
};
using BitmapPtr = std::unique_ptr<FIBITMAP, BitmapDeleter>;

struct MemoryDeleter {
    void operator()(FIMEMORY* m) const { FreeImage_CloseMemory(m); }
};
using MemoryPtr = std::unique_ptr<FIMEMORY, MemoryDeleter>;

// Encodes the whole file in memory first: the encoders do not all check their
// own writes, so the bytes reach the disk only through checked writes.
std::string EncodeBitmap(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, int flags) {
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
    return std::string(reinterpret_cast<const char*>(data), size);
}

// FreeImage's TIFF reader looks for a thumbnail in other directories before
// it copies the ICC profile of the first one, whose memory libtiff has freed
// by then. The profile reaches results through the metadata read, never
// through the decoder, so the decoder is served the file with that entry's
// tag number changed to a private one that every reader skips.
constexpr unsigned char kHiddenProfileTagLowByte = 0x74;  // 34675 (0x8773) becomes 34676

struct TiffWithoutProfile {
    std::FILE* file = nullptr;
    uint64_t lowByteAt = 0;  // the byte of the tag number to change
};

unsigned ReadWithoutProfile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* in = static_cast<TiffWithoutProfile*>(handle);
    const long start = std::ftell(in->file);
    const size_t items = std::fread(buffer, size, count, in->file);
    const uint64_t bytes = uint64_t(items) * size;
    if (start >= 0 && in->lowByteAt >= uint64_t(start) && in->lowByteAt - uint64_t(start) < bytes)
        static_cast<unsigned char*>(buffer)[in->lowByteAt - uint64_t(start)] = kHiddenProfileTagLowByte;
    return unsigned(items);
}
unsigned WriteNothing(void*, unsigned, unsigned, fi_handle) { return 0; }
int SeekIn(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<TiffWithoutProfile*>(handle)->file, offset, origin);
}
long TellIn(fi_handle handle) { return std::ftell(static_cast<TiffWithoutProfile*>(handle)->file); }

FIBITMAP* LoadTiffWithoutProfile(const std::string& path, const FileHeader& header) {
    TiffWithoutProfile in;
    in.file = std::fopen(path.c_str(), "rb");
    if (!in.file) return nullptr;
    in.lowByteAt = header.tiffProfileTagAt + (header.littleEndian ? 0 : 1);
    FreeImageIO io{ReadWithoutProfile, WriteNothing, SeekIn, TellIn};
    FIBITMAP* bitmap = FreeImage_LoadFromHandle(FIF_TIFF, &io, &in, 0);
    std::fclose(in.file);
    return bitmap;
}

}  // namespace

bool FormatHoldsMetadata(int format) { return format == FIF_JPEG || format == FIF_PNG || format == FIF_TIFF; }

bool IsRepaintablePicture(const SBxPicBuf& picture) {
    return picture.pixels && (picture.bits == 8 || picture.bits == 16) &&
           (picture.components == 1 || picture.components == 3);
}

namespace {

// Decodes a file of an accepted format with FreeImage into `image`, or hands
// the decoder's rows over where they are already the picture's.
LoadFailure DecodeWithFreeImage(const std::string& path, const FileHeader& header, const PictureRowsHandOver& handOver,
                                PictureAndAlpha& image, std::string& why) {
    const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(header.format);
    BitmapPtr bitmap;
    std::vector<unsigned char> classicBmp;
    LoadFailure bmpFailure = LoadFailure::None;
    if (fif == FIF_BMP && RewriteNewerBmp(path, classicBmp, why, bmpFailure)) {
        if (!why.empty()) return bmpFailure;
        MemoryPtr memory(FreeImage_OpenMemory(classicBmp.data(), DWORD(classicBmp.size())));
        if (memory) bitmap.reset(FreeImage_LoadFromMemory(FIF_BMP, memory.get(), 0));
    } else if (fif == FIF_TIFF && header.tiffProfileTagAt) {
        bitmap.reset(LoadTiffWithoutProfile(path, header));
    } else {
        bitmap.reset(FreeImage_Load(fif, path.c_str(), fif == FIF_JPEG ? JPEG_ACCURATE : 0));
    }
    if (bitmap && FreeImageReportedDamage()) bitmap.reset();
    // 16-bit BMP colours (5-5-5, 5-6-5) become ordinary 8-bit channels.
    if (bitmap && FreeImage_GetImageType(bitmap.get()) == FIT_BITMAP && FreeImage_GetBPP(bitmap.get()) == 16)
        bitmap.reset(FreeImage_ConvertTo24Bits(bitmap.get()));
    if (!bitmap) {
        why = LastFreeImageMessage();
        if (why.empty()) why = "the file could not be decoded";
        return LoadFailure::Damaged;
    }
    PictureRows rows;
    if (handOver && BitmapHasPictureRows(bitmap.get(), rows) && handOver(rows)) return LoadFailure::None;
    const LoadFailure converted = BitmapToPicture(bitmap.get(), image);
    if (converted != LoadFailure::None || image.picture.Empty()) {
        image = PictureAndAlpha();
        const bool memory = converted == LoadFailure::OutOfMemory;
        why = memory ? "not enough memory for the picture" : "unsupported pixel layout";
        return memory ? LoadFailure::OutOfMemory : LoadFailure::Unsupported;
    }
    return LoadFailure::None;
}

}  // namespace

LoadResult DecodeImageFile(const std::string& path, const PictureRowsHandOver& handOver) {
    EnsureFreeImage();
    ClearFreeImageMessage();
    LoadResult result;
    // Our own reading of the header decides what the decoders get to see.
    const FileHeader header = ReadFileHeader(path);
    if (!header.accepted) {
        result.error = header.refusal;
        result.failure = header.failure;
        return result;
    }
    const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(header.format);
    // A picture to be turned is not handed over as the decoder left it.
    const int orientation = FormatHoldsMetadata(fif) ? ReadOrientation(path) : 1;
    const bool turns = orientation >= 2 && orientation <= 8;
    const PictureRowsHandOver none;
    result.failure = header.greyWithAlpha
                         ? ReadGreyAlphaTiff(path, result.image, AllocateOnHeap, result.error)
                         : DecodeWithFreeImage(path, header, turns ? none : handOver, result.image, result.error);
    if (result.failure != LoadFailure::None) {
        result.image = PictureAndAlpha();
        return result;
    }
    if (!ApplyOrientation(result.image, orientation)) {
        result.image = PictureAndAlpha();
        result.error = "not enough memory to turn the picture upright";
        result.failure = LoadFailure::OutOfMemory;
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

bool NarrowForFormat(int format, const SBxPicBuf*& picture, const SBxPicBuf*& alpha, PictureAndAlpha& narrowed) {
    if (!picture || picture->bits != 16 || !(format == kFormatBmp || format == kFormatJpeg)) return false;
    if (!CBxPicBufAPI::CopyConverted(narrowed.picture.buf, *picture, 8, picture->components) ||
        (alpha && alpha->pixels && !CBxPicBufAPI::CopyConverted(narrowed.alpha.buf, *alpha, 8, 1)))
        throw ImageWriteError("not enough memory to prepare the picture for saving");
    picture = &narrowed.picture.buf;
    alpha = &narrowed.alpha.buf;
    return true;
}

SaveStatus SaveImageFile(const SBxPicBuf* picture, const SBxPicBuf* alpha, const std::string& target,
                         int quality, const std::string& source, int format, const Recipe* recipe) {
    EnsureFreeImage();
    if (!picture || !picture->pixels) throw ImageWriteError("there is no picture to save");
    if (format == -1) format = FreeImage_GetFIFFromFilename(target.c_str());
    if (format == -1) throw UnsupportedImageFormat();
    if (!FormatCanWrite(format, *picture)) throw UnsupportedImageFormat();
    const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(format);

    // JPEG has no alpha channel: its encoder refuses 32-bit bitmaps outright.
    // Grey with alpha becomes colour (see PictureToBitmap), which only the
    // formats that hold alpha in every depth are given.
    const bool keepsAlpha = fif != FIF_JPEG && (picture->components == 3 || fif == FIF_PNG || fif == FIF_TIFF);
    const SBxPicBuf* keptAlpha = keepsAlpha ? alpha : nullptr;
    BitmapPtr bitmap(PictureToBitmap(picture, keptAlpha));
    if (!bitmap) throw ImageWriteError("not enough memory to prepare the picture for saving");

    // The JPEG flags carry the quality in their low bits; larger values would
    // select other encoder options.
    const int flags = fif == FIF_JPEG ? (quality >= 1 ? (quality > 100 ? 100 : quality) : 95) : 0;
    if (fif == FIF_PNG && recipe)
        FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, bitmap.get(), "Quorvane recipe", RecipeText(*recipe).c_str());
    std::optional<FileMetadata> metadata;
    if (!source.empty()) metadata = ReadSourceMetadata(source);
    std::string encoded = EncodeBitmap(bitmap.get(), fif, flags);
    bitmap.reset();
    SaveStatus status = source.empty() || metadata ? SaveStatus::Saved : SaveStatus::SavedWithoutMetadata;
    if (!FormatHoldsMetadata(fif)) {
        if (metadata && !metadata->Empty()) status = SaveStatus::FormatHoldsNoMetadata;
    } else if (!EmbedMetadata(encoded, metadata ? &*metadata : nullptr, recipe, picture->width, picture->height)) {
        if (!source.empty()) status = SaveStatus::SavedWithoutMetadata;
    }
    std::string why;
    if (!WriteFileSafely(target, encoded.data(), encoded.size(), why)) throw ImageWriteError(why);
    return status;
}
