// Parameters of the Redraw method and their panel positions.
#pragma once

#include <array>
#include <cstddef>

#include "param_spec.h"

enum class ColourMode { Rough = 0, Normal = 1, Detailed = 2, Smoothed = 3, Original = 4 };

struct RedrawParams {
    float details = 1.f;  // Details position / 10
    float cut = 127.5f;   // Cut position × 2.55
    int colourMode = 1;   // 0 .. 4
    bool importEdges = true;
};

// Names of the colour modes on the command line, in list order.
constexpr const char* kColourModeNames[5] = {"rough", "normal", "detailed", "smoothed", "original"};

enum RedrawSetting { kEdgeDetails, kEdgeCut, kQuantization, kFuseToImage, kRedrawSettingCount };

constexpr ParamGroup kRedrawGroups[] = {{1133, 69}, {1134, 70}};

// The Details label shows position / 10 + 0.5 while the method gets
// position / 10; the Cut label shows the threshold itself. The command line
// lays the strokes over colours unless told otherwise; a first run does not.
constexpr ParamSpec kRedrawSpecs[kRedrawSettingCount] = {
    {"uiEdgeDetails", "details", ParamKind::Slider, 1, 100, 10, 75, nullptr, 10, {1.f, 10.f, 0.5f, 1},
     {1072, 1127, 1117}, -1, 1133},
    {"uiEdgeCut", "cut", ParamKind::Slider, 1, 100, 50, 76, nullptr, 50, {2.55f, 1.f, 0.f, 0}, {1123, 1128, 1125},
     -1, 1133},
    {"uiQuantization", "colors", ParamKind::Choice, 0, 4, 1, 70, kColourModeNames, 1, {}, {1081}, kFuseToImage, 1134,
     63},
    {"uiFuseToImage", "colors", ParamKind::CheckBox, 0, 1, 1, 77, nullptr, 0, {}, {1138}, -1, 1134},
};

using RedrawPositions = std::array<int, kRedrawSettingCount>;

inline RedrawPositions DefaultRedrawPositions() { return DefaultPositions(kRedrawSpecs); }

inline RedrawParams RedrawParamsFromPositions(const RedrawPositions& p) {
    RedrawParams r;
    r.details = float(p[kEdgeDetails]) / 10.f;
    r.cut = float(p[kEdgeCut]) * 2.55f;
    r.colourMode = p[kQuantization];
    r.importEdges = p[kFuseToImage] > 0;
    return r;
}

