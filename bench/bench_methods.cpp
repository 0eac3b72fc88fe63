#include "bench_methods.h"

#include "bench_stages.h"
#include "original.h"
#include "redraw.h"
#include "smudge.h"

const std::vector<BenchMethod>& BenchMethods() {
    static const std::vector<BenchMethod> methods = {
        {"original",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RepaintOriginal(dst, src, OriginalParamsFromPositions(DefaultOriginalPositions()), progress);
         },
         // The panel keeps its buffers from one preview to the next; a move
         // of the smoothness or weak-edge slider builds the tables again,
         // which every timed preview here does.
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             static OriginalPreviewCache cache;
             cache.ForgetTables();
             cache.Repaint(dst, src, OriginalParamsFromPositions(DefaultOriginalPositions()), progress);
         }},
        {"smudge",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RepaintSmudge(dst, src, SmudgeParamsFromPositions(DefaultSmudgePositions()), progress);
         },
         {}},
        {"redraw",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RunRedraw(dst, src, RedrawParamsFromPositions(DefaultRedrawPositions()), progress);
         },
         {}},
        // The patch-weighted filter alone, on the picture's first channel.
        {"patchfilter",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress&) { BenchPatchFilter(dst, src); }, {}},
    };
    return methods;
}
