// Switching the program's look on and off: the dark style, the scheme's
// palette and the keyboard rules of dialog buttons. The skin is the
// product's look, not an option: a style chosen with -style or
// QT_STYLE_OVERRIDE is replaced.
#pragma once

// After InstallColorScheme, before the main window is created.
void SkinStart();
// After the event loop and ReleaseColorScheme.
void SkinStop();
// True between SkinStart and SkinStop.
bool SkinActive();
