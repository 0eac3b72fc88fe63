// One declaration per method parameter: its settings key, its command-line
// option, its range, its two defaults (the Default button's position and the
// first-run position of the settings file), its panel control and value label.
// The panels, the settings file, the command-line tool and the jobs all read
// these tables.
#pragma once

#include <array>
#include <cstddef>

enum class ParamKind { Slider, CheckBox, Choice };

// The number a slider's value label shows: position × mul ÷ div + add, in
// single precision like the method parameters, printed with `decimals`.
struct ValueLabel {
    float mul = 1.f, div = 1.f, add = 0.f;
    int decimals = 0;
    float Of(int position) const { return float(position) * mul / div + add; }
};

// Control numbers of a parameter's widgets in its panel (0: none).
struct ControlIds {
    int control = 0;  // slider, check box or list
    int caption = 0;  // static label above a slider
    int value = 0;    // value label beside a slider
};

struct ParamSpec {
    const char* settingsKey;
    const char* option;  // command-line name; for a check box, "--no-<option>" turns it off
    ParamKind kind;
    int min, max;
    int buttonDefault;   // the position the panel's Default button sets
    int textKey;         // text-table entry of the control's label (a Choice: of its frame)
    const char* const* choices = nullptr;  // names of a Choice's entries, min .. max
    int firstRunDefault = 0;  // the position a new user starts from: the settings file has no key
    ValueLabel label{};
    ControlIds ids{};
    int enabledBy = -1;      // index of the check box that switches this control on
    int group = 0;           // control number of the frame it sits in (0: none)
    int firstChoiceKey = 0;  // text-table entry of a Choice's first entry
};

// A frame of a panel: its control number and its title's text-table entry.
struct ParamGroup {
    int id;
    int textKey;
};

inline int ClampPosition(const ParamSpec& s, int v) { return v < s.min ? s.min : v > s.max ? s.max : v; }

// Every parameter at its Default-button position.
template <std::size_t N>
std::array<int, N> DefaultPositions(const ParamSpec (&specs)[N]) {
    std::array<int, N> p{};
    for (std::size_t i = 0; i < N; ++i) p[i] = specs[i].buttonDefault;
    return p;
}
