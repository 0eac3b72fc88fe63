#include "settings.h"

#include <algorithm>
#include <filesystem>

#include "ini_file.h"
#include "platform.h"

namespace fs = std::filesystem;

// A method parameter's fallback is its table's stored default; the four
// values no method reads keep their own.
const SettingKey kSettingKeys[17] = {
    {"uiFuseToImage", &UiSettings::uiFuseToImage, nullptr},
    {"uiEdgeDetails", &UiSettings::uiEdgeDetails, nullptr},
    {"uiEdgeCut", &UiSettings::uiEdgeCut, nullptr},
    {"uiQuantization", &UiSettings::uiQuantization, nullptr},
    {"uiDetails", &UiSettings::uiDetails, nullptr},
    {"uiProlongation", &UiSettings::uiProlongation, nullptr},
    {"uiSigma", &UiSettings::uiSigma, nullptr},
    {"uiCycles", &UiSettings::uiCycles, "5"},
    {"uiSmoothAlpha", &UiSettings::uiSmoothAlpha, nullptr},
    {"uiLocality", &UiSettings::uiLocality, "5"},
    {"uiRelaxation", &UiSettings::uiRelaxation, nullptr},
    {"uiDoShock", &UiSettings::uiDoShock, nullptr},
    {"uiDoLoG", &UiSettings::uiDoLoG, nullptr},
    {"uiDoWeickert", &UiSettings::uiDoWeickert, "0"},
    {"uiFlatten", &UiSettings::uiFlatten, nullptr},
    {"uiLoGPower", &UiSettings::uiLoGPower, nullptr},
    {"uiWeickertPower", &UiSettings::uiWeickertPower, "10"},
};

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kProduct = "Quorvane";
constexpr int kMaxLanguages = 100;
constexpr const char* kLocalisationName = "Quorvane_loc.ini";

void CreateFolder(const SettingsPaths& paths) {
    std::error_code ec;
    fs::create_directories(paths.folder, ec);
}

std::string Utf8Prefix(const std::string& s, size_t chars) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == chars) return s.substr(0, i);
    return s;
}

std::string Fallback(const SettingKey& k) {
    if (k.fallback) return k.fallback;
    std::string value;
    ForEachParamSpec([&](const ParamSpec& s) {
        if (std::string(s.settingsKey) == k.key) value = std::to_string(s.firstRunDefault);
    });
    return value;
}

void ReadLanguages(AppSettings& s, const SettingsPaths& paths, const IniDocument& loc) {
    s.languageCount = std::min(IniToInt(loc.Get(kGeneral, "Languages No", "0")), kMaxLanguages);
    s.currentLanguage = IniToInt(loc.Get(kGeneral, "Language Current", "0"));
    // The user's own choice of language.
    const IniDocument file = IniDocument::Load(paths.settingsFile);
    if (file.Has(kGeneral, "Language Current"))
        s.currentLanguage = IniToInt(file.Get(kGeneral, "Language Current", "0"));
    s.languages.clear();
    for (int i = 0; i < s.languageCount; ++i) {
        const std::string section = std::to_string(i);
        s.languages.push_back({loc.Get(section, "Language", ""), Utf8Prefix(loc.Get(section, "Acronym", ""), 15)});
    }
}

UiSettings ReadStoredValues(const IniDocument& file) {
    UiSettings ui;
    for (const SettingKey& k : kSettingKeys) ui.*k.field = IniToInt(file.Get(kGeneral, k.key, Fallback(k)));
    ClampToParamRanges(ui);
    const int32_t jpeg = IniToInt(file.Get(kGeneral, "jpeg", "90"));
    ui.jpegQuality = jpeg < 20 ? 90 : jpeg;
    return ui;
}

}  // namespace

int32_t* UiSettings::Field(const std::string& key) {
    for (const SettingKey& k : kSettingKeys)
        if (key == k.key) return &(this->*k.field);
    return nullptr;
}

const int32_t* UiSettings::Field(const std::string& key) const { return const_cast<UiSettings*>(this)->Field(key); }

void ClampToParamRanges(UiSettings& ui) {
    ForEachParamSpec([&](const ParamSpec& s) {
        if (int32_t* field = ui.Field(s.settingsKey)) *field = ClampPosition(s, *field);
    });
}

std::string FindLocalisationFile(const std::string& executableFolder) {
    const fs::path folder(executableFolder);
    const fs::path beside = folder / kLocalisationName;
    const fs::path installed = (folder / QUORVANE_DATA_FROM_BIN / kLocalisationName).lexically_normal();
    std::error_code ec;
    if (!fs::exists(beside, ec) && fs::exists(installed, ec)) return installed.string();
    return beside.string();
}

SettingsPaths DefaultSettingsPaths() {
    SettingsPaths p;
    p.folder = UserConfigFolder() + "/" + kProduct;
    p.settingsFile = p.folder + "/" + kProduct + ".txt";
    p.localisationFile = FindLocalisationFile(ExecutableFolder());
    return p;
}

UiSettings ReadStoredPanelValues(const SettingsPaths& paths) {
    return ReadStoredValues(IniDocument::Load(paths.settingsFile));
}

void LoadSettings(AppSettings& s, const SettingsPaths& paths) {
    CreateFolder(paths);
    const IniDocument file = IniDocument::Load(paths.settingsFile);
    s.crashFlag = uint8_t(IniToInt(file.Get(kGeneral, "Crashed Last Time", "0")) & 0xFF);
    WriteIniString(paths.settingsFile, kGeneral, "Crashed Last Time", "1");
    s.ui = s.asLoaded = ReadStoredValues(file);
    ReadLanguages(s, paths, IniDocument::Load(paths.localisationFile));
}

void ReloadSettings(AppSettings& s, const SettingsPaths& paths) {
    CreateFolder(paths);
    const UiSettings fresh = ReadStoredValues(IniDocument::Load(paths.settingsFile));
    for (const SettingKey& k : kSettingKeys)
        if (s.ui.*k.field == s.asLoaded.*k.field) s.ui.*k.field = fresh.*k.field;
    s.asLoaded = fresh;
    ReadLanguages(s, paths, IniDocument::Load(paths.localisationFile));
}

bool SaveSettings(const AppSettings& s, const SettingsPaths& paths, bool othersRunning) {
    CreateFolder(paths);
    if (IsReadOnlyFile(paths.settingsFile)) return false;
    IniDocument file = IniDocument::Load(paths.settingsFile);
    file.Set(kGeneral, "Crashed Last Time", othersRunning ? "1" : "0");
    for (const SettingKey& k : kSettingKeys) file.Set(kGeneral, k.key, std::to_string(s.ui.*k.field));
    return file.Save(paths.settingsFile);
}

std::unique_ptr<InstanceLock> LockAgainstOtherInstances(const SettingsPaths& paths) {
    CreateFolder(paths);
    return std::make_unique<InstanceLock>(paths.folder + "/Quorvane.lock");
}

int32_t ReadJpegQuality(const SettingsPaths& paths) {
    CreateFolder(paths);
    return IniToInt(ReadIniString(paths.settingsFile, kGeneral, "jpeg", "85"));
}

bool WriteJpegQuality(const SettingsPaths& paths, uint32_t quality) {
    CreateFolder(paths);
    return WriteIniString(paths.settingsFile, kGeneral, "jpeg", std::to_string(quality));
}

void StoreCurrentLanguage(const SettingsPaths& paths, int language) {
    CreateFolder(paths);
    WriteIniString(paths.settingsFile, kGeneral, "Language Current", std::to_string(language));
}
