// Reading metadata from users' files through the contained decoder: Exiv2
// parses the bytes in the helper process, and what comes back through shared
// memory is checked before the program takes it.
#include <FreeImage.h>

#include <cstring>
#include <filesystem>

#include "contained.h"
#include "decoded_image.h"
#include "freeimage_guard.h"
#include "imagefile.h"
#include "metadata.h"

namespace {

constexpr char kMetadataMagic[8] = {'Q', 'V', 'M', 'E', 'T', 'A', '1', '\0'};

struct MetadataHeader {
    char magic[8];
    uint64_t sizes[4];  // EXIF, IPTC, XMP, ICC
};

std::string* Blocks(FileMetadata& m, int i) {
    std::string* blocks[4] = {&m.exif, &m.iptc, &m.xmp, &m.icc};
    return blocks[i];
}

// The metadata of a file read in this process. Files of formats without
// metadata (BMP, PNM, ...) give an empty record; unreadable ones nothing.
std::optional<FileMetadata> ReadSourceMetadataHere(const std::string& path) {
    // Only a regular file: a pipe or device could block or give other bytes.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    EnsureFreeImage();
    const int format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN) return std::nullopt;
    if (!FormatHoldsMetadata(format)) return FileMetadata();
    return ReadFileMetadata(path);
}

}  // namespace

int ReadMetadataTask(const std::vector<std::string>& args, ContainedOutput& out) {
    if (args.size() != 1) return kContainedExitUsage;
    MisbehaveIfAsked(args[0]);
    std::optional<FileMetadata> m = ReadSourceMetadataHere(args[0]);
    if (!m) {
        out.Refuse("the metadata could not be read");
        return kContainedExitRefused;
    }
    MetadataHeader h{};
    std::memcpy(h.magic, kMetadataMagic, sizeof h.magic);
    for (int i = 0; i < 4; ++i) h.sizes[i] = Blocks(*m, i)->size();
    out.Write(&h, sizeof h);
    for (int i = 0; i < 4; ++i) out.Write(Blocks(*m, i)->data(), Blocks(*m, i)->size());
    return kContainedExitFinished;
}

std::optional<FileMetadata> ReadSourceMetadata(const std::string& path) {
    const ContainedResult run = RunContained("metadata", {path});
    if (run.outcome != ContainedOutcome::Finished) return std::nullopt;
    MetadataHeader h;
    const uint64_t size = run.output.size();
    if (size < sizeof h || !run.output.Read(0, &h, sizeof h)) return std::nullopt;
    if (std::memcmp(h.magic, kMetadataMagic, sizeof h.magic) != 0) return std::nullopt;
    uint64_t total = 0;
    for (uint64_t block : h.sizes) {
        if (block > size) return std::nullopt;
        total += block;
    }
    if (total != size - sizeof h) return std::nullopt;
    FileMetadata m;
    uint64_t offset = sizeof h;
    for (int i = 0; i < 4; ++i) {
        std::string& block = *Blocks(m, i);
        block.resize(size_t(h.sizes[i]));
        if (!block.empty() && !run.output.Read(offset, block.data(), block.size())) return std::nullopt;
        offset += h.sizes[i];
    }
    return m;
}
