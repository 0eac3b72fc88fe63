// Reading image files into picture buffers and writing them back, through
// FreeImage. Colour pictures are blue, green, red; row 0 is the top row.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "contained.h"
#include "load_failure.h"
#include "picbuf.h"

struct FIBITMAP;

// FreeImage format codes used by the program.
enum ImageFormat : int {
    kFormatUnknown = -1,
    kFormatBmp = 0,
    kFormatJpeg = 2,
    kFormatPbm = 7,
    kFormatPbmRaw = 8,
    kFormatPgm = 11,
    kFormatPgmRaw = 12,
    kFormatPng = 13,
    kFormatPpm = 14,
    kFormatPpmRaw = 15,
    kFormatTiff = 18,
    kFormatGif = 25,
};

struct UnsupportedImageFormat : std::runtime_error {
    UnsupportedImageFormat() : std::runtime_error("") {}
};
struct ImageReadError : std::runtime_error {
    ImageReadError() : std::runtime_error("") {}
};
// The file could not be written (encoder failure, full disk, no permission,
// out of memory). Carries the reason; the target file is left as it was.
struct ImageWriteError : std::runtime_error {
    explicit ImageWriteError(const std::string& why) : std::runtime_error(why) {}
};

struct PictureAndAlpha {
    PicBufHolder picture;
    PicBufHolder alpha;  // empty when the file has no alpha channel
};

// The shape of a decoded picture: its size, components (1 or 3), bits per
// component (8 or 16) and whether an alpha plane of the same depth comes with it.
struct PictureLayout {
    int width = 0, height = 0, components = 0, bits = 0;
    bool alpha = false;
};
// Where decoded pictures go: makes `image` a picture of `layout` (its alpha
// plane empty unless the layout has one); false when memory does not allow.
using PictureAllocator = std::function<bool(const PictureLayout& layout, PictureAndAlpha& image)>;
bool AllocateOnHeap(const PictureLayout& layout, PictureAndAlpha& image);

// A decoded picture's rows where the decoder left them, when they already
// are the picture's rows byte for byte: the top row at `top`, each next one
// `stride` bytes further (negative for rows stored bottom-up).
struct PictureRows {
    PictureLayout layout;
    const unsigned char* top = nullptr;
    int64_t stride = 0;
};
// Uses such rows while the call lasts; false to have them copied into a
// picture as usual.
using PictureRowsHandOver = std::function<bool(const PictureRows& rows)>;

// None on success; Unsupported for a layout we do not read (palette, CMYK,
// float, two channels …), OutOfMemory when `allocate` fails; the buffers are
// then empty. A null bitmap is not a failure and gives empty buffers.
LoadFailure BitmapToPicture(FIBITMAP* bitmap, PictureAndAlpha& out,
                            const PictureAllocator& allocate = AllocateOnHeap);
// True when the bitmap's rows are those BitmapToPicture would make, byte for
// byte (8-bit grey and colour, 16-bit grey, all without alpha); `rows` then
// says where they lie.
bool BitmapHasPictureRows(FIBITMAP* bitmap, PictureRows& rows);
// Caller unloads the returned bitmap; null when the picture has no pixels,
// an unsupported layout, or memory runs out.
FIBITMAP* PictureToBitmap(const SBxPicBuf* picture, const SBxPicBuf* alpha);

// Turns picture and alpha upright for an EXIF orientation (1 to 8; others
// leave them as they are). False when memory runs out.
bool ApplyOrientation(PictureAndAlpha& image, int orientation, const PictureAllocator& allocate = AllocateOnHeap);

// Larger pictures are refused before they are decoded.
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;  // 268 megapixels, e.g. 16384 × 16384

// Everything here travels from the decoding child to the program: a field
// added must be carried by the decoded-image format too (decoded_image.h).
struct LoadResult {
    bool ok = false;
    LoadFailure failure = LoadFailure::None;  // why not ok
    std::string error;       // the reason in words, FreeImage's own message when it gave one
    bool damaged = false;    // the decoder crashed, hung or ran out of its memory
    bool cancelled = false;  // the caller gave up waiting
    PictureAndAlpha image;
};

struct LoadControl {
    ContainedLimits limits;
    std::function<bool()> cancelled;  // polled while the file is decoded
};

// Sniffs the format from the content (falling back on the extension), decodes
// and converts. Accepts 8- and 16-bit grey and colour, with or without alpha.
// The file is decoded in a separate process (see contained.h), so that no file
// can crash, hang or exhaust the caller; safe to call from any thread.
// Pictures whose EXIF says they are stored turned or mirrored come back upright.
LoadResult LoadImageFile(const std::string& path, const LoadControl& control = {});

// The same decoding in this process. Only for the decoding helper program,
// the fuzzer and measurements: everything else goes through LoadImageFile.
// When `handOver` takes the decoder's rows, the result is ok with an empty
// picture.
LoadResult DecodeImageFile(const std::string& path, const PictureRowsHandOver& handOver = {});
// The helper program's task "image PATH".
int DecodeImageTask(const std::vector<std::string>& args, ContainedOutput& out);

// The layouts the program works on (view, panels, methods, saving): grey or
// colour of 8 or 16 bits a sample.
bool IsRepaintablePicture(const SBxPicBuf& picture);

// SavedWithoutMetadata: the source could not be read for its metadata.
// FormatHoldsNoMetadata: the source has metadata but the format (BMP) has no
// place for it.
enum class SaveStatus { Saved, SavedWithoutMetadata, FormatHoldsNoMetadata };

struct Recipe;

// Writes `picture` (with `alpha` when it has pixels) to `target`. `format` is a
// FreeImage format code, or -1 to take it from the target's extension.
// `quality` is the JPEG quality (below 1: 95). When `source` is not empty its
// EXIF, IPTC, XMP and ICC profile are copied into a JPEG, PNG or TIFF result;
// if it can no longer be read the picture is saved without them and
// SavedWithoutMetadata returned. `recipe`, when given, is written into the
// result's XMP. The whole file is encoded before anything is written; the
// target then holds either its old contents or the complete new file, never a
// part, and a failure (a full disk included) is reported, never taken for
// success. A read-only target is refused. Throws UnsupportedImageFormat or
// ImageWriteError.
SaveStatus SaveImageFile(const SBxPicBuf* picture, const SBxPicBuf* alpha, const std::string& target,
                         int quality, const std::string& source, int format, const Recipe* recipe = nullptr);

// BMP and JPEG hold 8 bits a sample: a 16-bit picture goes into them as the
// view shows it, narrowed to 8 bits, its alpha plane likewise. When `format`
// needs that, points `picture` and `alpha` at 8-bit copies made in `narrowed`
// and returns true; otherwise leaves them alone. Throws ImageWriteError when
// memory runs out. The program's Save As and the command line both save so.
bool NarrowForFormat(int format, const SBxPicBuf*& picture, const SBxPicBuf*& alpha, PictureAndAlpha& narrowed);

// JPEG, PNG and TIFF files hold metadata; BMP and PNM do not.
bool FormatHoldsMetadata(int format);

// Format code from a file name's extension, or kFormatUnknown.
int FormatFromFileName(const std::string& path);
bool FormatCanWrite(int format, const SBxPicBuf& picture);
