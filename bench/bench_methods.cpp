#include "bench_methods.h"

#include "original.h"

const std::vector<BenchMethod>& BenchMethods() {
    static const std::vector<BenchMethod> methods = {
        {"original",
         [](SBxPicBuf& dst, const SBxPicBuf& src, RepaintProgress& progress) {
             RepaintOriginal(dst, src, OriginalParamsFromPositions(DefaultOriginalPositions()), progress);
         }},
    };
    return methods;
}
