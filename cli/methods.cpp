#include "methods.h"

#include "original.h"
#include "redraw.h"
#include "smudge.h"

namespace {

template <typename Positions>
Positions ToPositions(const std::vector<int>& pos);

CliMethod OriginalMethod() {
    CliMethod m;
    m.name = "original";
    m.summary = "smooth along flow lines, flatten areas, sharpen borders";
    m.params.assign(std::begin(kOriginalSpecs), std::end(kOriginalSpecs));
    m.steps = [](int w, int h, int) { return OriginalSteps(w, h); };
    m.run = [](SBxPicBuf& dst, const SBxPicBuf& src, const std::vector<int>& pos, RepaintProgress& progress) {
        return RepaintOriginal(dst, src, OriginalParamsFromPositions(ToPositions<OriginalPositions>(pos)), progress);
    };
    return m;
}

template <typename Positions>
Positions ToPositions(const std::vector<int>& pos) {
    Positions p{};
    for (size_t i = 0; i < p.size(); ++i) p[i] = pos[i];
    return p;
}

CliMethod SmudgeMethod() {
    CliMethod m;
    m.name = "smudge";
    m.summary = "smear the colours along the structure of the picture";
    m.params.assign(std::begin(kSmudgeSpecs), std::end(kSmudgeSpecs));
    m.steps = [](int w, int h, int c) { return SmudgeSteps(w, h, c); };
    m.run = [](SBxPicBuf& dst, const SBxPicBuf& src, const std::vector<int>& pos, RepaintProgress& progress) {
        return RepaintSmudge(dst, src, SmudgeParamsFromPositions(ToPositions<SmudgePositions>(pos)), progress);
    };
    return m;
}

CliMethod RedrawMethod() {
    CliMethod m;
    m.name = "redraw";
    m.summary = "pen strokes over smoothed, softly quantised colours";
    m.params.assign(std::begin(kRedrawSpecs), std::end(kRedrawSpecs));
    m.steps = [](int, int, int c) { return RedrawSteps(c); };
    m.run = [](SBxPicBuf& dst, const SBxPicBuf& src, const std::vector<int>& pos, RepaintProgress& progress) {
        return RunRedraw(dst, src, RedrawParamsFromPositions(ToPositions<RedrawPositions>(pos)), progress);
    };
    return m;
}

}  // namespace

const std::vector<CliMethod>& CliMethods() {
    static const std::vector<CliMethod> methods = {OriginalMethod(), SmudgeMethod(), RedrawMethod()};
    return methods;
}
