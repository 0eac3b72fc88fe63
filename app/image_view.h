// The picture view: the mapping from picture to window, zoom and pan rules,
// and rendering into the document's back buffer. No Qt here.
#pragma once

#include <optional>
#include <string>

#include "document.h"

// Where the picture lies in the window. The window measures in its own
// (logical) pixels, the screen may have more: `ratio` device pixels to each
// (150 %, 200 % display scaling). The zoom counts device pixels, so 100 % is
// one screen pixel per picture pixel whatever the scaling.
struct ViewAnchor {
    double dstX = 0, dstY = 0;  // window (client) coordinates
    double srcX = 0, srcY = 0;  // picture coordinates
    double zoom = 1;            // screen (device) pixels per picture pixel
    double ratio = 1;           // device pixels per window pixel

    // Window pixels per picture pixel.
    double Scale() const { return zoom / ratio; }
    // Picture to window coordinates: mouse positions, the preview frame's hit test.
    CBxPicMap Map() const { return CBxPicMap(dstX, dstY, srcX, srcY, 0, Scale()); }
    // Picture to device pixels of the back buffer. At 100 % the picture's
    // pixels fall on whole device pixels, so that none is blended with its neighbour.
    CBxPicMap DeviceMap() const;
};

struct ViewRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

enum ResamplingMode { kNearest = 0, kBilinear = 1, kBicubic = 2 };
enum ViewSlot { kSlotLoaded = 1, kSlotDisplayed = 2, kSlotNone = 3 };

struct ImageView {
    int resampling = kBilinear;
    SBxPicBuf loadedCopy{}, displayedCopy{}, alphaCopy{};  // 8-bit display copies
    const CBxRect<int>* previewFrame = nullptr;            // picture coordinates
};

constexpr double kZoomStepIn = 1.2;
constexpr double kZoomStepOut = 0.8333333333333334;
constexpr int kChecker = 15;

void ReleaseViewCopies(ImageView& view);

// Renders `picture` (slot 1 loaded, 2 displayed, other: background only)
// into the top-left clientW × clientH device pixels of the back buffer. reuse 0 refreshes
// the slot's display copy first; `draw` false only refreshes it. False when
// there is nothing to show: the back buffer then holds the background only.
bool RenderView(ImageView& view, Document& doc, const ViewAnchor& anchor, const SBxPicBuf& picture, int reuse,
                int slot, bool draw, const SBxPicBuf& alpha, int clientW, int clientH, int backgroundGrey);
// Blends the 190/220 checkerboard of `square`-pixel squares under `alpha`.
void CompositeChecker(SBxPicBuf& target, const SBxPicBuf& alpha, int square = kChecker);
// Inverts the red byte along a frame `width` pixels wide around `frame`.
void DrawPreviewFrame(SBxPicBuf& target, const CBxPicMap& map, const CBxRect<int>& frame, int width = 2);

// Centres the loaded picture in the fit area (window pixels) at the zoom
// that fits it, for the anchor's ratio.
bool FitToView(ViewAnchor& anchor, const SBxPicBuf& loaded, const ViewRect& fitArea);
void Zoom100(ViewAnchor& anchor, const ViewRect& fitArea);
// Zooms by one wheel step about the mouse point (window pixels, clamped onto
// the picture), within 800 % and a longer side of at least 100 window pixels.
void WheelZoom(ViewAnchor& anchor, int mouseX, int mouseY, int delta, const SBxPicBuf& displayed,
               const SBxPicBuf& loaded, int* storedX = nullptr, int* storedY = nullptr);

// "120.0 %"
std::string ZoomText(double zoom);
// The zoom for a typed text ("12,5", "2000 %" …), clamped to 10 % … 800 %;
// nothing when the text holds other characters.
std::optional<double> ParseTypedZoom(const std::string& text);
// The zoom of the box's list entry; 1 for an unknown index.
double ZoomOfEntry(int index);
constexpr int kZoomEntries = 8;
extern const char* const kZoomEntryTexts[kZoomEntries];
