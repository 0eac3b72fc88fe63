// Photographs with camera tags, written and read back with Exiv2, for the
// metadata tests of the image-file code and the command-line tool.
#pragma once

#include <map>
#include <string>

// The tags a camera and a photographer put into a file.
extern const std::map<std::string, std::string> kCameraTags;

// Writes a 6 × 4 colour picture with kCameraTags (EXIF, IPTC, XMP), an EXIF
// thumbnail, an ICC profile and the given EXIF orientation. The format comes
// from the name's extension.
void WriteTaggedPhoto(const std::string& path, int orientation = 1);
// Adds the tags above to an existing JPEG, PNG or TIFF file.
void TagFile(const std::string& path, int orientation);

struct FileTags {
    std::map<std::string, std::string> values;  // every EXIF, IPTC and XMP key: its bytes
    std::string icc;
    bool hasThumbnail = false;
};
FileTags ReadTags(const std::string& path);
