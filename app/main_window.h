// The main window: toolbar with zoom box and Menu button, picture view,
// docker, status bar; every command goes through Command(id).
#pragma once

#include <QEvent>
#include <QMainWindow>
#include <atomic>
#include <thread>
#include <QMessageBox>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "document.h"
#include "image_view.h"
#include "save_rules.h"
#include "settings.h"
#include "text_table.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QToolBar;
class Docker;
class MethodPanel;
class ViewWidget;

struct MessageRequest {
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct SaveChoice {
    std::string name;   // as returned by the dialog
    int entry = 1;      // 1-based entry of the type list left selected
    int quality = 85;   // the quality row's value
};

using SaveDialogHook = std::function<std::optional<SaveChoice>(const SaveDialogRequest&, const QString& title,
                                                                const QString& qualityLabel, int quality)>;

// Where the window asks the user something; tests replace these.
struct UserInterfaceHooks {
    std::function<QMessageBox::StandardButton(const MessageRequest&)> message;
    std::function<std::optional<std::string>(const QString& title)> openDialog;
    SaveDialogHook saveDialog;
    // Returns the chosen list index (-1 for none) or nothing on Cancel.
    std::function<std::optional<int>(const AppSettings&, const TextTable&)> optionsDialog;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(SettingsPaths paths, UserInterfaceHooks hooks = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    void Command(int id, int lParam = 0);
    bool OpenFile(const std::string& path);  // as a drop would

    // For tests and the view widget.
    QAction* CommandAction(int id) const;
    bool IsCommandEnabled(int id) const;
    std::unique_ptr<QMenu> BuildAppMenu();
    QComboBox* ZoomBox() const { return zoomBox_; }
    QString StatusText() const;
    Docker* DockerWidget() const { return docker_; }
    const ViewAnchor& Anchor() const { return anchor_; }
    const Document& Doc() const { return doc_; }
    Document& Doc() { return doc_; }
    ImageView& View() { return view_; }
    bool ResultUnsaved() const { return resultUnsaved_; }
    const TextTable& Texts() const { return texts_; }
    ViewRect FitArea() const;
    ViewRect ClickArea() const;
    ViewRect ViewArea() const;
    int BackgroundGrey() const;
    void OpenMethodPanel(QWidget* panel);
    void CloseMethodPanel(QWidget* panel);
    MethodPanel* CurrentPanel() const;
    bool JobRunning() const { return jobThread_.joinable(); }
    UiSettings& Ui() { return settings_.ui; }
    std::atomic<bool>& AbortFlag() { return abort_; }
    void SetPanelOpen(bool open) { panelOpen_ = open; }
    void SetViewCursor(Qt::CursorShape shape);
    void DropFiles(const QStringList& paths);

    // View gestures, in window (client) coordinates.
    void MousePress(Qt::MouseButton button, QPoint p, Qt::KeyboardModifiers mods);
    void MouseMove(QPoint p, Qt::MouseButtons buttons);
    void MouseRelease(Qt::MouseButton button);
    void MouseDoubleClick();
    void Wheel(QPoint p, int delta);
    void MouseLeave();

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
    void BuildToolbar();
    void AddCommandButton(int id, const char* image, int tooltipKey);
    void BuildShortcuts();
    void SetEnabled(int id, bool on);
    QMessageBox::StandardButton Ask(const MessageRequest& r);
    void ShowFormatMessage();
    bool UnsavedPrompt();  // true: go on
    void PictureOpened(const std::string& path, bool dropped);
    bool LoadIntoDocument(const std::string& path);
    void CloseSteps();
    void SaveAs();
    void Options();
    void About();
    void RepaintCommand(int id);
    void ShowMenu();
    void ShowZoom();
    void TypedZoom();
    void Redraw(int reuse = 1);
    void Render(int slot, const SBxPicBuf& picture, int reuse, bool draw);
    void FitAndShow(bool redraw);
    void SetStatus(int textKey);
    void UpdateTitle(const std::string& path);
    void Shutdown();
    void StartJob(QEvent::Type start);
    void FinishJob(bool aborted);
    void LayoutDockerArea();

    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    AppSettings settings_;
    TextTable texts_;
    Document doc_{};
    ImageView view_;
    ViewAnchor anchor_;
    std::string sourcePath_, currentImagePath_;
    bool resultUnsaved_ = false, panelOpen_ = false, dragging_ = false, shutDown_ = false;
    QWidget* currentPanel_ = nullptr;
    QPoint last_, dragStart_;

    QToolBar* toolbar_ = nullptr;
    QComboBox* zoomBox_ = nullptr;
    QLabel* status_ = nullptr;
    Docker* docker_ = nullptr;
    ViewWidget* viewWidget_ = nullptr;
    std::map<int, QAction*> actions_;
    SBxPicBuf jobCopy_{};
    std::thread jobThread_;
    std::atomic<bool> abort_{false}, jobFailed_{false};
};
