#include "methods.h"

#include "original.h"

namespace {

CliMethod OriginalMethod() {
    CliMethod m;
    m.name = "original";
    m.summary = "smooth along flow lines, flatten areas, sharpen borders";
    m.params.assign(std::begin(kOriginalSpecs), std::end(kOriginalSpecs));
    m.steps = [](int w, int h, const std::vector<int>&) { return OriginalTileCount(w, h) * kOriginalStepsPerTile; };
    m.run = [](SBxPicBuf& dst, const SBxPicBuf& src, const std::vector<int>& pos, RepaintProgress& progress) {
        OriginalPositions p{};
        for (size_t i = 0; i < p.size(); ++i) p[i] = pos[i];
        return RepaintOriginal(dst, src, OriginalParamsFromPositions(p), progress);
    };
    return m;
}

}  // namespace

const std::vector<CliMethod>& CliMethods() {
    static const std::vector<CliMethod> methods = {OriginalMethod()};
    return methods;
}
