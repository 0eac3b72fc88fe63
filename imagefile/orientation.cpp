// Turning pictures upright by their EXIF orientation.
#include <cstring>
#include <utility>

#include "imagefile.h"

namespace {

// Where the upright pixel (x, y) lies in the stored picture of size w × h.
std::pair<int, int> StoredPosition(int orientation, int x, int y, int w, int h) {
    switch (orientation) {
        case 2: return {w - 1 - x, y};          // mirrored left to right
        case 3: return {w - 1 - x, h - 1 - y};  // turned half round
        case 4: return {x, h - 1 - y};          // mirrored top to bottom
        case 5: return {y, x};                  // mirrored along the main diagonal
        case 6: return {y, h - 1 - x};          // to be turned a quarter clockwise
        case 7: return {w - 1 - y, h - 1 - x};  // mirrored along the other diagonal
        case 8: return {w - 1 - y, x};          // to be turned a quarter anticlockwise
        default: return {x, y};
    }
}

void TurnUpright(const SBxPicBuf& src, SBxPicBuf& turned, int orientation) {
    const size_t bytes = size_t(src.BytesPerPixel());
    for (int y = 0; y < turned.height; ++y) {
        unsigned char* out = turned.Row<unsigned char>(y);
        for (int x = 0; x < turned.width; ++x, out += bytes) {
            const auto [sx, sy] = StoredPosition(orientation, x, y, src.width, src.height);
            std::memcpy(out, src.Row<unsigned char>(sy) + size_t(sx) * bytes, bytes);
        }
    }
}

}  // namespace

bool ApplyOrientation(PictureAndAlpha& image, int orientation, const PictureAllocator& allocate) {
    if (image.picture.Empty() || orientation < 2 || orientation > 8) return true;
    const SBxPicBuf& src = image.picture.buf;
    const bool swapsSides = orientation >= 5;
    PictureLayout layout;
    layout.width = swapsSides ? src.height : src.width;
    layout.height = swapsSides ? src.width : src.height;
    layout.components = src.components;
    layout.bits = src.bits;
    layout.alpha = !image.alpha.Empty();
    PictureAndAlpha turned;
    if (!allocate(layout, turned)) return false;
    TurnUpright(image.picture.buf, turned.picture.buf, orientation);
    if (layout.alpha) TurnUpright(image.alpha.buf, turned.alpha.buf, orientation);
    image = std::move(turned);
    return true;
}
