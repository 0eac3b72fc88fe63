#include "redraw.h"

#include <algorithm>
#include <new>

#include "edges.h"
#include "quantize.h"

namespace {

// colour = max(colour + stroke - 255, 0): black where the strokes are.
void BurnStrokes(SBxPicBuf& colour, const SBxPicBuf& strokes) {
    const size_t n = size_t(colour.width) * colour.height * colour.components;
    for (size_t i = 0; i < n; ++i) colour.pixels[i] = uint8_t(std::max(colour.pixels[i] + strokes.pixels[i] - 255, 0));
}

class SilentProgress : public RepaintProgress {
public:
    void Step(int) override {}
    bool AbortRequested() const override { return false; }
};

RepaintStatus RedrawEightBit(SBxPicBuf& target, const SBxPicBuf& source, const RedrawParams& p,
                             RepaintProgress& progress) {
    PicBufHolder edgeMap, colour;
    if (!CBxPicBufAPI::ReinitHeap(edgeMap.buf, source.width, source.height, 1, 8)) throw std::bad_alloc();
    progress.Step(1);
    if (!progress.AbortRequested()) BuildEdgeMap(edgeMap.buf, source, p.details / 5.f + 0.2f, progress);
    progress.Step(1);
    if (!progress.AbortRequested())
        DrawEdges(target, source, edgeMap.buf, p.cut, p.details * 0.125f + 1.f, p.importEdges, progress);
    progress.Step(1);
    if (!CBxPicBufAPI::ReinitHeap(colour.buf, source) || !CBxPicBufAPI::Copy(colour.buf, source))
        throw std::bad_alloc();
    if (p.importEdges && !progress.AbortRequested()) {
        if (p.colourMode != int(ColourMode::Original) && !QuantizeColors(colour.buf, p.colourMode))
            throw std::bad_alloc();
        progress.Step(1);
        if (!progress.AbortRequested()) {
            BurnStrokes(colour.buf, target);
            CBxPicBufAPI::Copy(target, colour.buf);
        }
        progress.Step(1);
    } else {
        progress.Step(2);
    }
    return progress.AbortRequested() ? RepaintStatus::Aborted : RepaintStatus::Done;
}

bool ValidParams(const RedrawParams& p) { return p.colourMode >= 0 && p.colourMode <= 4; }

}  // namespace

RepaintStatus RunRedraw(SBxPicBuf& target, const SBxPicBuf& source, const RedrawParams& params,
                        RepaintProgress& progress) {
    if (!CBxPicBufAPI::IsValid(source) || (source.bits != 8 && source.bits != 16) || !ValidParams(params))
        return RepaintStatus::BadInput;
    try {
        if (source.bits == 8) {
            if (!CBxPicBufAPI::ReinitHeap(target, source)) return RepaintStatus::OutOfMemory;
            return RedrawEightBit(target, source, params, progress);
        }
        PicBufHolder narrow, result;
        if (!CBxPicBufAPI::ReinitHeap(narrow.buf, source) || !CBxPicBufAPI::Copy(narrow.buf, source) ||
            !CBxPicBufAPI::ConvertBpcComp(narrow.buf, 8, source.components) ||
            !CBxPicBufAPI::ReinitHeap(result.buf, narrow.buf))
            return RepaintStatus::OutOfMemory;
        const RepaintStatus status = RedrawEightBit(result.buf, narrow.buf, params, progress);
        if (status != RepaintStatus::Done) return status;
        if (!CBxPicBufAPI::ConvertBpcComp(result.buf, 16, source.components) ||
            !CBxPicBufAPI::ReinitHeap(target, source) || !CBxPicBufAPI::Copy(target, result.buf))
            return RepaintStatus::OutOfMemory;
        return RepaintStatus::Done;
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
}

RepaintStatus RedrawPreview(SBxPicBuf& result, SBxPicBuf& crop, SBxPicBuf& edgeCrop, const RedrawParams& p) {
    if (!CBxPicBufAPI::IsValid(crop) || crop.bits != 8 || !ValidParams(p)) return RepaintStatus::BadInput;
    SilentProgress quiet;
    try {
        DrawEdges(result, crop, edgeCrop, p.cut, p.strokeScale, p.importEdges, quiet);
        if (p.importEdges) {
            if (p.colourMode != int(ColourMode::Original)) QuantizeColors(crop, p.colourMode);
            BurnStrokes(crop, result);
            CBxPicBufAPI::Copy(result, crop);
        }
    } catch (const std::bad_alloc&) {
        return RepaintStatus::OutOfMemory;
    }
    return RepaintStatus::Done;
}
