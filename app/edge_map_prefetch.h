// Builds Redraw's edge map of the opened picture on a thread of its own, so
// that the first Redraw preview of a large photo finds it ready instead of
// building it first. No Qt here.
#pragma once

#include <atomic>
#include <thread>

#include "engine_status.h"
#include "picbuf.h"
#include "redraw_params.h"

class EdgeMapPrefetch {
public:
    EdgeMapPrefetch() = default;
    EdgeMapPrefetch(const EdgeMapPrefetch&) = delete;
    EdgeMapPrefetch& operator=(const EdgeMapPrefetch&) = delete;
    ~EdgeMapPrefetch() { Cancel(); }

    // Starts building the map of a copy of `picture` with `params` (only
    // Details matters); a build under way is cancelled first. Does nothing
    // when the copy cannot be made.
    void Start(const SBxPicBuf& picture, const RedrawParams& params);
    // Stops a build under way and forgets the map; returns once the thread
    // has ended.
    void Cancel();
    // Hands over the map built for `details`, waiting for the build to end
    // if it is still running. False (and nothing kept) when there is none for
    // these details.
    bool Take(float details, PicBufHolder& map);
    // True while a build is running or its map waits to be taken.
    bool Pending() const { return thread_.joinable() || map_.buf.pixels; }

private:
    void Join();

    std::thread thread_;
    std::atomic<bool> abort_{false};
    PicBufHolder picture_, map_;  // the thread's own; read here only after joining it
    RedrawParams params_{};
    RepaintStatus status_ = RepaintStatus::Aborted;
};
