// What a user meets in the panels and the window: layouts that hold in
// every language and state, keys that reach the right place, labels and
// ranges from the parameter tables, jobs that work on their own snapshot.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app_test_util.h"
#include "dialogs.h"
#include "docker.h"
#include "ids.h"
#include "imagefile.h"
#include "ini_file.h"
#include "main_window.h"
#include "method_panels.h"
#include "original.h"
#include "picture_view.h"
#include "redraw.h"
#include "smudge.h"

namespace fs = std::filesystem;

namespace {

class Behaviour : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-behaviour", "Quorvane_loc.ini");
        fs::copy_file(std::string(QUORVANE_SOURCE_DIR) + "/data/Quorvane_loc.ini", paths_.localisationFile);
        hooks_.message = [this](const MessageRequest& r) {
            messages_.push_back(r);
            return answer_;
        };
        hooks_.openDialog = [this](const QString& title) {
            titles_.push_back(title);
            return std::optional<std::string>();
        };
        hooks_.saveDialog = [this](const SaveDialogRequest&, const QString& title, const QString&, int) {
            titles_.push_back(title);
            return std::optional<SaveChoice>();
        };
        hooks_.optionsDialog = [](const AppSettings&, const TextTable&) { return std::optional<int>(); };
    }
    void TearDown() override {
        window_.reset();
        fs::remove_all(root_);
    }
    void Start(int language = 0) {
        fs::create_directories(paths_.folder);
        WriteIniString(paths_.settingsFile, "General", "Language Current", std::to_string(language));
        window_ = std::make_unique<MainWindow>(paths_, hooks_);
        window_->resize(1100, 760);
        window_->show();
        window_->activateWindow();
        QApplication::processEvents();
    }
    void Open(int w, int h) {
        PicBufHolder p;
        CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, 8);
        for (uint32_t i = 0; i < p.buf.size; ++i) p.buf.pixels[i] = uint8_t((i * 7 + (i / (3u * w)) * 13) & 0xFF);
        const std::string path = (root_ / "photo.png").string();
        SaveImageFile(&p.buf, nullptr, path, 0, "", -1);
        ASSERT_TRUE(window_->OpenFile(path));
    }
    MethodPanel* Panel(int command) {
        window_->Command(command);
        QApplication::processEvents();
        return window_->CurrentPanel();
    }
    void CloseRunningPanel(MethodPanel* panel) {
        panel->Abort();
        ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning() && panel->AbortButton()->isHidden(); }));
        panel->Cancel();
        QApplication::processEvents();
    }
    bool SameAsDisplayed(const SBxPicBuf& p) {
        const SBxPicBuf& d = window_->Doc().displayed;
        return d.size == p.size && std::memcmp(d.pixels, p.pixels, p.size) == 0;
    }

    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::vector<MessageRequest> messages_;
    std::vector<QString> titles_;
    QMessageBox::StandardButton answer_ = QMessageBox::Yes;
    std::unique_ptr<MainWindow> window_;
};

const int kMethods[] = {cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw};

// Every visible control lies inside the panel, no two overlap, and each text
// fits its control.
void ExpectTidy(QWidget* panel, const std::string& where) {
    std::vector<QWidget*> shown;
    for (QWidget* w : panel->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(panel) ||
            (qobject_cast<QGroupBox*>(w->parentWidget()) == nullptr && w->parentWidget() != panel))
            continue;
        shown.push_back(w);
        const QRect r(w->mapTo(panel, QPoint(0, 0)), w->size());
        EXPECT_TRUE(panel->rect().contains(r)) << where << " " << w->metaObject()->className();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const int need = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
            EXPECT_GE(label->height(), need) << where << " " << label->text().toStdString();
            if (!label->wordWrap()) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << where << " " << label->text().toStdString();
            }
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_GE(button->width(), button->minimumSizeHint().width()) << where << " " << button->text().toStdString();
        }
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->isAncestorOf(shown[j]) || shown[j]->isAncestorOf(shown[i])) continue;
            const QRect a(shown[i]->mapTo(panel, QPoint(0, 0)), shown[i]->size());
            const QRect b(shown[j]->mapTo(panel, QPoint(0, 0)), shown[j]->size());
            EXPECT_FALSE(a.intersects(b)) << where << " " << shown[i]->metaObject()->className() << " / "
                                          << shown[j]->metaObject()->className();
        }
}

}  // namespace

TEST_F(Behaviour, PanelsGrowForTheJobControlsAndClipNoCaptionInAnyLanguage) {
    for (int language = 0; language < 5; ++language) {
        window_.reset();
        Start(language);
        Open(1200, 1000);
        for (int command : kMethods) {
            MethodPanel* panel = Panel(command);
            ASSERT_NE(panel, nullptr);
            const std::string where = std::to_string(language) + "/" + std::to_string(command);
            ExpectTidy(panel, where + " idle");
            const int idleHeight = panel->height();
            const QRect okBefore = panel->OkButton()->geometry();
            panel->Ok();
            ASSERT_TRUE(window_->JobRunning());
            QApplication::processEvents();
            EXPECT_GT(panel->height(), idleHeight) << where;
            EXPECT_EQ(panel->OkButton()->geometry(), okBefore) << where;  // the controls stay where they were
            EXPECT_GT(panel->Progress()->y(), panel->OkButton()->y()) << where;
            ExpectTidy(panel, where + " running");
            // The docker follows the panel.
            EXPECT_GE(window_->DockerWidget()->height(), panel->height());
            EXPECT_EQ(window_->DockerWidget()->width(), panel->width());
            CloseRunningPanel(panel);
        }
    }
}

TEST_F(Behaviour, ArrowAndPageKeysStepAFocusedSliderEveryTime) {
    Start();
    Open(500, 400);
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    auto* sigma = qobject_cast<QSlider*>(panel->Control(1124));
    ASSERT_NE(sigma, nullptr);
    panel->PreviewBox()->setChecked(true);
    sigma->setFocus();
    const int start = sigma->value();
    const double panX = window_->Anchor().dstX, panY = window_->Anchor().dstY;
    // Step, the preview finishes, step again: each key is one step and one
    // preview, and the keyboard stays on the slider.
    int previews = panel->PreviewsComputed();
    for (int key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_PageDown, Qt::Key_Up, Qt::Key_Up}) {
        PressKey(window_.get(), key);
        EXPECT_EQ(panel->PreviewsComputed(), ++previews);
        EXPECT_EQ(QApplication::focusWidget(), sigma);
    }
    EXPECT_EQ(sigma->value(), start + 2);
    EXPECT_EQ(window_->Ui().uiSigma, start + 2);
    EXPECT_EQ(panel->Control(1126)->property("text").toString(), QString::number(start + 2));
    // Home and End go to the ends of the range, and the preview follows.
    PressKey(window_.get(), Qt::Key_Home);
    EXPECT_EQ(sigma->value(), sigma->minimum());
    EXPECT_EQ(window_->Ui().uiSigma, sigma->minimum());
    EXPECT_EQ(panel->PreviewsComputed(), ++previews);
    PressKey(window_.get(), Qt::Key_End);
    EXPECT_EQ(sigma->value(), sigma->maximum());
    EXPECT_EQ(panel->Control(1126)->property("text").toString(), QString::number(sigma->maximum()));
    EXPECT_EQ(panel->PreviewsComputed(), ++previews);
    PressKey(window_.get(), Qt::Key_Left);
    EXPECT_EQ(sigma->value(), sigma->maximum() - 1);
    const double zoom = window_->Anchor().zoom;
    PressKey(window_.get(), Qt::Key_Plus);
    PressKey(window_.get(), Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(sigma->value(), sigma->maximum() - 1);
    EXPECT_DOUBLE_EQ(window_->Anchor().zoom, zoom);  // the view did not zoom or pan meanwhile
    EXPECT_DOUBLE_EQ(window_->Anchor().dstX, panX);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstY, panY);
    // Nor while the zoom box is being typed in.
    QLineEdit* edit = window_->ZoomBox()->lineEdit();
    edit->setFocus();
    for (int key : {Qt::Key_Left, Qt::Key_Plus, Qt::Key_Minus, Qt::Key_Right}) PressKey(window_.get(), key);
    EXPECT_DOUBLE_EQ(window_->Anchor().zoom, zoom);
    edit->setFocus();
    PressKey(window_.get(), Qt::Key_Up);  // picks an entry of the box
    EXPECT_DOUBLE_EQ(window_->Anchor().dstX, panX);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstY, panY);
    window_->View()->SetZoom(zoom);
    sigma->setFocus();

    // A job, Abort, a step: the keyboard is back on the slider, not on the view.
    panel->Ok();
    ASSERT_TRUE(window_->JobRunning());
    EXPECT_EQ(QApplication::focusWidget(), panel->AbortButton());
    PressKey(window_.get(), Qt::Key_Space);  // Abort has the keyboard
    ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning() && panel->AbortButton()->isHidden(); }));
    ASSERT_EQ(window_->CurrentPanel(), panel);
    EXPECT_EQ(QApplication::focusWidget(), sigma);
    PressKey(window_.get(), Qt::Key_Left);
    EXPECT_EQ(sigma->value(), sigma->maximum() - 2);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstX, panX);

    // Without a slider or an edit in focus the arrows pan the view and plus zooms.
    window_->DockerWidget()->setFocus();
    PressKey(window_.get(), Qt::Key_Left);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstX, panX - 50);
    PressKey(window_.get(), Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(window_->Anchor().zoom, zoom * kZoomStepIn);
    EXPECT_EQ(sigma->value(), sigma->maximum() - 2);
    // Escape in the panel is Cancel.
    sigma->setFocus();
    PressKey(window_.get(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(window_->CurrentPanel(), nullptr);
}

TEST_F(Behaviour, TypedZoomTakesTheDigitsAsTyped) {
    Start();
    Open(400, 300);
    QLineEdit* edit = window_->ZoomBox()->lineEdit();
    for (const auto& [typed, shown] : {std::pair<const char*, const char*>{"15", "15.0 %"}, {"5", "10.0 %"},
                                       {"2000", "800.0 %"}, {"12,5", "12.5 %"}}) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_EQ(window_->ZoomBox()->currentText().toStdString(), shown) << typed;
    }
    const QFontMetrics fm(window_->ZoomBox()->font());
    EXPECT_GE(window_->ZoomBox()->width(), fm.horizontalAdvance("10000.0 %"));
}

TEST_F(Behaviour, ValueLabelsRangesAndControlNumbersComeFromTheTables) {
    Start();
    Open(120, 90);
    struct Method {
        int command;
        const ParamSpec* specs;
        int count;
    };
    for (const Method& m : {Method{cmd::kRepaintOriginal, kOriginalSpecs, kOriginalSettingCount},
                            Method{cmd::kRepaintSmudge, kSmudgeSpecs, kSmudgeSettingCount},
                            Method{cmd::kRepaintRedraw, kRedrawSpecs, kRedrawSettingCount}}) {
        MethodPanel* panel = Panel(m.command);
        ASSERT_NE(panel, nullptr);
        for (int id : {1, 2, 1079, 1080, 1103}) EXPECT_NE(panel->Control(id), nullptr) << id;
        for (int i = 0; i < m.count; ++i) {
            const ParamSpec& s = m.specs[i];
            QWidget* control = panel->Control(s.ids.control);
            ASSERT_NE(control, nullptr) << s.settingsKey;
            if (s.ids.caption) {
                EXPECT_NE(panel->Control(s.ids.caption), nullptr) << s.settingsKey;
            }
            if (auto* slider = qobject_cast<QSlider*>(control)) {
                EXPECT_EQ(slider->minimum(), s.min) << s.settingsKey;
                EXPECT_EQ(slider->maximum(), s.max) << s.settingsKey;
                EXPECT_EQ(slider->value(), s.firstRunDefault) << s.settingsKey;
                EXPECT_EQ(panel->Control(s.ids.value)->property("text").toString(), ValueText(s, slider->value()));
            }
        }
        panel->Cancel();
        QApplication::processEvents();
    }
    // The labels the user reads, at several positions.
    const ParamSpec& cut = kRedrawSpecs[kEdgeCut];
    EXPECT_EQ(ValueText(cut, 50), "128");  // 127.5 printed without decimals
    EXPECT_EQ(ValueText(cut, 1), "3");
    EXPECT_EQ(ValueText(cut, 100), "255");
    EXPECT_EQ(ValueText(cut, 20), "51");
    EXPECT_EQ(ValueText(kRedrawSpecs[kEdgeDetails], 10), "1.5");
    EXPECT_EQ(ValueText(kRedrawSpecs[kEdgeDetails], 1), "0.6");
    EXPECT_EQ(ValueText(kOriginalSpecs[kSmoothAlpha], 14), "3.50");
    EXPECT_EQ(ValueText(kOriginalSpecs[kRelaxation], 5), "20");
    EXPECT_EQ(ValueText(kOriginalSpecs[kFlatten], 4), "0.15");
    EXPECT_EQ(ValueText(kOriginalSpecs[kLoGPower], 5), "10");
    EXPECT_EQ(ValueText(kSmudgeSpecs[kSmudgeSigma], 0), "0");
    MethodPanel* redraw = Panel(cmd::kRepaintRedraw);
    EXPECT_EQ(redraw->Control(1125)->property("text").toString(), "128");
    EXPECT_FALSE(redraw->Control(1081)->isEnabled());  // the list follows the import box
    qobject_cast<QCheckBox*>(redraw->Control(1138))->setChecked(true);
    EXPECT_TRUE(redraw->Control(1081)->isEnabled());
}

TEST_F(Behaviour, DefaultRecomputesThePreviewOnceAndIsNotLost) {
    Start();
    Open(160, 120);
    auto* panel = dynamic_cast<OriginalPanel*>(Panel(cmd::kRepaintOriginal));
    ASSERT_NE(panel, nullptr);
    panel->PreviewBox()->setChecked(true);
    const int before = panel->PreviewsComputed();
    qobject_cast<QPushButton*>(panel->Control(1081))->click();
    EXPECT_EQ(panel->PreviewsComputed(), before + 1);
    EXPECT_EQ(window_->Ui().uiSmoothAlpha, 14);
    EXPECT_EQ(panel->Control(1116)->property("text").toString(), "3.50");
    // A click that arrives while a preview is being computed is carried out.
    qobject_cast<QSlider*>(panel->Control(1101))->setValue(3);
    QMetaObject::invokeMethod(panel->Control(1081), "click", Qt::QueuedConnection);
    qobject_cast<QSlider*>(panel->Control(1104))->setValue(9);
    QApplication::processEvents();
    EXPECT_EQ(window_->Ui().uiSmoothAlpha, 14);
    EXPECT_EQ(window_->Ui().uiRelaxation, 5);
    // What is shown is the preview of the default values.
    PicBufHolder crop, expected;
    const CBxRect<int> frame = *panel->Frame();
    ASSERT_TRUE(CBxPicBufAPI::Copy(crop.buf, window_->Loaded(), frame));
    QuietProgress quiet;
    ASSERT_EQ(RepaintOriginal(expected.buf, crop.buf, OriginalParamsFromPositions(DefaultOriginalPositions()), quiet),
              RepaintStatus::Done);
    PicBufHolder shown;
    ASSERT_TRUE(CBxPicBufAPI::Copy(shown.buf, window_->Doc().displayed, frame));
    EXPECT_EQ(std::memcmp(shown.buf.pixels, expected.buf.pixels, expected.buf.size), 0);
}

TEST_F(Behaviour, AJobWorksOnItsSnapshotWithTheValuesAtOk) {
    Start();
    Open(180, 140);
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    qobject_cast<QSlider*>(panel->Control(1072))->setValue(37);  // Details, just before OK
    panel->PreviewBox()->setChecked(true);
    panel->Ok();
    ASSERT_TRUE(window_->JobRunning());
    // While the job runs, the preview is refused and the picture stays put.
    PicBufHolder before;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(before.buf, window_->Doc().displayed));
    ASSERT_TRUE(CBxPicBufAPI::Copy(before.buf, window_->Doc().displayed));
    const int previews = panel->PreviewsComputed();
    panel->RecomputePreview();
    EXPECT_EQ(panel->PreviewsComputed(), previews);
    EXPECT_TRUE(SameAsDisplayed(before.buf));
    PicBufHolder patch;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(patch.buf, 20, 20, 3, 8));
    CBxPicBufAPI::SetConst(patch.buf, 7);
    window_->ShowPreview(&patch.buf, 0, 0);  // whoever asks: the window refuses
    EXPECT_TRUE(SameAsDisplayed(before.buf));
    window_->Ui().uiDetails = 90;  // too late for this job
    ASSERT_TRUE(WaitFor([&] { return window_->CurrentPanel() == nullptr; }));
    SmudgePositions p = DefaultSmudgePositions();
    p[kSmudgeDetails] = 37;
    p[kSmudgeProlongation] = window_->Ui().uiProlongation;
    p[kSmudgeSigma] = window_->Ui().uiSigma;
    PicBufHolder expected;
    QuietProgress quiet;
    ASSERT_EQ(RepaintSmudge(expected.buf, window_->Loaded(), SmudgeParamsFromPositions(p), quiet), RepaintStatus::Done);
    EXPECT_TRUE(SameAsDisplayed(expected.buf));
}

TEST_F(Behaviour, TheRedrawPreviewOfTheWholePictureEqualsTheJob) {
    Start();
    Open(150, 110);
    MethodPanel* panel = Panel(cmd::kRepaintRedraw);
    qobject_cast<QCheckBox*>(panel->Control(1138))->setChecked(true);
    auto* list = qobject_cast<QComboBox*>(panel->Control(1081));
    list->setCurrentIndex(2);
    emit list->activated(2);
    panel->PreviewBox()->setChecked(true);  // the picture is smaller than the rectangle
    ASSERT_EQ(panel->Frame()->Width(), 150);
    PicBufHolder preview;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(preview.buf, window_->Doc().displayed));
    ASSERT_TRUE(CBxPicBufAPI::Copy(preview.buf, window_->Doc().displayed));
    panel->Ok();
    ASSERT_TRUE(WaitFor([&] { return window_->CurrentPanel() == nullptr; }));
    EXPECT_TRUE(SameAsDisplayed(preview.buf));
}

TEST_F(Behaviour, AFailingJobEndsAsAMessage) {
    Start();
    Open(64, 48);
    // Through the window: the panel stays, the cause is told.
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    messages_.clear();
    ASSERT_TRUE(window_->StartJob([](SBxPicBuf&, const SBxPicBuf&, RepaintProgress&) -> RepaintStatus {
        throw std::length_error("vector too long");
    }));
    ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning(); }));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.contains("could not be repainted")) << messages_[0].text.toStdString();
    EXPECT_TRUE(messages_[0].text.contains("vector too long"));
    EXPECT_EQ(window_->CurrentPanel(), panel);
    EXPECT_FALSE(window_->ResultUnsaved());
}

TEST_F(Behaviour, ClosingDuringAJobAsksAbortsAndThenCloses) {
    Start();
    Open(1200, 1000);
    MethodPanel* panel = Panel(cmd::kRepaintOriginal);
    panel->Ok();
    ASSERT_TRUE(window_->JobRunning());
    answer_ = QMessageBox::No;
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->JobRunning());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.contains("abort it and close"));
    answer_ = QMessageBox::Yes;
    window_->close();
    EXPECT_TRUE(window_->isVisible());  // not before the worker has stopped
    ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
    EXPECT_FALSE(window_->JobRunning());
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "0");
}

TEST_F(Behaviour, AnEndRequestLeavesAnUnsavedResultWithoutAskingAndNoCrashWarning) {
    Start();
    Open(300, 200);
    Panel(cmd::kRepaintSmudge)->Ok();
    ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning(); }));
    ASSERT_TRUE(window_->ResultUnsaved());
    messages_.clear();
    answer_ = QMessageBox::No;  // what a question would get
    window_->EndOnRequest();
    ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "0");
}

TEST_F(Behaviour, AnEndRequestDuringAJobAbortsItWithoutAsking) {
    Start();
    Open(1200, 1000);
    Panel(cmd::kRepaintOriginal)->Ok();
    ASSERT_TRUE(window_->JobRunning());
    messages_.clear();
    answer_ = QMessageBox::No;
    window_->EndOnRequest();
    ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(window_->JobRunning());
    EXPECT_EQ(ReadIniString(paths_.settingsFile, "General", "Crashed Last Time", ""), "0");
}

TEST_F(Behaviour, DialogTitlesMenuTextAndTheCtrlCross) {
    Start(1);  // German
    Open(200, 150);
    window_->Command(cmd::kSaveAs);
    window_->Command(cmd::kOpen);
    ASSERT_EQ(titles_.size(), 2u);
    EXPECT_EQ(titles_[0], "Speichern unter");
    EXPECT_EQ(titles_[1], "Öffnen");
    EXPECT_EQ(window_->CommandAction(cmd::kMenu)->text(), "Menü");
    // Qt's own dialogs and buttons speak the language too.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    // Abort and Cancel read differently.
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    EXPECT_NE(panel->AbortButton()->text(), panel->CancelButton()->text());
    // Ctrl shows the cross over the picture while a panel is open.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    QApplication::sendEvent(window_.get(), &down);
    EXPECT_EQ(window_->View()->cursor().shape(), Qt::CrossCursor);
    window_->SetViewCursor(Qt::SizeAllCursor);  // a panel's own cursor waits
    EXPECT_EQ(window_->View()->cursor().shape(), Qt::CrossCursor);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &up);
    EXPECT_EQ(window_->View()->cursor().shape(), Qt::SizeAllCursor);
}

TEST_F(Behaviour, OptionsKeepWhatWasSetInThePanels) {
    Start();
    Open(100, 80);
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    qobject_cast<QSlider*>(panel->Control(1123))->setValue(77);
    panel->Cancel();
    QApplication::processEvents();
    window_->Command(cmd::kOptions);  // the test's dialog answers Cancel
    EXPECT_EQ(window_->Ui().uiProlongation, 77);
    MethodPanel* again = Panel(cmd::kRepaintSmudge);
    EXPECT_EQ(qobject_cast<QSlider*>(again->Control(1123))->value(), 77);
}

TEST_F(Behaviour, OversizedPicturesAreRefusedAsSuch) {
    Start();
    const fs::path big = root_ / "huge.ppm";
    std::ofstream(big) << "P6\n30000 30000\n255\n" << std::string(64, 'x');
    EXPECT_FALSE(window_->OpenFile(big.string()));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.contains("too large")) << messages_[0].text.toStdString();
}

TEST_F(Behaviour, AJobAbortedAtItsLastStepLeavesNoResult) {
    Start();
    Open(64, 48);
    MethodPanel* panel = Panel(cmd::kRepaintSmudge);
    ASSERT_TRUE(window_->StartJob([](SBxPicBuf& result, const SBxPicBuf& source, RepaintProgress& progress) {
        while (!progress.AbortRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CBxPicBufAPI::ReinitHeap(result, source);  // finishes anyway
        CBxPicBufAPI::SetConst(result, 3);
        return RepaintStatus::Done;
    }));
    panel->Abort();
    ASSERT_TRUE(WaitFor([&] { return !window_->JobRunning(); }));
    EXPECT_TRUE(SameAsDisplayed(window_->Loaded()));
    EXPECT_FALSE(window_->ResultUnsaved());
    EXPECT_EQ(window_->CurrentPanel(), panel);
}

// The picture behind the program's own modal dialogs keeps its zoom and
// place: the view painted while each dialog waits equals the view before.
TEST_F(Behaviour, ThePictureBehindAModalDialogStaysAsItWas) {
    hooks_.message = [this](const MessageRequest& r) { return ShowMessageBox(window_.get())(r); };
    hooks_.openDialog = [this](const QString& title) { return RunOpenDialog(window_.get(), window_->Texts())(title); };
    hooks_.saveDialog = [this](const SaveDialogRequest& r, const QString& title, const QString& label, int q) {
        return RunSaveDialog(window_.get())(r, title, label, q);
    };
    Start();
    Open(900, 700);
    // Below the smallest zoom the zoom box can take, and off centre.
    for (int i = 0; i < 14; ++i) window_->Command(cmd::kZoomOut);
    ASSERT_LT(window_->Anchor().zoom, 0.1);
    for (int command : {cmd::kPanLeft, cmd::kPanUp}) window_->Command(command);
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    const QImage before = window_->View()->grab().toImage();
    const double zoom = window_->Anchor().zoom, x = window_->Anchor().dstX, y = window_->Anchor().dstY;

    std::vector<QImage> behind;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible()) return;
        dialog->activateWindow();  // the window behind loses the focus
        QApplication::processEvents();
        EXPECT_FALSE(window_->isActiveWindow());
        behind.push_back(window_->View()->grab().toImage());
        dialog->close();
    });
    watch.start();
    window_->Command(cmd::kOpen);
    window_->Command(cmd::kSaveAs);
    EXPECT_FALSE(window_->OpenFile((root_ / "gone.png").string()));  // its message
    watch.stop();
    ASSERT_EQ(behind.size(), 3u);
    for (size_t i = 0; i < behind.size(); ++i) EXPECT_TRUE(behind[i] == before) << "dialog " << i;
    EXPECT_DOUBLE_EQ(window_->Anchor().zoom, zoom);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstX, x);
    EXPECT_DOUBLE_EQ(window_->Anchor().dstY, y);
    QApplication::processEvents();
    EXPECT_TRUE(window_->View()->grab().toImage() == before);
}
