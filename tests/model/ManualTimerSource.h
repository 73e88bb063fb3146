#pragma once

#include "TimerSource.h"

#include <map>

// Timers that fire only when the test calls tick().
class ManualTimerSource final : public TimerSource {
public:
    std::unique_ptr<Handle> startRepeating(std::chrono::milliseconds interval,
                                           std::function<void()> fire) override {
        lastInterval = interval;
        const int id = ++m_next;
        m_timers[id] = std::move(fire);
        return std::make_unique<ManualHandle>(this, id);
    }

    // Fires every running timer once.
    void tick() {
        std::vector<std::function<void()>> due;
        for (const auto& [id, fire] : m_timers)
            due.push_back(fire);
        for (const auto& fire : due)
            fire();
    }
    size_t running() const { return m_timers.size(); }

    std::chrono::milliseconds lastInterval{0};

private:
    struct ManualHandle final : Handle {
        ManualHandle(ManualTimerSource* source, int id)
            : source(source)
            , id(id) {}
        ~ManualHandle() override { source->m_timers.erase(id); }
        ManualTimerSource* source;
        int id;
    };

    std::map<int, std::function<void()>> m_timers;
    int m_next = 0;
};
