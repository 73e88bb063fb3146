#pragma once

#include <chrono>

// A point in time after which a request's work is abandoned. Every long step of a
// request (reading the body, waiting for a worker, decoding, recognising) checks it.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    static Deadline after(std::chrono::milliseconds span) { return Deadline(Clock::now() + span); }

    bool passed() const { return Clock::now() >= m_at; }

    // Time left, never negative.
    std::chrono::milliseconds remaining() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_at - Clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }

    Clock::time_point at() const { return m_at; }

private:
    explicit Deadline(Clock::time_point at)
        : m_at(at) {}

    Clock::time_point m_at;
};
