#include "session.h"

namespace {

constexpr size_t kMaxPath = 1023;

}  // namespace

OpenFailure ClassifyLoadFailure(const LoadResult& r) {
    if (r.ok) return IsRepaintablePicture(r.image.picture.buf) ? OpenFailure::None : OpenFailure::Unsupported;
    switch (r.failure) {
        case LoadFailure::Missing:
        case LoadFailure::NoDecoder: return OpenFailure::Missing;
        case LoadFailure::Unsupported: return OpenFailure::Unsupported;
        case LoadFailure::TooLarge:
        case LoadFailure::OutOfMemory: return OpenFailure::TooLarge;
        case LoadFailure::Cancelled: return OpenFailure::Cancelled;
        case LoadFailure::None:
        case LoadFailure::Damaged: return OpenFailure::Damaged;
    }
    return OpenFailure::Damaged;
}

DocumentSession::~DocumentSession() {
    if (initialised_) ReleaseDocument(doc_);
}

bool DocumentSession::Init(int workspaceGrey) {
    initialised_ = true;
    return InitDocument(doc_, workspaceGrey);
}

OpenFailure DocumentSession::Open(const std::string& path) {
    return Open(path, [](const std::string& p) { return LoadImageFile(p); });
}

OpenFailure DocumentSession::Open(const std::string& path, const std::function<LoadResult(const std::string&)>& read) {
    if (path.empty() || path.size() > kMaxPath) return OpenFailure::Unsupported;
    LoadResult r = read(path);
    if (r.cancelled) return OpenFailure::Cancelled;
    return Adopt(path, r);
}

OpenFailure DocumentSession::Adopt(const std::string& path, LoadResult& r) {
    const OpenFailure failure = ClassifyLoadFailure(r);
    if (failure != OpenFailure::None) return failure;
    PicBufHolder displayed;
    if (!CBxPicBufAPI::ReinitHeap(displayed.buf, r.image.picture.buf) ||
        !CBxPicBufAPI::Copy(displayed.buf, r.image.picture.buf))
        return OpenFailure::TooLarge;
    ClearPictures(doc_);
    doc_.loaded = r.image.picture.buf;
    CBxPicBufAPI::Init(r.image.picture.buf);
    doc_.alpha = r.image.alpha.buf;
    CBxPicBufAPI::Init(r.image.alpha.buf);
    doc_.displayed = displayed.buf;
    CBxPicBufAPI::Init(displayed.buf);
    sourcePath_ = currentImagePath_ = titlePath_ = path;
    recipe_.reset();
    unsaved_ = false;
    bmpNoticeGiven_ = false;
    return OpenFailure::None;
}

void DocumentSession::Close() {
    ClearPictures(doc_);
    titlePath_.clear();
    unsaved_ = false;
    recipe_.reset();
}

SaveStatus DocumentSession::Save(const std::string& target, int quality, int format) {
    const SBxPicBuf* picture = &doc_.displayed;
    const SBxPicBuf* alpha = &doc_.alpha;
    PictureAndAlpha narrowed;
    NarrowForFormat(format, picture, alpha, narrowed);
    const SaveStatus s =
        SaveImageFile(picture, alpha, target, quality, sourcePath_, format, recipe_ ? &*recipe_ : nullptr);
    titlePath_ = target;
    unsaved_ = false;
    return s;
}

void DocumentSession::AcceptResult(PicBufHolder result, const Recipe& recipe) {
    if (result.Empty()) return;
    recipe_ = recipe;
    CBxPicBufAPI::DoneHeap(doc_.displayed);
    doc_.displayed = result.buf;
    CBxPicBufAPI::Init(result.buf);
    unsaved_ = true;
}

void DocumentSession::ShowLoaded() {
    recipe_.reset();
    if (doc_.loaded.pixels) CBxPicBufAPI::Copy(doc_.displayed, doc_.loaded);
}

bool DocumentSession::FirstBmpNotice() {
    const bool first = !bmpNoticeGiven_;
    bmpNoticeGiven_ = true;
    return first;
}

std::string DocumentSession::Title() const { return titlePath_.empty() ? "Quorvane" : "Quorvane - " + titlePath_; }
