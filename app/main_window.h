// The main window: toolbar with zoom box and Menu button, picture view,
// docker with the method panel, status bar. It carries out the commands of
// its command table and hosts the panels and their jobs.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QMenu>
#include <memory>

#include "background_load.h"
#include "command_table.h"
#include "edge_map_prefetch.h"
#include "image_view.h"
#include "panel_host.h"
#include "session.h"
#include "settings.h"
#include "text_table.h"
#include "ui_hooks.h"

class QComboBox;
class QLabel;

class QToolBar;
class QTranslator;
class Docker;
class MethodPanel;
class PictureView;

class MainWindow : public QMainWindow, public PanelHost {
public:
    explicit MainWindow(SettingsPaths paths, UserInterfaceHooks hooks = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    void Command(int id, int lParam = 0);
    bool OpenFile(const std::string& path);  // as a drop would
    void DropFiles(const QStringList& paths);  // opens the first
    // The system asks the program to end (SIGTERM, Ctrl+C in a terminal):
    // open questions are dismissed, a job is aborted and waited for, and the
    // window closes without asking, so the next start sees no crash.
    void EndOnRequest();

    // For tests.
    QAction* CommandAction(int id) const { return commands_->Action(id); }
    bool IsCommandEnabled(int id) const { return commands_->Enabled(id); }
    std::unique_ptr<QMenu> BuildAppMenu() const { return commands_->BuildMenu(); }
    QComboBox* ZoomBox() const { return zoomBox_; }
    QString StatusText() const;
    Docker* DockerWidget() const { return docker_; }
    PictureView* View() const { return view_; }
    const ViewAnchor& Anchor() const;
    const Document& Doc() const { return session_.Doc(); }
    bool ResultUnsaved() const { return session_.Unsaved(); }
    MethodPanel* CurrentPanel() const { return currentPanel_; }
    const AppSettings& Settings() const { return settings_; }

    // PanelHost
    const SBxPicBuf& Loaded() const override { return session_.Doc().loaded; }
    const TextTable& Texts() const override { return texts_; }
    UiSettings& Ui() override { return settings_.ui; }
    void ShowPreview(const SBxPicBuf* patch, int left, int top) override;
    void SetPreviewFrame(const CBxRect<int>* frame) override;
    CBxPicMap ViewMap() const override;
    double ViewScale() const override;
    QPoint ViewCentreOnPicture() const override;
    void SetViewCursor(Qt::CursorShape shape) override;
    bool StartJob(JobFunction job, Recipe recipe = {}) override;
    void AbortJob() override;
    bool JobRunning() const override;
    void PanelClosing(bool keepResult) override;
    void PanelResized() override;
    void WheelOverPanel(const QPoint& windowPoint, int delta) override;
    bool TakeEdgeMap(float details, PicBufHolder& map) override { return edgeMaps_.Take(details, map); }

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    Recipe jobRecipe_;  // of the running job
    QMessageBox::StandardButton Ask(const MessageRequest& r);
    void Tell(int textKey, const QString& detail = QString());
    bool UnsavedPrompt();  // true: go on
    bool Load(const std::string& path);
    void PictureOpened();
    void CloseSteps();
    void SaveAs();
    void Options();
    void About();
    void RepaintCommand(int id);
    void ShowMenu();
    void ShowZoom(double zoom);
    void JobEnded(QEvent* e);
    void UpdateCommands();
    void UpdateTitle();
    void LayoutDockerArea();
    void SetCtrlCursor(bool cross);
    void Shutdown();

    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    AppSettings settings_;
    std::unique_ptr<InstanceLock> lock_;
    TextTable texts_;
    DocumentSession session_;
    // Redraw's edge map of the opened picture, built while the user looks.
    EdgeMapPrefetch edgeMaps_;
    CommandTable* commands_ = nullptr;
    PictureView* view_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QComboBox* zoomBox_ = nullptr;
    QLabel* status_ = nullptr;
    Docker* docker_ = nullptr;
    JobRunner* runner_ = nullptr;
    BackgroundLoad loader_;
    bool loading_ = false, closeAfterLoad_ = false;
    MethodPanel* currentPanel_ = nullptr;
    std::unique_ptr<QTranslator> qtTexts_;
    bool panelOpen_ = false, closeAfterJob_ = false, shutDown_ = false, endRequested_ = false;
};
