#pragma once

#include "Deadline.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

// Lets at most `workers` requests work at once and `queue` more wait for a turn,
// and turns the rest away at once, so an overloaded service answers 429 instead of
// collapsing.
class Admission {
public:
    // One admitted request. Dropping it gives back its place in the queue, or its
    // turn when it had one.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept
            : m_admission(other.m_admission)
            , m_working(other.m_working) {
            other.m_admission = nullptr;
        }
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket();

        // Waits for a turn; false when the deadline passes first.
        bool waitForTurn(Deadline deadline);

    private:
        friend class Admission;
        explicit Ticket(Admission* admission)
            : m_admission(admission) {}

        Admission* m_admission;
        bool m_working = false;
    };

    Admission(int workers, int queue);

    // A ticket, or nothing when every worker is busy and the queue is full.
    std::optional<Ticket> tryEnter();

    // How many admitted requests have a turn, and how many wait for one.
    struct Load {
        int working = 0;
        int waiting = 0;
    };
    Load load();

    // How long no request has been admitted or running; zero while one is.
    std::chrono::steady_clock::duration idleFor();

private:
    const int m_workers;
    const int m_capacity;
    int m_admitted = 0;
    int m_working = 0;
    std::chrono::steady_clock::time_point m_lastActivity = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    std::condition_variable m_turnFreed;
};
