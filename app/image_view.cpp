#include "image_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char* const kZoomEntryTexts[kZoomEntries] = {"10.0 %",  "25.0 %",  "50.0 %",  "100.0 %",
                                                  "150.0 %", "200.0 %", "400.0 %", "800.0 %"};

namespace {

constexpr double kZoomEntryValues[kZoomEntries] = {0.1, 0.25, 0.5, 1, 1.5, 2, 4, 8};

bool Resample(int mode, SBxPicBuf& dst, const SBxPicBuf& src, const CBxPicMap& map) {
    switch (mode) {
        case kNearest: return CBxPicBufAPI::TransformConstantFast(dst, src, map);
        case kBicubic: return CBxPicBufAPI::TransformBicubicFast(dst, src, map);
        default: return CBxPicBufAPI::TransformBilinearFast(dst, src, map);
    }
}

void InvertRed(SBxPicBuf& target, int x, int y) {
    if (x < 0 || y < 0 || x >= target.width || y >= target.height) return;
    uint8_t& red = target.Row<uint8_t>(y)[3 * x + 2];
    red = uint8_t(~red);
}

// A length in window pixels as device pixels, at least one.
int DevicePixels(double windowPixels, double ratio) { return std::max(1, int(std::lround(windowPixels * ratio))); }

}  // namespace

CBxPicMap ViewAnchor::DeviceMap() const {
    double x = dstX * ratio, y = dstY * ratio;
    if (zoom == 1) {
        x = srcX + std::round(x - srcX);
        y = srcY + std::round(y - srcY);
    }
    return CBxPicMap(x, y, srcX, srcY, 0, zoom);
}

void ReleaseViewCopies(ImageView& view) {
    CBxPicBufAPI::DoneHeap(view.loadedCopy);
    CBxPicBufAPI::DoneHeap(view.displayedCopy);
    CBxPicBufAPI::DoneHeap(view.alphaCopy);
}

bool RenderView(ImageView& view, Document& doc, const ViewAnchor& anchor, const SBxPicBuf& picture, int reuse,
                int slot, bool draw, const SBxPicBuf& alpha, int clientW, int clientH, int backgroundGrey) {
    if (!EnsureBackBuffer(doc, clientW, clientH, backgroundGrey)) return false;
    SBxPicBuf target = CBxPicBufAPI::View(doc.backBuffer, clientW, clientH);
    auto background = [&] {
        if (target.pixels) CBxPicBufAPI::SetConst(target, uint8_t(backgroundGrey));
        return false;
    };
    if (!target.pixels) return false;
    if (slot != kSlotLoaded && slot != kSlotDisplayed) return background();
    SBxPicBuf& copy = slot == kSlotLoaded ? view.loadedCopy : view.displayedCopy;
    if (reuse == 0) {
        if (!picture.pixels || !CBxPicBufAPI::CopyConverted(copy, picture, 8, 3)) return background();
    } else if (!copy.pixels) {
        return background();
    }
    if (!draw) return true;
    background();
    const CBxPicMap map = anchor.DeviceMap();
    Resample(view.resampling, target, copy, map);

    if (alpha.pixels) {
        if (reuse == 0) CBxPicBufAPI::CopyConverted(view.alphaCopy, alpha, 8, 1);
        PicBufHolder mask;
        if (view.alphaCopy.pixels && CBxPicBufAPI::ReinitHeap(mask.buf, clientW, clientH, 1, 8)) {
            CBxPicBufAPI::SetConst(mask.buf, 255);
            Resample(view.resampling, mask.buf, view.alphaCopy, map);
            CompositeChecker(target, mask.buf, DevicePixels(kChecker, anchor.ratio));
        }
    }
    if (view.previewFrame) DrawPreviewFrame(target, map, *view.previewFrame, DevicePixels(2, anchor.ratio));
    return true;
}

void CompositeChecker(SBxPicBuf& target, const SBxPicBuf& alpha, int square) {
    const int w = std::min(target.width, alpha.width), h = std::min(target.height, alpha.height);
    for (int y = 0; y < h; ++y) {
        uint8_t* px = target.Row<uint8_t>(y);
        const uint8_t* a = alpha.Row<uint8_t>(y);
        for (int x = 0; x < w; ++x, px += 3) {
            const int av = a[x];
            if (av == 255) continue;
            const int k = ((x / square) % 2) == ((y / square) % 2) ? 190 : 220;
            for (int c = 0; c < 3; ++c) px[c] = uint8_t(((255 - av) * k + px[c] * av) / 255);
        }
    }
}

void DrawPreviewFrame(SBxPicBuf& target, const CBxPicMap& map, const CBxRect<int>& frame, int width) {
    int x0, y0, x1, y1;
    map.MapPointSrcToDst(&x0, &y0, frame.left, frame.top);
    map.MapPointSrcToDst(&x1, &y1, frame.right, frame.bottom);
    for (int i = 0; i < width; ++i) {
        for (int x = x0 + width; x <= x1 - width; ++x) {
            InvertRed(target, x, y0 + i);
            InvertRed(target, x, y1 - i);
        }
        for (int y = y0; y <= y1; ++y) {
            InvertRed(target, x0 + i, y);
            InvertRed(target, x1 - i, y);
        }
    }
}

bool FitToView(ViewAnchor& anchor, const SBxPicBuf& loaded, const ViewRect& fit) {
    if (!loaded.pixels || loaded.width <= 0 || loaded.height <= 0) return false;
    anchor.srcX = loaded.width * 0.5;
    anchor.srcY = loaded.height * 0.5;
    anchor.dstX = (fit.right - fit.left) * 0.5;
    const double h = (fit.bottom - fit.top) * 0.5;
    anchor.dstY = h + fit.top;
    anchor.zoom = std::min(anchor.dstX / anchor.srcX, h / anchor.srcY) * anchor.ratio;
    return true;
}

void Zoom100(ViewAnchor& anchor, const ViewRect& fit) {
    anchor.dstX = (fit.right - fit.left) * 0.5;
    anchor.dstY = (fit.bottom - fit.top) * 0.5 + fit.top;
    anchor.zoom = 1;
}

void WheelZoom(ViewAnchor& anchor, int mouseX, int mouseY, int delta, const SBxPicBuf& displayed,
               const SBxPicBuf& loaded, int* storedX, int* storedY) {
    const CBxPicMap map = anchor.Map();
    int x0, y0, x1, y1;
    map.MapPointSrcToDst(&x0, &y0, 0, 0);
    map.MapPointSrcToDst(&x1, &y1, displayed.width, displayed.height);
    const int mx = std::clamp(mouseX, x0, std::max(x0, x1)), my = std::clamp(mouseY, y0, std::max(y0, y1));
    if (storedX) *storedX = mx;
    if (storedY) *storedY = my;
    map.MapPointDstToSrc(&anchor.srcX, &anchor.srcY, mx, my);
    anchor.dstX = mx;
    anchor.dstY = my;
    anchor.zoom *= delta >= 1 ? kZoomStepIn : kZoomStepOut;
    if (!(anchor.zoom < 8)) anchor.zoom = 8;
    const double smallest = 100.0 * anchor.ratio / std::max(loaded.width, loaded.height);
    if (!(anchor.zoom > smallest)) anchor.zoom = smallest;
}

std::string ZoomText(double zoom) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", zoom * 100, "%");
    return text;
}

std::optional<double> ParseTypedZoom(const std::string& typed) {
    const std::string text = typed.substr(0, 9);
    long long value = 0;
    int fraction = 0;
    bool integerPart = true, bad = false;
    for (size_t i = 0; i < text.size() && i < 10; ++i) {
        const char ch = text[i];
        if (ch == ' ' || ch == '%' || ch == '\0') break;
        if (ch == ',' || ch == '.') {
            integerPart = false;
        } else if (ch >= '0' && ch <= '9') {
            value = value * 10 + (ch - '0');
            if (!integerPart) ++fraction;
        } else {
            bad = true;
        }
    }
    if (bad) return std::nullopt;
    double v = double(value) * std::pow(10.0, -fraction);
    if (v <= 10)
        v = 10;
    else if (v >= 800)
        v = 800;
    return v / 100;
}

double ZoomOfEntry(int index) { return index >= 0 && index < kZoomEntries ? kZoomEntryValues[index] : 1; }
