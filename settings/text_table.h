// The program's 99 user-visible texts ("string1" … "string99"), with their
// English defaults, replaced per language from the localisation file; and
// the few texts added since ("string100" on).
#pragma once

#include <array>
#include <string>

constexpr int kTextCount = 99;
constexpr int kFirstAddedText = 100;
constexpr int kLastText = 112;

const char* EnglishText(int key);

class TextTable {
public:
    TextTable();
    // Texts of `key` 1 … kLastText; anything else gives "".
    const std::string& Text(int key) const;
    void Set(int key, const std::string& text);

private:
    std::array<std::string, kLastText + 1> texts_;
};

// Fills the table from section `language` of the localisation file; each key
// missing there keeps its English default.
void LoadTexts(TextTable& table, const std::string& localisationFile, int language);
