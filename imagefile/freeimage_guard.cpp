#include "freeimage_guard.h"

#include <FreeImage.h>

namespace {

thread_local std::string lastMessage;

void CollectMessage(FREE_IMAGE_FORMAT fif, const char* message) {
    lastMessage.clear();
    if (fif != FIF_UNKNOWN) {
        const char* name = FreeImage_GetFormatFromFIF(fif);
        if (name) lastMessage = std::string(name) + ": ";
    }
    lastMessage += message ? message : "unknown error";
}

struct FreeImageLibrary {
    FreeImageLibrary() {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(CollectMessage);
    }
    ~FreeImageLibrary() { FreeImage_DeInitialise(); }
};

}  // namespace

void EnsureFreeImage() { static FreeImageLibrary library; }
void ClearFreeImageMessage() { lastMessage.clear(); }
std::string LastFreeImageMessage() { return lastMessage; }
