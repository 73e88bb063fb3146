#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <tuple>
#include <vector>

// Checks `condition` often until it holds or `limit` passes; whether it holds.
// Tests wait for events with this, never with a fixed sleep.
template <typename Condition> bool pollUntil(std::chrono::milliseconds limit, Condition condition) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (std::chrono::steady_clock::now() >= end)
            return false;
    return true;
}

// A real wispen-service process for the tests: started on a free loopback port,
// ready once /healthz answers, stopped with SIGTERM when the object goes. What it
// prints goes to files in the shared media folder.
class ServiceProcess {
public:
    // Starts the service with `arguments` (after --port 0); throws std::runtime_error
    // when it does not announce its port and answer /healthz within a minute.
    explicit ServiceProcess(const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment = {},
                            const std::string& workingDirectory = {});
    ~ServiceProcess() { stop(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }

    // Everything the service has printed so far, start-up line included.
    std::string output() const;
    std::string errors() const;

    // Sends SIGTERM and waits; the exit status, or -1 when it had to be killed.
    int stop();

    // Runs the service to its end with `arguments`, for option checks: its exit code,
    // and what it printed on standard output and on standard error.
    static std::tuple<int, std::string, std::string> run(const std::vector<std::string>& arguments);

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_base;
};
