// Where the window asks the user something: message boxes and the Open,
// Save As and Options dialogs. The program shows Qt dialogs; tests answer
// in their place.
#pragma once

#include <QMessageBox>
#include <functional>
#include <optional>
#include <string>

#include "save_rules.h"
#include "settings.h"
#include "text_table.h"

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

struct UserInterfaceHooks {
    std::function<QMessageBox::StandardButton(const MessageRequest&)> message;
    std::function<std::optional<std::string>(const QString& title)> openDialog;
    SaveDialogHook saveDialog;
    // Returns the chosen list index (-1 for none) or nothing on Cancel.
    std::function<std::optional<int>(const AppSettings&, const TextTable&)> optionsDialog;
};
