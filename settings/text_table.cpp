#include "text_table.h"

#include "ini_file.h"

namespace {

struct DefaultText {
    int key;
    const char* text;
};

// Keys not listed have an empty default.
constexpr DefaultText kDefaults[] = {
    {1, "Press Ctrl+O to open an image"},
    {2, "The application crashed last time. It's probably caused by low memory. Please try to crop the image and "
        "Repaint the image again."},
    {3, "Warning"},
    {4, "File"},
    {5, "Repaint"},
    {6, "Help"},
    {7, "Open..."},
    {8, "Save As..."},
    {9, "Close"},
    {10, "Options..."},
    {11, "Exit"},
    {12, "Default"},
    {13, "Flattening - Ignore edges weaker than:"},
    {14, "Border Sharpening - Strength:"},
    {15, "Global Sharpening - Strength:"},
    {16, "Help Contents"},
    {20, "About..."},
    {21, "Opened image was modified but not saved, do you want to continue without saving?"},
    {22, "Click and drag to move image, Double click to zoom to best fit, Use mouse wheel to zoom"},
    {23, "Open Image (Ctrl+O)"},
    {24, "Save Image As (Ctrl+S)"},
    {25, "Zoom In (+)"},
    {26, "Zoom Out (-)"},
    {27, "Zoom Image to Fit the Window"},
    {28, "Set Zoom 100%"},
    {29, "Set Zoom"},
    {30, "Sharpening params"},
    {31, "Smoothness"},
    {32, "Locality"},
    {33, "Ignore weak edges with strength"},
    {38, "Report"},
    {41, "Image format not supported!"},
    {42, "About"},
    {43, "Select Language:"},
    {44, "Options"},
    {45, "OK"},
    {46, "Cancel"},
    {47, "You have to restart application to affect the language change"},
    {48, "Jpeg Quality:"},
    {49, "Open"},
    {53, "Smoothing params"},
    {54, "Set power of Repainting:"},
    {55, "Repaint Original..."},
    {56, "Repaint Smudge..."},
    {57, "Details"},
    {58, "Prolongation"},
    {59, "Sigma"},
    {60, "Repaint Redraw..."},
    {61, "Gain"},
    {62, "Threshold"},
    {63, "Rough Quantization"},
    {64, "Normal Quantization"},
    {65, "Detailed Quantization"},
    {66, "Smoothed Image"},
    {67, "Original Image"},
    {68, "Abort"},
    {69, "Edges"},
    {70, "Colors"},
    {71, "Set Repainting power:"},
    {73, "Preview"},
    {75, "Details"},
    {76, "Cut"},
    {77, "Import Edges To Image"},
    {84, "Repainting method:"},
    {85, "Repainting power:"},
    {100, "The image could not be saved."},
    {101, "The image was saved, but the metadata of the opened file could not be copied into it."},
    {102, "There is not enough memory to repaint this image."},
    {103, "Open"},
    {104, "Save As"},
    {105, "Menu"},
    {106, "The file does not exist or cannot be read:"},
    {107, "The file is damaged and cannot be opened:"},
    {108, "The picture is too large to be opened:"},
    {109, "A repaint job is running. Do you want to abort it and close the window?"},
    {110, "The picture could not be repainted:"},
    {111,
     "BMP files hold no metadata: the tags and the colour profile of the opened file are not in the saved "
     "picture."},
    {112, "All files"},
};

}  // namespace

const char* EnglishText(int key) {
    for (const DefaultText& d : kDefaults)
        if (d.key == key) return d.text;
    return "";
}

TextTable::TextTable() {
    for (int k = 1; k <= kLastText; ++k) texts_[size_t(k)] = EnglishText(k);
}

const std::string& TextTable::Text(int key) const {
    static const std::string none;
    return key >= 1 && key <= kLastText ? texts_[size_t(key)] : none;
}

void TextTable::Set(int key, const std::string& text) {
    if (key >= 1 && key <= kLastText) texts_[size_t(key)] = text;
}

void LoadTexts(TextTable& table, const std::string& localisationFile, int language) {
    const IniDocument doc = IniDocument::Load(localisationFile);
    const std::string section = std::to_string(language);
    for (int k = 1; k <= kLastText; ++k)
        table.Set(k, doc.Get(section, "string" + std::to_string(k), EnglishText(k)));
}
