#pragma once

#include <string>

// Initialises FreeImage on first use and releases it at process exit; also
// collects FreeImage's error messages for the calling thread.
void EnsureFreeImage();
void ClearFreeImageMessage();
std::string LastFreeImageMessage();
// True when a decoder warned about damaged data since the last clear.
bool FreeImageReportedDamage();
