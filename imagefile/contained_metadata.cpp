// Reading metadata from users' files through the contained decoder: Exiv2
// parses the bytes in the helper process, and what comes back through shared
// memory is checked before the program takes it.
#include <FreeImage.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
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

// A recipe travels as lines: the method, the version, then KEY=VALUE per
// position. The program takes only names and numbers of sane form.
namespace {

constexpr size_t kMaxRecipeText = 64 * 1024;
constexpr size_t kMaxRecipePositions = 256;

bool SaneName(const std::string& s, bool allowDots) {
    if (s.empty() || s.size() > 64) return false;
    for (const char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && !(allowDots && c == '.'))
            return false;
    return true;
}

std::optional<Recipe> ParseRecipeLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        const size_t eol = text.find('\n', from);
        if (eol == std::string::npos) return std::nullopt;
        lines.push_back(text.substr(from, eol - from));
        from = eol + 1;
    }
    if (lines.size() < 2 || lines.size() > kMaxRecipePositions + 2) return std::nullopt;
    Recipe r;
    r.method = lines[0];
    r.version = lines[1];
    if (!SaneName(r.method, false) || !(r.version.empty() || SaneName(r.version, true))) return std::nullopt;
    for (size_t i = 2; i < lines.size(); ++i) {
        const size_t eq = lines[i].find('=');
        if (eq == std::string::npos) return std::nullopt;
        const std::string key = lines[i].substr(0, eq), value = lines[i].substr(eq + 1);
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (!SaneName(key, false) || value.empty() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX)
            return std::nullopt;
        r.positions.emplace_back(key, int(v));
    }
    return r;
}

}  // namespace

int ReadRecipeTask(const std::vector<std::string>& args, ContainedOutput& out) {
    if (args.size() != 1) return kContainedExitUsage;
    MisbehaveIfAsked(args[0]);
    const std::optional<Recipe> recipe = ReadRecipeHere(args[0]);
    if (!recipe) {
        out.Refuse("no recipe");
        return kContainedExitRefused;
    }
    std::string text = recipe->method + "\n" + recipe->version + "\n";
    for (const auto& [key, value] : recipe->positions) text += key + "=" + std::to_string(value) + "\n";
    out.Write(text.data(), text.size());
    return kContainedExitFinished;
}

std::optional<Recipe> ReadRecipe(const std::string& path, std::string* why) {
    std::string reason = "holds no repainting recipe";
    std::optional<Recipe> recipe;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        reason = "cannot be read";
    } else {
        const ContainedResult run = RunContained("recipe", {path});
        if (run.outcome == ContainedOutcome::Finished) {
            const uint64_t size = run.output.size();
            std::string text(size_t(std::min<uint64_t>(size, kMaxRecipeText)), '\0');
            if (size <= kMaxRecipeText && run.output.Read(0, text.data(), text.size())) recipe = ParseRecipeLines(text);
            if (!recipe) reason = "holds a damaged repainting recipe";
        } else if (run.outcome != ContainedOutcome::Refused) {
            reason = "cannot be read: " + DescribeContainedFailure(run);
        }
    }
    if (!recipe && why) *why = reason;
    return recipe;
}
