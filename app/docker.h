// The docker: a child of the main window at its right edge that stacks the
// method panels from the top and takes the width of the widest.
#pragma once

#include <QWidget>
#include <vector>

class Docker : public QWidget {
public:
    explicit Docker(QWidget* mainWindow);
    void AttachPanel(QWidget* panel);
    void DetachPanel(QWidget* panel);
    void LayoutDocker();
    const std::vector<QWidget*>& Panels() const { return panels_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    std::vector<QWidget*> panels_;
};
