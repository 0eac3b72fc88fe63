#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ini_file.h"
#include <climits>

#include "original.h"
#include "original_params.h"
#include "redraw.h"
#include "smudge.h"
#include "settings.h"
#include "text_table.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("quorvane-settings-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        paths_ = DefaultSettingsPaths();
        paths_.localisationFile = (root_ / "Quorvane_loc.ini").string();
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    fs::path root_;
    SettingsPaths paths_;
};

}  // namespace

TEST(IniFile, DecimalConversion) {
    EXPECT_EQ(IniToInt("42"), 42);
    EXPECT_EQ(IniToInt("  -17abc"), -17);
    EXPECT_EQ(IniToInt("+5"), 5);
    EXPECT_EQ(IniToInt("abc"), 0);
    EXPECT_EQ(IniToInt(""), 0);
    EXPECT_EQ(IniToInt("99999999999"), 2147483647);
    EXPECT_EQ(IniToInt("-99999999999"), -2147483647 - 1);
}

TEST_F(SettingsTest, IniReadsAreForgivingAndWritesKeepTheRestOfTheFile) {
    const std::string f = (root_ / "x.ini").string();
    Write(f, "\xEF\xBB\xBF; my notes\n[ General ]\n  Key One =  \"quoted value\"  \nother=1\n\n[Second]\nkey one=2\n");
    EXPECT_EQ(ReadIniString(f, "general", "KEY ONE", "d"), "quoted value");
    EXPECT_EQ(ReadIniString(f, "second", "key one", "d"), "2");
    EXPECT_EQ(ReadIniString(f, "second", "missing", "d"), "d");
    EXPECT_EQ(ReadIniString(f, "nothere", "key one", "d"), "d");
    EXPECT_EQ(ReadIniString((root_ / "none.ini").string(), "a", "b", "def"), "def");

    ASSERT_TRUE(WriteIniString(f, "GENERAL", "other", "7"));
    ASSERT_TRUE(WriteIniString(f, "General", "added", "8"));
    ASSERT_TRUE(WriteIniString(f, "Third", "k", "9"));
    EXPECT_EQ(Read(f),
              "\xEF\xBB\xBF; my notes\n[ General ]\n  Key One =  \"quoted value\"  \nother=7\nadded=8\n\n[Second]\n"
              "key one=2\n\n[Third]\nk=9\n");

    Write(f, "[a]\nlong=" + std::string(2000, 'x') + "\n");
    EXPECT_EQ(ReadIniString(f, "a", "long", "").size(), 1023u);
    Write(f, "[a]\nlong=" + std::string(1022, 'x') + "ää\n");
    EXPECT_EQ(ReadIniString(f, "a", "long", ""), std::string(1022, 'x') + "ä");
}

TEST_F(SettingsTest, WritesNeverLeaveAHalfFile) {
    const std::string f = (root_ / "x.ini").string();
    Write(f, "[General]\nkeep=1\n");
    // A folder that cannot take the temporary file: the write fails, the old file stays.
    fs::create_directories(root_ / "ro");
    const std::string g = (root_ / "ro" / "y.ini").string();
    Write(g, "[General]\nkeep=1\n");
    chmod(g.c_str(), 0444);
    EXPECT_FALSE(WriteIniString(g, "General", "keep", "2"));
    EXPECT_EQ(Read(g), "[General]\nkeep=1\n");
    EXPECT_FALSE(WriteIniString((root_ / "no" / "such" / "z.ini").string(), "a", "b", "c"));
    for (auto& e : fs::directory_iterator(root_)) EXPECT_EQ(e.path().filename().string().rfind(".quorvane-", 0), std::string::npos);
}

TEST_F(SettingsTest, FirstRunDefaultsAndOrderlySave) {
    AppSettings s;
    LoadSettings(s, paths_);
    EXPECT_EQ(paths_.settingsFile, (root_ / "Quorvane" / "Quorvane.txt").string());
    EXPECT_EQ(s.crashFlag, 0);
    EXPECT_EQ(s.ui.uiSmoothAlpha, 5);
    EXPECT_EQ(s.ui.uiRelaxation, 20);
    EXPECT_EQ(s.ui.uiDoShock, 0);
    EXPECT_EQ(s.ui.uiEdgeCut, 50);
    EXPECT_EQ(s.ui.jpegQuality, 90);
    EXPECT_EQ(s.languageCount, 0);
    // Running: the crash marker is set until an orderly save.
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "1");
    AppSettings again;
    LoadSettings(again, paths_);
    EXPECT_EQ(again.crashFlag, 1);

    s.ui.uiSigma = -3;
    ASSERT_TRUE(SaveSettings(s, paths_));
    const IniDocument doc = IniDocument::Load(paths_.settingsFile);
    EXPECT_EQ(doc.Get("General", "Crashed Last Time", ""), "0");
    for (const SettingKey& k : kSettingKeys) EXPECT_TRUE(doc.Has("General", k.key)) << k.key;
    EXPECT_FALSE(doc.Has("General", "jpeg"));
    AppSettings back;
    LoadSettings(back, paths_);
    EXPECT_EQ(back.crashFlag, 0);
    EXPECT_EQ(back.ui.uiSigma, 0);  // put into the slider's range on reading
}

TEST_F(SettingsTest, JpegQualityHasTwoReadersAndHandEditsSurvive) {
    fs::create_directories(paths_.folder);
    Write(paths_.settingsFile, "; edited by hand\n[General]\njpeg=15\nuiDetails=banana\nmyOwnKey=x\n");
    AppSettings s;
    LoadSettings(s, paths_);
    EXPECT_EQ(s.ui.jpegQuality, 90);
    EXPECT_EQ(ReadJpegQuality(paths_), 15);
    EXPECT_EQ(s.ui.uiDetails, 1);  // not a number reads as 0, below the range
    ASSERT_TRUE(WriteJpegQuality(paths_, 77));
    ASSERT_TRUE(SaveSettings(s, paths_));
    const std::string text = Read(paths_.settingsFile);
    EXPECT_EQ(text.rfind("; edited by hand\n", 0), 0u);
    EXPECT_NE(text.find("myOwnKey=x"), std::string::npos);
    EXPECT_NE(text.find("jpeg=77"), std::string::npos);
    fs::remove(paths_.settingsFile);
    EXPECT_EQ(ReadJpegQuality(paths_), 85);
}

TEST_F(SettingsTest, EveryMethodParameterHasAStoredSetting) {
    UiSettings ui;
    for (const ParamSpec& p : kOriginalSpecs) EXPECT_NE(ui.Field(p.settingsKey), nullptr) << p.settingsKey;
    EXPECT_EQ(ui.Field("uiNothing"), nullptr);
}

TEST_F(SettingsTest, LanguagesAndTexts) {
    std::string loc = "[General]\nLanguages No=150\nLanguage Current=1\n[1]\nLanguage=Deutsch\nAcronym=" +
                      std::string(20, 'A') + "\nstring45=Jawohl\n";
    Write(paths_.localisationFile, loc);
    AppSettings s;
    LoadSettings(s, paths_);
    EXPECT_EQ(s.languageCount, 100);
    ASSERT_EQ(s.languages.size(), 100u);
    EXPECT_EQ(s.languages[1].name, "Deutsch");
    EXPECT_EQ(s.languages[1].acronym.size(), 15u);
    EXPECT_EQ(s.languages[0].name, "");
    TextTable t;
    LoadTexts(t, paths_.localisationFile, s.currentLanguage);
    EXPECT_EQ(t.Text(45), "Jawohl");
    EXPECT_EQ(t.Text(46), "Cancel");
    EXPECT_EQ(t.Text(41), "Image format not supported!");
    EXPECT_EQ(t.Text(78), "");
    LoadTexts(t, paths_.localisationFile, -1);
    EXPECT_EQ(t.Text(45), "OK");
}

TEST_F(SettingsTest, LanguageChoiceGoesToTheUserSettingsFileNeverToTheProgramFolder) {
    // An installed data folder, read-only as under /usr/share. The file itself
    // stays writable so that a stray write shows even when the tests run as
    // root, whom the folder's mode does not stop.
    const fs::path dataFolder = root_ / "prefix" / "share" / "quorvane";
    fs::create_directories(dataFolder);
    paths_.localisationFile = (dataFolder / "Quorvane_loc.ini").string();
    const std::string shipped = "[General]\nLanguages No=3\nLanguage Current=2\n[0]\nLanguage=English\n";
    Write(paths_.localisationFile, shipped);
    chmod(dataFolder.c_str(), 0555);
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dataFolder)) names.push_back(e.path().filename().string());
        return names;
    };
    const std::vector<std::string> before = listing();

    AppSettings s;
    LoadSettings(s, paths_);
    EXPECT_EQ(s.currentLanguage, 2);  // nobody chose yet: the shipped default
    StoreCurrentLanguage(paths_, 1);
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Language Current", ""), "1");
    LoadSettings(s, paths_);
    EXPECT_EQ(s.currentLanguage, 1);
    EXPECT_EQ(Read(paths_.localisationFile), shipped);
    EXPECT_EQ(listing(), before);

    // Even a program folder the user could write to is left alone.
    chmod(dataFolder.c_str(), 0755);
    StoreCurrentLanguage(paths_, 0);
    LoadSettings(s, paths_);
    EXPECT_EQ(s.currentLanguage, 0);
    EXPECT_EQ(Read(paths_.localisationFile), shipped);
    EXPECT_EQ(listing(), before);

    // Another user of the same installation still starts in the shipped default.
    SettingsPaths other = paths_;
    other.folder = (root_ / "other").string();
    other.settingsFile = other.folder + "/Quorvane.txt";
    LoadSettings(s, other);
    EXPECT_EQ(s.currentLanguage, 2);
}

TEST_F(SettingsTest, LocalisationFileIsFoundFromTheExecutablesFolder) {
    const auto make = [](const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "[General]\n";
    };
    // A build tree keeps the file beside the executables.
    const fs::path build = root_ / "build" / "bin";
    make(build / "Quorvane_loc.ini");
    EXPECT_EQ(fs::path(FindLocalisationFile(build.string())), build / "Quorvane_loc.ini");

    // An installed prefix keeps it in its data folder.
    const fs::path prefix = root_ / "opt" / "quorvane";
    const fs::path installed = prefix / QUORVANE_INSTALL_DATADIR / "quorvane" / "Quorvane_loc.ini";
    make(installed);
    fs::create_directories(prefix / QUORVANE_INSTALL_BINDIR);
    const std::string found = FindLocalisationFile((prefix / QUORVANE_INSTALL_BINDIR).string());
    ASSERT_TRUE(fs::exists(found)) << found;
    EXPECT_TRUE(fs::equivalent(found, installed)) << found;

    // Neither: the file beside the executable, which reads as no languages.
    const fs::path bare = root_ / "bare";
    fs::create_directories(bare);
    EXPECT_EQ(fs::path(FindLocalisationFile(bare.string())), bare / "Quorvane_loc.ini");

    // This test runs from the build tree, whose file is the shipped one.
    const std::string own = FindLocalisationFile(fs::path(QUORVANE_TEST_EXECUTABLE).parent_path().string());
    EXPECT_EQ(Read(own), Read(std::string(QUORVANE_SOURCE_DIR) + "/data/Quorvane_loc.ini"));
    EXPECT_EQ(DefaultSettingsPaths().localisationFile, own);
}

TEST(ShippedLocalisation, EveryLanguageTranslatesEveryDisplayedText) {
    const std::string file = std::string(QUORVANE_SOURCE_DIR) + "/data/Quorvane_loc.ini";
    const IniDocument doc = IniDocument::Load(file);
    const int count = IniToInt(doc.Get("General", "Languages No", "0"));
    ASSERT_GE(count, 5);
    const int displayed[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 20, 21, 22, 23, 24, 25,
                             26, 27, 28, 29, 30, 31, 33, 38, 41, 42, 43, 44, 45, 46, 47, 48, 53, 55, 56, 57,
                             58, 59, 60, 63, 64, 65, 66, 67, 68, 69, 70, 73, 75, 76, 77, 100, 101, 102, 111, 112};
    bool nonLatin = false;
    for (int lang = 0; lang < count; ++lang) {
        const std::string section = std::to_string(lang);
        EXPECT_FALSE(doc.Get(section, "Language", "").empty());
        for (int key : displayed) {
            const std::string text = doc.Get(section, "string" + std::to_string(key), "");
            EXPECT_FALSE(text.empty()) << lang << " string" << key;
            if (lang == 0) {  // button texts may add a mnemonic
                std::string plain = text;
                plain.erase(std::remove(plain.begin(), plain.end(), '&'), plain.end());
                EXPECT_EQ(plain, EnglishText(key)) << key;
            }
            for (unsigned char c : text) nonLatin |= c >= 0xE3;  // CJK lead bytes
        }
    }
    EXPECT_TRUE(nonLatin);
}

// The letter after "&" in a button text, upper-cased; 0 without one.
static char Mnemonic(const std::string& text) {
    const size_t at = text.find('&');
    if (at == std::string::npos || at + 1 >= text.size()) return 0;
    return char(std::toupper(static_cast<unsigned char>(text[at + 1])));
}

TEST(ShippedLocalisation, PanelAndDialogButtonsHaveDistinctMnemonics) {
    const std::string file = std::string(QUORVANE_SOURCE_DIR) + "/data/Quorvane_loc.ini";
    const IniDocument doc = IniDocument::Load(file);
    const int count = IniToInt(doc.Get("General", "Languages No", "0"));
    ASSERT_GE(count, 5);
    // Default, OK, Cancel, Abort and Preview share a panel; OK and Cancel the Options dialog.
    const int buttons[] = {12, 45, 46, 68, 73};
    for (int lang = 0; lang < count; ++lang) {
        std::string letters;
        for (int key : buttons) {
            const std::string text = doc.Get(std::to_string(lang), "string" + std::to_string(key), "");
            const char m = Mnemonic(text);
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(m))) << lang << " string" << key << " " << text;
            EXPECT_EQ(letters.find(m), std::string::npos) << lang << " string" << key << " repeats " << m;
            letters += m;
        }
    }
}

TEST_F(SettingsTest, FirstRunValuesComeFromTheParameterTables) {
    AppSettings s;
    LoadSettings(s, paths_);
    ForEachParamSpec([&](const ParamSpec& p) {
        EXPECT_EQ(*s.ui.Field(p.settingsKey), p.firstRunDefault) << p.settingsKey;
        EXPECT_GE(p.firstRunDefault, p.min) << p.settingsKey;
        EXPECT_LE(p.firstRunDefault, p.max) << p.settingsKey;
        EXPECT_GE(p.buttonDefault, p.min) << p.settingsKey;
        EXPECT_LE(p.buttonDefault, p.max) << p.settingsKey;
    });
    // The two sets the panels know: first run and the Default button.
    EXPECT_EQ(kOriginalSpecs[kSmoothAlpha].firstRunDefault, 5);
    EXPECT_EQ(kOriginalSpecs[kSmoothAlpha].buttonDefault, 14);
    EXPECT_EQ(kRedrawSpecs[kFuseToImage].firstRunDefault, 0);
}

// Whatever a hand-edited file holds, every method runs on what it reads.
TEST_F(SettingsTest, ExtremeStoredValuesAreClampedAndEveryMethodRuns) {
    PicBufHolder picture;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(picture.buf, 40, 30, 3, 8));
    for (uint32_t i = 0; i < picture.buf.size; ++i) picture.buf.pixels[i] = uint8_t((i * 37) & 0xFF);
    for (const char* value : {"-2147483648", "2147483647", "-99999999999", "99999999999"}) {
        fs::create_directories(paths_.folder);
        std::string text = "[General]\n";
        for (const SettingKey& k : kSettingKeys) text += std::string(k.key) + "=" + value + "\n";
        Write(paths_.settingsFile, text);
        AppSettings s;
        LoadSettings(s, paths_);
        ForEachParamSpec([&](const ParamSpec& p) {
            const int v = *s.ui.Field(p.settingsKey);
            EXPECT_EQ(v, value[0] == '-' ? p.min : p.max) << p.settingsKey << " " << value;
        });
        QuietProgress quiet;
        PicBufHolder a, b, c;
        EXPECT_EQ(RepaintOriginal(a.buf, picture.buf, OriginalParamsFrom(s.ui), quiet), RepaintStatus::Done) << value;
        EXPECT_EQ(RepaintSmudge(b.buf, picture.buf, SmudgeParamsFrom(s.ui), quiet), RepaintStatus::Done) << value;
        EXPECT_EQ(RunRedraw(c.buf, picture.buf, RedrawParamsFrom(s.ui), quiet), RepaintStatus::Done) << value;
    }
    // Values in memory that never went through the file are clamped too.
    UiSettings wild;
    wild.uiQuantization = 99;
    wild.uiLoGPower = INT_MIN;
    EXPECT_EQ(RedrawParamsFrom(wild).colourMode, 4);
    EXPECT_EQ(OriginalParamsFrom(wild).sharpenStrength, 2.f);
}

TEST_F(SettingsTest, ReloadingKeepsWhatTheUserChanged) {
    AppSettings s;
    LoadSettings(s, paths_);
    s.ui.uiSigma = 77;  // moved in a panel
    WriteIniString(paths_.settingsFile, "General", "uiSigma", "12");
    WriteIniString(paths_.settingsFile, "General", "uiDetails", "42");
    ReloadSettings(s, paths_);
    EXPECT_EQ(s.ui.uiSigma, 77);
    EXPECT_EQ(s.ui.uiDetails, 42);  // never changed here: the file's value
    s.ui.uiSigma = 12;              // changed back to what the file now says
    WriteIniString(paths_.settingsFile, "General", "uiSigma", "13");
    ReloadSettings(s, paths_);
    EXPECT_EQ(s.ui.uiSigma, 13);
}

TEST_F(SettingsTest, ASecondInstanceIsNotACrash) {
    auto first = LockAgainstOtherInstances(paths_);
    EXPECT_FALSE(first->OthersAtStart());
    EXPECT_FALSE(first->OthersNow());
    {
        auto second = LockAgainstOtherInstances(paths_);
        EXPECT_TRUE(second->OthersAtStart());
        EXPECT_TRUE(second->OthersNow());
        EXPECT_TRUE(first->OthersNow());
        // The second ends while the first runs: the marker stays for the first.
        AppSettings s;
        LoadSettings(s, paths_);
        ASSERT_TRUE(SaveSettings(s, paths_, second->OthersNow()));
        EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "1");
    }
    EXPECT_FALSE(first->OthersNow());
    first.reset();
    auto third = LockAgainstOtherInstances(paths_);
    EXPECT_FALSE(third->OthersAtStart());
}
