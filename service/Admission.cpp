#include "Admission.h"

Admission::Admission(int workers, int queue)
    : m_workers(workers)
    , m_capacity(workers + queue) {}

std::optional<Admission::Ticket> Admission::tryEnter() {
    std::lock_guard lock(m_mutex);
    if (m_admitted >= m_capacity)
        return std::nullopt;
    ++m_admitted;
    return Ticket(this);
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
        if (m_working)
            --m_admission->m_working;
    }
    m_admission->m_turnFreed.notify_one();
}
