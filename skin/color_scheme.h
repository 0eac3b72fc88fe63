// The program's dark grey colour scheme: overrides of the 30 standard
// system colours (indexed like the Windows COLOR_* numbers), read through
// SkinColor and SkinBrush, and applied to the Qt palette.
#pragma once

#include <QBrush>
#include <QColor>
#include <array>
#include <optional>

class QPalette;

enum SystemColour {
    kColorBackground = 1,
    kColorActiveCaption = 2,
    kColorWindow = 5,
    kColorWindowText = 8,
    kColorAppWorkspace = 12,
    kColorHighlight = 13,
    kColorHighlightText = 14,
    kColorBtnFace = 15,
    kColorBtnShadow = 16,
    kColorGrayText = 17,
    kColorBtnText = 18,
    kColorBtnHighlight = 20,
    kColor3dDkShadow = 21,
    kColor3dLight = 22,
    kColorInfoText = 23,
    kColorInfoBk = 24,
};

struct ColorScheme {
    std::array<std::optional<QColor>, 30> entries;
    int number = 0;
};

ColorScheme& CurrentColorScheme();
void InstallColorScheme();
void ReleaseColorScheme();
// The scheme's colour, or the standard system colour where the scheme has
// none; black above index 29.
QColor SkinColor(int index);
// No brush (Qt::NoBrush) for a negative index.
QBrush SkinBrush(int index);
// The grey level (red channel) of an entry; used for the view background.
int SkinGrey(int index);

// The Qt palette in the scheme's colours: button face behind button text for
// windows, dialogs and labels; window colour behind window text for edits and
// lists; grey text for everything disabled.
QPalette SchemePalette();
