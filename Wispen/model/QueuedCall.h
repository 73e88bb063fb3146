#pragma once

#include <QMetaObject>
#include <QPointer>

// Runs `work(model)` on the model's thread in a later turn of its event loop, and
// not at all when the model is gone by then. Safe to call from any thread: this is
// how every asynchronous answer (permission, upload, meter tick, sleep) re-enters
// the controller.
template <typename Model, typename Work> void queueCall(const QPointer<Model>& model, Work work) {
    Model* target = model.data();
    if (!target)
        return;
    QMetaObject::invokeMethod(
        target,
        [model, work = std::move(work)]() mutable {
            if (model)
                work(*model);
        },
        Qt::QueuedConnection);
}
