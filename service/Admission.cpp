#include "Admission.h"

Admission::Admission(int workers, int queue)
    : m_workers(workers)
    , m_capacity(workers + queue) {}

std::optional<Admission::Ticket> Admission::tryEnter() {
    std::lock_guard lock(m_mutex);
    if (m_admitted >= m_capacity)
        return std::nullopt;
    ++m_admitted;
    m_lastActivity = std::chrono::steady_clock::now();
    return Ticket(this);
}

std::chrono::steady_clock::duration Admission::idleFor() {
    std::lock_guard lock(m_mutex);
    if (m_admitted > 0)
        return {};
    return std::chrono::steady_clock::now() - m_lastActivity;
}

Admission::Load Admission::load() {
    std::lock_guard lock(m_mutex);
    return {m_working, m_admitted - m_working};
}

bool Admission::Ticket::waitForTurn(Deadline deadline) {
    std::unique_lock lock(m_admission->m_mutex);
    if (!m_admission->m_turnFreed.wait_until(lock, deadline.at(), [this] {
            return m_admission->m_working < m_admission->m_workers;
        }))
        return false;
    ++m_admission->m_working;
    m_working = true;
    return true;
}

Admission::Ticket::~Ticket() {
    if (!m_admission)
        return;
    {
        std::lock_guard lock(m_admission->m_mutex);
        --m_admission->m_admitted;
        m_admission->m_lastActivity = std::chrono::steady_clock::now();
        if (m_working)
            --m_admission->m_working;
    }
    m_admission->m_turnFreed.notify_one();
}
