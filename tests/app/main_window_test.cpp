// The main window driven through its commands, with the dialogs and
// message boxes answered by the test.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QStatusBar>
#include <QDropEvent>
#include <QMimeData>
#include <QResizeEvent>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "docker.h"
#include "ids.h"
#include "imagefile.h"
#include "ini_file.h"
#include "app_test_util.h"
#include "main_window.h"
#include "method_panel.h"

namespace fs = std::filesystem;

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-app", "Quorvane_loc.ini");
        hooks_.message = [this](const MessageRequest& r) {
            messages_.push_back(r);
            return answer_;
        };
        hooks_.openDialog = [this](const QString&) { return openChoice_; };
        hooks_.saveDialog = [this](const SaveDialogRequest& r, const QString&, const QString&, int quality) {
            saveRequest_ = r;
            offeredQuality_ = quality;
            return saveChoice_;
        };
        hooks_.optionsDialog = [this](const AppSettings&, const TextTable&) { return optionsChoice_; };
    }
    void TearDown() override { fs::remove_all(root_); }

    std::unique_ptr<MainWindow> Make() {
        auto w = std::make_unique<MainWindow>(paths_, hooks_);
        w->resize(1100, 760);
        w->show();
        QApplication::processEvents();
        return w;
    }
    std::string Picture(const std::string& name, int w = 64, int h = 48, int bits = 8) {
        PicBufHolder p;
        CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, bits);
        CBxPicBufAPI::SetConst(p.buf, 120);
        const std::string path = (root_ / name).string();
        SaveImageFile(&p.buf, nullptr, path, 90, "", -1);
        return path;
    }
    // A Smudge job run to its end: the window then holds an unsaved result.
    void FinishAJob(MainWindow& w) {
        w.Command(cmd::kRepaintSmudge);
        ASSERT_NE(w.CurrentPanel(), nullptr);
        w.CurrentPanel()->Ok();
        ASSERT_TRUE(WaitFor([&] { return w.CurrentPanel() == nullptr; }));
    }
    int CountMessages(const std::string& text) {
        int n = 0;
        for (const MessageRequest& m : messages_) n += m.text.toStdString().find(text) != std::string::npos;
        return n;
    }

    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::vector<MessageRequest> messages_;
    QMessageBox::StandardButton answer_ = QMessageBox::Yes;
    std::optional<std::string> openChoice_;
    std::optional<SaveChoice> saveChoice_;
    std::optional<int> optionsChoice_;
    SaveDialogRequest saveRequest_;
    int offeredQuality_ = 0;
};

const int kPictureCommands[] = {cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw};

}  // namespace

TEST_F(WindowTest, CommandStatesWithoutAPictureWithOneAndWithAPanel) {
    auto w = Make();
    for (int id : {cmd::kOpen, cmd::kZoomIn, cmd::kZoomOut, cmd::kZoom100, cmd::kZoomFit, cmd::kMenu})
        EXPECT_TRUE(w->IsCommandEnabled(id)) << id;
    for (int id : kPictureCommands) EXPECT_FALSE(w->IsCommandEnabled(id)) << id;
    EXPECT_FALSE(w->ZoomBox()->isEnabled());
    EXPECT_EQ(w->StatusText(), "Press Ctrl+O to open an image");

    ASSERT_TRUE(w->OpenFile(Picture("a.png")));
    for (int id : kPictureCommands) EXPECT_TRUE(w->IsCommandEnabled(id)) << id;
    EXPECT_TRUE(w->ZoomBox()->isEnabled());
    EXPECT_EQ(w->windowTitle().toStdString(), "Quorvane - " + (root_ / "a.png").string());
    EXPECT_TRUE(w->StatusText().startsWith("Click and drag"));

    w->Command(cmd::kRepaintSmudge);
    ASSERT_NE(w->CurrentPanel(), nullptr);
    for (int id : {cmd::kOpen, cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw,
                   cmd::kMenu})
        EXPECT_FALSE(w->IsCommandEnabled(id)) << id;
    // Drops are ignored while a panel is open, and so are Ctrl+O and Ctrl+S:
    // keys follow their buttons.
    EXPECT_FALSE(w->OpenFile(Picture("b.png")));
    openChoice_ = Picture("c.png");
    saveChoice_ = SaveChoice{(root_ / "patch").string(), 3, 70};
    w->activateWindow();
    PressKey(w.get(), Qt::Key_O, Qt::ControlModifier);
    PressKey(w.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(w->windowTitle().endsWith("a.png"));
    EXPECT_FALSE(fs::exists(root_ / "patch.png"));
    w->CurrentPanel()->Cancel();
    EXPECT_TRUE(w->IsCommandEnabled(cmd::kOpen));
    PressKey(w.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(w->windowTitle().endsWith("c.png"));

    w->Command(cmd::kClose);
    for (int id : kPictureCommands) EXPECT_FALSE(w->IsCommandEnabled(id)) << id;
    EXPECT_EQ(w->Doc().loaded.pixels, nullptr);
    EXPECT_EQ(w->StatusText(), "Press Ctrl+O to open an image");
    EXPECT_EQ(w->windowTitle(), "Quorvane");  // the closed file's name goes
}

TEST_F(WindowTest, MenuGreyingFollowsTheSaveAsButton) {
    auto w = Make();
    auto check = [&](bool picture) {
        std::unique_ptr<QMenu> menu = w->BuildAppMenu();
        int seen = 0;
        for (QAction* top : menu->actions())
            for (QAction* a : top->menu()->actions()) {
                if (a->isSeparator()) continue;
                const int id = a->property(kIdProperty).toInt();
                const bool greyable = id == cmd::kSaveAs || id == cmd::kClose || id == cmd::kRepaintOriginal ||
                                      id == cmd::kRepaintSmudge || id == cmd::kRepaintRedraw;
                EXPECT_EQ(a->isEnabled(), greyable ? picture : true) << id;
                ++seen;
            }
        EXPECT_EQ(seen, 9);
    };
    check(false);
    w->OpenFile(Picture("a.png"));
    check(true);
    std::unique_ptr<QMenu> menu = w->BuildAppMenu();
    EXPECT_EQ(menu->actions()[0]->menu()->actions()[0]->text(), "Open...\tCtrl+O");
}

TEST_F(WindowTest, ZoomCommandsAndTheZoomBox) {
    auto w = Make();
    w->OpenFile(Picture("a.png", 400, 300));
    w->Command(cmd::kZoom100);
    EXPECT_EQ(w->ZoomBox()->currentText(), "100.0 %");
    w->Command(cmd::kZoomIn);
    EXPECT_EQ(w->ZoomBox()->currentText(), "120.0 %");
    w->Command(cmd::kZoom100);
    w->Command(cmd::kZoomOut);
    EXPECT_EQ(w->ZoomBox()->currentText(), "83.3 %");

    w->ZoomBox()->setEditText("12,5");
    QEvent zoomText(um::kZoomText);
    QApplication::sendEvent(w.get(), &zoomText);
    EXPECT_EQ(w->ZoomBox()->currentText(), "12.5 %");
    EXPECT_DOUBLE_EQ(w->Anchor().zoom, 0.125);
    w->ZoomBox()->setEditText("lots");
    QEvent typed(um::kZoomText);
    QApplication::sendEvent(w.get(), &typed);
    EXPECT_EQ(w->ZoomBox()->currentText(), "12.5 %");

    const double x = w->Anchor().dstX;
    w->Command(cmd::kPanLeft);
    EXPECT_DOUBLE_EQ(w->Anchor().dstX, x - 50);
    w->Command(cmd::kZoomFit);
    const ViewRect fit = w->View()->areas().fit;
    EXPECT_DOUBLE_EQ(w->Anchor().zoom, std::min((fit.right - fit.left) / 400.0, (fit.bottom - fit.top) / 300.0));
    EXPECT_EQ(w->ZoomBox()->currentText().toStdString(), ZoomText(w->Anchor().zoom));
    // The whole picture is drawn again: its corners lie inside the fit area.
    int cornerX, cornerY;
    w->Anchor().Map().MapPointSrcToDst(&cornerX, &cornerY, 1, 1);
    EXPECT_EQ(w->Doc().backBuffer.Row<uint8_t>(cornerY)[3 * cornerX], 120);
}

TEST_F(WindowTest, DockerWidensLeftwards) {
    auto w = Make();
    Docker* d = w->DockerWidget();
    const int right = d->x() + d->width();
    EXPECT_EQ(right, w->width());
    QWidget wide;
    wide.resize(d->width() + 120, 100);
    d->AttachPanel(&wide);
    d->LayoutDocker();
    EXPECT_EQ(d->width(), wide.width());
    EXPECT_EQ(d->x() + d->width(), right);
    EXPECT_EQ(wide.pos(), QPoint(1, 0));
    QWidget stranger;
    d->DetachPanel(&stranger);
    EXPECT_EQ(d->Panels().size(), 1u);
    d->DetachPanel(&wide);
    EXPECT_TRUE(d->Panels().empty());
    wide.setParent(nullptr);
}

TEST_F(WindowTest, DroppingSeveralFilesOpensTheFirst) {
    auto w = Make();
    const std::string a = Picture("first.png"), b = Picture("second.png"), c = Picture("third.png");
    w->DropFiles({QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(c)});
    EXPECT_TRUE(w->windowTitle().endsWith("first.png")) << w->windowTitle().toStdString();
    // Files that cannot be opened say why; nothing changes.
    const std::string cut = Picture("cut.png", 200, 150);
    fs::resize_file(cut, fs::file_size(cut) / 2);
    EXPECT_FALSE(w->OpenFile(cut));
    EXPECT_EQ(CountMessages("The file is damaged"), 1);
    EXPECT_FALSE(w->OpenFile((root_ / "gone.png").string()));
    EXPECT_EQ(CountMessages("does not exist"), 1);
    std::ofstream(root_ / "notes.txt") << "just some words, no picture at all";
    EXPECT_FALSE(w->OpenFile((root_ / "notes.txt").string()));
    // A palette picture (every GIF is one).
    std::ofstream(root_ / "palette.gif", std::ios::binary)
        << std::string("GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02" "D\x01\0;", 35);
    EXPECT_FALSE(w->OpenFile((root_ / "palette.gif").string()));
    EXPECT_EQ(CountMessages("Image format not supported!"), 2);
    EXPECT_TRUE(w->windowTitle().endsWith("first.png"));
}

TEST_F(WindowTest, CrashWarningAfterARunThatDidNotEndNormally) {
    { auto w = Make(); }  // an orderly run
    EXPECT_EQ(CountMessages("crashed last time"), 0);
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "0");
    WriteIniString(paths_.settingsFile, "General", "Crashed Last Time", "1");  // as a killed run leaves it
    // The window is resized while the warning waits for an answer.
    hooks_.message = [this](const MessageRequest& r) {
        messages_.push_back(r);
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* w = dynamic_cast<MainWindow*>(top)) {
                QResizeEvent resized(QSize(900, 700), w->size());
                QApplication::sendEvent(w, &resized);
            }
        return answer_;
    };
    { auto w = Make(); }
    EXPECT_EQ(CountMessages("crashed last time"), 1);
    { auto w = Make(); }
    EXPECT_EQ(CountMessages("crashed last time"), 1);
}

TEST_F(WindowTest, UnsavedResultIsAskedAboutBeforeItIsLost) {
    auto w = Make();
    w->OpenFile(Picture("a.png"));
    FinishAJob(*w);
    ASSERT_TRUE(w->ResultUnsaved());
    answer_ = QMessageBox::No;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->ResultUnsaved());
    w->Command(cmd::kExit);
    EXPECT_TRUE(w->isVisible());
    w->Command(cmd::kClose);
    EXPECT_NE(w->Doc().loaded.pixels, nullptr);
    EXPECT_EQ(CountMessages("modified but not saved"), 3);
    answer_ = QMessageBox::Yes;
    EXPECT_TRUE(w->close());
}

TEST_F(WindowTest, SavingWritesTheQualityOnlyAfterASuccessfulSave) {
    auto w = Make();
    const std::string photo = Picture("Portrait.JPG");
    w->OpenFile(photo);
    FinishAJob(*w);
    WriteIniString(paths_.settingsFile, "General", "jpeg", "5");

    // A failing save: a message, the flag and the title stay.
    saveChoice_ = SaveChoice{(root_ / "missing" / "out").string(), 4, 70};
    w->Command(cmd::kSaveAs);
    EXPECT_EQ(saveRequest_.defaultName, "Portrait-repainted");
    EXPECT_EQ(saveRequest_.filterIndex, 4);
    EXPECT_EQ(offeredQuality_, 10);
    EXPECT_EQ(CountMessages("could not be saved"), 1);
    EXPECT_TRUE(w->ResultUnsaved());
    EXPECT_TRUE(w->windowTitle().endsWith("Portrait.JPG"));
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "jpeg", ""), "5");

    saveChoice_ = SaveChoice{(root_ / "out").string(), 4, 70};
    w->Command(cmd::kSaveAs);
    EXPECT_TRUE(fs::exists(root_ / "out.jpg"));
    EXPECT_FALSE(w->ResultUnsaved());
    EXPECT_TRUE(w->windowTitle().endsWith("out.jpg"));
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "jpeg", ""), "70");

    // A name completed with an extension is not written over an existing
    // file without asking.
    std::ofstream(root_ / "kept.png") << "precious";
    saveChoice_ = SaveChoice{(root_ / "kept").string(), 3, 70};
    answer_ = QMessageBox::No;
    w->Command(cmd::kSaveAs);
    EXPECT_EQ(CountMessages("already exists"), 1);
    std::ifstream kept(root_ / "kept.png");
    std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "precious");
    answer_ = QMessageBox::Yes;

    // Cancel changes nothing.
    saveChoice_.reset();
    const size_t before = messages_.size();
    w->Command(cmd::kSaveAs);
    EXPECT_EQ(messages_.size(), before);
}

TEST_F(WindowTest, OptionsChangeTheLanguageForTheNextStart) {
    std::ofstream(paths_.localisationFile)
        << "[General]\nLanguages No=2\nLanguage Current=0\n[0]\nLanguage=English\n[1]\nLanguage=Deutsch\n"
           "string47=Neustart nötig\nstring38=Hinweis\nstring45=Jawohl\n";
    auto w = Make();
    optionsChoice_ = 0;
    w->Command(cmd::kOptions);
    EXPECT_TRUE(messages_.empty());
    optionsChoice_ = 1;
    w->Command(cmd::kOptions);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text.toStdString(), "Neustart nötig");
    EXPECT_EQ(messages_[0].caption.toStdString(), "Hinweis");
    EXPECT_EQ(w->Texts().Text(45), "OK");  // the rest waits for the next start
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Language Current", ""), "1");
    optionsChoice_.reset();
    w->Command(cmd::kOptions);
    EXPECT_EQ(messages_.size(), 1u);
    w.reset();
    auto again = Make();
    EXPECT_EQ(again->Texts().Text(45), "Jawohl");
}

TEST_F(WindowTest, OptionsWithAnEmptyLanguageListStoreNoSelection) {
    auto w = Make();
    optionsChoice_ = -1;
    w->Command(cmd::kOptions);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Language Current", ""), "-1");
    w.reset();
    auto again = Make();
    EXPECT_EQ(again->Texts().Text(45), "OK");
}

TEST_F(WindowTest, DraggingPansAndTheRightButtonShowsTheLoadedPicture) {
    auto w = Make();
    ASSERT_TRUE(w->OpenFile(Picture("a.png", 400, 300)));
    w->Command(cmd::kZoom100);
    const ViewRect area = w->View()->areas().view;
    const QPoint centre((area.left + area.right) / 2, (area.top + area.bottom) / 2);
    const double srcX = w->Anchor().srcX, srcY = w->Anchor().srcY;
    ViewPress(w->View(), centre);
    ViewMove(w->View(), centre + QPoint(30, -20));
    ViewRelease(w->View(), centre + QPoint(30, -20));
    EXPECT_DOUBLE_EQ(w->Anchor().srcX, srcX - 30);
    EXPECT_DOUBLE_EQ(w->Anchor().srcY, srcY + 20);
    ViewMove(w->View(), centre, Qt::NoButton);  // no button: no pan
    EXPECT_DOUBLE_EQ(w->Anchor().srcX, srcX - 30);

    // Make the displayed picture differ from the loaded one, as a result would.
    CBxPicBufAPI::SetConst(const_cast<SBxPicBuf&>(w->Doc().displayed), 10);
    QEvent reload(um::kViewReload);
    QApplication::sendEvent(w.get(), &reload);
    auto shown = [&] { return w->Doc().backBuffer.Row<uint8_t>(centre.y())[3 * centre.x()]; };
    EXPECT_EQ(shown(), 10);
    ViewPress(w->View(), centre, Qt::RightButton);
    EXPECT_EQ(shown(), 120);
    ViewRelease(w->View(), centre, Qt::RightButton);
    EXPECT_EQ(shown(), 10);

    const double zoom = w->Anchor().zoom;
    ViewWheel(w->View(), centre, 120);
    EXPECT_DOUBLE_EQ(w->Anchor().zoom, zoom * 1.2);
    EXPECT_EQ(w->ZoomBox()->currentText(), "120.0 %");
}
