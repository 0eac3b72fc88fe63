// What an image file's own header says, read before any decoder sees the
// file: which of the accepted formats it is and the size of the picture it
// promises. Only BMP (every header version, OS/2 included), PNG, JPEG, TIFF
// and PNM are accepted; a file the decoders would be asked to take on trust
// (a picture too large, far more pixels than the file has bytes for, or
// strips, tiles or run-length data said to lie beyond the file's end) is
// refused here.
#pragma once

#include <cstdint>
#include <string>

#include "load_failure.h"

struct FileHeader {
    bool accepted = false;
    int format = -1;  // FreeImage format code of the content (kFormatBmp …)
    uint64_t width = 0, height = 0;
    unsigned bitsPerPixel = 0;
    std::string refusal;  // why it is not accepted
    LoadFailure failure = LoadFailure::None;  // and its kind
    bool greyWithAlpha = false;  // a TIFF of grey and alpha samples (read by our own TIFF reader)
    // Where the tag number of the first TIFF directory's ICC profile entry
    // lies in the file; 0 when there is none.
    uint64_t tiffProfileTagAt = 0;
    bool littleEndian = false;  // byte order of a TIFF
};

FileHeader ReadFileHeader(const std::string& path);
