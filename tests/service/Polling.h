#pragma once

#include <chrono>
#include <thread>

// Waiting for an event in tests: check a condition often until it holds or a
// deadline passes, never a fixed sleep.
namespace Polling {

inline constexpr std::chrono::milliseconds step{20};

template <typename Condition> bool until(std::chrono::milliseconds limit, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
}

} // namespace Polling
