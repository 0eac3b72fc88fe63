// Method parameters from the stored panel values, as the previews and the
// job starts take them.
#pragma once

#include <cstddef>

#include "original_params.h"
#include "redraw_params.h"
#include "settings.h"
#include "smudge_params.h"

template <typename Positions, size_t N>
Positions PositionsFrom(UiSettings& ui, const ParamSpec (&specs)[N]) {
    Positions p{};
    for (size_t i = 0; i < N; ++i) {
        const int32_t* field = ui.Field(specs[i].settingsKey);
        p[i] = field ? *field : specs[i].def;
    }
    return p;
}

inline OriginalParams OriginalParamsFrom(UiSettings& ui) {
    return OriginalParamsFromPositions(PositionsFrom<OriginalPositions>(ui, kOriginalSpecs));
}
inline SmudgeParams SmudgeParamsFrom(UiSettings& ui) {
    return SmudgeParamsFromPositions(PositionsFrom<SmudgePositions>(ui, kSmudgeSpecs));
}
inline RedrawParams RedrawParamsFrom(UiSettings& ui) {
    return RedrawParamsFromPositions(PositionsFrom<RedrawPositions>(ui, kRedrawSpecs));
}
