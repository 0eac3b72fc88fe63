// Metadata through Exiv2. Exiv2's XMP toolkit is not thread-safe and the
// program calls in here from more than one thread, so every entry point holds
// one lock.
#include "metadata.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

const char kRecipeNamespace[] = "http://quorvane.org/ns/recipe/1.0/";
const char kRecipePrefix[] = "quorvane";

std::mutex& Lock() {
    static std::mutex m;
    return m;
}

void InitialiseExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::XmpProperties::registerNs(kRecipeNamespace, kRecipePrefix);
    });
}

bool CarriesMetadata(int type) {
    return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::png || type == Exiv2::ImageType::tiff;
}

Exiv2::Image::AutoPtr OpenWithMetadata(const std::string& path) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    if (!image.get() || !CarriesMetadata(image->imageType())) return Exiv2::Image::AutoPtr();
    image->readMetadata();
    return image;
}

// Tags that describe how the source file stored its pixels, and blocks that
// travel separately (XMP, IPTC, ICC) or not at all (thumbnails, sub-images).
const char* const kSourceLayoutTags[] = {
    "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression",
    "PhotometricInterpretation", "Thresholding", "CellWidth", "CellLength", "FillOrder", "StripOffsets",
    "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration", "Predictor", "ColorMap",
    "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "SubIFDs", "ExtraSamples", "SampleFormat",
    "JPEGTables", "JPEGProc", "JPEGInterchangeFormat", "JPEGInterchangeFormatLength", "YCbCrCoefficients",
    "YCbCrSubSampling", "YCbCrPositioning", "InterColorProfile", "XMLPacket", "IPTCNAA", "ImageResources",
};

bool IsSubImageGroup(const std::string& group) {
    return group.rfind("SubImage", 0) == 0 || group.rfind("SubThumb", 0) == 0 ||
           (group.size() == 6 && group.rfind("Image", 0) == 0 && group[5] >= '2' && group[5] <= '9');
}

void CleanCopiedExif(Exiv2::ExifData& exif) {
    Exiv2::ExifThumb(exif).erase();
    for (auto it = exif.begin(); it != exif.end();) {
        bool drop = IsSubImageGroup(it->groupName());
        if (it->groupName() == "Image")
            for (const char* tag : kSourceLayoutTags) drop = drop || it->tagName() == tag;
        it = drop ? exif.erase(it) : std::next(it);
    }
}

template <typename Data, typename Key>
void EraseKey(Data& data, const Key& key) {
    auto it = data.findKey(key);
    if (it != data.end()) data.erase(it);
}

void WriteRecipe(Exiv2::XmpData& xmp, const Recipe& recipe) {
    xmp["Xmp.quorvane.Method"] = recipe.method;
    xmp["Xmp.quorvane.Version"] = recipe.version;
    for (const auto& [key, value] : recipe.positions) xmp["Xmp.quorvane." + key] = std::to_string(value);
}

std::string ToString(const Exiv2::DataBuf& buf) {
    return buf.size_ > 0 ? std::string(reinterpret_cast<const char*>(buf.pData_), size_t(buf.size_)) : std::string();
}

void DecodeInto(const FileMetadata& m, Exiv2::ExifData& exif, Exiv2::IptcData& iptc, Exiv2::XmpData& xmp) {
    if (!m.exif.empty())
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(m.exif.data()), uint32_t(m.exif.size()));
    if (!m.iptc.empty() &&
        Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(m.iptc.data()), uint32_t(m.iptc.size())))
        throw Exiv2::Error(Exiv2::kerCorruptedMetadata);
    if (!m.xmp.empty() && Exiv2::XmpParser::decode(xmp, m.xmp)) throw Exiv2::Error(Exiv2::kerCorruptedMetadata);
}

std::optional<int> WholeNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
    return int(v);
}

}  // namespace

void SilenceMetadataWarnings() {
    std::lock_guard<std::mutex> hold(Lock());
    InitialiseExiv2();
}

std::string ProgramNameAndVersion() { return "Quorvane " QUORVANE_VERSION; }

std::string RecipeText(const Recipe& recipe) {
    std::string text = "method=" + recipe.method;
    for (const auto& [key, value] : recipe.positions) text += " " + key + "=" + std::to_string(value);
    return text + " version=" + recipe.version;
}

std::optional<FileMetadata> ReadFileMetadata(const std::string& path) {
    std::lock_guard<std::mutex> hold(Lock());
    InitialiseExiv2();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
        if (!image.get()) return std::nullopt;
        FileMetadata m;
        if (!CarriesMetadata(image->imageType())) return m;
        image->readMetadata();
        if (!image->exifData().empty()) {
            Exiv2::ExifData exif = image->exifData();
            CleanCopiedExif(exif);
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
            m.exif.assign(blob.begin(), blob.end());
        }
        if (!image->iptcData().empty()) m.iptc = ToString(Exiv2::IptcParser::encode(image->iptcData()));
        if (!image->xmpData().empty() && Exiv2::XmpParser::encode(m.xmp, image->xmpData()) != 0)
            return std::nullopt;
        if (image->iccProfileDefined()) m.icc = ToString(*image->iccProfile());
        return m;
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool EmbedMetadata(std::string& encoded, const FileMetadata* metadata, const Recipe* recipe, int width,
                   int height) {
    std::lock_guard<std::mutex> hold(Lock());
    InitialiseExiv2();
    try {
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(encoded.data()), long(encoded.size()));
        if (!image.get() || !CarriesMetadata(image->imageType())) return false;
        image->readMetadata();
        Exiv2::ExifData exif;
        Exiv2::IptcData iptc;
        Exiv2::XmpData xmp;
        if (metadata) DecodeInto(*metadata, exif, iptc, xmp);
        CleanCopiedExif(exif);
        const std::string software = ProgramNameAndVersion();
        exif["Exif.Image.Software"] = software;
        if (!exif.empty()) exif["Exif.Image.Orientation"] = uint16_t(1);
        if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end()) {
            exif["Exif.Photo.PixelXDimension"] = uint32_t(width);
            exif["Exif.Photo.PixelYDimension"] = uint32_t(height);
        }
        if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end()) xmp["Xmp.tiff.Orientation"] = "1";
        for (auto it = xmp.begin(); it != xmp.end();) {
            const bool stale = it->groupName() == kRecipePrefix || it->key().rfind("Xmp.xmp.Thumbnails", 0) == 0;
            it = stale ? xmp.erase(it) : std::next(it);
        }
        xmp["Xmp.xmp.CreatorTool"] = software;
        if (recipe) WriteRecipe(xmp, *recipe);

        image->setExifData(exif);
        image->setIptcData(iptc);
        image->setXmpData(xmp);
        if (metadata && !metadata->icc.empty()) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(metadata->icc.data()), long(metadata->icc.size()));
            image->setIccProfile(icc, false);
        }
        image->writeMetadata();

        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0) return false;
        const long size = io.size();
        std::string written(size_t(size > 0 ? size : 0), '\0');
        io.seek(0, Exiv2::BasicIo::beg);
        const long got = io.read(reinterpret_cast<Exiv2::byte*>(written.data()), size);
        io.close();
        if (size <= 0 || got != size) return false;
        encoded.swap(written);
        return true;
    } catch (const Exiv2::AnyError&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

int ReadOrientation(const std::string& path) {
    std::lock_guard<std::mutex> hold(Lock());
    InitialiseExiv2();
    try {
        Exiv2::Image::AutoPtr image = OpenWithMetadata(path);
        if (!image.get()) return 1;
        const Exiv2::ExifData& exif = image->exifData();
        auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end() || it->count() < 1) return 1;
        const long v = it->toLong();
        return v >= 1 && v <= 8 ? int(v) : 1;
    } catch (const Exiv2::AnyError&) {
        return 1;
    } catch (const std::exception&) {
        return 1;
    }
}

std::optional<Recipe> ReadRecipeHere(const std::string& path) {
    std::lock_guard<std::mutex> hold(Lock());
    InitialiseExiv2();
    try {
        Exiv2::Image::AutoPtr image = OpenWithMetadata(path);
        if (!image.get()) return std::nullopt;
        Recipe r;
        for (const Exiv2::Xmpdatum& d : image->xmpData()) {
            if (d.groupName() != kRecipePrefix) continue;
            const std::string name = d.tagName(), value = d.toString();
            if (name == "Method") r.method = value;
            else if (name == "Version") r.version = value;
            else if (const std::optional<int> v = WholeNumber(value)) r.positions.emplace_back(name, *v);
        }
        if (r.method.empty()) return std::nullopt;
        return r;
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
