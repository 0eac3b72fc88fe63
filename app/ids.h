// Command, control and program-message numbers. Toolbar actions, menu items
// and shortcuts carry their command number and all go through
// MainWindow::Command.
#pragma once

#include <QEvent>

#include "dialog_keys.h"

namespace cmd {
constexpr int kAbout = 104;
constexpr int kExit = 105;
constexpr int kBlank = 1;
constexpr int kOpen = 32771;
constexpr int kSaveAs = 32773;
constexpr int kHelpF1 = 32788;
constexpr int kClose = 32790;
constexpr int kZoomIn = 32793;
constexpr int kZoomOut = 32794;
constexpr int kZoomFit = 32795;
constexpr int kPanLeft = 32797;
constexpr int kPanRight = 32798;
constexpr int kPanUp = 32801;
constexpr int kPanDown = 32802;
constexpr int kRepaintOriginal = 32805;
constexpr int kRepaintSmudge = 32807;
constexpr int kZoom100 = 32809;
constexpr int kZoomBox = 32810;
constexpr int kMenu = 32811;
constexpr int kSpacer = 32812;
constexpr int kOptions = 32813;
constexpr int kRepaintRedraw = 32815;
}  // namespace cmd

// Program messages, as Qt events of the same numbers.
namespace um {
constexpr QEvent::Type kViewReload = QEvent::Type(4247);
constexpr QEvent::Type kViewRefresh = QEvent::Type(4252);
constexpr QEvent::Type kViewRedraw = QEvent::Type(4260);
constexpr QEvent::Type kJobDone = QEvent::Type(4266);
constexpr QEvent::Type kJobAborted = QEvent::Type(4267);
constexpr QEvent::Type kStartOriginal = QEvent::Type(4270);
constexpr QEvent::Type kZoomText = QEvent::Type(4271);
constexpr QEvent::Type kStartSmudge = QEvent::Type(4272);
constexpr QEvent::Type kStartRedraw = QEvent::Type(4273);
constexpr QEvent::Type kPreview = QEvent::Type(4277);
}  // namespace um

// Controls of the Options dialog and of the save dialog's quality row.
namespace ctl {
constexpr int kToolbar = 109;
constexpr int kOptionsDialog = 158;
constexpr int kLanguageList = 1081;
constexpr int kLanguageLabel = 1083;
constexpr int kQualityPanel = 159;
constexpr int kQualitySlider = 1072;
constexpr int kQualityLabel = 1083;
constexpr int kQualityPercent = 1084;
constexpr int kQualityNumber = 1086;
}  // namespace ctl

// Widgets and actions carry their number in this property.
constexpr const char* kIdProperty = kControlIdProperty;  // the skin's keyboard rules read it too
