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

constexpr ParamSpec kRedrawSpecs[kRedrawSettingCount] = {
    {"uiEdgeDetails", "details", ParamKind::Slider, 1, 100, 10, 75},
    {"uiEdgeCut", "cut", ParamKind::Slider, 1, 100, 50, 76},
    {"uiQuantization", "colors", ParamKind::Choice, 0, 4, 1, 70, kColourModeNames},
    {"uiFuseToImage", "colors", ParamKind::CheckBox, 0, 1, 1, 77},
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
