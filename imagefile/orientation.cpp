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

bool TurnUpright(PicBufHolder& picture, int orientation) {
    if (picture.Empty() || orientation < 2 || orientation > 8) return true;
    const SBxPicBuf& src = picture.buf;
    const bool swapsSides = orientation >= 5;
    PicBufHolder turned;
    if (!CBxPicBufAPI::ReinitHeap(turned.buf, swapsSides ? src.height : src.width,
                                  swapsSides ? src.width : src.height, src.components, src.bits))
        return false;
    const size_t bytes = size_t(src.BytesPerPixel());
    for (int y = 0; y < turned.buf.height; ++y) {
        unsigned char* out = turned.buf.Row<unsigned char>(y);
        for (int x = 0; x < turned.buf.width; ++x, out += bytes) {
            const auto [sx, sy] = StoredPosition(orientation, x, y, src.width, src.height);
            std::memcpy(out, src.Row<unsigned char>(sy) + size_t(sx) * bytes, bytes);
        }
    }
    picture = std::move(turned);
    return true;
}

}  // namespace

bool ApplyOrientation(PictureAndAlpha& image, int orientation) {
    return TurnUpright(image.picture, orientation) && TurnUpright(image.alpha, orientation);
}
