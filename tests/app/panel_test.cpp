#include <algorithm>
// The method panels: preview rectangle, preview, Cancel, jobs that finish
// and jobs that are aborted, driven through the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <cstring>
#include <filesystem>

#include "ids.h"
#include "imagefile.h"
#include "app_test_util.h"
#include "main_window.h"
#include "method_panels.h"
#include "metadata.h"

namespace fs = std::filesystem;

namespace {

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-panel", "none.ini");
        hooks_.message = [this](const MessageRequest& r) {
            messages_.push_back(r.text.toStdString());
            return answer_;
        };
        window_ = std::make_unique<MainWindow>(paths_, hooks_);
        window_->resize(1100, 760);
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        fs::remove_all(root_);
    }
    void Open(int w, int h) {
        PicBufHolder p;
        CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, 8);
        for (uint32_t i = 0; i < p.buf.size; ++i) p.buf.pixels[i] = uint8_t((i * 7 + (i / (3u * w)) * 13) & 0xFF);
        const std::string path = (root_ / "photo.png").string();
        SaveImageFile(&p.buf, nullptr, path, 0, "", -1);
        ASSERT_TRUE(window_->OpenFile(path));
    }
    bool DisplayedEqualsLoaded() {
        const Document& d = window_->Doc();
        return std::memcmp(d.displayed.pixels, d.loaded.pixels, d.loaded.size) == 0;
    }
    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::vector<std::string> messages_;
    QMessageBox::StandardButton answer_ = QMessageBox::Yes;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace

TEST(PanelRules, PreviewRectanglesAndProgressRanges) {
    const PreviewRect r = PreviewRectAround(100, 100, 1000, 800);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 250);
    EXPECT_EQ(r.bottom, 250);
    const PreviewRect small = PreviewRectAround(60, 40, 120, 80);
    EXPECT_EQ(small.Rounded(120, 80).Width(), 120);
    // Dragged partly off the picture: only the inside part remains.
    PreviewRect off{-50.4, 10.6, 249.6, 310.6};
    const CBxRect<int> in = off.Rounded(200, 200);
    EXPECT_EQ(in.left, 0);
    EXPECT_EQ(in.top, 11);
    EXPECT_EQ(in.right, 200);
    EXPECT_EQ(in.bottom, 200);
    EXPECT_EQ(OriginalProgressRange(1200, 800), 78);
    EXPECT_EQ(OriginalProgressRange(499, 2000), 39);
    EXPECT_EQ(SmudgeProgressRange(600, 300, 3), 4);
    EXPECT_EQ(SmudgeProgressRange(1000, 1500, 3), 22);
    EXPECT_EQ(SmudgeProgressRange(400, 400, 3), 5);
    EXPECT_EQ(SmudgeProgressRange(400, 400, 1), 3);
    EXPECT_EQ(RedrawProgressRange(1), 12);
    EXPECT_EQ(RedrawProgressRange(3), 16);
}

TEST_F(PanelTest, PreviewPaintsTheRectangleAndCancelRestores) {
    Open(240, 180);
    window_->Command(cmd::kRepaintSmudge);
    MethodPanel* panel = window_->CurrentPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(window_->IsCommandEnabled(cmd::kOpen));
    EXPECT_TRUE(panel->Progress()->isHidden());
    panel->PreviewBox()->setChecked(true);
    ASSERT_NE(panel->Frame(), nullptr);
    EXPECT_EQ(panel->Frame()->Width(), 240);  // the picture is smaller than 300 × 300
    EXPECT_FALSE(DisplayedEqualsLoaded());
    panel->PreviewBox()->setChecked(false);
    EXPECT_TRUE(DisplayedEqualsLoaded());
    panel->PreviewBox()->setChecked(true);
    panel->Cancel();
    QApplication::processEvents();
    EXPECT_EQ(window_->CurrentPanel(), nullptr);
    EXPECT_TRUE(DisplayedEqualsLoaded());
    EXPECT_TRUE(window_->IsCommandEnabled(cmd::kOpen));
    EXPECT_FALSE(window_->ResultUnsaved());
    EXPECT_EQ(window_->View()->State().previewFrame, nullptr);
}

TEST_F(PanelTest, AFinishedJobKeepsItsResultAndClosesThePanel) {
    Open(160, 120);
    window_->Command(cmd::kRepaintRedraw);
    MethodPanel* panel = window_->CurrentPanel();
    ASSERT_NE(panel, nullptr);
    panel->Ok();
    EXPECT_EQ(panel->Progress()->maximum(), 16);
    ASSERT_TRUE(WaitFor([&] { return window_->CurrentPanel() == nullptr; }));
    EXPECT_FALSE(window_->JobRunning());
    EXPECT_TRUE(window_->ResultUnsaved());
    EXPECT_FALSE(DisplayedEqualsLoaded());
    EXPECT_TRUE(window_->IsCommandEnabled(cmd::kSaveAs));
    // A second method starts again from the loaded picture.
    window_->Command(cmd::kRepaintOriginal);
    ASSERT_NE(window_->CurrentPanel(), nullptr);
    EXPECT_TRUE(DisplayedEqualsLoaded());
    window_->CurrentPanel()->Cancel();
    QApplication::processEvents();
}

TEST_F(PanelTest, AnAbortedJobRestoresThePictureAndKeepsThePanel) {
    Open(1000, 1000);
    window_->Command(cmd::kRepaintOriginal);
    MethodPanel* panel = window_->CurrentPanel();
    ASSERT_NE(panel, nullptr);
    panel->Ok();
    EXPECT_EQ(panel->Progress()->maximum(), 4 * 39);
    ASSERT_TRUE(WaitFor([&] { return window_->JobRunning(); }));
    // While the job runs nothing may replace its pictures.
    window_->Command(cmd::kClose);
    EXPECT_NE(window_->Doc().loaded.pixels, nullptr);
    answer_ = QMessageBox::No;  // closing asks whether to abort: not now
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->JobRunning());
    panel->Abort();
    ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning() && panel->AbortButton()->isHidden(); }));
    EXPECT_EQ(window_->CurrentPanel(), panel);
    EXPECT_TRUE(DisplayedEqualsLoaded());
    EXPECT_EQ(panel->Progress()->value(), 0);
    EXPECT_TRUE(panel->OkButton()->isEnabled());
    EXPECT_FALSE(window_->ResultUnsaved());
    panel->Cancel();
    QApplication::processEvents();
}

TEST_F(PanelTest, TheRedrawEdgeMapComesFromTheBackgroundThenIsBuiltOncePerDetailsValue) {
    Open(200, 150);
    window_->Command(cmd::kRepaintRedraw);
    auto* panel = dynamic_cast<RedrawPanel*>(window_->CurrentPanel());
    ASSERT_NE(panel, nullptr);
    panel->PreviewBox()->setChecked(true);
    // The map built since the picture was opened serves the first preview.
    EXPECT_EQ(panel->EdgeMapBuilds(), 0);
    const Document& doc = window_->Doc();
    const std::vector<uint8_t> first(doc.displayed.pixels, doc.displayed.pixels + doc.displayed.size);
    const int details = window_->Ui().uiEdgeDetails, other = details == 25 ? 30 : 25;
    QList<QSlider*> sliders = panel->findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 2);
    sliders[0]->setValue(other);  // Details
    EXPECT_EQ(panel->EdgeMapBuilds(), 1);
    EXPECT_EQ(window_->Ui().uiEdgeDetails, other);
    // Built here, the map of the first Details value draws the same preview.
    sliders[0]->setValue(details);
    EXPECT_EQ(panel->EdgeMapBuilds(), 2);
    EXPECT_EQ(std::memcmp(doc.displayed.pixels, first.data(), first.size()), 0);
    sliders[1]->setValue(30);  // Cut
    sliders[1]->setValue(70);
    EXPECT_EQ(panel->EdgeMapBuilds(), 2);
    EXPECT_EQ(window_->Ui().uiEdgeCut, 70);
    // Dragging the thumb updates the value only; the release recomputes.
    sliders[0]->setSliderDown(true);
    sliders[0]->setValue(40);
    sliders[0]->setValue(45);
    EXPECT_EQ(panel->EdgeMapBuilds(), 2);
    EXPECT_EQ(window_->Ui().uiEdgeDetails, 45);
    sliders[0]->setSliderDown(false);
    EXPECT_EQ(panel->EdgeMapBuilds(), 3);
    panel->Cancel();
    QApplication::processEvents();
}

TEST_F(PanelTest, OriginalDefaultsAndOnePanelAtATime) {
    Open(120, 90);
    window_->Command(cmd::kRepaintOriginal);
    auto* panel = dynamic_cast<OriginalPanel*>(window_->CurrentPanel());
    ASSERT_NE(panel, nullptr);
    window_->Ui().uiSmoothAlpha = 3;
    panel->Defaults();
    EXPECT_EQ(window_->Ui().uiSmoothAlpha, 14);
    EXPECT_EQ(window_->Ui().uiRelaxation, 5);
    EXPECT_EQ(window_->Ui().uiFlatten, 4);
    EXPECT_EQ(window_->Ui().uiLoGPower, 5);
    EXPECT_EQ(window_->Ui().uiDoShock, 1);
    EXPECT_EQ(window_->Ui().uiDoLoG, 1);
    // Only one panel at a time.
    window_->Command(cmd::kRepaintSmudge);
    EXPECT_EQ(window_->CurrentPanel(), panel);
    panel->Cancel();
    QApplication::processEvents();
}

// A saved result carries how it was made: the method and the positions the
// job ran with, which the command line can take up again with --like.
TEST_F(PanelTest, ASavedResultCarriesItsRecipe) {
    std::string saveName;
    hooks_.saveDialog = [&saveName](const SaveDialogRequest&, const QString&, const QString&, int) {
        return std::optional<SaveChoice>(SaveChoice{saveName, 3, 85});
    };
    window_ = std::make_unique<MainWindow>(paths_, hooks_);
    Open(120, 90);
    const std::string result = (root_ / "result.png").string();
    window_->Command(cmd::kRepaintSmudge);
    ASSERT_NE(window_->CurrentPanel(), nullptr);
    UiSettings& ui = window_->Ui();
    ui.uiProlongation = 37;
    window_->CurrentPanel()->Ok();
    ASSERT_TRUE(WaitFor([&] { return window_->CurrentPanel() == nullptr; }));
    saveName = result;
    window_->Command(cmd::kSaveAs);
    const std::optional<Recipe> recipe = ReadRecipe(result);
    ASSERT_TRUE(recipe.has_value());
    EXPECT_EQ(recipe->method, "smudge");
    const auto& pos = recipe->positions;
    EXPECT_NE(std::find(pos.begin(), pos.end(), std::make_pair(std::string("uiProlongation"), 37)), pos.end());
    EXPECT_NE(std::find(pos.begin(), pos.end(), std::make_pair(std::string("uiDetails"), int(ui.uiDetails))), pos.end());

    // Back to the loaded picture: a save no longer claims a recipe.
    window_->Command(cmd::kRepaintOriginal);
    window_->CurrentPanel()->Cancel();
    QApplication::processEvents();
    saveName = (root_ / "plain.png").string();
    window_->Command(cmd::kSaveAs);
    ASSERT_TRUE(fs::exists(saveName));
    EXPECT_FALSE(ReadRecipe(saveName).has_value());
}
