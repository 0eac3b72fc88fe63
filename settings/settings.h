// The per-user settings file: stored panel values, JPEG quality, crash
// marker; and the language list of the localisation file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UiSettings {
    int32_t uiFuseToImage = 0;
    int32_t uiEdgeDetails = 10;
    int32_t uiEdgeCut = 50;
    int32_t uiQuantization = 1;
    int32_t uiDetails = 10;
    int32_t uiProlongation = 50;
    int32_t uiSigma = 30;
    int32_t uiCycles = 5;
    int32_t uiSmoothAlpha = 5;
    int32_t uiLocality = 5;
    int32_t uiRelaxation = 20;
    int32_t uiDoShock = 0;
    int32_t uiDoLoG = 1;
    int32_t uiDoWeickert = 0;
    int32_t uiFlatten = 20;
    int32_t uiLoGPower = 10;
    int32_t uiWeickertPower = 10;
    int32_t jpegQuality = 90;

    // The field behind a settings key ("uiSigma" …), or null.
    int32_t* Field(const std::string& key);
};

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
    uint8_t crashFlag = 0;  // low byte of "Crashed Last Time" as read at start
    int languageCount = 0;
    int currentLanguage = 0;
    std::vector<LanguageEntry> languages;
};

// Reads the language list and the settings file; marks the run as started
// ("Crashed Last Time" = 1) until SaveSettings.
void LoadSettings(AppSettings& settings, const SettingsPaths& paths);
// Writes "Crashed Last Time" = 0 and the seventeen values.
bool SaveSettings(const AppSettings& settings, const SettingsPaths& paths);

// The save dialog's own read of the JPEG quality (default 85, no bound) and
// its write-back after a successful save.
int32_t ReadJpegQuality(const SettingsPaths& paths);
bool WriteJpegQuality(const SettingsPaths& paths, uint32_t quality);

// Stores the chosen language in the user's settings file, whose value wins
// over the localisation file's at start. The localisation file is read-only
// data shared by every user of an installation; its "Language Current" is
// only the default for users who never chose.
void StoreCurrentLanguage(const SettingsPaths& paths, int language);
