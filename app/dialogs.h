// The window's dialogs: message boxes, the Open and Save As file dialogs
// (Qt's own, with the JPEG quality row) and the Options dialog.
#pragma once

#include <QDialog>

#include "ui_hooks.h"

class QComboBox;
class QFileDialog;
class QSlider;
class QLabel;

std::function<QMessageBox::StandardButton(const MessageRequest&)> ShowMessageBox(QWidget* owner);
// `allFiles` labels the entry that shows every file.
void SetUpOpenDialog(QFileDialog& dialog, const QString& allFiles);
// `texts` must outlive the returned function.
std::function<std::optional<std::string>(const QString&)> RunOpenDialog(QWidget* owner, const TextTable& texts);
SaveDialogHook RunSaveDialog(QWidget* owner);
std::function<std::optional<int>(const AppSettings&, const TextTable&)> RunOptionsDialog(QWidget* owner);

// The row "Jpeg Quality: [slider] 85 %" below the save dialog's fields;
// enabled exactly while the "*.jpg" entry is selected.
class JpegQualityPanel : public QWidget {
public:
    JpegQualityPanel(const QString& label, int quality, QWidget* parent = nullptr);
    int Quality() const { return quality_; }
    void FilterSelected(int entry);
    QSlider* Slider() const { return slider_; }

private:
    void SetQuality(int value);
    QSlider* slider_;
    QLabel *label_, *number_, *percent_;
    int quality_;
};

// Dialog 158: the language list.
class OptionsDialog : public QDialog {
public:
    OptionsDialog(const AppSettings& settings, const TextTable& texts, QWidget* parent);
    int Selection() const;
    QComboBox* List() const { return list_; }

private:
    QComboBox* list_;
};
