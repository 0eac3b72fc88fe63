#include "bench_stages.h"

#include "patch_filter.h"
#include "row_views.h"

void BenchPatchFilter(SBxPicBuf& dst, const SBxPicBuf& src) {
    PicBufHolder channel;
    CBxPicBufAPI::ReinitHeap(channel.buf, src.width, src.height, 1, 8);
    EachRowOf(channel.buf, src,
              [](SBxPicBuf& to, const SBxPicBuf& from) { CBxPicBufAPI::ExtractComponent(to, 0, from); });
    SmoothPatchWeighted(dst, channel.buf, 150, 1.0);
}
