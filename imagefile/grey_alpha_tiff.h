// Grey TIFF pictures with an alpha channel, read with libtiff itself:
// FreeImage drops (8 bits) or garbles (16 bits) their transparency.
#pragma once

#include <string>

#include "imagefile.h"

// Reads an 8- or 16-bit grey + alpha TIFF (stripped or tiled, samples
// interleaved or in separate planes, any compression libtiff reads) into a
// grey picture and its alpha plane. Associated (premultiplied) alpha is
// divided out; white-is-zero grey is turned round. None on success.
LoadFailure ReadGreyAlphaTiff(const std::string& path, PictureAndAlpha& out, const PictureAllocator& allocate,
                              std::string& why);
