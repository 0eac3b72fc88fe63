#include "document.h"

#include <algorithm>

bool InitDocument(Document& doc, int workspaceGrey) {
    CBxPicBufAPI::Init(doc.backBuffer);
    CBxPicBufAPI::Init(doc.loaded);
    CBxPicBufAPI::Init(doc.displayed);
    CBxPicBufAPI::Init(doc.alpha);
    return EnsureBackBuffer(doc, kBackBufferWidth, kBackBufferHeight, workspaceGrey);
}

void ReleaseDocument(Document& doc) {
    CBxPicBufAPI::DoneHeap(doc.backBuffer);
    ClearPictures(doc);
}

bool EnsureBackBuffer(Document& doc, int width, int height, int fillGrey) {
    if (doc.backBuffer.pixels && doc.backBuffer.width >= width && doc.backBuffer.height >= height) return true;
    const int w = std::max({width, doc.backBuffer.width, kBackBufferWidth});
    const int h = std::max({height, doc.backBuffer.height, kBackBufferHeight});
    SBxPicBuf grown;
    CBxPicBufAPI::Init(grown);
    if (!CBxPicBufAPI::ReinitHeap(grown, w, h, 3, 8)) return false;
    CBxPicBufAPI::SetConst(grown, uint8_t(fillGrey));
    CBxPicBufAPI::DoneHeap(doc.backBuffer);
    doc.backBuffer = grown;
    return true;
}

void ClearPictures(Document& doc) {
    CBxPicBufAPI::DoneHeap(doc.loaded);
    CBxPicBufAPI::DoneHeap(doc.displayed);
    CBxPicBufAPI::DoneHeap(doc.alpha);
}
