#include "tagged_files.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <FreeImage.h>
#include <exiv2/exiv2.hpp>

#include <stdexcept>
#include <vector>

#include "imagefile.h"
#include "test_files.h"

const std::map<std::string, std::string> kCameraTags = {
    {"Exif.Image.Make", "Harbour Optics"},
    {"Exif.Image.Model", "HX-100 Mark II"},
    {"Exif.Photo.DateTimeOriginal", "2024:06:21 21:14:05"},
    {"Exif.Image.Artist", "Jo Lindqvist"},
    {"Exif.Image.Copyright", "(c) 2024 Jo Lindqvist, all rights reserved"},
    {"Xmp.dc.title", "lang=\"x-default\" Harbour at dusk"},
    {"Xmp.photoshop.City", "Tromsø"},
    {"Iptc.Application2.Caption", "Boats in the harbour at dusk"},
    {"Iptc.Application2.Byline", "Jo Lindqvist"},
};

namespace {

std::string Bytes(const Exiv2::Metadatum& d) {
    std::vector<Exiv2::byte> buf(size_t(d.size()));
    if (!buf.empty()) d.copy(buf.data(), Exiv2::littleEndian);
    return std::string(buf.begin(), buf.end());
}

// A tiny JPEG to serve as the EXIF thumbnail.
std::string ThumbnailJpeg() {
    FIBITMAP* b = FreeImage_Allocate(4, 4, 24);
    FIMEMORY* m = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_JPEG, b, m, 90);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(m, &data, &size);
    std::string out(reinterpret_cast<char*>(data), size);
    FreeImage_CloseMemory(m);
    FreeImage_Unload(b);
    return out;
}

}  // namespace

void TagFile(const std::string& path, int orientation) {
    Exiv2::XmpParser::initialize();
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    for (const auto& [key, value] : kCameraTags) {
        if (key.rfind("Exif.", 0) == 0) exif[key] = value;
        else if (key.rfind("Iptc.", 0) == 0) image->iptcData()[key] = value;
        else image->xmpData()[key] = value;
    }
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(6);
    exif["Exif.Photo.PixelYDimension"] = uint32_t(4);
    const std::string thumb = ThumbnailJpeg();
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.data()), long(thumb.size()));
    std::vector<unsigned char> icc = MinimalIccProfile();
    Exiv2::DataBuf profile(icc.data(), long(icc.size()));
    image->setIccProfile(profile, false);
    image->writeMetadata();
}

void WriteTaggedPhoto(const std::string& path, int orientation) {
    PicBufHolder pic = Pattern(6, 4, 3, 8);
    SaveImageFile(&pic.buf, nullptr, path, 95, "", -1);
    TagFile(path, orientation);
}

FileTags ReadTags(const std::string& path) {
    Exiv2::XmpParser::initialize();
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    FileTags tags;
    for (const Exiv2::Exifdatum& d : image->exifData()) tags.values[d.key()] = Bytes(d);
    for (const Exiv2::Iptcdatum& d : image->iptcData()) tags.values[d.key()] = Bytes(d);
    for (const Exiv2::Xmpdatum& d : image->xmpData()) tags.values[d.key()] = d.toString();
    if (image->iccProfileDefined())
        tags.icc.assign(reinterpret_cast<const char*>(image->iccProfile()->pData_), size_t(image->iccProfile()->size_));
    tags.hasThumbnail = Exiv2::ExifThumbC(image->exifData()).copy().size_ > 0;
    return tags;
}
