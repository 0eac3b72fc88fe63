// Every command of the window in one table: its number, toolbar image,
// tooltip, keys and the one rule that enables it. Toolbar buttons, menu items
// and shortcuts are the same QAction, so a key works exactly when its button
// does.
#pragma once

#include <QMenu>
#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include "text_table.h"

class QAction;
class QComboBox;

class QToolBar;
class QWidget;

enum CommandRule : unsigned {
    kNeedsPicture = 1,   // disabled while no picture is open
    kLockedByPanel = 2,  // disabled while a method panel is open
    kLockedByJob = 4,    // disabled while a job runs
};

struct CommandState {
    bool picture = false, panelOpen = false, jobRunning = false;
};

class CommandTable : public QObject {
public:
    // `run` carries out a command by its number.
    CommandTable(QWidget* window, const TextTable& texts, std::function<void(int)> run);

    // Fills the toolbar in its order; returns the zoom box placed on it.
    QComboBox* BuildToolbar(QToolBar* toolbar);
    // A fresh application menu, greyed like the Save As button.
    std::unique_ptr<QMenu> BuildMenu() const;
    void Apply(const CommandState& state);

    QAction* Action(int id) const;
    bool Enabled(int id) const;

private:
    QAction* Make(int id, unsigned rules);

    QWidget* window_;
    const TextTable& texts_;
    std::function<void(int)> run_;
    std::map<int, QAction*> actions_;
    std::map<int, unsigned> rules_;
};
