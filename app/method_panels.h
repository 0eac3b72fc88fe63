// The Original, Smudge and Redraw panels.
#pragma once

#include <QComboBox>

#include "method_panel.h"
#include "original_params.h"
#include "redraw_params.h"
#include "smudge_params.h"

class QCheckBox;

// Progress-bar ranges of the three jobs for a picture.
int OriginalProgressRange(int width, int height);
int SmudgeProgressRange(int width, int height, int components);
int RedrawProgressRange(int components);

class OriginalPanel : public MethodPanel {
public:
    using MethodPanel::MethodPanel;
    void Defaults();

protected:
    void AddControls(QVBoxLayout* layout) override;
    void EnableForJob(bool enabled) override;
    bool PreviewDisabledDuringJob() const override { return true; }
    RepaintStatus RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>& rect) override;
    QEvent::Type StartEvent() const override;
    int ProgressRange() const override;
    int ProgressStart() const override { return 0; }
    void JobStarting() override;

private:
    void SyncChecks();
    QWidget* sliders_[4] = {};
    QWidget* values_[4] = {};
    QCheckBox *shock_ = nullptr, *log_ = nullptr;
    QWidget* defaults_ = nullptr;
};

class SmudgePanel : public MethodPanel {
public:
    using MethodPanel::MethodPanel;

protected:
    void AddControls(QVBoxLayout* layout) override;
    void EnableForJob(bool enabled) override;
    RepaintStatus RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>& rect) override;
    QEvent::Type StartEvent() const override;
    int ProgressRange() const override;

private:
    QWidget* controls_[6] = {};
};

class RedrawPanel : public MethodPanel {
public:
    using MethodPanel::MethodPanel;
    ~RedrawPanel() override;
    int EdgeMapBuilds() const { return builds_; }

protected:
    void AddControls(QVBoxLayout* layout) override;
    void EnableForJob(bool enabled) override;
    bool ReloadBeforePreview() const override { return false; }
    RepaintStatus RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>& rect) override;
    QEvent::Type StartEvent() const override;
    int ProgressRange() const override;
    void PreviewSwitchedOn() override { cacheKey_ = 0.f; }
    void AbortPressed() override { cacheKey_ = 0.f; }
    void JobStarting() override;

private:
    QWidget* controls_[4] = {};
    QCheckBox* import_ = nullptr;
    QComboBox* colours_ = nullptr;
    SBxPicBuf edgeCache_{};
    float cacheKey_ = 0.f;
    int builds_ = 0;
};
