// The area below the toolbar: shows the back buffer and passes mouse
// gestures to the main window in its own (client) coordinates.
#pragma once

#include <QWidget>

class MainWindow;

class ViewWidget : public QWidget {
public:
    explicit ViewWidget(MainWindow* window);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    QPoint ToClient(QPointF p) const;
    MainWindow* window_;
};
