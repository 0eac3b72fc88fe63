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

constexpr ParamGroup kOriginalGroups[] = {{1111, 53}, {1112, 30}};

constexpr ParamSpec kOriginalSpecs[kOriginalSettingCount] = {
    {"uiSmoothAlpha", "smoothness", ParamKind::Slider, 1, 20, 14, 31, nullptr, 5, {0.25f, 1.f, 0.f, 2},
     {1101, 1113, 1116}, -1, 1111},
    {"uiRelaxation", "weak-edges", ParamKind::Slider, 0, 25, 5, 33, nullptr, 20, {4.f, 1.f, 0.f, 0},
     {1104, 1115, 1118}, -1, 1111},
    {"uiFlatten", "flattening", ParamKind::Slider, 1, 20, 4, 13, nullptr, 20, {1.f, 40.f, 0.05f, 2},
     {1105, 0, 1120}, kDoShock, 1112},
    {"uiLoGPower", "sharpening", ParamKind::Slider, 1, 20, 5, 14, nullptr, 10, {2.f, 1.f, 0.f, 0},
     {1106, 0, 1121}, kDoLoG, 1112},
    {"uiDoShock", "flattening", ParamKind::CheckBox, 0, 1, 1, 13, nullptr, 0, {}, {1119}, -1, 1112},
    {"uiDoLoG", "sharpening", ParamKind::CheckBox, 0, 1, 1, 14, nullptr, 1, {}, {1089}, -1, 1112},
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
