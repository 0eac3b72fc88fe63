// How a decoded picture travels from the decoding child to the program. The
// shared result file starts with a fixed header that says the picture's
// layout and where its rows lie in the child's memory; the child waits while
// the program copies them straight into its own picture. Where the system
// does not allow that, the child writes the packed picture rows and, when
// present, the packed alpha rows into the file after the header, each
// starting on a boundary that every page size divides, and the program maps
// them as the picture's own pixels. The program trusts nothing it has not
// checked: the addresses only ever name memory of the child to be read.
#pragma once

#include <cstdint>
#include <string>

#include "contained.h"
#include "imagefile.h"

struct DecodedImageHeader {
    char magic[8];
    uint32_t width, height, components, bits, hasAlpha, reserved;
    uint64_t pictureOffset, pictureBytes, alphaOffset, alphaBytes;
    // In the child: the first row of each plane and the distance from one
    // row to the next (negative for rows stored bottom-up).
    uint64_t pictureAddress, alphaAddress;
    int64_t pictureStride, alphaStride;
};

constexpr char kDecodedImageMagic[8] = {'Q', 'V', 'P', 'I', 'X', '0', '3', '\0'};
constexpr uint64_t kDecodedImageAlignment = 64 * 1024;

// Where everything of a picture of `layout` lies in the result file.
DecodedImageHeader DecodedImageLayout(const PictureLayout& layout);
// The result file's size for that header: the end of its last area.
uint64_t DecodedImageSize(const DecodedImageHeader& h);

// The program's side, while the child waits: checks the header against the
// limits of a picture the program accepts, then copies the rows from the
// child's memory into a picture of its own. None when it does; otherwise the
// kind of failure, with a reason in `why`. `notPermitted` is set (and the
// picture left empty) when the system does not let this process read the
// child's memory.
LoadFailure CollectDecodedImage(const ContainedChild& child, PictureAndAlpha& out, std::string& why,
                                bool& notPermitted);

// The program's side once the child wrote its pixels into the result file:
// checks the header as above and against the bytes actually there, forbids
// any further change of the result, then takes its pixels without copying
// them.
LoadFailure ReadDecodedImage(const SharedResult& result, PictureAndAlpha& out, std::string& why);

// Test hook of the helper program's tasks: QUORVANE_DECODE_TEST_FAULT makes
// the task crash, hang or allocate without end (see contained_load.cpp).
void MisbehaveIfAsked(const std::string& path);
