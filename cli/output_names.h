// Where quorvane-cli writes each result.
#pragma once

#include <string>

#include "picbuf.h"

// Extension (with dot) for a FreeImage format code.
std::string ExtensionFor(int format);
// The format to write: the requested one, else the input's when it can hold
// the picture, else PNG.
int ChooseOutputFormat(int requested, const std::string& input, const SBxPicBuf& picture);
// "photo.jpg" -> "photo-repainted.jpg" in `folder` (or beside the input).
std::string DefaultOutputPath(const std::string& input, const std::string& folder, int format);
