#pragma once

#include "Deadline.h"
#include "RequestRefused.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// The decoders of a local engine, each loaded once at start-up and lent to one
// request at a time; a request that finds none free waits until its deadline.
template <typename Worker> class WorkerPool {
public:
    // A borrowed worker, given back when the loan goes.
    class Loan {
    public:
        Loan(WorkerPool& pool, Worker* worker)
            : m_pool(pool)
            , m_worker(worker) {}
        ~Loan() { m_pool.giveBack(m_worker); }
        Loan(const Loan&) = delete;
        Loan& operator=(const Loan&) = delete;

        Worker& operator*() const { return *m_worker; }
        Worker* operator->() const { return m_worker; }

    private:
        WorkerPool& m_pool;
        Worker* m_worker;
    };

    void add(std::unique_ptr<Worker> worker) {
        std::lock_guard lock(m_mutex);
        m_idle.push_back(worker.get());
        m_workers.push_back(std::move(worker));
    }

    void clear() {
        std::lock_guard lock(m_mutex);
        m_idle.clear();
        m_workers.clear();
    }

    // Throws RequestRefused (503) when none becomes free before the deadline.
    Loan borrow(Deadline deadline) {
        std::unique_lock lock(m_mutex);
        if (!m_returned.wait_until(lock, deadline.at(), [this] { return !m_idle.empty(); }))
            throw RequestRefused(RequestRefused::unavailable,
                                 "No recogniser became free in time; the request was abandoned.");
        Worker* worker = m_idle.back();
        m_idle.pop_back();
        return Loan(*this, worker);
    }

private:
    void giveBack(Worker* worker) {
        {
            std::lock_guard lock(m_mutex);
            m_idle.push_back(worker);
        }
        m_returned.notify_one();
    }

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<Worker*> m_idle;
    std::mutex m_mutex;
    std::condition_variable m_returned;
};
