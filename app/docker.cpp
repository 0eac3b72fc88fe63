#include "docker.h"

#include <QPainter>
#include <algorithm>

#include "color_scheme.h"

Docker::Docker(QWidget* mainWindow) : QWidget(mainWindow) {
    setGeometry(0, 0, 300, 1000);
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

void Docker::AttachPanel(QWidget* panel) {
    panels_.insert(panels_.begin(), panel);
    panel->setParent(this);
}

void Docker::DetachPanel(QWidget* panel) {
    const auto it = std::find(panels_.begin(), panels_.end(), panel);
    if (it != panels_.end()) panels_.erase(it);
}

void Docker::LayoutDocker() {
    int y = 0, width = 0;
    for (QWidget* p : panels_) {
        p->move(1, y);
        y += p->height();
        width = std::max(width, p->width());
    }
    const QWidget* parent = parentWidget();
    setGeometry(parent->width() - width, this->y(), width, height());
    update();
}

void Docker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), SkinColor(kColorBtnFace));
    painter.setPen(SkinColor(kColorBtnHighlight));
    painter.drawLine(0, 0, 0, height() - 1);
}
