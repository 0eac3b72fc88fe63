#include "background_load.h"

#include <QEventLoop>
#include <QMetaObject>
#include <thread>

LoadResult BackgroundLoad::Run(const std::string& path) {
    cancelled_.store(false);
    QEventLoop wait;
    LoadResult result;
    std::thread worker([&] {
        LoadControl control;
        control.cancelled = [this] { return cancelled_.load(); };
        result = LoadImageFile(path, control);
        QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    return result;
}
