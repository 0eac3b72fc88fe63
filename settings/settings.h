// The per-user settings file: stored panel values, JPEG quality, crash
// marker; and the language list of the localisation file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "original_params.h"
#include "platform.h"
#include "redraw_params.h"
#include "smudge_params.h"

// The stored panel values; a first run starts from the tables' stored
// defaults.
struct UiSettings {
    int32_t uiFuseToImage = kRedrawSpecs[kFuseToImage].firstRunDefault;
    int32_t uiEdgeDetails = kRedrawSpecs[kEdgeDetails].firstRunDefault;
    int32_t uiEdgeCut = kRedrawSpecs[kEdgeCut].firstRunDefault;
    int32_t uiQuantization = kRedrawSpecs[kQuantization].firstRunDefault;
    int32_t uiDetails = kSmudgeSpecs[kSmudgeDetails].firstRunDefault;
    int32_t uiProlongation = kSmudgeSpecs[kSmudgeProlongation].firstRunDefault;
    int32_t uiSigma = kSmudgeSpecs[kSmudgeSigma].firstRunDefault;
    int32_t uiCycles = 5;
    int32_t uiSmoothAlpha = kOriginalSpecs[kSmoothAlpha].firstRunDefault;
    int32_t uiLocality = 5;
    int32_t uiRelaxation = kOriginalSpecs[kRelaxation].firstRunDefault;
    int32_t uiDoShock = kOriginalSpecs[kDoShock].firstRunDefault;
    int32_t uiDoLoG = kOriginalSpecs[kDoLoG].firstRunDefault;
    int32_t uiDoWeickert = 0;
    int32_t uiFlatten = kOriginalSpecs[kFlatten].firstRunDefault;
    int32_t uiLoGPower = kOriginalSpecs[kLoGPower].firstRunDefault;
    int32_t uiWeickertPower = 10;
    int32_t jpegQuality = 90;

    // The field behind a settings key ("uiSigma" …), or null.
    int32_t* Field(const std::string& key);
    const int32_t* Field(const std::string& key) const;
};

// Calls fn(spec) for every method parameter of the three tables.
template <typename Fn>
void ForEachParamSpec(Fn fn) {
    for (const ParamSpec& s : kOriginalSpecs) fn(s);
    for (const ParamSpec& s : kSmudgeSpecs) fn(s);
    for (const ParamSpec& s : kRedrawSpecs) fn(s);
}

// Puts every stored method parameter into its range, so no edited file can
// hand a method a value it was not made for.
void ClampToParamRanges(UiSettings& ui);

// A method's positions from the stored values.
template <typename Positions, size_t N>
Positions PositionsFrom(const UiSettings& ui, const ParamSpec (&specs)[N]) {
    Positions p{};
    for (size_t i = 0; i < N; ++i) {
        const int32_t* field = ui.Field(specs[i].settingsKey);
        p[i] = field ? ClampPosition(specs[i], *field) : specs[i].firstRunDefault;
    }
    return p;
}
inline OriginalParams OriginalParamsFrom(const UiSettings& ui) {
    return OriginalParamsFromPositions(PositionsFrom<OriginalPositions>(ui, kOriginalSpecs));
}
inline SmudgeParams SmudgeParamsFrom(const UiSettings& ui) {
    return SmudgeParamsFromPositions(PositionsFrom<SmudgePositions>(ui, kSmudgeSpecs));
}
inline RedrawParams RedrawParamsFrom(const UiSettings& ui) {
    return RedrawParamsFromPositions(PositionsFrom<RedrawPositions>(ui, kRedrawSpecs));
}

struct SettingKey {
    const char* key;
    int32_t UiSettings::*field;
    const char* fallback;
};

// The seventeen stored values, in the order they are read and written.
extern const SettingKey kSettingKeys[17];

struct LanguageEntry {
    std::string name;
    std::string acronym;  // at most 15 characters
};

struct SettingsPaths {
    std::string folder;            // created before every read or write
    std::string settingsFile;      // <folder>/Quorvane.txt
    std::string localisationFile;  // Quorvane_loc.ini
};

// $XDG_CONFIG_HOME/Quorvane (default ~/.config/Quorvane; %APPDATA%\Quorvane on
// Windows) and the localisation file of the running executable.
SettingsPaths DefaultSettingsPaths();
// The localisation file beside an executable in `executableFolder` (a build
// tree), else the one of the installed data folder next to it
// (<prefix>/share/quorvane for <prefix>/bin); the path beside it when neither
// exists.
std::string FindLocalisationFile(const std::string& executableFolder);

struct AppSettings {
    UiSettings ui;
    UiSettings asLoaded;  // the values as last read, to tell what the user changed
    uint8_t crashFlag = 0;  // low byte of "Crashed Last Time" as read at start
    int languageCount = 0;
    int currentLanguage = 0;
    std::vector<LanguageEntry> languages;
};

// Reads the language list and the settings file; marks the run as started
// ("Crashed Last Time" = 1) until SaveSettings.
void LoadSettings(AppSettings& settings, const SettingsPaths& paths);
// The stored panel values as the program would take them at start (missing
// keys at their defaults, all within range), without touching the file.
UiSettings ReadStoredPanelValues(const SettingsPaths& paths);
// Reads the file again (the Options dialog does): the language list, and
// the file's value of every setting the user has not changed since it was
// last read; changed values are kept.
void ReloadSettings(AppSettings& settings, const SettingsPaths& paths);
// Writes the seventeen values and "Crashed Last Time": 0, unless another
// running instance still holds the marker (`othersRunning`).
bool SaveSettings(const AppSettings& settings, const SettingsPaths& paths, bool othersRunning = false);

// The lock of the running program in the settings folder, so that a second
// instance does not take the first for a crash.
std::unique_ptr<InstanceLock> LockAgainstOtherInstances(const SettingsPaths& paths);
// The save dialog's own read of the JPEG quality (default 85, no bound) and
// its write-back after a successful save.
int32_t ReadJpegQuality(const SettingsPaths& paths);
bool WriteJpegQuality(const SettingsPaths& paths, uint32_t quality);

// Stores the chosen language in the user's settings file, whose value wins
// over the localisation file's at start. The localisation file is read-only
// data shared by every user of an installation; its "Language Current" is
// only the default for users who never chose.
void StoreCurrentLanguage(const SettingsPaths& paths, int language);
