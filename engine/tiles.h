// The tile grid of the Original and Smudge methods. Pictures at least
// kTileMin pixels wide and high are cut into width / kTileMin columns and
// height / kTileMin rows; each tile is processed with a margin around its
// core, so that its result does not depend on where the picture was cut.
#pragma once

#include <algorithm>

constexpr int kTileMin = 500;

// Right and bottom exclusive.
struct TileRect {
    int x0, x1, y0, y1;
};

inline bool IsTiled(int width, int height) { return width >= kTileMin && height >= kTileMin; }

// Tiles of a tiled picture; 0 for a picture processed whole.
inline int TileCount(int width, int height) {
    return IsTiled(width, height) ? (width / kTileMin) * (height / kTileMin) : 0;
}

// The core of tile `index`, row by row. The cores cover the picture without
// overlapping; the last column and row end at its edges.
inline TileRect TileCore(int width, int height, int index) {
    const int columns = width / kTileMin, rows = height / kTileMin;
    const double pitchX = (width + 1) / double(columns), pitchY = (height + 1) / double(rows);
    const int column = index % columns, row = index / columns;
    return {int(column * pitchX), int(std::min((column + 1) * pitchX, double(width))), int(row * pitchY),
            int(std::min((row + 1) * pitchY, double(height)))};
}

// `core` grown by `margin` on every side, within the picture.
inline TileRect WithMargin(const TileRect& core, int margin, int width, int height) {
    return {std::max(core.x0 - margin, 0), std::min(core.x1 + margin, width), std::max(core.y0 - margin, 0),
            std::min(core.y1 + margin, height)};
}
