// Reads a picture file on a worker thread while the interface goes on
// painting and answering the window manager; the caller waits in a local
// event loop, so opening keeps its simple synchronous shape.
#pragma once

#include <atomic>
#include <string>

#include "imagefile.h"

class BackgroundLoad {
public:
    // Returns when the file is read, refused or the load cancelled.
    LoadResult Run(const std::string& path);
    // From the interface thread while Run waits (a close of the window).
    void Cancel() { cancelled_.store(true); }

private:
    std::atomic<bool> cancelled_{false};
};
