#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QTranslator>
#include <QUrl>

#include "color_scheme.h"
#include "dialogs.h"
#include "docker.h"
#include "ids.h"
#include "method_panels.h"
#include "picture_view.h"
#include "toolbar_icons.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Qt's own texts (file dialog, Yes/No buttons) in the chosen language.
std::unique_ptr<QTranslator> QtTranslations(const AppSettings& s) {
    if (s.currentLanguage < 0 || s.currentLanguage >= int(s.languages.size())) return nullptr;
    const QLocale locale(QString::fromStdString(s.languages[size_t(s.currentLanguage)].acronym).toLower());
    auto t = std::make_unique<QTranslator>();
    if (!t->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return nullptr;
    QCoreApplication::installTranslator(t.get());
    return t;
}

}  // namespace

MainWindow::MainWindow(SettingsPaths paths, UserInterfaceHooks hooks, QWidget* parent)
    : QMainWindow(parent), paths_(std::move(paths)), hooks_(std::move(hooks)) {
    if (!hooks_.message) hooks_.message = ShowMessageBox(this);
    if (!hooks_.openDialog) hooks_.openDialog = RunOpenDialog(this, texts_);
    if (!hooks_.saveDialog) hooks_.saveDialog = RunSaveDialog(this);
    if (!hooks_.optionsDialog) hooks_.optionsDialog = RunOptionsDialog(this);

    setWindowTitle("Quorvane");
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);

    // Another running instance holds the crash marker; only a real crash warns.
    lock_ = LockAgainstOtherInstances(paths_);
    LoadSettings(settings_, paths_);
    LoadTexts(texts_, paths_.localisationFile, settings_.currentLanguage);
    qtTexts_ = QtTranslations(settings_);

    status_ = new QLabel(Q(texts_.Text(1)));
    statusBar()->addWidget(status_, 1);
    statusBar()->setSizeGripEnabled(true);

    session_.Init(SkinGrey(kColorAppWorkspace));
    view_ = new PictureView(this, session_.Doc());
    setCentralWidget(view_);
    commands_ = new CommandTable(this, texts_, [this](int id) { Command(id); });
    toolbar_ = new QToolBar(this);
    toolbar_->setProperty(kIdProperty, ctl::kToolbar);
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar_);
    zoomBox_ = commands_->BuildToolbar(toolbar_);
    zoomBox_->installEventFilter(this);
    connect(zoomBox_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        view_->SetZoom(ZoomOfEntry(index));
        setFocus();
    });
    connect(zoomBox_->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { QApplication::postEvent(this, new QEvent(um::kZoomText)); });

    view_->areas = [this] {
        const int top = toolbar_->height() + 2, status = statusBar()->height();
        const int right = docker_->isVisible() ? width() - docker_->width() : width();
        return ViewAreas{{0, top, docker_->x(), height() - 20},
                         {0, top, docker_->x(), height() - status},
                         {0, top + 1, right, height() - status}};
    };
    view_->panelMouse = [this](ViewMouse kind, QPoint p) {
        return currentPanel_ && currentPanel_->HandleViewMouse(kind, p);
    };
    view_->ignorePress = [this] { return panelOpen_ && (QApplication::keyboardModifiers() & Qt::ControlModifier); };
    view_->zoomShown = [this](double zoom) { ShowZoom(zoom); };

    runner_ = new JobRunner(this);
    docker_ = new Docker(this);
    docker_->setFocusPolicy(Qt::StrongFocus);
    // The docker takes the width of an Original panel.
    auto* sizing = new OriginalPanel(*this, docker_);
    docker_->AttachPanel(sizing);
    docker_->LayoutDocker();
    docker_->DetachPanel(sizing);
    delete sizing;
    docker_->show();
    UpdateCommands();
    resize(1100, 760);
    // Asked only now: the window handles events (a resize among them) while
    // the message waits for the user.
    if (settings_.crashFlag && !lock_->OthersAtStart()) Tell(2);
}

MainWindow::~MainWindow() {
    // A running job stops at its next check and is waited for before the
    // pictures go away.
    runner_->Abort();
    runner_->Wait();
    Shutdown();
}

// ---- state shown in the window ---------------------------------------------------

QString MainWindow::StatusText() const { return status_->text(); }

const ViewAnchor& MainWindow::Anchor() const { return view_->Anchor(); }

void MainWindow::UpdateCommands() {
    commands_->Apply({session_.HasPicture(), currentPanel_ != nullptr, runner_->Running() || loading_});
}

void MainWindow::UpdateTitle() { setWindowTitle(Q(session_.Title())); }

void MainWindow::ShowZoom(double zoom) {
    zoomBox_->setEditText(Q(ZoomText(zoom)));
    setFocus();
}

QMessageBox::StandardButton MainWindow::Ask(const MessageRequest& r) { return hooks_.message(r); }

void MainWindow::Tell(int textKey, const QString& detail) {
    const bool format = textKey == 41;  // the format message has no caption
    QString text = Q(texts_.Text(textKey));
    if (!detail.isEmpty()) text += "\n" + detail;
    Ask({text, format ? QString() : Q(texts_.Text(3)), format ? QMessageBox::NoIcon : QMessageBox::Information,
         QMessageBox::Ok});
}

bool MainWindow::UnsavedPrompt() {
    if (!session_.Unsaved()) return true;
    return Ask({Q(texts_.Text(21)), Q(texts_.Text(3)), QMessageBox::Information,
                QMessageBox::Yes | QMessageBox::No}) == QMessageBox::Yes;
}

void MainWindow::LayoutDockerArea() {
    const int top = toolbar_->height() - 1;
    docker_->setGeometry(width() - docker_->width(), top, docker_->width(),
                         height() - toolbar_->height() - statusBar()->height() + 1);
    docker_->raise();
}

void MainWindow::SetCtrlCursor(bool cross) {
    const Qt::CursorShape shape = cross ? Qt::CrossCursor : Qt::ArrowCursor;
    view_->SetCtrlCross(cross);
    setCursor(shape);
    docker_->setCursor(shape);
    if (currentPanel_) currentPanel_->setCursor(shape);
}

// ---- events ----------------------------------------------------------------------

bool MainWindow::event(QEvent* e) {
    switch (int(e->type())) {
        case um::kViewReload: view_->Redraw(0); return true;
        case um::kViewRefresh: view_->Redraw(1); return true;
        case um::kViewRedraw: view_->Redraw(2); return true;
        case um::kJobDone:
        case um::kJobAborted: JobEnded(e); return true;
        case um::kZoomText:
            view_->TypeZoom(zoomBox_->currentText().toStdString());
            setFocus();
            return true;
        default: return QMainWindow::event(e);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == zoomBox_ && e->type() == QEvent::Wheel) {
        setFocus();
        return true;
    }
    // While a zoom is typed the arrows, plus and minus belong to the box
    // (Up and Down pick its entries), not to the view's shortcuts.
    if (watched == zoomBox_ && e->type() == QEvent::ShortcutOverride) {
        const auto* k = static_cast<QKeyEvent*>(e);
        const int key = k->key();
        const bool viewKey = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
                             key == Qt::Key_Down || key == Qt::Key_Plus || key == Qt::Key_Minus;
        if (viewKey && (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            e->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    LayoutDockerArea();
    view_->Redraw();
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Control && currentPanel_) SetCtrlCursor(true);
    if (e->key() == Qt::Key_Escape && currentPanel_) currentPanel_->Cancel();
    QMainWindow::keyPressEvent(e);
}

void MainWindow::keyReleaseEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Control && currentPanel_) SetCtrlCursor(false);
    QMainWindow::keyReleaseEvent(e);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls() && !panelOpen_) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    e->acceptProposedAction();
    DropFiles(paths);
}

void MainWindow::DropFiles(const QStringList& paths) {
    if (!paths.isEmpty() && !loading_) OpenFile(paths.front().toStdString());
}

// Closing while a file is read cancels the read and closes once it has
// stopped. Closing during a job asks whether to abort it; the window closes
// once the worker has stopped, and stays responsive meanwhile.
void MainWindow::closeEvent(QCloseEvent* e) {
    if (loading_) {
        e->ignore();
        closeAfterLoad_ = true;
        loader_.Cancel();
        return;
    }
    if (runner_->Running()) {
        e->ignore();
        if (closeAfterJob_) return;
        if (!endRequested_ && Ask({Q(texts_.Text(109)), Q(texts_.Text(3)), QMessageBox::Question,
                 QMessageBox::Yes | QMessageBox::No}) != QMessageBox::Yes)
            return;
        closeAfterJob_ = true;
        AbortJob();
        return;
    }
    if (!endRequested_ && !UnsavedPrompt()) {
        e->ignore();
        return;
    }
    Shutdown();
    e->accept();
}

void MainWindow::EndOnRequest() {
    endRequested_ = true;
    for (QWidget* modal = QApplication::activeModalWidget(); modal; modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal) break;
    }
    // After the dismissed dialogs' own loops have returned.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    edgeMaps_.Cancel();
    SaveSettings(settings_, paths_, lock_->OthersNow());
}
