#include "freeimage_guard.h"

#include <FreeImage.h>
#include <tiffio.h>

namespace {

thread_local std::string lastMessage;
thread_local std::string allMessages;

void CollectMessage(FREE_IMAGE_FORMAT fif, const char* message) {
    lastMessage.clear();
    if (fif != FIF_UNKNOWN) {
        const char* name = FreeImage_GetFormatFromFIF(fif);
        if (name) lastMessage = std::string(name) + ": ";
    }
    lastMessage += message ? message : "unknown error";
    allMessages += lastMessage + "\n";
}

struct FreeImageLibrary {
    FreeImageLibrary() {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(CollectMessage);
        // FreeImage reads and writes TIFF through libtiff, which prints a line
        // for every EXIF tag it does not know; whether a file was read or
        // written is told by FreeImage's own results.
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    }
    ~FreeImageLibrary() { FreeImage_DeInitialise(); }
};

}  // namespace

void EnsureFreeImage() { static FreeImageLibrary library; }
void ClearFreeImageMessage() {
    lastMessage.clear();
    allMessages.clear();
}
std::string LastFreeImageMessage() { return lastMessage; }

bool FreeImageReportedDamage() {
    // Decoders that meet truncated or corrupt data often only warn and fill
    // the rest of the picture with grey or black; such a picture is refused.
    static const char* const signs[] = {"Premature end", "Not enough image data", "Read Error", "CRC error",
                                        "Corrupt JPEG data", "truncated", "Truncated", "Unexpected end",
                                        "Read error", "Invalid", "invalid"};
    for (const char* sign : signs)
        if (allMessages.find(sign) != std::string::npos) return true;
    return false;
}
