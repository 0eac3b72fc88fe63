// The open picture as a document: opening, closing and saving it, the
// unsaved-result flag and the window title. No Qt here.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "document.h"
#include "imagefile.h"
#include "metadata.h"

// Why a picture could not be opened.
enum class OpenFailure { None, Missing, Damaged, TooLarge, Unsupported, Cancelled };

// The cause the user is told, from the kind of failure the loader reported.
OpenFailure ClassifyLoadFailure(const LoadResult& result);

class DocumentSession {
public:
    DocumentSession() = default;
    DocumentSession(const DocumentSession&) = delete;
    DocumentSession& operator=(const DocumentSession&) = delete;
    ~DocumentSession();

    bool Init(int workspaceGrey);
    Document& Doc() { return doc_; }
    const Document& Doc() const { return doc_; }
    bool HasPicture() const { return doc_.loaded.pixels != nullptr; }

    // Reads `path` and makes it the document; the displayed picture starts
    // as a copy of the loaded one. On failure the document is unchanged.
    OpenFailure Open(const std::string& path);
    // The same with the file read by `read` (the window reads off its thread).
    OpenFailure Open(const std::string& path, const std::function<LoadResult(const std::string&)>& read);
    // Takes a loaded picture as the document.
    OpenFailure Adopt(const std::string& path, LoadResult& loaded);
    void Close();

    // Writes the displayed picture; throws what the image layer throws.
    // `format` is a FreeImage code; a 16-bit picture goes to BMP and JPEG
    // at 8 bits, to TIFF and PNG at 16.
    SaveStatus Save(const std::string& target, int quality, int format);
    // True the first time it is asked for the opened file: BMP's lack of
    // metadata is said once a document, not at every save.
    bool FirstBmpNotice();

    // A finished job's result becomes the displayed picture.
    // The finished job's picture becomes the displayed one; `recipe` says how
    // it was made and goes into the file at the next save.
    void AcceptResult(PicBufHolder result, const Recipe& recipe);
    // The displayed picture shows the loaded one again.
    void ShowLoaded();

    bool Unsaved() const { return unsaved_; }
    void SetUnsaved(bool unsaved) { unsaved_ = unsaved; }
    // "Quorvane - <path>" while a picture is open, else "Quorvane".
    std::string Title() const;
    const std::string& SourcePath() const { return sourcePath_; }
    const std::string& CurrentImagePath() const { return currentImagePath_; }

private:
    Document doc_{};
    bool initialised_ = false;
    bool unsaved_ = false;
    bool bmpNoticeGiven_ = false;
    std::optional<Recipe> recipe_;  // of the displayed picture, when it is a result
    std::string sourcePath_;        // the opened file, for its metadata
    std::string currentImagePath_;  // the opened file, then each saved one
    std::string titlePath_;
};
