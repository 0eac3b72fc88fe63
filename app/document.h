// The pictures of the open image and the view's drawing surface.
#pragma once

#include "picbuf.h"

struct Document {
    SBxPicBuf backBuffer;  // 8-bit BGR; at least 3000 × 2000, grown with the window
    SBxPicBuf loaded;      // the file as opened
    SBxPicBuf displayed;   // shown, previewed into, saved
    SBxPicBuf alpha;       // empty when the file has none
};

constexpr int kBackBufferWidth = 3000;
constexpr int kBackBufferHeight = 2000;

// Allocates the back buffer (filled with the application-workspace grey)
// and empties the pictures.
bool InitDocument(Document& doc, int workspaceGrey);
void ReleaseDocument(Document& doc);
// Makes the back buffer at least width × height; false when memory ran out.
bool EnsureBackBuffer(Document& doc, int width, int height, int fillGrey);
// Frees and re-initialises the three pictures.
void ClearPictures(Document& doc);
