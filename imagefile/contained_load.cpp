// Loading a user's file through the contained decoder: the file is decoded by
// the helper program, the pixels come back through shared memory and are
// checked before the program takes them.

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "contained.h"
#include "decoded_image.h"
#include "file_header.h"
#include "imagefile.h"
#include "platform.h"

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;
// What the decoder needs besides the picture itself: code, libraries, the
// codecs' working memory for a normal file.
constexpr uint64_t kDecodeBaseBytes = 512 * kMiB;

uint64_t RowBytes(uint64_t width, uint64_t components, uint64_t bits) { return width * components * (bits / 8); }
uint64_t AlignedUp(uint64_t bytes) {
    return (bytes + kDecodedImageAlignment - 1) / kDecodedImageAlignment * kDecodedImageAlignment;
}

// Room for the decoder's bitmap, its working copies and our result, from the
// size the header declares; a file whose decoding needs far more is damaged.
uint64_t DecodeBudget(uint64_t width, uint64_t height, unsigned bpp) {
    const uint64_t bytesPerPixel = bpp < 8 ? 1 : (bpp + 7) / 8;
    return kDecodeBaseBytes + width * height * (3 * bytesPerPixel + 8);
}

void TightenToDeclaredSize(const std::string& path) {
    const FileHeader header = ReadFileHeader(path);
    if (header.accepted) TightenContainedMemory(DecodeBudget(header.width, header.height, header.bitsPerPixel));
}


// A refusal travels from the helper as text: its first line names the kind
// of failure, the rest is the reason.
constexpr const char* kFailureNames[] = {"none",      "missing",   "unsupported", "damaged",
                                         "too-large", "no-memory", "cancelled",   "no-decoder"};
constexpr int kFailureCount = int(sizeof kFailureNames / sizeof kFailureNames[0]);

std::string RefusalText(LoadFailure failure, const std::string& why) {
    return std::string(kFailureNames[int(failure)]) + "\n" + why;
}

// Splits a refusal into its kind and its reason; a refusal without a kind
// (an exception in the helper) counts as a damaged file.
LoadFailure ReadRefusal(const std::string& message, std::string& why) {
    const size_t eol = message.find('\n');
    if (eol != std::string::npos)
        for (int k = 1; k < kFailureCount; ++k)
            if (message.compare(0, eol, kFailureNames[k]) == 0) {
                why = message.substr(eol + 1);
                return LoadFailure(k);
            }
    why = message;
    return LoadFailure::Damaged;
}

// Makes the picture and alpha areas of a result `image`'s pixels, mapped by
// `map` (offset, bytes) and unmapped when the picture goes.
template <typename Map>
bool AdoptMappedAreas(const DecodedImageHeader& h, const PictureLayout& layout, const Map& map, PictureAndAlpha& image) {
    const auto release = [](unsigned char* pixels, size_t bytes) { UnmapMemory(pixels, bytes); };
    const auto adopt = [&](SBxPicBuf& buf, uint64_t offset, uint64_t bytes, int components) {
        unsigned char* pixels = map(offset, size_t(bytes));
        if (pixels && CBxPicBufAPI::Adopt(buf, pixels, size_t(bytes), layout.width, layout.height, components,
                                          layout.bits, release))
            return true;
        UnmapMemory(pixels, size_t(bytes));
        return false;
    };
    return adopt(image.picture.buf, h.pictureOffset, h.pictureBytes, layout.components) &&
           (!layout.alpha || adopt(image.alpha.buf, h.alphaOffset, h.alphaBytes, 1));
}

// Reads the header a child left and checks it describes a picture the
// program accepts, laid out in the file as the program would lay it out.
LoadFailure CheckedHeader(const SharedResult& result, DecodedImageHeader& h, PictureLayout& layout, std::string& why) {
    if (result.size() < sizeof h || !result.Read(0, &h, sizeof h))
        return why = "the decoder returned no picture", LoadFailure::Damaged;
    if (std::memcmp(h.magic, kDecodedImageMagic, sizeof h.magic) != 0)
        return why = "the decoder returned something that is not a picture", LoadFailure::Damaged;
    const uint64_t w = h.width, ht = h.height;
    const bool layoutOk = (h.components == 1 || h.components == 3) && (h.bits == 8 || h.bits == 16) && h.hasAlpha <= 1;
    if (w == 0 || ht == 0 || w > 0x7fffffffu || ht > 0x7fffffffu || w * ht > kMaxPixels || !layoutOk)
        return why = "the decoder returned an impossible picture layout", LoadFailure::Damaged;
    layout.width = int(w);
    layout.height = int(ht);
    layout.components = int(h.components);
    layout.bits = int(h.bits);
    layout.alpha = h.hasAlpha != 0;
    const DecodedImageHeader expected = DecodedImageLayout(layout);
    if (h.pictureOffset != expected.pictureOffset || h.pictureBytes != expected.pictureBytes ||
        h.alphaOffset != expected.alphaOffset || h.alphaBytes != expected.alphaBytes)
        return why = "the decoder returned an impossible picture layout", LoadFailure::Damaged;
    return LoadFailure::None;
}

// One span per row of `buf`, read from `address` onwards `stride` apart;
// a single span when the rows lie packed in both processes.
void AddRowSpans(const SBxPicBuf& buf, uint64_t address, int64_t stride, std::vector<ChildMemorySpan>& spans) {
    const size_t rowBytes = size_t(buf.pitch);
    if (stride == int64_t(rowBytes)) {
        spans.push_back({address, buf.pixels, rowBytes * size_t(buf.height)});
        return;
    }
    for (int y = 0; y < buf.height; ++y)
        spans.push_back({address + uint64_t(stride) * uint64_t(y), buf.pixels + rowBytes * size_t(y), rowBytes});
}

// QUORVANE_DECODE_TEST_FAULT=KIND[:NAME]: the kind asked for the file at
// `path`, or "" (see MisbehaveIfAsked).
std::string TestFault(const std::string& path) {
    const char* fault = std::getenv("QUORVANE_DECODE_TEST_FAULT");
    if (!fault) return "";
    std::string kind = fault;
    const size_t colon = kind.find(':');
    if (colon != std::string::npos) {
        if (path.find(kind.substr(colon + 1)) == std::string::npos) return "";
        kind.resize(colon);
    }
    return kind;
}

}  // namespace

// Test hook: QUORVANE_DECODE_TEST_FAULT=crash|hang|allocate[:NAME] makes the
// decoder misbehave (for files whose path contains NAME), so that the tests
// can show each way of failing ends as a refusal; "misplace" makes the image
// task say its rows lie where they do not; "shared-only" makes the program
// take the pixels through the result file, as where it may not read the
// decoder's memory.
void MisbehaveIfAsked(const std::string& path) {
    const std::string kind = TestFault(path);
    if (kind == "crash") raise(SIGSEGV);
    if (kind == "hang")
        for (;;) pause();
    if (kind == "allocate") {
        std::vector<char*> hoard;
        for (;;) {
            hoard.push_back(new char[64 * kMiB]);
            std::memset(hoard.back(), 1, 64 * kMiB);
        }
    }
}

DecodedImageHeader DecodedImageLayout(const PictureLayout& layout) {
    DecodedImageHeader h{};
    std::memcpy(h.magic, kDecodedImageMagic, sizeof h.magic);
    h.width = uint32_t(layout.width);
    h.height = uint32_t(layout.height);
    h.components = uint32_t(layout.components);
    h.bits = uint32_t(layout.bits);
    h.hasAlpha = layout.alpha ? 1 : 0;
    h.pictureOffset = kDecodedImageAlignment;
    h.pictureBytes = RowBytes(h.width, h.components, h.bits) * h.height;
    h.alphaOffset = h.pictureOffset + AlignedUp(h.pictureBytes);
    h.alphaBytes = h.hasAlpha ? RowBytes(h.width, 1, h.bits) * h.height : 0;
    return h;
}

uint64_t DecodedImageSize(const DecodedImageHeader& h) { return h.alphaOffset + h.alphaBytes; }

LoadFailure ReadDecodedImage(const SharedResult& result, PictureAndAlpha& out, std::string& why) {
    out = PictureAndAlpha();
    DecodedImageHeader h;
    PictureLayout layout;
    const LoadFailure checked = CheckedHeader(result, h, layout, why);
    if (checked != LoadFailure::None) return checked;
    if (result.size() < DecodedImageSize(h)) return why = "the decoder returned fewer pixels than the picture needs", LoadFailure::Damaged;
    // From here on nobody can change or shorten the pixels the program maps.
    if (!result.Seal()) return why = "the decoder's result was still being changed", LoadFailure::Damaged;

    const auto map = [&](uint64_t offset, size_t bytes) { return result.MapForKeeping(offset, bytes); };
    if (!AdoptMappedAreas(h, layout, map, out)) {
        out = PictureAndAlpha();
        return why = "not enough memory for the picture", LoadFailure::OutOfMemory;
    }
    return LoadFailure::None;
}

LoadFailure CollectDecodedImage(const ContainedChild& child, PictureAndAlpha& out, std::string& why,
                                bool& notPermitted) {
    out = PictureAndAlpha();
    notPermitted = false;
    DecodedImageHeader h;
    PictureLayout layout;
    const LoadFailure checked = CheckedHeader(child.shared, h, layout, why);
    if (checked != LoadFailure::None) return checked;
    if (!AllocateOnHeap(layout, out)) return why = "not enough memory for the picture", LoadFailure::OutOfMemory;
    std::vector<ChildMemorySpan> spans;
    AddRowSpans(out.picture.buf, h.pictureAddress, h.pictureStride, spans);
    if (layout.alpha) AddRowSpans(out.alpha.buf, h.alphaAddress, h.alphaStride, spans);
    const ChildMemoryRead read = ReadChildMemory(child.pid, spans);
    if (read == ChildMemoryRead::Done) return LoadFailure::None;
    out = PictureAndAlpha();
    notPermitted = read == ChildMemoryRead::NotPermitted;
    return why = "the decoder's pixels could not be read", LoadFailure::Damaged;
}

namespace {

// Where a plane's rows lie in this process.
struct PlaneRows {
    const unsigned char* top = nullptr;
    int64_t stride = 0;
};

// The child's side: says where the rows lie, waits while the program copies
// them, or writes them into the result file where it may not.
void DeliverRows(ContainedOutput& out, const PictureLayout& layout, const PlaneRows& picture, const PlaneRows& alpha,
                 const std::string& path) {
    DecodedImageHeader h = DecodedImageLayout(layout);
    h.pictureAddress = uint64_t(uintptr_t(picture.top));
    h.pictureStride = picture.stride;
    h.alphaAddress = uint64_t(uintptr_t(alpha.top));
    h.alphaStride = alpha.stride;
    if (TestFault(path) == "misplace") h.pictureAddress = 4096;
    if (!out.WriteAt(0, &h, sizeof h)) throw std::bad_alloc();
    if (out.AwaitCollection() == ContainedAnswer::Finish) return;
    const auto write = [&](const PlaneRows& rows, uint64_t offset, uint64_t bytes) {
        const uint64_t rowBytes = bytes / uint64_t(layout.height);
        for (int y = 0; y < layout.height; ++y)
            if (!out.WriteAt(offset + rowBytes * uint64_t(y), rows.top + rows.stride * y, size_t(rowBytes)))
                throw std::bad_alloc();
    };
    if (!out.Resize(DecodedImageSize(h))) throw std::bad_alloc();
    write(picture, h.pictureOffset, h.pictureBytes);
    if (layout.alpha) write(alpha, h.alphaOffset, h.alphaBytes);
}

}  // namespace

int DecodeImageTask(const std::vector<std::string>& args, ContainedOutput& out) {
    if (args.size() != 1) return kContainedExitUsage;
    const std::string& path = args[0];
    MisbehaveIfAsked(path);
    TightenToDeclaredSize(path);
    // Rows that need no conversion go to the program straight from the
    // decoder's bitmap.
    bool delivered = false;
    const auto handOver = [&](const PictureRows& rows) {
        DeliverRows(out, rows.layout, {rows.top, rows.stride}, {}, path);
        return delivered = true;
    };
    const LoadResult r = DecodeImageFile(path, handOver);
    if (!r.ok) {
        out.Refuse(RefusalText(r.failure == LoadFailure::None ? LoadFailure::Damaged : r.failure,
                               r.error.empty() ? "the file could not be decoded" : r.error));
        return kContainedExitRefused;
    }
    if (delivered) return kContainedExitFinished;
    const SBxPicBuf& picture = r.image.picture.buf;
    const SBxPicBuf& alpha = r.image.alpha.buf;
    PictureLayout layout;
    layout.width = picture.width, layout.height = picture.height;
    layout.components = picture.components, layout.bits = picture.bits;
    layout.alpha = !r.image.alpha.Empty();
    DeliverRows(out, layout, {picture.pixels, int64_t(picture.pitch)}, {alpha.pixels, int64_t(alpha.pitch)}, path);
    return kContainedExitFinished;
}

LoadResult LoadImageFile(const std::string& path, const LoadControl& control) {
    LoadResult result;
    bool collected = false;
    const bool sharedOnly = TestFault(path) == "shared-only";
    const auto collect = [&](const ContainedChild& child) {
        if (sharedOnly) return ContainedAnswer::WriteShared;
        collected = true;
        bool notPermitted = false;
        result.failure = CollectDecodedImage(child, result.image, result.error, notPermitted);
        if (!notPermitted) return ContainedAnswer::Finish;
        collected = false;
        return ContainedAnswer::WriteShared;
    };
    ContainedResult run = RunContained("image", {path}, control.limits, control.cancelled, collect);
    // Pixels collected from a child that then failed to end well are not trusted.
    if (run.outcome != ContainedOutcome::Finished) result = LoadResult();
    switch (run.outcome) {
    case ContainedOutcome::Finished:
        if (!collected) result.failure = ReadDecodedImage(run.output, result.image, result.error);
        result.ok = result.failure == LoadFailure::None;
        result.damaged = result.failure == LoadFailure::Damaged;
        break;
    case ContainedOutcome::Refused:
        result.failure = ReadRefusal(run.message, result.error);
        break;
    case ContainedOutcome::Cancelled:
        result.cancelled = true;
        result.failure = LoadFailure::Cancelled;
        result.error = DescribeContainedFailure(run);
        break;
    case ContainedOutcome::NotStarted:
        result.failure = LoadFailure::NoDecoder;
        result.error = DescribeContainedFailure(run);
        break;
    default:
        result.damaged = true;
        result.failure = LoadFailure::Damaged;
        result.error = "the file is damaged: " + DescribeContainedFailure(run);
        break;
    }
    return result;
}
