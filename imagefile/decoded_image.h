// How a decoded picture travels from the decoding child to the program: a
// fixed header followed by the packed picture rows and, when present, the
// packed alpha rows. The reader trusts nothing it has not checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imagefile.h"

struct DecodedImageHeader {
    char magic[8];
    uint32_t width, height, components, bits, hasAlpha, reserved;
    uint64_t pictureBytes, alphaBytes;
};

constexpr char kDecodedImageMagic[8] = {'Q', 'V', 'P', 'I', 'X', '0', '1', '\0'};

size_t DecodedImageSize(const PictureAndAlpha& image);
// Writes the image into `dst`, which holds DecodedImageSize(image) bytes.
void WriteDecodedImage(const PictureAndAlpha& image, uint8_t* dst);
// Checks the header against the limits of a picture the program accepts and
// against the bytes actually there, then copies the pixels. False with a
// reason when anything does not add up.
bool ReadDecodedImage(const uint8_t* data, size_t size, PictureAndAlpha& out, std::string& why);
