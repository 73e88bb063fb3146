#pragma once

#include "TimerSource.h"

// Repeating timers on QTimer, firing from the calling thread's event loop.
class QtTimerSource final : public TimerSource {
public:
    std::unique_ptr<Handle> startRepeating(std::chrono::milliseconds interval,
                                           std::function<void()> fire) override;
};
