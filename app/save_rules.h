// The Save As decisions: default name, file-type list, target name and
// format. Plain functions, so they are tested without a dialog.
#pragma once

#include <string>
#include <vector>

// Every depth is offered the four formats: TIFF and PNG keep 16 bits a
// sample, BMP and JPEG get the picture at 8 bits (DocumentSession::Save).
struct SaveDialogRequest {
    std::vector<std::string> filters;  // each entry's label equals its pattern
    int filterIndex = 0;               // 1-based entry to select; 0 = none
    std::string defaultName;           // "cat-repainted", or empty
    std::string defaultExtension;      // ".jpg", or empty
};

struct SaveTarget {
    std::string path;
    int formatIndex = 0;  // 1 BMP, 2 TIFF, 3 PNG, 4 JPEG
};

// `bits` is the picture's depth: a 16-bit picture starts on TIFF when its
// name does not pick a format.
SaveDialogRequest MakeSaveDialogRequest(const std::string& currentImagePath, int bits);
// `selectedEntry` is the 1-based entry of the list the user left selected.
SaveTarget ResolveSaveTarget(const std::string& chosenName, int selectedEntry);
// FreeImage format code of a format index; -1 for 0.
int FreeImageFormatOf(int formatIndex);
// The quality the dialog starts with: the stored value, at least 10.
int InitialJpegQuality(int stored);
// Whether the quality row is enabled for the selected 1-based entry.
bool QualityRowEnabled(int selectedEntry);
