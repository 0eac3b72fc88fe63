// How a decoded picture travels from the decoding child to the program: the
// shared result file starts with a fixed header, followed by the packed
// picture rows and, when present, the packed alpha rows, each starting on a
// boundary that every page size divides. The child decodes straight into
// that file and the program maps it as the picture's own pixels, so that a
// large picture is never copied on its way. The program trusts nothing it
// has not checked.
#pragma once

#include <cstdint>
#include <string>

#include "contained.h"
#include "imagefile.h"

struct DecodedImageHeader {
    char magic[8];
    uint32_t width, height, components, bits, hasAlpha, reserved;
    uint64_t pictureOffset, pictureBytes, alphaOffset, alphaBytes;
};

constexpr char kDecodedImageMagic[8] = {'Q', 'V', 'P', 'I', 'X', '0', '2', '\0'};
constexpr uint64_t kDecodedImageAlignment = 64 * 1024;

// Where everything of a picture of `layout` lies in the result file.
DecodedImageHeader DecodedImageLayout(const PictureLayout& layout);
// The result file's size for that header: the end of its last area.
uint64_t DecodedImageSize(const DecodedImageHeader& h);

// The child's side: makes `image` a picture of `layout` whose pixels lie in
// the result file, after writing the file's header. False when memory does
// not allow it.
bool AllocateInDecodedImage(ContainedOutput& out, const PictureLayout& layout, PictureAndAlpha& image);

// The program's side: checks the header against the limits of a picture the
// program accepts and against the bytes actually there, forbids any further
// change of the result, then takes its pixels without copying them. None
// when it does; otherwise the kind of failure, with a reason in `why`.
LoadFailure ReadDecodedImage(const SharedResult& result, PictureAndAlpha& out, std::string& why);

// Test hook of the helper program's tasks: QUORVANE_DECODE_TEST_FAULT makes
// the task crash, hang or allocate without end (see contained_load.cpp).
void MisbehaveIfAsked(const std::string& path);
