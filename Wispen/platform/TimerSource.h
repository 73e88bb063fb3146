#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Starts repeating timers on the main thread. The recording meter runs on one, so
// that tests can advance it tick by tick instead of waiting.
class TimerSource {
public:
    // A running timer; destroying it stops the timer for good.
    class Handle {
    public:
        virtual ~Handle() = default;
    };

    virtual ~TimerSource() = default;

    // Calls `fire` on the main thread every `interval` until the handle is destroyed;
    // never fails.
    virtual std::unique_ptr<Handle> startRepeating(std::chrono::milliseconds interval,
                                                   std::function<void()> fire) = 0;
};
