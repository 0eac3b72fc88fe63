// The Original, Smudge and Redraw panels: each its table, its preview, its
// job and its progress range.
#pragma once

#include "method_panel.h"
#include "original.h"

class QPushButton;

// Progress-bar ranges of the three jobs for a picture.
int OriginalProgressRange(int width, int height);
int SmudgeProgressRange(int width, int height, int components);
int RedrawProgressRange(int components);

class OriginalPanel : public MethodPanel {
public:
    OriginalPanel(PanelHost& host, QWidget* parent);
    // The Default button: every control at its Default position, one preview.
    void Defaults();

protected:
    RepaintStatus RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>& rect) override;
    JobFunction MakeJob() const override;
    const char* MethodName() const override { return "original"; }
    int ProgressRange() const override;
    int ProgressStart() const override { return 0; }
    void JobStarting() override;
    void AddExtras(QVBoxLayout* layout) override;
    void LockExtras(bool locked) override;

private:
    QPushButton* defaults_ = nullptr;
    // Previews whose flattening or sharpening alone changed reuse the tables.
    OriginalPreviewCache previewCache_;
};

class SmudgePanel : public MethodPanel {
public:
    SmudgePanel(PanelHost& host, QWidget* parent);

protected:
    RepaintStatus RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>& rect) override;
    JobFunction MakeJob() const override;
    const char* MethodName() const override { return "smudge"; }
    int ProgressRange() const override;
};

// The Redraw preview keeps the edge map of the whole picture and rebuilds it
// only when Details changes.
class RedrawPanel : public MethodPanel {
public:
    RedrawPanel(PanelHost& host, QWidget* parent);
    int EdgeMapBuilds() const { return builds_; }

protected:
    RepaintStatus RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>& rect) override;
    JobFunction MakeJob() const override;
    const char* MethodName() const override { return "redraw"; }
    int ProgressRange() const override;
    void PreviewSwitchedOn() override { cacheKey_ = 0.f; }
    void AbortPressed() override { cacheKey_ = 0.f; }
    void JobStarting() override;

private:
    PicBufHolder edgeCache_;
    float cacheKey_ = 0.f;
    int builds_ = 0;
};
