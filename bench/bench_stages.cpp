#include "bench_stages.h"

#include "patch_filter.h"

void BenchPatchFilter(SBxPicBuf& dst, const SBxPicBuf& src) {
    PicBufHolder channel;
    CBxPicBufAPI::ReinitHeap(channel.buf, src.width, src.height, 1, 8);
    CBxPicBufAPI::ExtractComponent(channel.buf, 0, src);
    SmoothPatchWeighted(dst, channel.buf, 150, 1.0);
}
