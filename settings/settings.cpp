#include "settings.h"

#include <algorithm>
#include <filesystem>

#include "ini_file.h"
#include "platform.h"

namespace fs = std::filesystem;

const SettingKey kSettingKeys[17] = {
    {"uiFuseToImage", &UiSettings::uiFuseToImage, "0"},
    {"uiEdgeDetails", &UiSettings::uiEdgeDetails, "10"},
    {"uiEdgeCut", &UiSettings::uiEdgeCut, "50"},
    {"uiQuantization", &UiSettings::uiQuantization, "1"},
    {"uiDetails", &UiSettings::uiDetails, "10"},
    {"uiProlongation", &UiSettings::uiProlongation, "50"},
    {"uiSigma", &UiSettings::uiSigma, "30"},
    {"uiCycles", &UiSettings::uiCycles, "5"},
    {"uiSmoothAlpha", &UiSettings::uiSmoothAlpha, "5"},
    {"uiLocality", &UiSettings::uiLocality, "5"},
    {"uiRelaxation", &UiSettings::uiRelaxation, "20"},
    {"uiDoShock", &UiSettings::uiDoShock, "0"},
    {"uiDoLoG", &UiSettings::uiDoLoG, "1"},
    {"uiDoWeickert", &UiSettings::uiDoWeickert, "0"},
    {"uiFlatten", &UiSettings::uiFlatten, "20"},
    {"uiLoGPower", &UiSettings::uiLoGPower, "10"},
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

}  // namespace

int32_t* UiSettings::Field(const std::string& key) {
    for (const SettingKey& k : kSettingKeys)
        if (key == k.key) return &(this->*k.field);
    return nullptr;
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

void LoadSettings(AppSettings& s, const SettingsPaths& paths) {
    const IniDocument loc = IniDocument::Load(paths.localisationFile);
    s.languageCount = std::min(IniToInt(loc.Get(kGeneral, "Languages No", "0")), kMaxLanguages);
    s.currentLanguage = IniToInt(loc.Get(kGeneral, "Language Current", "0"));

    CreateFolder(paths);
    IniDocument file = IniDocument::Load(paths.settingsFile);
    s.crashFlag = uint8_t(IniToInt(file.Get(kGeneral, "Crashed Last Time", "0")) & 0xFF);
    WriteIniString(paths.settingsFile, kGeneral, "Crashed Last Time", "1");
    for (const SettingKey& k : kSettingKeys) s.ui.*k.field = IniToInt(file.Get(kGeneral, k.key, k.fallback));
    const int32_t jpeg = IniToInt(file.Get(kGeneral, "jpeg", "90"));
    s.ui.jpegQuality = jpeg < 20 ? 90 : jpeg;
    // The user's own choice of language.
    if (file.Has(kGeneral, "Language Current"))
        s.currentLanguage = IniToInt(file.Get(kGeneral, "Language Current", "0"));

    s.languages.clear();
    for (int i = 0; i < s.languageCount; ++i) {
        const std::string section = std::to_string(i);
        s.languages.push_back({loc.Get(section, "Language", ""), Utf8Prefix(loc.Get(section, "Acronym", ""), 15)});
    }
}

bool SaveSettings(const AppSettings& s, const SettingsPaths& paths) {
    CreateFolder(paths);
    if (IsReadOnlyFile(paths.settingsFile)) return false;
    IniDocument file = IniDocument::Load(paths.settingsFile);
    file.Set(kGeneral, "Crashed Last Time", "0");
    for (const SettingKey& k : kSettingKeys) file.Set(kGeneral, k.key, std::to_string(s.ui.*k.field));
    return file.Save(paths.settingsFile);
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
