// Driving the window as a user would: mouse gestures on the picture view,
// keys to the focused widget, waiting for jobs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "picture_view.h"
#include "settings.h"

// Sends a mouse event to the view at a point given in window coordinates.
inline void ViewMouse(PictureView* view, QEvent::Type type, QPoint windowPoint, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF local = view->mapFrom(view->window(), windowPoint);
    QMouseEvent e(type, local, view->mapToGlobal(local), button, buttons, mods);
    QApplication::sendEvent(view, &e);
}

inline void ViewPress(PictureView* v, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    ViewMouse(v, QEvent::MouseButtonPress, p, b, b);
}
inline void ViewMove(PictureView* v, QPoint p, Qt::MouseButtons held = Qt::LeftButton) {
    ViewMouse(v, QEvent::MouseMove, p, Qt::NoButton, held);
}
inline void ViewRelease(PictureView* v, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    ViewMouse(v, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
}
inline void ViewWheel(PictureView* v, QPoint p, int delta) {
    const QPointF local = v->mapFrom(v->window(), p);
    QWheelEvent e(local, v->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(v, &e);
}

// A key pressed and released on the focused widget as a keyboard delivers
// it: the window's shortcuts get their chance first.
inline void PressKey(QWidget* window, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() != window->window()) target = window;
    QTest::keyClick(target, Qt::Key(key), mods);
    QApplication::processEvents();
}

// Runs the event loop until `done` holds (or a generous limit passes).
template <typename Fn>
bool WaitFor(Fn done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A fresh folder of the running test's own (PREFIX-PID-TEST) with a settings
// folder inside it; the localisation file is `localisation` in that folder,
// which the test may or may not create.
inline SettingsPaths FreshTestSettings(std::filesystem::path& root, const std::string& prefix,
                                       const std::string& localisation) {
    namespace fs = std::filesystem;
    root = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
    SettingsPaths paths;
    paths.folder = (root / "config").string();
    paths.settingsFile = paths.folder + "/Quorvane.txt";
    paths.localisationFile = (root / localisation).string();
    return paths;
}
