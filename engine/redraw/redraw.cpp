#include "redraw.h"

#include <algorithm>
#include <new>

#include "edges.h"
#include "parallel.h"
#include "quantize.h"
#include "redraw_steps.h"
#include "row_views.h"

namespace {

// The scales the Details setting gives the two edge operations.
float EdgeBlurScale(const RedrawParams& p) { return p.details / 5.f + 0.2f; }
float StrokeScale(const RedrawParams& p) { return p.details * 0.125f + 1.f; }

bool ValidParams(const RedrawParams& p) { return p.colourMode >= 0 && p.colourMode <= 4; }

bool SupportedPicture(const SBxPicBuf& p) {
    return CBxPicBufAPI::IsValid(p) && (p.bits == 8 || p.bits == 16) && (p.components == 1 || p.components == 3);
}

// An 8-bit version of a 16-bit picture, or the picture itself.
class EightBit {
public:
    explicit EightBit(const SBxPicBuf& p) : picture_(&p) {
        if (p.bits == 8) return;
        if (!CopyConvertedRows(narrow_.buf, p, 8, p.components)) throw std::bad_alloc();
        picture_ = &narrow_.buf;
    }
    const SBxPicBuf& Get() const { return *picture_; }

private:
    PicBufHolder narrow_;
    const SBxPicBuf* picture_;
};

// strokes = max(colour + strokes - 255, 0): black where the strokes are.
void BurnStrokes(SBxPicBuf& strokes, const SBxPicBuf& colour) {
    const size_t row = size_t(colour.width) * colour.components;
    ParallelRows(0, colour.height, [&](int y) {
        const uint8_t* c = colour.Row<uint8_t>(y);
        uint8_t* s = strokes.Row<uint8_t>(y);
        for (size_t i = 0; i < row; ++i) s[i] = uint8_t(std::max(c[i] + s[i] - 255, 0));
    });
}

// The second step on 8-bit pictures.
RepaintStatus DrawEightBit(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap,
                           const RedrawParams& p, StepRunner& run) {
    if (!run.End(kRedrawSteps[kDrawingStart])) return RepaintStatus::Aborted;
    const RepaintStatus drawn = DrawEdges(target, source, edgeMap, p.cut, StrokeScale(p), p.importEdges, run);
    if (drawn != RepaintStatus::Done) return drawn;
    if (!run.End(kRedrawSteps[kStrokes])) return RepaintStatus::Aborted;
    if (!p.importEdges) {
        // The strokes are the result; the colour steps are counted all the same.
        run.End(kRedrawSteps[kColours]);
        return run.End(kRedrawSteps[kComposition]) ? RepaintStatus::Done : RepaintStatus::Aborted;
    }
    // The source's own colours need no copy.
    PicBufHolder colour;
    if (p.colourMode != int(ColourMode::Original)) {
        if (!CopyPicture(colour.buf, source)) throw std::bad_alloc();
        const RepaintStatus quantised = QuantizeColors(colour.buf, p.colourMode, &run.Progress());
        if (quantised != RepaintStatus::Done) return quantised;
    }
    if (!run.End(kRedrawSteps[kColours])) return RepaintStatus::Aborted;
    BurnStrokes(target, colour.Empty() ? source : colour.buf);
    return run.End(kRedrawSteps[kComposition]) ? RepaintStatus::Done : RepaintStatus::Aborted;
}

template <typename Fn>
RepaintStatus Guarded(Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
}

}  // namespace

RepaintStatus BuildRedrawEdgeMap(SBxPicBuf& edgeMap, const SBxPicBuf& source, const RedrawParams& params,
                                 RepaintProgress& progress) {
    if (!SupportedPicture(source)) return RepaintStatus::BadInput;
    if (!ValidParams(params)) return RepaintStatus::BadSettings;
    StepRunner run(progress);
    const CpuSpread spread(static_cast<long long>(source.width) * source.height);
    return Guarded([&] {
        if (!run.End(kRedrawSteps[kEdgeMapStart])) return RepaintStatus::Aborted;
        const EightBit eight(source);
        return BuildEdgeMap(edgeMap, eight.Get(), EdgeBlurScale(params), run);
    });
}

RepaintStatus RedrawWithEdgeMap(SBxPicBuf& target, const SBxPicBuf& source, const SBxPicBuf& edgeMap,
                                const RedrawParams& params, RepaintProgress& progress) {
    if (!ValidParams(params)) return RepaintStatus::BadSettings;
    if (!SupportedPicture(source) || !CBxPicBufAPI::IsValid(edgeMap) ||
        edgeMap.components != 1 || edgeMap.bits != 8 || edgeMap.width != source.width ||
        edgeMap.height != source.height)
        return RepaintStatus::BadInput;
    StepRunner run(progress);
    const CpuSpread spread(static_cast<long long>(source.width) * source.height);
    return Guarded([&] {
        if (source.bits == 8) {
            if (!CBxPicBufAPI::ReinitHeap(target, source)) return RepaintStatus::OutOfMemory;
            return DrawEightBit(target, source, edgeMap, params, run);
        }
        const EightBit eight(source);
        PicBufHolder result;
        const RepaintStatus status = DrawEightBit(result.buf, eight.Get(), edgeMap, params, run);
        if (status != RepaintStatus::Done) return status;
        if (!CopyConvertedRows(target, result.buf, 16, source.components)) return RepaintStatus::OutOfMemory;
        return RepaintStatus::Done;
    });
}

RepaintStatus RunRedraw(SBxPicBuf& target, const SBxPicBuf& source, const RedrawParams& params,
                        RepaintProgress& progress) {
    PicBufHolder edgeMap;
    const RepaintStatus built = BuildRedrawEdgeMap(edgeMap.buf, source, params, progress);
    if (built != RepaintStatus::Done) return built;
    return RedrawWithEdgeMap(target, source, edgeMap.buf, params, progress);
}

int RedrawSteps(int components) { return RedrawStepTotal(components); }
