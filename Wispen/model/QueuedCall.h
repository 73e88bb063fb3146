#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

// Runs `work(model)` on the main thread in a later turn of its event loop, and not
// at all when the model is gone by then. Safe to call from any thread: the call is
// posted to the application object and the model is only looked at on the main
// thread. This is how every asynchronous answer (permission, upload, meter tick,
// sleep) re-enters the controller.
template <typename Model, typename Work> void queueCall(QPointer<Model> model, Work work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model = std::move(model), work = std::move(work)]() mutable {
            if (model)
                work(*model);
        },
        Qt::QueuedConnection);
}
