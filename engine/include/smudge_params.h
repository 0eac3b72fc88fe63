// Parameters of the Smudge method and their panel positions.
#pragma once

#include <array>
#include <cstddef>

#include "param_spec.h"

struct SmudgeParams {
    float sharpness = 0.25f;  // 0 .. 0.495
    float alpha = 0.4f;       // 0.04 .. 4
    float sigma = 4.f;        // 1 .. 11
};

enum SmudgeSetting { kSmudgeDetails, kSmudgeProlongation, kSmudgeSigma, kSmudgeSettingCount };

// The value labels show the raw positions.
constexpr ParamSpec kSmudgeSpecs[kSmudgeSettingCount] = {
    {"uiDetails", "details", ParamKind::Slider, 1, 100, 10, 57, nullptr, 10, {}, {1072, 1127, 1117}},
    {"uiProlongation", "prolongation", ParamKind::Slider, 1, 100, 50, 58, nullptr, 50, {}, {1123, 1128, 1125}},
    {"uiSigma", "sigma", ParamKind::Slider, 0, 100, 30, 59, nullptr, 30, {}, {1124, 1114, 1126}},
};

using SmudgePositions = std::array<int, kSmudgeSettingCount>;

inline SmudgePositions DefaultSmudgePositions() { return DefaultPositions(kSmudgeSpecs); }

inline SmudgeParams SmudgeParamsFromPositions(const SmudgePositions& p) {
    SmudgeParams s;
    s.sharpness = (100.f - float(p[kSmudgeProlongation])) / 200.f;
    s.alpha = float(p[kSmudgeDetails]) / 25.f;
    s.sigma = float(p[kSmudgeSigma]) / 10.f + 1.f;
    return s;
}
