// How a decoded picture travels from the decoding child to the program: a
// fixed header followed by the packed picture rows and, when present, the
// packed alpha rows. The reader trusts nothing it has not checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "imagefile.h"

struct DecodedImageHeader {
    char magic[8];
    uint32_t width, height, components, bits, hasAlpha, reserved;
    uint64_t pictureBytes, alphaBytes;
};

constexpr char kDecodedImageMagic[8] = {'Q', 'V', 'P', 'I', 'X', '0', '1', '\0'};

// Where the bytes go, and where they come from (exactly `size` bytes at
// `offset`, false when they are not there).
using DecodedImageSink = std::function<void(const void* data, size_t size)>;
using DecodedImageSource = std::function<bool(uint64_t offset, void* data, size_t size)>;

void WriteDecodedImage(const PictureAndAlpha& image, const DecodedImageSink& sink);
// Checks the header against the limits of a picture the program accepts and
// against the `size` bytes actually there, then copies the pixels. None when
// it does; otherwise the kind of failure, with a reason in `why`.
LoadFailure ReadDecodedImage(const DecodedImageSource& source, uint64_t size, PictureAndAlpha& out, std::string& why);

// Test hook of the helper program's tasks: QUORVANE_DECODE_TEST_FAULT makes
// the task crash, hang or allocate without end (see contained_load.cpp).
void MisbehaveIfAsked(const std::string& path);
