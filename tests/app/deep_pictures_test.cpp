// 16-bit pictures in the program: opened, shown, previewed and repainted at
// their own depth, and saved at 16 bits where the format holds them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <cstdlib>
#include <filesystem>

#include "app_test_util.h"
#include "ids.h"
#include "imagefile.h"
#include "main_window.h"
#include "method_panel.h"
#include "original.h"
#include "settings.h"
#include "smudge.h"
#include "tagged_files.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

// Soft gradients, a hard edge and fine noise, on the whole 16-bit range and
// with low bytes that an 8-bit detour would lose.
PicBufHolder DeepPicture(int w, int h, int components) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, components, 16);
    for (int y = 0; y < h; ++y) {
        uint16_t* row = p.buf.Row<uint16_t>(y);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c) {
                const uint32_t ramp = uint32_t(x * 40000 / w + y * 20000 / h + c * 3000);
                const uint32_t edge = x > w / 2 + y / 4 ? 5000 : 0;
                const uint32_t noise = (uint32_t(x) * 7919u + uint32_t(y) * 104729u + uint32_t(c) * 31u) % 997u;
                row[x * components + c] = uint16_t(ramp + edge + noise);
            }
    }
    return p;
}

// Opaque, half and fully transparent regions.
PicBufHolder DeepAlpha(int w, int h) {
    PicBufHolder a;
    CBxPicBufAPI::ReinitHeap(a.buf, w, h, 1, 16);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a.buf.Row<uint16_t>(y)[x] = uint16_t(x < w / 3 ? 0 : x < 2 * w / 3 ? 32767 + y : 65535);
    return a;
}

bool SameSamples(const SBxPicBuf& a, const SBxPicBuf& b) {
    return a.width == b.width && a.height == b.height && a.components == b.components && a.bits == b.bits &&
           a.pixels && b.pixels && std::memcmp(a.pixels, b.pixels, a.size) == 0;
}

// The 8-bit version of a picture, as the view and the 8-bit formats take it.
PicBufHolder Narrowed(const SBxPicBuf& p) {
    PicBufHolder n;
    CBxPicBufAPI::CopyConverted(n.buf, p, 8, p.components);
    return n;
}

class DeepPictures : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-deep", "none.ini");
        hooks_.message = [this](const MessageRequest& r) {
            messages_.push_back(r.text.toStdString());
            return QMessageBox::Yes;
        };
        hooks_.saveDialog = [this](const SaveDialogRequest& r, const QString&, const QString&, int) {
            offered_ = r.filters;
            return saveChoice_;
        };
        window_ = std::make_unique<MainWindow>(paths_, hooks_);
        window_->resize(1100, 760);
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        fs::remove_all(root_);
    }
    std::string Write(const std::string& name, const SBxPicBuf& picture, const SBxPicBuf* alpha = nullptr) {
        const std::string path = File(name);
        SaveImageFile(&picture, alpha, path, 0, "", -1);
        return path;
    }
    std::string File(const std::string& name) const { return (root_ / name).string(); }
    void SaveAs(const std::string& name, int entry) {
        saveChoice_ = SaveChoice{File(name), entry, 90};
        window_->Command(cmd::kSaveAs);
    }
    void RunJob(int command) {
        window_->Command(command);
        ASSERT_NE(window_->CurrentPanel(), nullptr);
        window_->CurrentPanel()->Ok();
        ASSERT_TRUE(WaitFor([&] { return window_->CurrentPanel() == nullptr; }));
        ASSERT_TRUE(window_->ResultUnsaved());
    }

    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::vector<std::string> messages_;
    std::vector<std::string> offered_;
    std::optional<SaveChoice> saveChoice_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace

// Each method, run by the window's job on a 16-bit file and saved by Save As,
// gives the command line's result for the same file and positions, sample for
// sample (the command line takes the positions from the saved result).
TEST_F(DeepPictures, JobsAndSavesEqualTheCommandLine) {
    const PicBufHolder rgb = DeepPicture(56, 44, 3), grey = DeepPicture(48, 40, 1);
    const PicBufHolder rgba = DeepPicture(40, 36, 3), alpha = DeepAlpha(40, 36);
    struct Source {
        std::string file, ext;
        int entry;  // Save As list: 2 TIFF, 3 PNG
        const SBxPicBuf* picture;
        const SBxPicBuf* alpha;
    };
    const Source sources[] = {{Write("rgb.tif", rgb.buf), ".tif", 2, &rgb.buf, nullptr},
                              {Write("grey.png", grey.buf), ".png", 3, &grey.buf, nullptr},
                              {Write("rgba.png", rgba.buf, &alpha.buf), ".png", 3, &rgba.buf, &alpha.buf}};
    const std::pair<int, const char*> methods[] = {
        {cmd::kRepaintOriginal, "original"}, {cmd::kRepaintSmudge, "smudge"}, {cmd::kRepaintRedraw, "redraw"}};
    for (const Source& s : sources) {
        ASSERT_TRUE(window_->OpenFile(s.file)) << s.file;
        ASSERT_TRUE(SameSamples(window_->Doc().loaded, *s.picture)) << s.file;
        for (const auto& [command, method] : methods) {
            SCOPED_TRACE(s.file + " " + method);
            RunJob(command);
            const std::string mine = File(std::string("program-") + method + s.ext);
            const std::string theirs = File(std::string("cli-") + method + s.ext);
            SaveAs(mine, s.entry);
            ASSERT_FALSE(window_->ResultUnsaved());
            const std::string cli = std::string(QUORVANE_CLI) + " " + method + " --quiet --like '" + mine +
                                    "' -o '" + theirs + "' '" + s.file + "'";
            ASSERT_EQ(std::system(cli.c_str()), 0) << cli;
            const LoadResult a = LoadImageFile(mine), b = LoadImageFile(theirs);
            ASSERT_TRUE(a.ok && b.ok);
            EXPECT_EQ(a.image.picture.buf.bits, 16);
            EXPECT_TRUE(SameSamples(a.image.picture.buf, b.image.picture.buf));
            EXPECT_FALSE(SameSamples(a.image.picture.buf, *s.picture));  // the method did something
            if (s.alpha) {
                EXPECT_TRUE(SameSamples(a.image.alpha.buf, *s.alpha));
                EXPECT_TRUE(SameSamples(b.image.alpha.buf, *s.alpha));
            } else {
                EXPECT_TRUE(a.image.alpha.Empty());
            }
        }
    }
    EXPECT_TRUE(messages_.empty()) << messages_.front();
}

// A 16-bit result saved as BMP or JPEG: the command line narrows it as Save As
// does, says so once a file, and writes the same samples (alpha too, in BMP).
TEST_F(DeepPictures, TheCommandLineNarrowsForBmpAndJpegAsSaveAsDoes) {
    const PicBufHolder rgba = DeepPicture(40, 36, 3), alpha = DeepAlpha(40, 36);
    const std::string source = Write("rgba.png", rgba.buf, &alpha.buf);
    ASSERT_TRUE(window_->OpenFile(source));
    RunJob(cmd::kRepaintSmudge);
    SaveAs("program.jpg", 4);
    SaveAs("program.bmp", 1);
    for (const char* ext : {".jpg", ".bmp"}) {
        SCOPED_TRACE(ext);
        const std::string theirs = File(std::string("cli") + ext), errors = File("errors.txt");
        const std::string cli = std::string(QUORVANE_CLI) + " smudge --quiet --quality 90 --like '" +
                                File("program.jpg") + "' -o '" + theirs + "' '" + source + "' 2>'" + errors + "'";
        ASSERT_EQ(std::system(cli.c_str()), 0) << cli;
        const std::string said = ReadBytes(errors);
        const std::string note = "quorvane-cli: " + theirs + ": written at 8 bits a sample";
        EXPECT_EQ(said.find(note), 0u) << said;
        EXPECT_EQ(said.find(note, 1), std::string::npos) << said;
        const LoadResult a = LoadImageFile(File(std::string("program") + ext)), b = LoadImageFile(theirs);
        ASSERT_TRUE(a.ok && b.ok);
        EXPECT_EQ(b.image.picture.buf.bits, 8);
        EXPECT_TRUE(SameSamples(a.image.picture.buf, b.image.picture.buf));
        EXPECT_EQ(b.image.alpha.Empty(), std::string(ext) == ".jpg");
        if (!b.image.alpha.Empty()) {
            EXPECT_TRUE(SameSamples(a.image.alpha.buf, b.image.alpha.buf));
        }
    }
    // A picture the formats hold as it is goes in without a word.
    const std::string cli = std::string(QUORVANE_CLI) + " smudge --quiet -o '" + File("cli.tif") + "' '" + source +
                            "' 2>'" + File("errors.txt") + "'";
    ASSERT_EQ(std::system(cli.c_str()), 0);
    EXPECT_EQ(ReadBytes(File("errors.txt")), "");
}

// The preview is the method on the crop at the picture's depth; the rest of
// the picture stays as loaded.
TEST_F(DeepPictures, PreviewsRunAtSixteenBits) {
    const PicBufHolder picture = DeepPicture(340, 320, 3);
    ASSERT_TRUE(window_->OpenFile(Write("deep.png", picture.buf)));
    for (int command : {cmd::kRepaintOriginal, cmd::kRepaintSmudge}) {
        window_->Command(command);
        MethodPanel* panel = window_->CurrentPanel();
        ASSERT_NE(panel, nullptr) << command;
        panel->PreviewBox()->setChecked(true);
        ASSERT_NE(panel->Frame(), nullptr);
        const CBxRect<int> frame = *panel->Frame();
        ASSERT_EQ(frame.Width(), 300);
        ASSERT_LT(frame.Height(), 320);
        PicBufHolder crop, expected, shown;
        ASSERT_TRUE(CBxPicBufAPI::Copy(crop.buf, picture.buf, frame));
        QuietProgress quiet;
        const RepaintStatus status =
            command == cmd::kRepaintOriginal
                ? RepaintOriginal(expected.buf, crop.buf, OriginalParamsFrom(window_->Ui()), quiet)
                : RepaintSmudge(expected.buf, crop.buf, SmudgeParamsFrom(window_->Ui()), quiet);
        ASSERT_EQ(status, RepaintStatus::Done);
        const Document& doc = window_->Doc();
        ASSERT_EQ(doc.displayed.bits, 16);
        ASSERT_TRUE(CBxPicBufAPI::Copy(shown.buf, doc.displayed, frame));
        EXPECT_TRUE(SameSamples(shown.buf, expected.buf)) << command;
        const CBxRect<int> above{0, 0, 340, frame.top}, below{0, frame.bottom, 340, 320};
        const CBxRect<int>& outside = frame.top > 0 ? above : below;
        PicBufHolder a, b;
        ASSERT_TRUE(CBxPicBufAPI::Copy(a.buf, doc.displayed, outside) &&
                    CBxPicBufAPI::Copy(b.buf, picture.buf, outside));
        EXPECT_TRUE(SameSamples(a.buf, b.buf));
        panel->Cancel();
        QApplication::processEvents();
    }
    EXPECT_TRUE(messages_.empty());
}

// BMP and JPEG get the picture at 8 bits (the alpha plane too, in BMP);
// TIFF and PNG keep every sample. All four are offered. That BMP holds no
// metadata is said once for each opened file that has some.
TEST_F(DeepPictures, SaveAsNarrowsOnlyForBmpAndJpeg) {
    const PicBufHolder picture = DeepPicture(30, 20, 3), alpha = DeepAlpha(30, 20);
    const std::string source = Write("deep.png", picture.buf, &alpha.buf);
    ASSERT_TRUE(window_->OpenFile(source));
    SaveAs("out.bmp", 1);
    EXPECT_EQ(offered_, (std::vector<std::string>{"*.bmp", "*.tif", "*.png", "*.jpg"}));
    const std::vector<std::string> notice = {"BMP files hold no metadata: the tags and the colour profile of the "
                                             "opened file are not in the saved picture."};
    EXPECT_EQ(messages_, notice);
    SaveAs("out", 4);
    SaveAs("out.tif", 4);
    SaveAs("again.bmp", 2);
    EXPECT_EQ(messages_, notice);

    const LoadResult bmp = LoadImageFile(File("out.bmp"));
    ASSERT_TRUE(bmp.ok);
    EXPECT_TRUE(SameSamples(bmp.image.picture.buf, Narrowed(picture.buf).buf));
    EXPECT_TRUE(SameSamples(bmp.image.alpha.buf, Narrowed(alpha.buf).buf));
    const LoadResult jpeg = LoadImageFile(File("out.jpg"));
    ASSERT_TRUE(jpeg.ok);
    EXPECT_EQ(jpeg.image.picture.buf.bits, 8);
    EXPECT_TRUE(jpeg.image.alpha.Empty());
    const LoadResult tiff = LoadImageFile(File("out.tif"));
    ASSERT_TRUE(tiff.ok);
    EXPECT_TRUE(SameSamples(tiff.image.picture.buf, picture.buf));
    EXPECT_TRUE(SameSamples(tiff.image.alpha.buf, alpha.buf));
    // The document itself stays at 16 bits.
    EXPECT_TRUE(SameSamples(window_->Doc().displayed, picture.buf));

    // The next opened file is told about again; a BMP source has nothing to lose.
    ASSERT_TRUE(window_->OpenFile(File("out.tif")));
    SaveAs("third.bmp", 1);
    EXPECT_EQ(messages_.size(), 2u);
    ASSERT_TRUE(window_->OpenFile(File("out.bmp")));
    SaveAs("fourth.bmp", 1);
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(fs::exists(File("fourth.bmp")));
}

// A 16-bit picture with transparency looks exactly like its 8-bit version,
// checkerboard included.
TEST_F(DeepPictures, TheViewShowsTheEightBitVersion) {
    const PicBufHolder picture = DeepPicture(90, 60, 3), alpha = DeepAlpha(90, 60);
    const std::string deep = Write("deep.png", picture.buf, &alpha.buf);
    const PicBufHolder narrowPicture = Narrowed(picture.buf), narrowAlpha = Narrowed(alpha.buf);
    const std::string eight = Write("eight.png", narrowPicture.buf, &narrowAlpha.buf);
    auto shown = [&](const std::string& file) {
        EXPECT_TRUE(window_->OpenFile(file));
        QApplication::processEvents();
        const SBxPicBuf& back = window_->Doc().backBuffer;
        return std::string(reinterpret_cast<const char*>(back.pixels), size_t(back.pitch) * 700);
    };
    const std::string a = shown(deep), b = shown(eight);
    EXPECT_EQ(a, b);
    // The transparent third shows the checkerboard's light and dark squares.
    EXPECT_NE(a.find(std::string("\xbe\xbe\xbe", 3)), std::string::npos);
    EXPECT_NE(a.find(std::string("\xdc\xdc\xdc", 3)), std::string::npos);
}

// A photographer's 16-bit TIFF stored turned, with camera tags and a colour
// profile: shown upright, repainted at 16 bits, and saved as TIFF and PNG
// with every tag, upright (orientation 1) and without the stale thumbnail.
TEST_F(DeepPictures, ATaggedTurnedTiffComesOutUprightWithEveryTag) {
    const PicBufHolder stored = DeepPicture(40, 24, 3);
    const std::string source = Write("photo.tif", stored.buf);
    TagFile(source, 6);  // to be turned a quarter clockwise for showing
    ASSERT_TRUE(window_->OpenFile(source));
    const SBxPicBuf& loaded = window_->Doc().loaded;
    ASSERT_EQ(loaded.width, 24);
    ASSERT_EQ(loaded.height, 40);
    ASSERT_EQ(loaded.bits, 16);
    // The stored bottom-left corner is the shown top-left one.
    EXPECT_EQ(loaded.Row<uint16_t>(0)[0], stored.buf.Row<uint16_t>(23)[0]);
    RunJob(cmd::kRepaintSmudge);
    SaveAs("photo-repainted.tif", 2);
    SaveAs("photo-repainted.png", 3);
    ASSERT_TRUE(messages_.empty()) << messages_.front();
    const FileTags before = ReadTags(source);
    for (const char* result : {"photo-repainted.tif", "photo-repainted.png"}) {
        SCOPED_TRACE(result);
        const LoadResult r = LoadImageFile(File(result));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.image.picture.buf.bits, 16);
        EXPECT_EQ(r.image.picture.buf.width, 24);
        const FileTags after = ReadTags(File(result));
        for (const auto& [key, value] : kCameraTags) {
            ASSERT_TRUE(after.values.count(key)) << key;
            EXPECT_EQ(after.values.at(key), before.values.at(key)) << key;
        }
        EXPECT_EQ(after.icc, before.icc);
        EXPECT_FALSE(after.hasThumbnail);
        ASSERT_TRUE(after.values.count("Exif.Image.Orientation"));
        EXPECT_EQ(after.values.at("Exif.Image.Orientation"), std::string("\x01\0", 2));
    }
}
