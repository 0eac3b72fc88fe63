// One declaration per method parameter: its settings key, its command-line
// option, its range and default, in slider positions. The panels, the
// settings file, the command-line tool and the jobs all read these tables.
#pragma once

#include <array>
#include <cstddef>

enum class ParamKind { Slider, CheckBox, Choice };

struct ParamSpec {
    const char* settingsKey;
    const char* option;  // command-line name; for a check box, "--no-<option>" turns it off
    ParamKind kind;
    int min, max, def;
    int textKey;         // text-table entry of the control's label
    const char* const* choices = nullptr;  // names of a Choice's entries, min .. max
};

inline int ClampPosition(const ParamSpec& s, int v) { return v < s.min ? s.min : v > s.max ? s.max : v; }

// Every parameter at its default position.
template <std::size_t N>
std::array<int, N> DefaultPositions(const ParamSpec (&specs)[N]) {
    std::array<int, N> p{};
    for (std::size_t i = 0; i < N; ++i) p[i] = specs[i].def;
    return p;
}
