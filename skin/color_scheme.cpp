#include "color_scheme.h"

#include <QPalette>

namespace {

// The standard system colours of Windows, for entries the scheme leaves unset.
constexpr QRgb kSystemDefaults[30] = {
    qRgb(200, 200, 200), qRgb(0, 0, 0),       qRgb(153, 180, 209), qRgb(191, 205, 219), qRgb(240, 240, 240),
    qRgb(255, 255, 255), qRgb(100, 100, 100), qRgb(0, 0, 0),       qRgb(0, 0, 0),       qRgb(0, 0, 0),
    qRgb(180, 180, 180), qRgb(244, 247, 252), qRgb(171, 171, 171), qRgb(0, 120, 215),   qRgb(255, 255, 255),
    qRgb(240, 240, 240), qRgb(160, 160, 160), qRgb(109, 109, 109), qRgb(0, 0, 0),       qRgb(0, 0, 0),
    qRgb(255, 255, 255), qRgb(105, 105, 105), qRgb(227, 227, 227), qRgb(0, 0, 0),       qRgb(255, 255, 225),
    qRgb(0, 0, 0),       qRgb(0, 102, 204),   qRgb(185, 209, 234), qRgb(215, 228, 242), qRgb(0, 120, 215),
};

struct Grey {
    int index, level;
};
constexpr Grey kScheme[] = {
    {2, 0x6E},  {3, 0x5A},  {4, 0x50},  {5, 0x41},  {8, 0xBE},  {9, 0xBE},  {10, 0xEF},
    {11, 0xD2}, {12, 0x23}, {15, 0x46}, {16, 0x37}, {17, 0xA0}, {18, 0xE6}, {19, 0x9B},
    {20, 0x64}, {21, 0x32}, {22, 0x00}, {27, 0x3C}, {28, 0x5F},
};

}  // namespace

ColorScheme& CurrentColorScheme() {
    static ColorScheme scheme;
    return scheme;
}

void InstallColorScheme() {
    ColorScheme& s = CurrentColorScheme();
    s.entries.fill(std::nullopt);
    for (const Grey& g : kScheme) s.entries[size_t(g.index)] = QColor(g.level, g.level, g.level);
    s.number = 2;
}

void ReleaseColorScheme() {
    ColorScheme& s = CurrentColorScheme();
    s.entries.fill(std::nullopt);
    s.number = 0;
}

QColor SkinColor(int index) {
    if (index < 0 || index > 29) return QColor(0, 0, 0);
    const std::optional<QColor>& e = CurrentColorScheme().entries[size_t(index)];
    return e ? *e : QColor(kSystemDefaults[index]);
}

QBrush SkinBrush(int index) {
    if (index < 0) return QBrush(Qt::NoBrush);
    return QBrush(SkinColor(index));
}

int SkinGrey(int index) { return SkinColor(index).red(); }

QPalette SchemePalette() {
    QPalette p;
    const QColor face = SkinColor(kColorBtnFace), text = SkinColor(kColorBtnText), grey = SkinColor(kColorGrayText);
    p.setColor(QPalette::Window, face);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, SkinColor(kColorWindow));
    p.setColor(QPalette::AlternateBase, face);
    p.setColor(QPalette::Text, SkinColor(kColorWindowText));
    p.setColor(QPalette::Button, face);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, text);
    p.setColor(QPalette::Light, SkinColor(kColorBtnHighlight));
    p.setColor(QPalette::Midlight, SkinColor(kColorBtnHighlight));
    p.setColor(QPalette::Mid, SkinColor(kColorBtnShadow));
    p.setColor(QPalette::Dark, SkinColor(kColor3dDkShadow));
    p.setColor(QPalette::Shadow, SkinColor(kColor3dLight));
    p.setColor(QPalette::ToolTipBase, face);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, QColor(101, 135, 168));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::Link, QColor(140, 175, 210));
    p.setColor(QPalette::LinkVisited, QColor(160, 150, 200));
    p.setColor(QPalette::PlaceholderText, grey);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        p.setColor(QPalette::Disabled, role, grey);
    p.setColor(QPalette::Disabled, QPalette::Base, face);
    return p;
}
