// The metadata of image files, read and written with Exiv2: EXIF, IPTC, XMP
// and the ICC profile travel from the opened file into every JPEG, PNG and
// TIFF result, together with the recipe that made the result. BMP files hold
// no metadata.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ContainedOutput;

// A file's metadata as four self-contained blocks, so that it can be read in
// one place (or process) and written in another. Empty blocks are absent.
struct FileMetadata {
    std::string exif;  // TIFF-structured EXIF block
    std::string iptc;  // IPTC IIM records
    std::string xmp;   // XMP packet
    std::string icc;   // ICC colour profile
    bool Empty() const { return exif.empty() && iptc.empty() && xmp.empty() && icc.empty(); }
};

// How a result was made: the method, its parameter positions by settings key,
// and the program version that ran it.
struct Recipe {
    std::string method;
    std::vector<std::pair<std::string, int>> positions;
    std::string version;
};

// Reads the metadata of a JPEG, PNG or TIFF file (other formats give an empty
// record). Nothing when the file cannot be read or its metadata is damaged.
std::optional<FileMetadata> ReadFileMetadata(const std::string& path);

// The same, read by the helper program in a process of its own (see
// contained.h): a file that makes the reader crash or hang gives nothing.
std::optional<FileMetadata> ReadSourceMetadata(const std::string& path);
// The helper program's task "metadata PATH".
int ReadMetadataTask(const std::vector<std::string>& args, ContainedOutput& out);

// Writes `metadata` (when given), the program's name and version and `recipe`
// (when given) into an encoded JPEG, PNG or TIFF file held in `encoded`. The
// copied EXIF is cleaned of what no longer fits the result: the source's
// layout tags and thumbnails; its orientation becomes 1 (the pixels are
// upright) and its pixel dimensions those of the result. Returns false (and
// leaves `encoded` as it was) when the metadata could not be written.
bool EmbedMetadata(std::string& encoded, const FileMetadata* metadata, const Recipe* recipe, int width,
                   int height);

// The EXIF orientation of a JPEG or TIFF file, 1 to 8; 1 when it has none.
int ReadOrientation(const std::string& path);

// The recipe stored in a result's XMP, or nothing. Read by the helper
// program in a process of its own, like every parse of a user's file; when
// there is none, `why` (if given) says whether the file holds no recipe or
// could not be read at all.
std::optional<Recipe> ReadRecipe(const std::string& path, std::string* why = nullptr);
// The same in this process: only for the helper program's task "recipe PATH".
std::optional<Recipe> ReadRecipeHere(const std::string& path);
int ReadRecipeTask(const std::vector<std::string>& args, ContainedOutput& out);

// The recipe as one line of text, for the PNG text chunk "Quorvane recipe":
// "method=redraw uiEdgeDetails=10 ... version=1.1.0".
std::string RecipeText(const Recipe& recipe);

// Exiv2's and libtiff's warnings are kept off the terminal; called by every
// entry point above and by the image-file code at first use.
void SilenceMetadataWarnings();

// The text the program writes as Software and CreatorTool: "Quorvane 1.1.0".
std::string ProgramNameAndVersion();
