// Parameters of the Original method and their panel positions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "param_spec.h"

struct OriginalParams {
    uint8_t flattenOn = 1;
    uint8_t sharpenOn = 1;
    float smoothness = 3.5f;       // 0.25 .. 5.00
    float weakThreshold = 20.f;    // 0 .. 100
    float flattening = 0.15f;      // 0.075 .. 0.55
    float sharpenStrength = 10.f;  // 2 .. 40
};

enum OriginalSetting { kSmoothAlpha, kRelaxation, kFlatten, kLoGPower, kDoShock, kDoLoG, kOriginalSettingCount };

constexpr ParamSpec kOriginalSpecs[kOriginalSettingCount] = {
    {"uiSmoothAlpha", "smoothness", ParamKind::Slider, 1, 20, 14, 31},
    {"uiRelaxation", "weak-edges", ParamKind::Slider, 0, 25, 5, 33},
    {"uiFlatten", "flattening", ParamKind::Slider, 1, 20, 4, 13},
    {"uiLoGPower", "sharpening", ParamKind::Slider, 1, 20, 5, 14},
    {"uiDoShock", "flattening", ParamKind::CheckBox, 0, 1, 1, 13},
    {"uiDoLoG", "sharpening", ParamKind::CheckBox, 0, 1, 1, 14},
};

using OriginalPositions = std::array<int, kOriginalSettingCount>;

inline OriginalPositions DefaultOriginalPositions() { return DefaultPositions(kOriginalSpecs); }

// The panel's conversion, in single precision.
inline OriginalParams OriginalParamsFromPositions(const OriginalPositions& p) {
    OriginalParams o;
    o.flattenOn = p[kDoShock] != 0;
    o.sharpenOn = p[kDoLoG] != 0;
    o.smoothness = float(p[kSmoothAlpha]) * 0.25f;
    o.weakThreshold = float(p[kRelaxation]) * 4.f;
    o.flattening = float(p[kFlatten]) / 40.f + 0.05f;
    o.sharpenStrength = float(p[kLoGPower]) * 2.f;
    return o;
}
