// Toolbar images (SVG resources named after IDP_FOLDER …) and their greyed
// variants for disabled buttons.
#pragma once

#include <QIcon>
#include <QImage>

constexpr int kToolbarIconSize = 24;

QIcon ToolbarIcon(const char* name);
QIcon ProgramIcon();
// grey = trunc((0.3 R + 0.5 G + 0.2 B) × 0.43 + 120) − 70 in all three
// channels; alpha kept from 100 up, else halved.
QImage GreyedImage(const QImage& image);
