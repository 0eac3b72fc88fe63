#include "edge_map_prefetch.h"

#include <system_error>
#include <utility>

#include "progress.h"
#include "redraw.h"

void EdgeMapPrefetch::Start(const SBxPicBuf& picture, const RedrawParams& params) {
    Cancel();
    if (!CBxPicBufAPI::ReinitHeap(picture_.buf, picture) || !CBxPicBufAPI::Copy(picture_.buf, picture)) {
        picture_ = PicBufHolder();
        return;
    }
    params_ = params;
    abort_ = false;
    try {
        thread_ = std::thread([this] {
            QuietProgress progress(&abort_);
            status_ = BuildRedrawEdgeMap(map_.buf, picture_.buf, params_, progress);
            picture_ = PicBufHolder();
        });
    } catch (const std::system_error&) {
        picture_ = PicBufHolder();  // no thread: the preview builds the map itself
    }
}

void EdgeMapPrefetch::Join() {
    if (thread_.joinable()) thread_.join();
}

void EdgeMapPrefetch::Cancel() {
    abort_ = true;
    Join();
    map_ = PicBufHolder();
    picture_ = PicBufHolder();
}

bool EdgeMapPrefetch::Take(float details, PicBufHolder& map) {
    if (!Pending() || params_.details != details) {
        Cancel();
        return false;
    }
    Join();
    const bool built = status_ == RepaintStatus::Done && map_.buf.pixels;
    if (built) map = std::move(map_);
    map_ = PicBufHolder();
    return built;
}
