#include "bench_methods.h"

#include "original.h"
#include "patch_filter.h"
#include "redraw.h"
#include "smudge.h"

const std::vector<BenchMethod>& BenchMethods() {
    static const std::vector<BenchMethod> methods = {
        {"original",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RepaintOriginal(dst, src, OriginalParamsFromPositions(DefaultOriginalPositions()), progress);
         }},
        {"smudge",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RepaintSmudge(dst, src, SmudgeParamsFromPositions(DefaultSmudgePositions()), progress);
         }},
        {"redraw",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RunRedraw(dst, src, RedrawParamsFromPositions(DefaultRedrawPositions()), progress);
         }},
        // The patch-weighted filter alone, on the picture's first channel.
        {"patchfilter",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress&) {
             PicBufHolder channel;
             CBxPicBufAPI::ReinitHeap(channel.buf, src.width, src.height, 1, 8);
             CBxPicBufAPI::ExtractComponent(channel.buf, 0, src);
             SmoothPatchWeighted(dst, channel.buf, 150, 1.0);
         }},
    };
    return methods;
}
